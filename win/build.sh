#!/usr/bin/env bash
# build.sh [BUILD_DIR]: cross-builds quorvel.dll, vexahost.dll and nffr.dll for 32-bit Windows
# (default build dir: build-win/) and checks that quorvel.dll exports only Quorvel_Init.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
dir=${1:-$root/build-win}
if ! command -v i686-w64-mingw32-g++ >/dev/null; then
    echo "i686-w64-mingw32-g++ is missing: apt-get install g++-mingw-w64-i686" >&2
    exit 1
fi
cmake -S "$root/win" -B "$dir" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-i686.cmake" \
    -DQUORVEL_ZSTD_WIN="${QUORVEL_ZSTD_WIN:-${QUORVEL_CACHE:-/var/cache/quorvel}/zstd-mingw}"
ninja -C "$dir" -j"${QUORVEL_JOBS:-2}"
