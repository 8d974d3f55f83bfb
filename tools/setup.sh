#!/usr/bin/env bash
# Installs everything the build and the tests need on a Debian 12 machine (run as root).
# Safe to run again: every step checks before it acts, and a machine that is
# already set up downloads nothing.
#
# Everything comes through apt from the mirror this machine's own apt
# configuration names. Debian 13 ("trixie") is added as a source pinned at -1,
# so nothing is ever installed from it: it only supplies libmad's source
# package (with its security patches) and, where the kernel cannot run 32-bit
# programs, the static i386 emulator.
set -euo pipefail

DEPS_DIR="${VQ_DEPS_DIR:-/var/cache/vq-deps}"
export DEBIAN_FRONTEND=noninteractive
stage() { echo "setup: $*"; }
die() { echo "setup: $*" >&2; exit 1; }
[ "$(id -u)" = 0 ] || die "run as root (it installs packages)"
# One set-up at a time on a machine (several builds may start it at once).
exec 8>/var/lock/vq-setup.lock
flock 8

codename=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
[ -n "$codename" ] || die "cannot tell this machine's Debian release from /etc/os-release"
NEW=trixie  # the Debian release that supplies libmad's patched source and the emulator

PKGS="wine wine32:i386 wine64 g++-mingw-w64-i686-posix gcc-mingw-w64-i686-posix mingw-w64-i686-dev
      binutils-mingw-w64-i686 xvfb xauth x11-apps x11-utils imagemagick fonts-wine libz-mingw-w64-dev
      cmake make googletest sox libsox-fmt-mp3 lame ffmpeg mpg123 id3v2 python3 dpkg-dev xz-utils patch
      locales gstreamer1.0-plugins-base:i386 gstreamer1.0-plugins-good:i386
      gstreamer1.0-plugins-ugly:i386 gstreamer1.0-libav:i386"

log=$(mktemp)
trap 'rm -f "$log"' EXIT

# --- package sources -------------------------------------------------------
# The Debian mirror this machine already uses (first configured "deb" entry of
# its own release). Read all of apt's answer before picking from it.
mirror=$(apt-get indextargets --no-release-info --format '$(SITE) $(RELEASE) $(TARGET_OF)' 2>/dev/null |
         awk -v r="$codename" '$2 == r && $3 == "deb" && !m { m = $1 } END { if (m) print m }')
[ -n "$mirror" ] || die "no Debian '$codename' entry in this machine's apt configuration"

need_update=0
write_if_changed() { # $1 file; stdin: wanted contents
    local want; want=$(cat)
    if [ ! -f "$1" ] || [ "$(cat "$1")" != "$want" ]; then
        printf '%s\n' "$want" > "$1"
        need_update=1
    fi
}
keyring=/usr/share/keyrings/debian-archive-keyring.gpg
write_if_changed /etc/apt/sources.list.d/vq-deb-src.sources <<EOF
Types: deb-src
URIs: $mirror
Suites: $codename $codename-updates
Components: main
Signed-By: $keyring
EOF
write_if_changed /etc/apt/sources.list.d/vq-$NEW.sources <<EOF
Types: deb deb-src
URIs: $mirror
Suites: $NEW
Components: main
Architectures: amd64
Signed-By: $keyring
EOF
write_if_changed /etc/apt/preferences.d/vq-$NEW.pref <<EOF
Package: *
Pin: release n=$NEW
Pin-Priority: -1
EOF
# Wine's 32-bit loader is an i386 package.
if ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386
    need_update=1
fi

missing=""
for p in $PKGS; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
done
[ -n "$missing" ] && need_update=1
# Sources still to fetch also need the indexes.
[ -f "$DEPS_DIR/libmad-0.15.1b/.vq-patched" ] && [ -f "$DEPS_DIR/id3lib-3.8.3/.vq-patched" ] || need_update=1

# A mirror in the middle of a sync makes one index fail ("File has unexpected
# size"): try again a few times, then go on with what was fetched and let the
# installs below tell whether it was enough.
apt_update() {
    local i
    for i in 1 2 3; do
        if apt-get update -qq >"$log" 2>&1 && ! grep -q '^E:' "$log"; then return 0; fi
        [ "$i" = 3 ] || sleep $((i * 10))
    done
    update_failed=1
    echo "setup: apt-get update reported errors; going on with the indexes it has:"
    grep -E '^(E|W):' "$log" | head -n 2 | sed 's/^/    /'
}
if [ "$need_update" = 1 ]; then
    stage "updating the package indexes"
    apt_update
fi

# --- the i386 emulator -----------------------------------------------------
# Wine's 32-bit loader needs a kernel that runs 32-bit Linux programs. Where
# the kernel cannot (ia32 emulation switched off), run them through qemu's
# i386 user-mode emulator via binfmt_misc. It must be registered before any
# i386 package is installed: their package scripts run i386 programs.
# VQ_I386_EMULATOR=1 registers it even where the kernel would not need it.
register_emulator() {
    stage "registering the i386 emulator"
    local QEMU=/opt/vq-qemu/qemu-i386 tmp
    if [ ! -x "$QEMU" ]; then
        # Bookworm's qemu 7.2 cannot map Wine's shared user data; the newer
        # release's static qemu-i386 can.
        tmp=$(mktemp -d)
        ( cd "$tmp" && apt-get download -qq "qemu-user/$NEW" >"$log" 2>&1 ) ||
            die "could not download qemu-user from Debian $NEW: $(grep -m1 '^E:' "$log" || tail -n1 "$log")"
        dpkg-deb -x "$tmp"/qemu-user_*.deb "$tmp/x"
        [ -x "$tmp/x/usr/bin/qemu-i386" ] || die "qemu-user from Debian $NEW has no usr/bin/qemu-i386"
        mkdir -p /opt/vq-qemu
        cp "$tmp/x/usr/bin/qemu-i386" "$QEMU.new" && mv "$QEMU.new" "$QEMU"
        rm -rf "$tmp"
    fi
    mountpoint -q /proc/sys/fs/binfmt_misc || mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc
    [ -e /proc/sys/fs/binfmt_misc/qemu-i386 ] && echo -1 > /proc/sys/fs/binfmt_misc/qemu-i386
    printf '%s' ':qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:'"$QEMU"':F' \
        > /proc/sys/fs/binfmt_misc/register
    i386_runs || die "32-bit programs still do not start after registering $QEMU"
}
# A minimal static i386 program that only calls exit(42).
i386_runs() {
    local probe rc=0
    probe=$(mktemp)
    printf '\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00\x01\x00\x00\x00\x54\x80\x04\x08\x34\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x34\x00\x20\x00\x01\x00\x00\x00\x00\x00\x00\x00\x01\x00\x00\x00\x00\x00\x00\x00\x00\x80\x04\x08\x00\x80\x04\x08\x5e\x00\x00\x00\x5e\x00\x00\x00\x05\x00\x00\x00\x00\x10\x00\x00\xb8\x01\x00\x00\x00\xbb\x2a\x00\x00\x00\xcd\x80' > "$probe"
    chmod +x "$probe"
    "$probe" 2>/dev/null || rc=$?
    rm -f "$probe"
    [ "$rc" = 42 ]
}
emulated() { [ -e /proc/sys/fs/binfmt_misc/qemu-i386 ] && grep -qx enabled /proc/sys/fs/binfmt_misc/qemu-i386; }
if ! emulated && { [ "${VQ_I386_EMULATOR:-0}" = 1 ] || ! i386_runs; }; then
    register_emulator
fi

# --- packages --------------------------------------------------------------
install_missing() { # extra apt-get options
    apt-get install -y -qq --no-install-recommends "$@" $missing >"$log" 2>&1
}
if [ -n "$missing" ]; then
    stage "installing packages (the first time this downloads several hundred)"
    if ! install_missing; then
        # With one architecture's index of an update suite missing (see above),
        # a package of both architectures can only be taken at the release's
        # own version: try that before giving up.
        if [ "${update_failed:-0}" = 1 ] && install_missing -t "$codename"; then
            echo "setup: installed from Debian $codename's own suite (an update index could not be fetched)"
        else
            # Name the package that cannot be installed, with apt's own reason.
            for p in $missing; do
                if ! apt-get install -s -qq --no-install-recommends "$p" >"$log.one" 2>&1; then
                    reason=$(grep -m1 -E '^ |^E:' "$log.one" | sed 's/^ *//')
                    rm -f "$log.one"
                    die "could not install $p: ${reason:-see apt-get install $p}"
                fi
            done
            rm -f "$log.one"
            die "package installation failed: $(grep -m1 '^E:' "$log" || tail -n1 "$log")"
        fi
    fi
fi
# Package scripts that failed earlier (an i386 trigger run before the emulator
# was registered) are run again.
if dpkg --audit 2>/dev/null | grep -q .; then dpkg --configure -a >"$log" 2>&1 || true; fi
gioq=/usr/lib/i386-linux-gnu/glib-2.0/gio-querymodules
if [ -x "$gioq" ] && [ ! -s /usr/lib/i386-linux-gnu/gio/modules/giomodule.cache ]; then
    "$gioq" /usr/lib/i386-linux-gnu/gio/modules || die "the i386 program $gioq does not run"
fi
# A kernel that starts 32-bit programs may still not run Wine's loader: then
# the emulator is the way.
if ! /usr/lib/wine/wine --version >/dev/null 2>&1 && ! emulated; then register_emulator; fi
/usr/lib/wine/wine --version >/dev/null 2>&1 || die "Wine's 32-bit loader does not start"

# Locales the language runs use.
regen=0
for loc in en_GB.UTF-8 es_ES.UTF-8; do
    if ! locale -a 2>/dev/null | grep -qi "^${loc%.UTF-8}.utf8$"; then
        sed -i "s/^# *${loc} UTF-8/${loc} UTF-8/" /etc/locale.gen
        grep -q "^${loc} UTF-8" /etc/locale.gen || echo "${loc} UTF-8" >> /etc/locale.gen
        regen=1
    fi
done
[ "$regen" = 1 ] && locale-gen >/dev/null

# --- third-party sources ---------------------------------------------------
# Unpacked outside the repository with their Debian patch series applied. A
# tree is used only when its stamp says every patch applied; a patch that does
# not apply stops the set-up.
mkdir -p "$DEPS_DIR"
unpack_source() { # $1 source package, $2 release, $3 tree name, $4 patches to skip (regex)
    local pkg=$1 rel=$2 tree=$3 skip=${4:-} work p
    [ -f "$DEPS_DIR/$tree/.vq-patched" ] && return 0
    stage "fetching $pkg from Debian $rel"
    work=$(mktemp -d "$DEPS_DIR/.unpack.XXXXXX")
    ( cd "$work" && apt-get source --download-only -qq "$pkg/$rel" >"$log" 2>&1 ) ||
        die "could not fetch the source of $pkg from Debian $rel: $(grep -m1 '^E:' "$log" || tail -n1 "$log")"
    ( cd "$work"
      tar xzf ./*.orig.tar.gz
      [ -d "$tree" ] || { echo "setup: $pkg's tarball has no $tree" >&2; exit 1; }
      tar xf ./*.debian.tar.* -C "$tree"
      cd "$tree"
      shopt -s nocasematch
      while read -r p _; do
          case "$p" in ''|'#'*) continue ;; esac
          if [ -n "$skip" ] && [[ "$p" =~ $skip ]]; then
              echo "setup: $pkg: skipping $p (not for x86)"; continue
          fi
          patch -p1 -s -N -F 0 --no-backup-if-mismatch < "debian/patches/$p" ||
              { echo "setup: $pkg: patch $p does not apply" >&2; exit 1; }
      done < debian/patches/series
      ls ../*.dsc | sed 's|.*/||' > .vq-patched ) || { rm -rf "$work"; die "unpacking $pkg failed"; }
    rm -rf "${DEPS_DIR:?}/$tree"
    mv "$work/$tree" "$DEPS_DIR/$tree"
    mv "$work"/*.dsc "$work"/*.tar.* "$DEPS_DIR/" 2>/dev/null || true
    rm -rf "$work"
}
# libmad from the newer release: its series carries the security fixes
# (main-data size, length checks). Patches for other processors are skipped.
unpack_source libmad "$NEW" libmad-0.15.1b '(thumb|mips)'
unpack_source id3lib3.8.3 "$codename" id3lib-3.8.3

stage "done (third-party sources in $DEPS_DIR)"
