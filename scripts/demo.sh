#!/usr/bin/env bash
# demo.sh: installs what is missing, builds the plug-in, the vexa shell and the sample FSDB
# file, then opens the sample in vexa, prints its hierarchy and loads its waveforms.
# An FSDB file given as argument is shown instead of the sample.
set -euo pipefail
source "$(dirname "$0")/lib.sh"

ensure_packages
build_as_owner "$0" "$@"
BUILD_DIR=${QUORVEL_BUILD_DIR:-$QUORVEL_ROOT/build}
configure_build "$BUILD_DIR" >/dev/null
build_targets "$BUILD_DIR" quorvel vexa demo_sample
FILE=${1:-$BUILD_DIR/examples/sample.fsdb}
export QUORVEL_PLUGIN=$BUILD_DIR/lib/libquorvel.so
exec "$BUILD_DIR/bin/vexa" "$QUORVEL_ROOT/examples/demo.tcl" "$FILE"
