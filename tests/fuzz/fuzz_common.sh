# fuzz_common.sh: the fuzz scripts' shared start, sourced by run_*_fuzz.sh: checks the arguments
# BUILD_DIR SECONDS, sets build, seconds and root, and configures BUILD_DIR for the fuzz targets
# (clang, sanitizers, no tests or benchmarks) with configure_fuzz_build [EXTRA CMAKE OPTIONS].
if [ $# -ne 2 ]; then
    echo "usage: $(basename "$0") BUILD_DIR SECONDS" >&2
    exit 2
fi
build=$1
seconds=$2
root=$(cd "$(dirname "$0")/../.." && pwd)

configure_fuzz_build() {
    cmake -S "$root" -B "$build" -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_C_COMPILER=clang \
          -DQUORVEL_FUZZ=ON -DQUORVEL_SANITIZE=ON -DQUORVEL_TESTS=OFF -DQUORVEL_BENCH=OFF "$@" >/dev/null
}
