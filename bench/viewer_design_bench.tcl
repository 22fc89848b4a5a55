# viewer_design_bench.tcl: the viewer on a large design (16 x 16 blocks of 182 one-bit signals,
# 46,593 signals): the window ready with the file open, search-as-you-type, a redraw of 40 rows
# and the longest the window is frozen while the busiest signal loads. Run with the vexa shell
# on a display (e.g. under xvfb-run):
#   FSDBGEN=build/bin/fsdbgen build/bin/vexa bench/viewer_design_bench.tcl ?CYCLES? ?RUNS?
# CYCLES (default 12500) clock cycles; each block signal changes every 64 to 512 cycles. The
# design is kept in $TMPDIR/vexa-viewer-design-CYCLES and reused by the next run.

set cycles [expr {[llength $argv] > 0 ? [lindex $argv 0] : 12500}]
set runs [expr {[llength $argv] > 1 ? [lindex $argv 1] : 5}]
set here [file dirname [file normalize [info script]]]
set dir [file join [expr {[info exists env(TMPDIR)] ? $env(TMPDIR) : "/tmp"}] \
             vexa-viewer-design-$cycles]
file mkdir $dir
set env(XDG_CACHE_HOME) [file join $dir cache]

# The blocks' units and their one-bit signals: 182 per block.
set units {lfsr 16 sum 32 a 32 b 32 fifo 48 state 4 ctl 18}

proc write_design {path cycles} {
    global units
    set f [open $path w]
    fconfigure $f -buffering full -buffersize 1048576
    puts $f "type 1\nunit 1ns\nend [expr {$cycles * 10}]\nscope top\nvar #0 1 clk"
    for {set i 0} {$i < 2 * $cycles} {incr i} {
        puts $f "[expr {$i * 5}] [expr {$i & 1}]"
    }
    for {set r 0} {$r < 16} {incr r} {
        puts $f "scope row\[$r\]"
        for {set c 0} {$c < 16} {incr c} {
            puts $f "scope blk\[$c\]"
            set n 0
            foreach {unit bits} $units {
                puts $f "scope $unit"
                for {set k 0} {$k < $bits} {incr k} {
                    puts $f "var #0 1 q\[$k\]"
                    set every [expr {64 << ([incr n] % 4)}]
                    for {set t 0} {$t < $cycles} {incr t $every} {
                        puts $f "[expr {$t * 10}] [expr {($t / $every + $k) & 1}]"
                    }
                }
                puts $f upscope
            }
            puts $f upscope
        }
        puts $f upscope
    }
    puts $f upscope
    close $f
}

# Wall-clock milliseconds of SCRIPT (the mean of COUNT runs) and, after a slash, this process's
# CPU milliseconds per run (from /proc/self/schedstat, or in steps of 10 ms from /proc/self/stat):
# on a loaded machine the second tells what the viewer itself costs.
proc ms {script {count 1}} {
    set cpu [cpu]
    set t [lindex [time {uplevel 1 $script} $count] 0]
    set used [expr {[cpu] - $cpu}]
    format "%.1f/%s" [expr {$t / 1000.0}] \
        [expr {$used eq {} ? "-" : [format %.1f [expr {double($used) / $count}]]}]
}

source [file join $here viewer_timing.tcl]

set desc [file join $dir design.desc]
set fsdb [file join $dir design.fsdb]
if {![file exists $fsdb]} {
    puts "writing $cycles cycles: [ms {write_design $desc $cycles}] ms"
    puts "fsdbgen: [ms {exec $env(FSDBGEN) $desc $fsdb.tmp}] ms"
    file rename $fsdb.tmp $fsdb
    file delete $desc
}

source [file join $here .. platform host cli cli.tcl]
source [file join $here .. platform host viewer viewer.tcl]
# The window is ready when it shows with the file open and its tree; the list follows (its fill
# starts after the window's first paint).
proc list_started {args} {
    if {![info exists ::painted]} {
        set ::painted [list [clock microseconds] [cpu]]
    }
}
trace add execution ::vexa::viewer::fill_list enter list_started
set start [list [clock microseconds] [cpu]]
set ready [ms {
    ::vexa::viewer::start
    wm geometry . 1300x800
    set ::vexa::viewer::quiet 1
    set h [::vexa::viewer::open_file $fsdb]
    while {![info exists ::painted] || [llength [.side.list children {}]] == 0} {
        update
    }
}]
trace remove execution ::vexa::viewer::fill_list enter list_started
puts "signals: [vexa::design count $h]"
puts [format "window ready, the file open and its tree shown (wall/CPU): %.1f/%.1f ms" \
          [expr {([lindex $painted 0] - [lindex $start 0]) / 1000.0}] \
          [expr {[lindex $painted 1] - [lindex $start 1]}]]
puts "the list filled too (wall/CPU): $ready ms"

# Typing "blk[7]/fifo/q[3" one key at a time, as the search box's binding does.
set text {blk[7]/fifo/q[3}
set times {}
for {set i 1} {$i <= [string length $text]} {incr i} {
    set ::vexa::viewer::search [string range $text 0 [expr {$i - 1}]]
    lappend times [ms {uplevel #0 [bind .side.search <KeyRelease>]; update}]
}
set walls [lmap t $times {lindex [split $t /] 0}]
puts "search-as-you-type, [string length $text] keys (wall/CPU): max [tcl::mathfunc::max {*}$walls] ms\
      (per key: [join $times { }]); [llength [.side.list children {}]] items shown"
foreach text {* q} {
    set ::vexa::viewer::search $text
    puts "search \"$text\": [ms {uplevel #0 [bind .side.search <KeyRelease>]; update}] ms"
}

set paths [lrange [vexa::design find $h -- top/row\\\[3\\\]/blk\\\[5\\\]/*] 0 38]
puts "the clock's load (the busiest signal), frozen (wall/CPU): [frozen {::vexa::viewer::add_signal $h top/clk}] ms"
foreach path $paths {
    ::vexa::viewer::add_signal $h $path
}
update
puts "rows: [llength $::vexa::viewer::rows]"
set times {}
foreach action {{::vexa::viewer::zoom_by 0.5} {::vexa::viewer::pan_by 0.25} zoom_fit
    {::vexa::viewer::set_cursor 1e-6} {::vexa::viewer::select_row 3}} {
    set action [string map {zoom_fit ::vexa::viewer::zoom_fit} $action]
    lappend times [ms {uplevel #0 $action; update} $runs]
}
puts "redraw after zoom, pan, fit, cursor, select (wall/CPU): [join $times { }] ms"
destroy .
exit 0
