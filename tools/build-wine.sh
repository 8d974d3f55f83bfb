#!/usr/bin/env bash
# Builds Debian's Wine source in WoW64 mode (64-bit Unix side, 32-bit and
# 64-bit Windows side) into /opt/vq-wine. Used where the kernel cannot run
# 32-bit Linux programs, so that Debian's wine32 cannot start.
set -euo pipefail
PREFIX="${VQ_WINE_PREFIX_DIR:-/opt/vq-wine}"
DEPS_DIR="${VQ_DEPS_DIR:-/var/cache/vq-deps}"
if [ -x "$PREFIX/bin/wine" ] && [ -f "$PREFIX/.vq-complete" ]; then exit 0; fi
export DEBIAN_FRONTEND=noninteractive
# The icon and font generators need the real ImageMagick, not a wrapper earlier in PATH.
export PATH="/usr/bin:/bin:/usr/sbin:/sbin:$PATH"
apt-get build-dep -y -qq wine >/dev/null
mkdir -p "$DEPS_DIR/wine" && cd "$DEPS_DIR/wine"
if [ ! -d src ]; then
    apt-get source --download-only wine >/dev/null 2>&1 || true
    dpkg-source -x wine_*.dsc src >/dev/null
fi
cd src
if [ ! -f .vq-generated ]; then
    ./debian/scripts/generate server/trace.generated make_requests
    ./debian/scripts/generate server/request.generated make_requests
    ./tools/make_unicode
    ./tools/make_requests
    (cd dlls/dsound && ./make_fir)
    (cd dlls/opengl32 && ./make_opengl)
    (cd dlls/winevulkan && ./make_vulkan -x /usr/share/vulkan/registry/vk.xml)
    ln -sf /usr/share/misc/config.sub tools
    ln -sf /usr/share/misc/config.guess tools
    sed -n '/image files used to generate icons/,/ensure system zlib/p' debian/rules \
        | grep -E '^\s+ln -sf' | sed 's/^\s*//' | bash
    rm -rf libs/zlib
    # Debian builds in the source tree; out of tree the generated version header is not found.
    printf '#ifndef wine_build\n#define wine_build "wine-8.0 (vq)"\n#endif\n' > dlls/ntdll/unix/version.h
    [ -f configure ] || autoreconf -fi
    touch .vq-generated
fi
# In-tree build: the icon generators (maintainer mode) do not work out of tree.
if [ ! -f Makefile ]; then
    ./configure --prefix="$PREFIX" --enable-archs=i386,x86_64 --disable-tests \
        --enable-maintainer-mode \
        --with-mingw ZLIB_PE_LIBS=z \
        --without-gstreamer --without-cups --without-sane --without-gphoto --without-krb5 \
        --without-ldap --without-netapi --without-opencl --without-pcap --without-pcsclite \
        --without-usb --without-v4l2 --without-vulkan --without-opengl --without-osmesa \
        --without-dbus --without-pulse --without-sdl --without-capi --without-udev \
        --without-unwind --without-wayland --without-oss --without-gnutls >/dev/null
fi
# Maintainer mode turns warnings into errors; this compiler warns where Debian's build did not.
sed -i 's/ -Werror\b//g' Makefile
# Wine's own headers first, or mingw's would be picked up for the PE side.
make -j"$(nproc)" -C include >/dev/null
# A second pass mends the rare race between generated parser files.
make -j"$(nproc)" >/dev/null || make -j"$(nproc)" >/dev/null
make install >/dev/null
# Wine's PE side links zlib as a DLL (Debian's build finds it through its own paths).
cp /usr/x86_64-w64-mingw32/lib/zlib1.dll "$PREFIX/lib/x86_64-windows/"
cp /usr/i686-w64-mingw32/lib/zlib1.dll "$PREFIX/lib/i386-windows/"
touch "$PREFIX/.vq-complete"
echo "build-wine: installed in $PREFIX"
