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

PKGS="g++-mingw-w64-i686-posix gcc-mingw-w64-i686-posix mingw-w64-i686-dev binutils-mingw-w64-i686
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
# Wine: this kind of machine cannot run 32-bit Linux programs, so Debian's
# wine32 does not start; build Wine in WoW64 mode (once, cached).
bash "$here/build-wine.sh"

echo "setup: done (third-party sources in $DEPS_DIR)"
