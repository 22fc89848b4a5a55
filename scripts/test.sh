#!/usr/bin/env bash
# test.sh: installs what is missing, builds everything into build/ and runs every test. Run
# as root in a checkout of another user, it installs as root and builds as that user.
# Extra arguments go to ctest (e.g. -R plugin).
set -euo pipefail
source "$(dirname "$0")/lib.sh"

ensure_packages
build_as_owner "$0" "$@"
BUILD_DIR=${QUORVEL_BUILD_DIR:-$QUORVEL_ROOT/build}
# The tests run with the reader's contract checks on (QUORVEL_CMAKE_ARGS can turn them off).
configure_build "$BUILD_DIR" -DNFFR_CONTRACT_CHECKS=ON ${QUORVEL_CMAKE_ARGS:-}
build_targets "$BUILD_DIR"
cd "$BUILD_DIR"
ctest --output-on-failure -j"$QUORVEL_JOBS" "$@"
