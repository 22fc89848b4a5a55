#!/bin/sh
# run_vcd_fuzz.sh BUILD_DIR SECONDS: builds the VCD import's two fuzz targets (the tokenizer, and
# the whole conversion) with clang and runs each for at most SECONDS, starting from the VCDs of
# tests/import/vcd, a few small generated ones and the inputs of faults found before
# (tests/fuzz/corpus/vcd_TARGET, named after the fault). Exits non-zero when a fuzzer finds a
# fault.
set -eu
. "$(dirname "$0")/fuzz_common.sh"
configure_fuzz_build
ninja -C "$build" -j2 vcd_tokenizer_fuzz vcd_import_fuzz

# Seeds: each VCD behind the targets' option bytes (see the targets), plain and gzip.
seeds="$build/vcd-seeds"
rm -rf "$seeds"
mkdir -p "$seeds"
head='$timescale 1ns $end $scope module t $end $var wire 2 a v $end $var real 64 b r $end
$var event 1 c e $end $var string 1 d s $end $upscope $end $enddefinitions $end'
printf '%s\n#0\n$dumpvars b0 a r0 b xc $end\n#5\nbx a\n1c\nsx d\n#7\nr2.5e3 b\nbL a\n#9\n1c\nb1' \
    "$head" >"$seeds/generated.vcd"
printf '%s\n#0\nb01 a\n#3\nb1z' "$head" >"$seeds/cut.vcd"
cp "$root"/tests/import/vcd/*.vcd "$seeds"/
mkdir -p "$seeds/tokenizer" "$seeds/import"
for vcd in "$seeds"/*.vcd; do
    name=$(basename "$vcd" .vcd)
    { printf '\000\001'; cat "$vcd"; } >"$seeds/tokenizer/$name"
    { printf '\321\003'; cat "$vcd"; } >"$seeds/tokenizer/$name.gz-pinned"
    { printf '\000'; cat "$vcd"; } >"$seeds/import/$name"
    { printf '\015'; cat "$vcd"; } >"$seeds/import/$name.gz"
    { printf '\056'; cat "$vcd"; } >"$seeds/import/$name.gz-cut"
done

status=0
cd "$build"
for target in tokenizer import; do
    work="$build/vcd-$target-corpus"
    found="$root/tests/fuzz/corpus/vcd_$target"
    [ -d "$found" ] || found=
    mkdir -p "$work"
    rm -f "$build"/vcd-$target-fuzz.log.*
    # The sanitizers write to a log, printed on a fault.
    LD_LIBRARY_PATH="$build/lib" ASAN_OPTIONS=detect_leaks=1:log_path="$build/vcd-$target-fuzz.log" \
        UBSAN_OPTIONS=log_path="$build/vcd-$target-fuzz.log" \
        "$build/bin/vcd_${target}_fuzz" -max_total_time="$seconds" -max_len=4096 -timeout=10 \
        "$work" "$seeds/$target" ${found:+"$found"} || {
        status=$?
        cat "$build"/vcd-$target-fuzz.log.* 2>/dev/null || true
    }
done
exit $status
