# load.tcl: the host side of the scale benchmark, run by the vexa shell (vexa load.tcl FILE MODE).
# It prints "key value" lines for scale_bench to read:
#   MODE open   the time to open the design (best of 3), and single-signal loads of 200
#               signals spread over the design, each its own vexa::loadwave
#   MODE whole  every signal loaded through the plug-in: the one-bit signals first, then the
#               rest, with the process's resident size before and after each part

proc rss {} {
    set f [open /proc/self/status]
    set text [read $f]
    close $f
    regexp {VmRSS:\s+(\d+) kB} $text -> kb
    return [expr {$kb * 1024}]
}

proc seconds {script} {
    set start [clock microseconds]
    uplevel 1 $script
    return [expr {([clock microseconds] - $start) / 1e6}]
}

# The signals of the design, each once (an alias, a second path of the same variable, is left
# out): {one wide other}, the logic signals of the main file split by width (a vector's path
# ends in its range, "q[63:0]") and the companion's reals and events.
proc signals {d} {
    lassign [vexa::design files $d] main companion
    set one {}
    set wide {}
    set seen [dict create]
    foreach {p id} [vexa::fileinfo $main -waveids] {
        if {[dict exists $seen $id]} continue
        dict set seen $id 1
        if {[regexp {\[\d+:\d+\]$} $p]} { lappend wide $p } else { lappend one $p }
    }
    set other {}
    if {$companion ne {}} {
        set seen [dict create]
        foreach {p id} [vexa::fileinfo $companion -waveids] {
            if {![dict exists $seen $id]} { lappend other $p }
            dict set seen $id 1
        }
    }
    return [list $one $wide $other]
}

# Loads PATHS of the file H in groups of 1000: {waves failed samples}.
proc load_all {h paths} {
    set waves {}
    set failed 0
    for {set i 0} {$i < [llength $paths]} {incr i 1000} {
        lassign [vexa::query loadwaves $h [lrange $paths $i [expr {$i + 999}]]] result ids
        foreach w $ids {
            if {$w eq "0"} { incr failed } else { lappend waves $w }
        }
    }
    set samples 0
    foreach w $waves { incr samples [vexa::wave $w count] }
    return [list $waves $failed $samples]
}

lassign $argv file mode
if {$mode eq "open"} {
    set best {}
    for {set i 0} {$i < 3} {incr i} {
        set t [seconds { set d [vexa::design open $file] }]
        if {$best eq {} || $t < $best} { set best $t }
        if {$i < 2} { vexa::design close $d }
    }
    puts "open_seconds $best"
    lassign [signals $d] one wide other
    set main [lindex [vexa::design files $d] 0]
    set paths [concat $one $wide]
    set step [expr {max(1, [llength $paths] / 200)}]
    set picked {}
    for {set i 0} {$i < [llength $paths]} {incr i $step} { lappend picked [lindex $paths $i] }
    set samples 0
    set t [seconds {
        foreach p $picked {
            incr samples [vexa::wave [vexa::loadwave $main $p] count]
        }
    }]
    puts "single_signals [llength $picked]"
    puts "single_samples $samples"
    puts "single_seconds $t"
} else {
    set d [vexa::design open $file]
    lassign [signals $d] one wide other
    lassign [vexa::design files $d] main companion
    set rss0 [rss]
    set t1 [seconds { lassign [load_all $main $one] waves1 failed1 samples1 }]
    set rss1 [rss]
    set t2 [seconds {
        lassign [load_all $main $wide] waves2 failed2 samples2
        if {$companion ne {}} {
            lassign [load_all $companion $other] waves3 failed3 samples3
            lappend waves2 {*}$waves3
            incr failed2 $failed3
            incr samples2 $samples3
        }
    }]
    set rss2 [rss]
    set notonebit 0
    foreach w $waves1 {
        if {[vexa::wave $w kind] != 23 || [vexa::wave $w width] != 1} { incr notonebit }
    }
    puts "onebit_signals [llength $waves1]"
    puts "onebit_samples $samples1"
    puts "onebit_seconds $t1"
    puts "onebit_growth [expr {$rss1 - $rss0}]"
    puts "onebit_misclassified $notonebit"
    puts "all_signals [expr {[llength $waves1] + [llength $waves2]}]"
    puts "all_samples [expr {$samples1 + $samples2}]"
    puts "all_seconds [expr {$t1 + $t2}]"
    puts "all_growth [expr {$rss2 - $rss0}]"
    puts "all_rss $rss2"
    puts "failed [expr {$failed1 + $failed2}]"
}
