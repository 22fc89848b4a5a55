#!/usr/bin/env bash
# run-tests.sh [BUILD_DIR] [CTEST_ARG...]: builds the 32-bit Windows run set (default
# build-win-run/) against Tcl 8.6 for Windows and runs every test under Wine. Installs what is
# missing first (win/prepare.sh, as root). Fails when any test fails.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
dir=${1:-$root/build-win-run}
shift $(($# > 0 ? 1 : 0))
cache=${QUORVEL_CACHE:-/var/cache/quorvel}
tcl=${QUORVEL_TCL_WIN:-$cache/tcl86-mingw}

if [ "$(id -u)" -eq 0 ]; then
    QUORVEL_CACHE=$cache QUORVEL_TCL_WIN=$tcl "$root/win/prepare.sh"
elif [ ! -f "$tcl/bin/tclsh86.exe" ]; then
    echo "no Tcl for Windows in $tcl: run win/prepare.sh as root first" >&2
    exit 1
fi

# A Wine prefix of our own, made once; Wine's own messages stay quiet.
export WINEPREFIX=${WINEPREFIX:-$cache/wine-prefix}
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
if [ ! -f "$WINEPREFIX/system.reg" ]; then
    mkdir -p "$WINEPREFIX"
    wineboot --init >/dev/null 2>&1
    wineserver -w 2>/dev/null || true
fi

cmake -S "$root/win" -B "$dir" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-i686.cmake" \
    -DQUORVEL_TCL_WIN="$tcl" -DQUORVEL_ZSTD_WIN="${QUORVEL_ZSTD_WIN:-$cache/zstd-mingw}"
ninja -C "$dir" -j"${QUORVEL_JOBS:-2}"
# One wineserver, with Wine's own services, for the whole run instead of one per program;
# started here, away from CTest's pipes, which the services would otherwise hold open.
(wineserver -p && wine cmd /c exit) </dev/null >/dev/null 2>&1 || true
cd "$dir"
rc=0
ctest --output-on-failure --timeout 300 -j"${QUORVEL_JOBS:-2}" "$@" || rc=$?
wineserver -k 2>/dev/null || true
exit $rc
