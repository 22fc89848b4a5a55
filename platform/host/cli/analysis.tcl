# analysis.tcl: the command line's diff, find and stats: two dumps compared signal by signal,
# the times a condition becomes true, per-signal counts. The walks over the samples are the
# package's (vexa::differences, vexa::when, vexa::statistics); this file picks the signals and
# prints. diff and find exit with 0 (same, found), 1 (different, not found) or 2 (trouble).

namespace eval ::vexa::cli {
    variable commands
    variable usage
    lappend commands diff find stats
    variable troubleStatus [dict create diff 2 find 2]
    # Signals are loaded this many at a time, so that a large design is read in pieces.
    variable batch 500
    array set usage {
        diff {usage: vexa diff A B [GLOB...] [--from T] [--to T] [--radix R] [--quiet]

Compares two dumps (FSDB or VCD, in any mix) signal by signal, matched by full path (only those
matching a GLOB when given). Prints one line per fact: for each signal whose values differ,
"PATH: differs from TIME (VALUE-A vs VALUE-B), N intervals" (the first time they differ, the
values there in the radix, default bin, and the number of differing intervals); then
"PATH: only in FILE" and "PATH: kinds differ (...)" or "PATH: widths differ (...)". Values
are compared as they are in force over time: a repeated value is no change, times are exact, so
a VCD and the FSDB of the same run are the same. --from and --to bound the window. --quiet
prints nothing. Exit status: 0 same, 1 different, 2 trouble.}
        find {usage: vexa find FILE EXPR [--from T] [--to T] [--first] [--count]

Prints the times at which the condition EXPR becomes true, one per line (with --first the first
only, with --count their number). A condition true at the window's start is reported there.
EXPR, in one quoted word:
  top/valid  top/q[7:0]      signals; [M:L] or [I] selects bits of a vector (bit 0 lowest)
  200  0xc8  0b1100_1000     numbers; 1.5e-3 and -0.5 are reals (for analog signals)
  == != < <= > >=            comparisons as unsigned numbers (reals when either side is real)
  !  &&  ||  ( )             not, and, or, grouping
  rise(S)  fall(S)           a one-bit signal's edge from 0 to 1 (1 to 0), true at that instant
  isx(E)  isz(E)             E has an X bit (or no value yet) / a Z bit
  an event signal            true where it occurs
A comparison with an X or Z bit is unknown, and a condition holds only where it is true:
'top/state == 3 && top/valid', 'rise(top/clk) && top/en' (values after the changes at a time),
'top/q[7:0] >= 0x80', 'isx(top/data)'. Exit status: 0 found, 1 not found, 2 trouble.}
        stats {usage: vexa stats FILE [GLOB...] [--from T] [--to T] [--csv]

Prints a table of the signals (those matching a GLOB when given): the number of changes and
the first and last change; for one-bit signals the rising and falling edges and the share of
time at 1; for vectors the number of distinct values. The window runs from the signals' first
to their last time, or --from to --to; the value in force at its start is no change. --csv
writes comma-separated values under a header line instead.}
    }
}

# The paths of the design H matching any of GLOBS (all without), in name order.
proc ::vexa::cli::matching {h globs} {
    if {[llength $globs] == 0} {
        return [vexa::sortnames [leaves $h]]
    }
    set found [dict create]
    foreach glob $globs {
        foreach path [vexa::design find $h -- [pattern_glob $glob]] {
            dict set found $path 1
        }
    }
    return [vexa::sortnames [dict keys $found]]
}

# --from and --to of OPTIONS as arguments of the package's commands, checked.
proc ::vexa::cli::window_args {options command} {
    set window {}
    foreach {option key} {--from -from --to -to} {
        if {[dict exists $options $option]} {
            lappend window $key [parse_time [dict get $options $option] $command]
        }
    }
    if {[llength $window] == 4 &&
        [vexa::format parse [lindex $window 1]] > [vexa::format parse [lindex $window 3]]} {
        usage_error "--from [lindex $window 1] is after --to [lindex $window 3]" $command
    }
    return $window
}

# A waveform's kind as the comparison sees it: logic (with its width), real or event.
proc ::vexa::cli::wave_kind {id} {
    switch -- [vexa::wave $id kind] {
        22 { return event }
        23 - 25 { return "logic [vexa::wave $id width]" }
        default { return real }
    }
}

proc ::vexa::cli::plural {n word} {
    return "$n $word[expr {$n == 1 ? {} : {s}}]"
}

# --- diff -------------------------------------------------------------------------------------

proc ::vexa::cli::cmd_diff {args} {
    variable batch
    variable exitStatus
    lassign [parse_args diff $args {--from 1 --to 1 --radix 1 --quiet 0}] words options
    if {[llength $words] < 2} {
        usage_error "diff takes two FILEs and GLOBs" diff
    }
    set radix [expr {[dict exists $options --radix] ? [dict get $options --radix] : "bin"}]
    if {$radix ni {bin hex dec signed}} {
        usage_error "bad radix \"$radix\": must be bin, hex, dec or signed" diff
    }
    set window [window_args $options diff]
    lassign $words nameA nameB
    set globs [lrange $words 2 end]
    set a [open_file $nameA]
    set b [open_file $nameB]
    set pathsA [matching $a $globs]
    set pathsB [matching $b $globs]
    if {[llength $globs] && ![llength $pathsA] && ![llength $pathsB]} {
        fail "no signal matches [join $globs { or }] in $nameA or $nameB"
    }
    set inB [dict create {*}[concat {*}[lmap p $pathsB {list $p 1}]]]
    set common [lmap p $pathsA {expr {[dict exists $inB $p] ? $p : [continue]}}]
    set facts {}
    set mismatches {}
    for {set i 0} {$i < [llength $common]} {incr i $batch} {
        set paths [lrange $common $i [expr {$i + $batch - 1}]]
        foreach path $paths idA [load_signals $a $paths] idB [load_signals $b $paths] {
            set kindA [wave_kind $idA]
            set kindB [wave_kind $idB]
            if {$kindA ne $kindB} {
                lappend mismatches [mismatch $path $kindA $kindB]
                continue
            }
            set found [vexa::differences $idA $idB {*}$window -radix $radix -limit 0]
            if {[dict get $found count] > 0} {
                lassign [dict get $found first] time valueA valueB
                lappend facts "$path: differs from $time ($valueA vs $valueB),\
                    [plural [dict get $found count] interval]"
            }
        }
    }
    set onlyA [lmap p $pathsA {expr {[dict exists $inB $p] ? [continue] : "$p: only in $nameA"}}]
    set inA [dict create {*}[concat {*}[lmap p $pathsA {list $p 1}]]]
    set onlyB [lmap p $pathsB {expr {[dict exists $inA $p] ? [continue] : "$p: only in $nameB"}}]
    set lines [concat $facts $onlyA $onlyB $mismatches]
    if {![dict exists $options --quiet]} {
        foreach line $lines {
            puts $line
        }
    }
    set exitStatus [expr {[llength $lines] > 0}]
}

proc ::vexa::cli::mismatch {path kindA kindB} {
    if {[lindex $kindA 0] eq [lindex $kindB 0]} {
        return "$path: widths differ ([lindex $kindA 1] vs [lindex $kindB 1])"
    }
    return "$path: kinds differ ([lindex $kindA 0] vs [lindex $kindB 0])"
}

# --- find -------------------------------------------------------------------------------------

proc ::vexa::cli::cmd_find {args} {
    variable exitStatus
    lassign [parse_args find $args {--from 1 --to 1 --first 0 --count 0}] words options
    if {[llength $words] < 2} {
        usage_error "find takes FILE and a condition" find
    }
    if {[dict exists $options --first] && [dict exists $options --count]} {
        usage_error "--first and --count exclude each other" find
    }
    set window [window_args $options find]
    set expression [join [lrange $words 1 end]]
    set h [open_file [lindex $words 0]]
    set mode {}
    foreach option {--first --count} {
        if {[dict exists $options $option]} {
            set mode [string range $option 1 end]
        }
    }
    if {[catch {vexa::when $h $expression {*}$window {*}$mode} found caught]} {
        set code [dict get $caught -errorcode]
        if {[lrange $code 0 1] eq {VEXA CONDITION}} {
            set caret "[string repeat { } [expr {[lindex $code 2] - 1}]]^"
            fail "$found\n  $expression\n  $caret"
        }
        fail $found
    }
    if {$mode eq "-count"} {
        puts $found
        set exitStatus [expr {$found == 0}]
        return
    }
    foreach time $found {
        puts $time
    }
    set exitStatus [expr {[llength $found] == 0}]
}

# --- stats ------------------------------------------------------------------------------------

proc ::vexa::cli::cmd_stats {args} {
    variable batch
    lassign [parse_args stats $args {--from 1 --to 1 --csv 0}] words options
    if {[llength $words] < 1} {
        usage_error "stats takes FILE and GLOBs" stats
    }
    set window [window_args $options stats]
    set h [open_file [lindex $words 0]]
    set globs [lrange $words 1 end]
    set paths [matching $h $globs]
    if {![llength $paths]} {
        variable shownName
        fail "no signal matches [join $globs { or }] in $shownName"
    }
    set ids {}
    for {set i 0} {$i < [llength $paths]} {incr i $batch} {
        lappend ids {*}[load_signals $h [lrange $paths $i [expr {$i + $batch - 1}]]]
    }
    lassign [vexa::timegrid {*}$ids] grid first last
    set from [expr {[dict exists $options --from] ? [dict get $options --from] : $first}]
    set to [expr {[dict exists $options --to] ? [dict get $options --to] : $last}]
    set rows [list {signal changes first last rises falls high values}]
    foreach path $paths id $ids {
        set s [expr {$from eq {} ? {changes 0 first {} last {}} :
                     [vexa::statistics $id -from $from -to $to]}]
        set row [list $path]
        foreach key {changes first last rises falls high values} {
            set value [expr {[dict exists $s $key] ? [dict get $s $key] : {}}]
            if {$key eq "high" && $value ne {}} {
                set value [format %.1f [expr {100.0 * $value}]]
            }
            lappend row $value
        }
        lappend rows $row
    }
    if {[dict exists $options --csv]} {
        lset rows 0 6 high_percent
        foreach row $rows {
            puts [join [lmap field $row {csv_field $field}] ,]
        }
    } else {
        lset rows 0 6 {at 1}
        print_table $rows
    }
}

proc ::vexa::cli::csv_field {text} {
    if {[regexp {[",\n]} $text]} {
        return "\"[string map {\" \"\"} $text]\""
    }
    return $text
}

# ROWS as columns padded to their widest field, an empty field as "-", a share as "N%".
proc ::vexa::cli::print_table {rows} {
    set widths {}
    set shown [lmap row $rows {
        set i -1
        lmap field $row {
            incr i
            expr {$field eq {} ? "-" : ($i == 6 && $field ne "at 1" ? "$field%" : $field)}
        }
    }]
    foreach row $shown {
        set i 0
        foreach field $row {
            set w [string length $field]
            if {$i >= [llength $widths]} {
                lappend widths $w
            } elseif {$w > [lindex $widths $i]} {
                lset widths $i $w
            }
            incr i
        }
    }
    foreach row $shown {
        set line {}
        foreach field $row width $widths {
            append line [format "%-*s  " $width $field]
        }
        puts [string trimright $line]
    }
}
