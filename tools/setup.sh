#!/usr/bin/env bash
# Installs everything the build and the tests need on a Debian 12 machine (run as root).
# Safe to run again: every step checks before it acts.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
DEPS_DIR="${VQ_DEPS_DIR:-/var/cache/vq-deps}"
export DEBIAN_FRONTEND=noninteractive

need_update=0

# Source packages for libmad and id3lib come from Debian's deb-src entries.
SRC_LIST=/etc/apt/sources.list.d/vq-deb-src.sources
if [ ! -f "$SRC_LIST" ]; then
    cat > "$SRC_LIST" <<'SRC'
Types: deb-src
URIs: http://deb.debian.org/debian
Suites: bookworm bookworm-updates
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
SRC
    need_update=1
fi

# Wine's 32-bit loader is an i386 package.
if ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386
    need_update=1
fi

PKGS="wine wine32:i386 wine64 curl g++-mingw-w64-i686-posix gcc-mingw-w64-i686-posix mingw-w64-i686-dev binutils-mingw-w64-i686
      xvfb xauth x11-apps imagemagick fonts-wine libz-mingw-w64-dev cmake make googletest
      sox libsox-fmt-mp3 lame ffmpeg mpg123 id3v2 python3 dpkg-dev xz-utils patch locales"

missing=""
for p in $PKGS; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
done
if [ -n "$missing" ]; then
    if [ "$need_update" = 1 ] || [ -z "$(ls /var/lib/apt/lists 2>/dev/null | grep -i _Sources || true)" ]; then
        apt-get update -qq
    fi
    apt-get install -y -qq --no-install-recommends $missing || { apt-get update -qq; apt-get install -y -qq --no-install-recommends $missing; }
elif [ "$need_update" = 1 ]; then
    apt-get update -qq
fi

# Locales the language runs use.
for loc in en_GB.UTF-8 es_ES.UTF-8; do
    if ! locale -a 2>/dev/null | grep -qi "^${loc%.UTF-8}.utf8$"; then
        sed -i "s/^# *${loc} UTF-8/${loc} UTF-8/" /etc/locale.gen
        grep -q "^${loc} UTF-8" /etc/locale.gen || echo "${loc} UTF-8" >> /etc/locale.gen
        regen=1
    fi
done
[ "${regen:-0}" = 1 ] && locale-gen >/dev/null

# Third-party sources, kept outside the repository.
mkdir -p "$DEPS_DIR"
cd "$DEPS_DIR"
fetch_source() { # $1 source package, $2 marker glob of the unpacked tree
    local pkg="$1"
    if ls -d $2 >/dev/null 2>&1; then return 0; fi
    # apt-get source may fail on a missing Debian diff; keep whatever it downloaded.
    if ! apt-get source --download-only "$pkg" >/dev/null 2>&1; then
        apt-get update -qq || true
        apt-get source --download-only "$pkg" >/dev/null 2>&1 || true
    fi
}
fetch_source libmad 'libmad-0.15.1b'
if [ ! -d libmad-0.15.1b ]; then
    tar xzf libmad_0.15.1b.orig.tar.gz
fi
fetch_source id3lib3.8.3 'id3lib-3.8.3'
if [ ! -d id3lib-3.8.3 ]; then
    tar xzf id3lib3.8.3_3.8.3.orig.tar.gz
    if ls id3lib3.8.3_3.8.3-*.debian.tar.* >/dev/null 2>&1; then
        tar xf id3lib3.8.3_3.8.3-*.debian.tar.* -C id3lib-3.8.3
        ( cd id3lib-3.8.3
          while read -r p; do
              case "$p" in ''|'#'*) continue ;; esac
              patch -p1 -s < "debian/patches/$p"
          done < debian/patches/series )
    fi
fi
# Wine's 32-bit loader needs a kernel that runs 32-bit Linux programs. Where
# the kernel cannot (ia32 emulation switched off), run them through qemu's
# i386 user-mode emulator via binfmt_misc. Bookworm's qemu 7.2 cannot map
# Wine's shared user data; the one from Debian 13 can (static binary).
if ! /usr/lib/wine/wine --version >/dev/null 2>&1; then
    QEMU=/opt/vq-qemu/qemu-i386
    if [ ! -x "$QEMU" ]; then
        mirror=http://deb.debian.org/debian
        deb=$(curl -fsSL "$mirror/dists/trixie/main/binary-amd64/Packages.xz" | xz -d |
              awk '/^Package: /{p=$2} /^Filename: /{ if (p=="qemu-user") { print $2; exit } }')
        [ -n "$deb" ] || { echo "setup: qemu-user not found in Debian 13's package list" >&2; exit 1; }
        tmp=$(mktemp -d)
        curl -fsSL -o "$tmp/qemu-user.deb" "$mirror/$deb"
        dpkg-deb -x "$tmp/qemu-user.deb" "$tmp/x"
        mkdir -p /opt/vq-qemu
        cp "$tmp/x/usr/bin/qemu-i386" "$QEMU"
        rm -rf "$tmp"
    fi
    mountpoint -q /proc/sys/fs/binfmt_misc || mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc
    [ -e /proc/sys/fs/binfmt_misc/qemu-i386 ] && echo -1 > /proc/sys/fs/binfmt_misc/qemu-i386
    printf '%s' ':qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:'"$QEMU"':F' \
        > /proc/sys/fs/binfmt_misc/register
    /usr/lib/wine/wine --version >/dev/null 2>&1 ||
        { echo "setup: Wine's 32-bit loader still does not start" >&2; exit 1; }
fi

echo "setup: done (third-party sources in $DEPS_DIR)"
