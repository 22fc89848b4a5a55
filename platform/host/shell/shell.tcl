# shell.tcl: the interactive vexa shell: a banner, a help command, and line editing with history
# through tclreadline when it is installed; otherwise a plain prompt that drops the escape
# sequences of cursor keys, so that an arrow key never reaches the interpreter as "[A".

proc help {} {
    puts {Commands of the vexa package (details: docs/host.md):
  vexa::open PATH                 open a waveform file, returns a handle such as fsdb1
  vexa::design open PATH          the file and its companion (run.analog.fsdb: reals, events)
                                  as one design: find, children, count, locate, loadwaves
  vexa::fileinfo H QUERY          -design, -nwaveforms, -waveforms, {-childNodes -parentPath top}
  vexa::find H ?GLOB? ?-type T?   signal paths matching GLOB (T: analog, event, digital, bus)
  vexa::sortnames LIST            paths in name order, numbers as numbers (q[2] before q[10])
  vexa::waveinfo H SIGNAL OPT     -wftype, -yunit, ...
  vexa::loadwave H SIGNAL         load one signal, returns a wave id such as w1
  vexa::loadwaves H {SIGNAL ...}  load several; an error names those that did not load
  vexa::table {W ...} ?-from T? ?-to T? ?-at T? ?-radix bin|hex|dec|signed?
                                  samples as rows of engineering times and values
  vexa::wave W samples|count|...  read a loaded waveform back
  vexa::when D EXPR ?-first?      times a condition becomes true: {rise(top/clk) && top/en}
  vexa::differences W1 W2         where two waveforms differ: count, first, intervals
  vexa::close H                   close a file
Brace names with brackets: vexa::loadwave $h {top/q[3:0]}. Leave with exit.
From a system shell: vexa FILE, vexa dump FILE SIGNAL..., vexa --help.}
}

namespace eval ::vexa::shell {}

# Cursor and function keys arrive as ESC [ ... or ESC O ... sequences: remove them.
proc ::vexa::shell::strip_keys {line} {
    regsub -all {\x1b(\[[0-9;?]*[ -/]*[@-~]|O.|.)?} $line {} line
    return $line
}

proc ::vexa::shell::plain_loop {} {
    set command {}
    while 1 {
        puts -nonewline [expr {$command eq {} ? "vexa% " : "> "}]
        flush stdout
        if {[gets stdin line] < 0} {
            puts {}
            return
        }
        append command [strip_keys $line] \n
        if {![info complete $command]} {
            continue
        }
        set status [catch {uplevel #0 $command} result]
        set command {}
        if {$status == 1} {
            puts stderr $result
        } elseif {$result ne {}} {
            puts $result
        }
    }
}

proc ::vexa::shell::run {} {
    set ::tcl_interactive 1
    puts "vexa [package require vexa] (Tcl [info patchlevel]) with [join [lmap f [vexa::formats] {lindex $f 0}] {, }] files. Type help for commands, exit to leave."
    if {![catch {package require tclreadline}]} {
        set ::tclreadline::historyLength 500
        proc ::tclreadline::prompt1 {} { return "vexa% " }
        ::tclreadline::Loop [file join $::env(HOME) .vexa_history]
    }
    plain_loop
}
