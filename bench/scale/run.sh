#!/usr/bin/env bash
# run.sh: the scale benchmark in one command: builds the design of N x N blocks with Verilator
# (once per N, kept in the work folder), simulates it into a VCD of the chosen size, and runs
# scale_bench on it (fsdbgen --vcd next to vcd2fst, then the whole design loaded in the host).
#   bench/scale/run.sh [--size 200M] [--blocks 16] [--rounds 3] [--vcd FILE] [--build DIR]
#                      [--work DIR] [--keep-vcd] [--no-bare] [--no-load]
# --vcd FILE: use FILE when it exists, else simulate into it (written under a temporary name and
# renamed when complete) and keep it. Sizes take K, M, G (powers of 1000).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
size=200M blocks=16 rounds=3 vcd= build= work=${TMPDIR:-/tmp}/quorvel-scale keep=0 extra=() drop=
while [ $# -gt 0 ]; do
    case $1 in
    --size) size=$2; shift ;;
    --blocks) blocks=$2; shift ;;
    --rounds) rounds=$2; shift ;;
    --vcd) vcd=$2; shift ;;
    --build) build=$2; shift ;;
    --work) work=$2; shift ;;
    --keep-vcd) keep=1 ;;
    --no-bare | --no-load) extra+=("$1") ;;
    *) echo "run.sh: unknown option \"$1\" (see the first lines of $0)" >&2; exit 2 ;;
    esac
    shift
done

bytes() {
    local n=${1%[KkMmGg]} unit=${1: -1}
    case $unit in
    K | k) echo $((n * 1000)) ;; M | m) echo $((n * 1000000)) ;; G | g) echo $((n * 1000000000)) ;;
    *) echo "$1" ;;
    esac
}

# The build: the one given, else build-rel (Release, for figures), else build.
if [ -z "$build" ]; then
    build=$root/build-rel
    [ -f "$build/build.ninja" ] || build=$root/build
fi
echo "== building scale_bench in $build"
cmake --build "$build" --target scale_bench -- -j2 >"${TMPDIR:-/tmp}/scale-build.$$.log" 2>&1 ||
    { tail -20 "${TMPDIR:-/tmp}/scale-build.$$.log"; exit 1; }
rm -f "${TMPDIR:-/tmp}/scale-build.$$.log"

mkdir -p "$work"
if [ -n "$vcd" ] && [ -f "$vcd" ]; then
    echo "== using $vcd"
else
    if ! command -v verilator >/dev/null; then
        echo "== verilator is not installed (Debian package verilator): scale benchmark skipped"
        exit 0
    fi
    sim=$work/sim-n$blocks/sim
    if [ ! -x "$sim" ] || [ "$here/design.sv" -nt "$sim" ] || [ "$here/sim_main.cpp" -nt "$sim" ]; then
        # The model's C++ (megabytes of it at 16 x 16) compiles at -O0, Verilator's runtime,
        # which writes the VCD, at -O1: at -Os, Verilator's default, it takes many times longer.
        echo "== verilating the design of $blocks x $blocks blocks (nice'd, -O0, 2 jobs)"
        start=$SECONDS
        # From an empty folder: the make files of an earlier model name its sources by their
        # path, which is another checkout's when the sources moved.
        rm -rf "$work/sim-n$blocks"
        nice -n 19 verilator --cc --exe --build --trace -Wno-fatal -Wno-lint -Wno-style \
            -GN="$blocks" --top-module top --Mdir "$work/sim-n$blocks" -j 2 \
            --MAKEFLAGS "OPT_FAST=-O0 OPT_SLOW=-O0 OPT_GLOBAL=-O1" \
            "$here/design.sv" "$here/sim_main.cpp" -o sim >"$work/verilator.log" 2>&1 ||
            { tail -20 "$work/verilator.log"; exit 1; }
        echo "   $((SECONDS - start)) s"
    fi
    [ -n "$vcd" ] || vcd=$work/scale-n$blocks-$size.vcd
    echo "== simulating into $vcd (about $size)"
    start=$SECONDS
    part=$vcd.part.$$
    trap 'rm -f "$part"' EXIT
    nice -n 19 "$sim" "$part" "$(bytes "$size")" 1000000000
    mv "$part" "$vcd"
    trap - EXIT
    echo "   $((SECONDS - start)) s, $(stat -c %s "$vcd") bytes"
    [ "$keep" = 1 ] || [ "$vcd" != "$work/scale-n$blocks-$size.vcd" ] || drop=$vcd
fi
# The converted files of this run only, so that two runs sharing the work folder do not write
# over each other's outputs.
out=$work/out.$$
trap 'rm -rf "$out" ${drop:+"$drop"}' EXIT
"$build/bin/scale_bench" "$vcd" --rounds "$rounds" --dir "$out" "${extra[@]}"
