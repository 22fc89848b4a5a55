# design.tcl: the design of the command-line tests, as fsdbgen text, and vexa_run, which runs
# the program in the tests' folder $::dir.

# A small design: a clock, a 4-bit vector as members, an analog and an event signal.
set design {type 1
unit 1ns
end 40
scope top
var #0 1 clk
0 0
5 1
10 0
15 1
20 0
25 1
30 0
35 1
40 0
var #0 1 q[0]
0 x
5 1
15 0
25 1
var #0 1 q[1]
0 x
5 0
15 1
25 1
var #0 1 q[2]
0 x
5 1
var #0 1 q[3]
0 z
5 1
scope ana
var v 1 vout
0 0.5
12 1.25
30 -0.75
var i 1 irq
7 1
22 1
upscope
upscope
}

# Runs vexa with ARGS in DIR: {status stdout stderr}, both texts without their last newline.
proc vexa_run {args} {
    set outFile [file join $::dir stdout.txt]
    set errFile [file join $::dir stderr.txt]
    set status 0
    set savedDir [pwd]
    cd $::dir
    if {[catch {exec $::env(VEXA) {*}$args >$outFile 2>$errFile} message options]} {
        set code [dict get $options -errorcode]
        if {[lindex $code 0] ne "CHILDSTATUS"} {
            cd $savedDir
            return -options $options $message
        }
        set status [lindex $code 2]
    }
    cd $savedDir
    set texts {}
    foreach name [list $outFile $errFile] {
        set f [open $name]
        lappend texts [string trimright [read $f] \n]
        close $f
    }
    return [list $status {*}$texts]
}
