#!/bin/sh
# run_handler_fuzz.sh BUILD_DIR SECONDS: builds the handler fuzz target with clang and runs it for
# at most SECONDS. Exits non-zero when the fuzzer finds a fault; the sanitizer's report is then
# printed from BUILD_DIR/handler-fuzz.log.*.
set -eu
. "$(dirname "$0")/fuzz_common.sh"
configure_fuzz_build
ninja -C "$build" -j2 handler_fuzz
work="$build/handler-corpus"
mkdir -p "$work"
rm -f "$build"/handler-fuzz.log.*
cd "$build"
# The plug-in's messages go to standard error by design; they are closed off (-close_fd_mask=2)
# and the sanitizers write to a log instead.
status=0
LD_LIBRARY_PATH="$build/lib" ASAN_OPTIONS=detect_leaks=1:log_path="$build/handler-fuzz.log" \
    UBSAN_OPTIONS=log_path="$build/handler-fuzz.log" \
    "$build/bin/handler_fuzz" -max_total_time="$seconds" -max_len=512 -timeout=10 \
    -close_fd_mask=2 "$work" || status=$?
if [ $status -ne 0 ]; then
    cat "$build"/handler-fuzz.log.* 2>/dev/null || true
fi
exit $status
