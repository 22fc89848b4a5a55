# viewer_bench.tcl: redraw time of the viewer's window showing a signal of many changes and a
# 32-member bus, with and without drawing on a display. Run with the vexa shell:
#   FSDBGEN=build/bin/fsdbgen build/bin/vexa bench/viewer_bench.tcl ?CHANGES? ?RUNS?
# CHANGES defaults to 10000000 (the bus changes a hundred times less often). Needs DISPLAY (e.g.
# under xvfb-run) for the window's part; the item generation is timed without one.

set changes [expr {[llength $argv] > 0 ? [lindex $argv 0] : 10000000}]
set runs [expr {[llength $argv] > 1 ? [lindex $argv 1] : 20}]
set here [file dirname [file normalize [info script]]]
set dir [file join [expr {[info exists env(TMPDIR)] ? $env(TMPDIR) : "/tmp"}] vexa-bench-[pid]]
file mkdir $dir

# The description: top/sig toggling every tick, top/bus[31:0] counting every 100 ticks.
proc write_design {path changes} {
    set f [open $path w]
    fconfigure $f -buffering full -buffersize 1048576
    puts $f "type 1\nunit 1ns\nend $changes\nscope top\nvar #0 1 sig"
    set chunk {}
    for {set i 0} {$i < $changes} {incr i} {
        append chunk $i " " [expr {$i & 1}] \n
        if {($i & 65535) == 65535} {
            puts -nonewline $f $chunk
            set chunk {}
        }
    }
    puts -nonewline $f $chunk
    for {set b 0} {$b < 32} {incr b} {
        puts $f "var #0 1 bus\[$b\]"
        set chunk {}
        for {set i 0} {$i < $changes} {incr i 100} {
            append chunk $i " " [expr {(($i / 100) >> $b) & 1}] \n
        }
        puts -nonewline $f $chunk
    }
    puts $f "upscope"
    close $f
}

proc ms {script {count 1}} {
    set t [lindex [time {uplevel 1 $script} $count] 0]
    format %.1f [expr {$t / 1000.0}]
}

source [file join $here viewer_timing.tcl]

set desc [file join $dir big.desc]
set fsdb [file join $dir big.fsdb]
puts "writing $changes changes: [ms {write_design $desc $changes}] ms"
puts "fsdbgen: [ms {exec $env(FSDBGEN) $desc $fsdb}] ms"
file delete $desc
set Scope(fsdb,show_bus) 1

source [file join $here .. platform host viewer draw.tcl]
set h [vexa::open $fsdb FSDB]
set ids {}
puts "load (once): [ms {lassign [vexa::loadwaves $h {top/sig {top/bus[31:0]}}] result ids}] ms"
puts "samples: [lmap id $ids {vexa::wave $id count}]"
lassign [vexa::timegrid {*}$ids] grid first last

# Items of both rows for a window, as the viewer makes them for a 1000-column pane.
proc items {ids from to} {
    set n 0
    foreach id $ids bits {1 32} {
        incr n [llength [::vexa::viewer::draw::row_items \
                             [vexa::columns $id $from $to 1000 hex] $bits 0 28 {}]]
    }
    return $n
}
puts "first decimation (finds each wave's grid): [ms {items $ids $first $last}] ms"
foreach {label from to} [list "whole span" $first $last "a thousandth" 0 [vexa::format time \
        [expr {[vexa::format parse $last] / 1000}] $grid]] {
    puts "items, $label: [ms {items $ids $from $to} $runs] ms ([items $ids $from $to] items)"
}

# The window reads the file through a reader of its own.
vexa::close $h
if {[info exists env(DISPLAY)] && $env(DISPLAY) ne {}} {
    package require vexa::cli
    package require vexa::viewer
    ::vexa::viewer::start
    wm geometry . 1300x400
    # Every row drawn anew: the window keeps a row's items while they are unchanged.
    proc full_redraw {} {
        .main.wave delete all
        set ::vexa::viewer::drawnRows [dict create]
        ::vexa::viewer::draw_now
        update idletasks
    }
    update
    set ::vexa::viewer::quiet 1
    # Adding the big signal as a double-click or a drop does: the window's longest freeze, and the CPU of
    # the plug-in's load (load_one) against all that adding and drawing the row costs.
    set h [::vexa::viewer::open_file $fsdb]
    update
    trace add execution ::vexa::viewer::load_one enter {apply {args {set ::loadCpu [cpu]}}}
    trace add execution ::vexa::viewer::load_one leave {apply {args {
        set ::loadCpu [expr {[cpu] - $::loadCpu}]}}}
    set before [cpu]
    set soon [expr {[llength [info args ::vexa::viewer::add_signal]] > 3 ? {end 1} : {}}]
    set gap [frozen [list ::vexa::viewer::add_signal $h top/sig {*}$soon]]
    puts [format "top/sig added, the window's longest freeze (wall/CPU): %s ms; CPU: the\
                  plug-in's load %.1f ms, adding and drawing the row in all %.1f ms" $gap \
              $::loadCpu [expr {[cpu] - $before}]]
    ::vexa::viewer::add_signal [lindex [dict keys $::vexa::viewer::files] end] {top/bus[31:0]}
    update
    puts "window redraw, whole span, [winfo width .main.wave] columns: [ms full_redraw $runs] ms ([llength [.main.wave find all]] items)"
    # The bus's worst case: a box every two columns.
    ::vexa::viewer::set_window 0.0 [expr {[winfo width .main.wave] / 2 * 100e-9}]
    update
    puts "window redraw, a bus box every 2 columns: [ms full_redraw $runs] ms ([llength [.main.wave find all]] items)"
    ::vexa::viewer::zoom_by 0.001
    update
    puts "window redraw, zoomed in: [ms full_redraw $runs] ms"
    destroy .
}
file delete -force $dir
exit 0
