#!/usr/bin/env bash
# prepare.sh [zstd]: installs what running the Windows build under Wine needs (mingw-w64, wine32)
# and builds Tcl 8.6 and the zstd library for 32-bit Windows from Debian's source packages into
# a cache outside the tree; with "zstd", only mingw and zstd (what win/build.sh needs). Prints
# nothing more when everything is already there. Run as root.
set -euo pipefail
source "$(dirname "$0")/../scripts/lib.sh"

QUORVEL_CACHE=${QUORVEL_CACHE:-/var/cache/quorvel}
TCL_WIN=${QUORVEL_TCL_WIN:-$QUORVEL_CACHE/tcl86-mingw}
ZSTD_WIN=${QUORVEL_ZSTD_WIN:-$QUORVEL_CACHE/zstd-mingw}
SOURCES=/etc/apt/sources.list.d
export DEBIAN_FRONTEND=noninteractive

apt_install() {
    apt-get -o DPkg::Lock::Timeout=900 install -y -q "$@"
}

# Wine's 32-bit loader comes from the i386 architecture.
ensure_i386() {
    dpkg --print-foreign-architectures | grep -qx i386 && return 0
    dpkg --add-architecture i386
    apt-get -o DPkg::Lock::Timeout=900 update -q
}

# A deb-src twin of every apt source of the machine, so that apt-get source works.
ensure_deb_src() {
    local list=$SOURCES/quorvel-src.sources f
    [ -f "$list" ] && return 0
    for f in "$SOURCES"/*.sources; do
        [ -f "$f" ] && grep -q '^Types:.*deb-src' "$f" && return 0
    done
    for f in "$SOURCES"/*.sources; do
        [ -f "$f" ] || continue
        sed 's/^Types: *deb$/Types: deb-src/' "$f"
        echo
    done >"$list.new"
    if [ -f /etc/apt/sources.list ]; then
        sed -n 's/^deb \(.*\)$/deb-src \1/p' /etc/apt/sources.list >>"$list.new"
    fi
    mv "$list.new" "$list"
    apt-get -o DPkg::Lock::Timeout=900 update -q
}

ensure_tools() {
    ensure_i386
    local wanted=(g++-mingw-w64-i686 gcc-mingw-w64-i686 libz-mingw-w64-dev wine wine32 dpkg-dev googletest) missing=()
    local pkg
    for pkg in "${wanted[@]}"; do
        dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed' ||
            missing+=("$pkg")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    apt-get -o DPkg::Lock::Timeout=900 update -q
    apt_install "${missing[@]}"
}

# Tcl 8.6's own Windows build: tcl86.dll, tclsh86.exe, its import library and script library.
# Installed beside the cache and moved in place only when complete.
build_tcl() {
    [ -f "$TCL_WIN/bin/tclsh86.exe" ] && [ -f "$TCL_WIN/lib/libtcl86.dll.a" ] && return 0
    ensure_deb_src
    local work=$QUORVEL_CACHE/tcl-src staging=$TCL_WIN.new src
    rm -rf "$work" "$staging"
    mkdir -p "$work"
    (cd "$work" && apt-get source -q tcl8.6)
    src=$(find "$work" -maxdepth 1 -mindepth 1 -type d -name 'tcl8.6*' | head -1)
    (cd "$src/win" &&
        ./configure -q --host=i686-w64-mingw32 --prefix="$staging" --enable-threads &&
        make -j"$QUORVEL_JOBS" && make install)
    rm -rf "$TCL_WIN" "$work"
    mv "$staging" "$TCL_WIN"
}

# zstd's library (which compresses our files' changes) as a static library: Debian packages it
# for Linux only. Compiled from its sources as they are, without its x86-64 assembly.
build_zstd() {
    [ -f "$ZSTD_WIN/lib/libzstd.a" ] && [ -f "$ZSTD_WIN/include/zstd.h" ] && return 0
    ensure_deb_src
    local work=$QUORVEL_CACHE/zstd-src staging=$ZSTD_WIN.new src f
    rm -rf "$work" "$staging"
    mkdir -p "$work" "$staging/lib" "$staging/include"
    # The newest source whose files the mirrors still hold (a security update's may be gone).
    local version
    for version in $(apt-cache showsrc libzstd | sed -n 's/^Version: //p' | sort -rV); do
        (cd "$work" && apt-get source -q "libzstd=$version") && break
        rm -rf "${work:?}"/*
    done
    src=$(find "$work" -maxdepth 1 -mindepth 1 -type d -name 'libzstd*' | head -1)
    mkdir -p "$work/obj"
    for f in "$src"/lib/common/*.c "$src"/lib/compress/*.c "$src"/lib/decompress/*.c; do
        i686-w64-mingw32-gcc -O2 -msse2 -DZSTD_DISABLE_ASM -I"$src/lib" -I"$src/lib/common" \
            -c "$f" -o "$work/obj/$(basename "$(dirname "$f")")_$(basename "$f" .c).o"
    done
    i686-w64-mingw32-ar rcs "$staging/lib/libzstd.a" "$work"/obj/*.o
    cp "$src/lib/zstd.h" "$src/lib/zstd_errors.h" "$staging/include/"
    rm -rf "$ZSTD_WIN" "$work"
    mv "$staging" "$ZSTD_WIN"
}

if [ "${1:-}" = zstd ]; then
    command -v i686-w64-mingw32-gcc >/dev/null || apt_install gcc-mingw-w64-i686 g++-mingw-w64-i686
    build_zstd
    echo "zstd for Windows: $ZSTD_WIN"
    exit 0
fi
ensure_tools
build_tcl
build_zstd
echo "Tcl for Windows: $TCL_WIN"
echo "zstd for Windows: $ZSTD_WIN"
