#!/bin/sh
# run_nffr_fuzz.sh BUILD_DIR SECONDS: builds the reader's fuzz target with clang and runs it for at
# most SECONDS, starting from tests/nffr/corpus. Exits non-zero when the fuzzer finds a fault.
set -eu
. "$(dirname "$0")/fuzz_common.sh"
configure_fuzz_build -DNFFR_CONTRACT_CHECKS=ON
ninja -C "$build" -j2 nffr_fuzz nffr_make_corpus
seeds="$root/tests/nffr/corpus"
work="$build/fuzz-corpus"
mkdir -p "$work"
"$build/bin/nffr_make_corpus" "$work"
cp "$seeds"/* "$work"/ 2>/dev/null || true
cd "$build"
LD_LIBRARY_PATH="$build/lib" ASAN_OPTIONS=detect_leaks=1 \
    "$build/bin/nffr_fuzz" -max_total_time="$seconds" -max_len=4096 -timeout=10 "$work"
