# viewer_timing.tcl: the viewer benches' clocks: this process's CPU time, and the longest the
# window is frozen while a script runs.

# This process's CPU milliseconds (from /proc/self/schedstat, or in steps of 10 ms from
# /proc/self/stat; {} where neither is).
proc cpu {} {
    if {![catch {open /proc/self/schedstat} f]} {
        set ns [lindex [read $f] 0]
        close $f
        return [expr {$ns / 1e6}]
    }
    if {[catch {open /proc/self/stat} f]} {
        return {}
    }
    set fields [split [lindex [split [read $f] )] 1]]
    close $f
    expr {([lindex $fields 12] + [lindex $fields 13]) * 1000 / 100}
}

# The longest gap between the window's timer ticks (every 10 ms) while SCRIPT runs from a timer,
# as wall/CPU milliseconds: the ticks stand for the user's events, which wait as long. The gap
# includes what SCRIPT schedules (a draw), up to 100 ms after it.
proc frozen {script} {
    global gaps last
    set gaps {}
    set last [list [clock microseconds] [cpu]]
    proc tick {} {
        global gaps last tickId
        set now [list [clock microseconds] [cpu]]
        lappend gaps [list [expr {[lindex $now 0] - [lindex $last 0]}] \
                          [expr {[lindex $now 1] - [lindex $last 1]}]]
        set last $now
        set tickId [after 10 tick]
    }
    set ::tickId [after 10 tick]
    set ::done 0
    after 20 [list apply {{script} {uplevel #0 $script; set ::done 1}} $script]
    vwait ::done
    after 100 {set ::done 2}
    vwait ::done
    after cancel $::tickId
    lassign [lindex [lsort -real -index 0 $gaps] end] wall used
    format %.1f/%.1f [expr {$wall / 1000.0}] $used
}
