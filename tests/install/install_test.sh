#!/bin/sh
# install_test.sh BUILD_DIR TMP install|vexa|tclsh: install puts the build into the prefix
# TMP/install/prefix; then, with nothing of the build or the checkout in the environment and
# from another folder, vexa runs the installed vexa on a VCD, and tclsh a plain tclsh8.6 that
# requires the package from the prefix and reads the import with the installed plug-in. Prints
# what differs and fails.
set -eu
build=$1
work=$2/install
prefix=$work/prefix
if [ "$3" = install ]; then
    rm -rf "${work:?}"
    mkdir -p "$work"
    exec cmake --install "$build" --prefix "$prefix" >/dev/null
fi
mode=$3
home=$work/$mode/home
rm -rf "${work:?}/$mode"
mkdir -p "$work/$mode/elsewhere" "$home"
cd "$work/$mode/elsewhere"
printf '%s\n' '$timescale 1ns $end' '$scope module top $end' '$var wire 1 ! clk $end' \
    '$var wire 2 " q $end' '$upscope $end' '$enddefinitions $end' '#0' '0!' 'b01 "' '#5' '1!' \
    '#10' '0!' 'b10 "' >t.vcd
# The sanitizer build's tclsh needs its runtime preloaded; nothing else comes from outside.
clean() {
    env -i PATH=/usr/bin:/bin HOME="$home" ${LD_PRELOAD:+LD_PRELOAD="$LD_PRELOAD"} "$@" 2>&1
}
check() {
    if [ "$1" != "$2" ]; then
        printf 'got:\n%s\nexpected:\n%s\n' "$1" "$2"
        exit 1
    fi
}
case $mode in
vexa)
    check "$(clean "$prefix/bin/vexa" dump t.vcd top/clk top/q)" "$(printf 'time\ttop/clk\ttop/q\n0\t0\t01\n5ns\t1\t01\n10ns\t0\t10')"
    check "$(clean "$prefix/bin/vexa" --help | head -n 1)" "usage: vexa FILE                        summary of a waveform file"
    echo 'package require vexa::draw; puts [string map [list [lindex $argv 0] P] [package ifneeded vexa::viewer 1.0]]' >where.tcl
    check "$(clean "$prefix/bin/vexa" where.tcl "$prefix")" "source P/lib/vexa1.0/viewer/viewer.tcl"
    ;;
tclsh)
    clean "$prefix/bin/vexa" info t.vcd >/dev/null
    script='lappend auto_path [lindex $argv 0]/lib
puts [package require vexa]/[package require vexa::cli]
puts [string map [list [lindex $argv 0] P] [package ifneeded vexa::cli 1.0]]
vexa::load [lindex $argv 0]/lib/libquorvel.so
set h [vexa::open [lindex [glob $env(HOME)/.cache/vexa/*/t.fsdb] 0]]
puts [vexa::wave [vexa::loadwave $h top/clk] samples]'
    echo "$script" >require.tcl
    check "$(clean tclsh8.6 require.tcl "$prefix")" "1.0/1.0
source P/lib/vexa1.0/cli/cli.tcl
0.0 0 5e-9 1 1e-8 0"
    ;;
esac
