# cli.tcl: the vexa command line: a summary of a waveform file and the subcommands info, tree,
# list, dump, plot and view (diff, find and stats in analysis.tcl), all through the format's
# handlers (vexa::open, fileinfo, loadwaves).
# Exit status 0 on success, 1 on a failure, 2 on a usage error; data on stdout, messages on stderr.

package require vexa
package require vexa::cache
package require vexa::svg

namespace eval ::vexa::cli {
    variable commands {info tree list dump plot view}
    variable troubleStatus [dict create]
    variable usage
    array set usage {
        main {usage: vexa FILE                        summary of a waveform file
       vexa COMMAND FILE [ARGS...]       (vexa COMMAND --help for details)
       vexa SCRIPT.tcl [ARGS...]         run a Tcl script with the vexa package
       vexa                              interactive shell

Commands:
  info FILE                           design, time range, signal counts
  tree FILE [SCOPE] [--depth N]       the hierarchy below SCOPE
  list FILE [PATTERN] [--type TYPE]   signal paths matching PATTERN (analog|event|digital|bus)
  dump FILE SIGNAL... [--from T] [--to T] [--at T] [--radix bin|hex|dec|signed]
  plot FILE SIGNAL... -o OUT.svg [--from T] [--to T] [--width PX] [--radix R]
  view FILE... [--view SAVED] [--signals GLOB...] [--at T] [--reference B]
                                      a window showing the waveforms (needs Tk and a display)
  diff A B [GLOB...] [--quiet]        signals whose values differ; exit 0 same, 1 different
  find FILE EXPR [--first|--count]    times a condition becomes true: 'rise(top/clk) && top/en'
  stats FILE [GLOB...] [--csv]        changes, edges, time at 1, distinct values per signal

FILE is an FSDB file, or a VCD (.vcd, .vcd.gz) or FST file (.fst) imported into a cache that
is reused while the dump is unchanged; its companion (run.analog.fsdb beside run.fsdb: the
reals and events of an import) is read with it as one design. Options for every command: --bus groups
name[i] signals into buses, --split follows split files (run_1.fsdb, run.fsdb.1, ...;
run_1.vcd, ...). dump, plot, diff, find and stats take --from T and --to T. Times are written
with a unit: 55ns, 1.2us, 3ms. Signal names are taken
literally: top/q[3:0] needs no quoting. Lists and trees are in name order, indices as
numbers: q[2] before q[10].}
        info {usage: vexa info FILE

Prints the file's design name, path, time range and step, and its signal counts per kind.}
        tree {usage: vexa tree FILE [SCOPE] [--depth N]

Prints the hierarchy below SCOPE (the whole file by default), two blanks of indent per level,
scopes ending in "/". --depth N shows N levels (default: all).}
        list {usage: vexa list FILE [PATTERN] [--type analog|event|digital|bus]

Prints the full path of every signal matching PATTERN (default *), one per line, in name order
with indices as numbers (top/q[2] before top/q[10]). In PATTERN, * stands for any text and ? for
one character; every other character stands for itself, brackets too: '*blk[0]*' finds the
signals below blk[0]. Write \* or \? for a star or a question mark itself.}
        dump {usage: vexa dump FILE SIGNAL... [--from T] [--to T] [--at T] [--radix R]

Prints the samples of the signals as tab-separated columns under a header line: the time, then
one value per signal, a row per time at which any of them changes. With --from the first row
holds the values at that time. --at T prints the single row of values at T. --radix bin (default),
hex, dec or signed sets how logic vectors are written; real values are written exactly.}
        plot {usage: vexa plot FILE SIGNAL... -o OUT.svg [--from T] [--to T] [--width PX] [--radix R]

Draws a timing diagram as SVG: 1-bit signals as traces (X red, Z orange), vectors as labelled
boxes in the radix (default hex), analog signals as lines with their range and unit, events
as ticks, a time axis. --width is the picture's width in pixels (default 1000).}
        view {usage: vexa view FILE... [--view SAVED] [--signals GLOB...] [--at T] [--reference B]

Opens the files in a waveform viewer window: find a signal in the tree or the list (type in
the search box), double-click or drag it into the waveform pane, click to place the cursor and
read the values at it (drag the edge beside the names to widen them; the pointer over a name
shows its whole path). Keys in the pane: + and - zoom, f fits, Left and Right pan, n and p go
to the next and previous change of the selected signal, m sets the marker, r changes the radix,
g folds a group, d and D go to the next and previous difference from a reference dump (File,
Open reference), / goes to the find bar (a condition as for find; Return finds the next match).
Right-click a name for its own radix, colour and analog drawing, groups and dividers.

--view SAVED shows the files as the view saved in SAVED (Ctrl+S): its rows, window, cursor and
marker, the view's Nth file replaced by the Nth FILE. --signals adds the signals matching each
GLOB (the words up to the next option; patterns as for list) in name order. --at T places the
cursor at T, with the window moved to show it. --reference B compares every row with the same
signal of the dump B (as File, Open reference). A view, signal, time or reference that cannot
be shown is an error (exit status 1) and no window stays open.}
    }
}

# Errors carry their exit status in the error code: {VEXACLI 1} or {VEXACLI 2}.
proc ::vexa::cli::fail {message} {
    return -code error -errorcode {VEXACLI 1} $message
}
proc ::vexa::cli::usage_error {message {command {}}} {
    set hint [expr {$command eq {} ? "vexa --help" : "vexa $command --help"}]
    return -code error -errorcode {VEXACLI 2} "$message\nTry '$hint'."
}

# Splits ARGS into positional words and the values of OPTIONS (a dict: option -> takes a value).
# Returns {positional optionValues}; repeated options keep the last value.
proc ::vexa::cli::parse_args {command args options} {
    set positional {}
    set values [dict create]
    set literal 0
    for {set i 0} {$i < [llength $args]} {incr i} {
        set word [lindex $args $i]
        if {$literal || ![string match -* $word] || $word eq "-"} {
            lappend positional $word
        } elseif {$word eq "--"} {
            set literal 1
        } elseif {[dict exists $options $word]} {
            if {[dict get $options $word]} {
                if {$i + 1 >= [llength $args]} {
                    usage_error "option $word needs a value" $command
                }
                dict set values $word [lindex $args [incr i]]
            } else {
                dict set values $word 1
            }
        } else {
            usage_error "unknown option \"$word\"" $command
        }
    }
    return [list $positional $values]
}

# --- Files: FSDB opened directly, VCD or FST through the import cache (vexa::cache) -----------------

# Opens FILE with the settings chosen and returns the handle of its design (vexa::design: the
# file and its companion); remembers the name shown.
proc ::vexa::cli::open_file {path} {
    variable shownName $path
    if {![file exists $path]} {
        fail "couldn't open \"$path\": no such file"
    }
    set fsdb [::vexa::cache::fsdb_for $path]
    ::vexa::cache::link_vcd_chain $path $fsdb
    if {[catch {vexa::design open $fsdb FSDB} message]} {
        if {![string match "couldn't open the companion*" $message]} {
            set message "not a readable FSDB file"
        }
        fail "couldn't open \"$path\": $message"
    }
    return $message
}

# The design's main file, which answers for the whole: its design name, its creation stamp.
proc ::vexa::cli::main_file {h} {
    lindex [vexa::design files $h] 0
}

# --- Signals: literal names, checked, with near matches for a typo -----------------------------

proc ::vexa::cli::leaves {h} {
    variable leafCache
    if {![info exists leafCache($h)]} {
        set leafCache($h) [vexa::design find $h]
    }
    return $leafCache($h)
}

# Every scope that holds a signal, from the signals' paths.
proc ::vexa::cli::scopes {h} {
    set found [dict create]
    foreach path [leaves $h] {
        set parts [lrange [split $path /] 0 end-1]
        for {set i 0} {$i < [llength $parts]} {incr i} {
            dict set found [join [lrange $parts 0 $i] /] 1
        }
    }
    return [dict keys $found]
}

proc ::vexa::cli::is_scope {h path} {
    expr {![catch {vexa::design children $h $path}]}
}

# Levenshtein distance, giving up (returning limit + 1) beyond limit.
proc ::vexa::cli::distance {a b limit} {
    set la [string length $a]
    set lb [string length $b]
    if {abs($la - $lb) > $limit} {
        return [expr {$limit + 1}]
    }
    set previous {}
    for {set j 0} {$j <= $lb} {incr j} {
        lappend previous $j
    }
    for {set i 1} {$i <= $la} {incr i} {
        set row [list $i]
        set best $i
        set ca [string index $a [expr {$i - 1}]]
        for {set j 1} {$j <= $lb} {incr j} {
            set cost [expr {$ca eq [string index $b [expr {$j - 1}]] ? 0 : 1}]
            set d [expr {min([lindex $previous $j] + 1, [lindex $row end] + 1,
                             [lindex $previous [expr {$j - 1}]] + $cost)}]
            lappend row $d
            set best [expr {min($best, $d)}]
        }
        if {$best > $limit} {
            return [expr {$limit + 1}]
        }
        set previous $row
    }
    return [lindex $previous end]
}

# Paths like NAME: the same but for case, the same last name in another scope, or a typo of
# at most two characters. At most five, best first.
proc ::vexa::cli::near_matches {name candidates} {
    set lower [string tolower $name]
    set tail [lindex [split $name /] end]
    set found {}
    foreach path $candidates {
        if {[string tolower $path] eq $lower} {
            lappend found [list 0 $path]
        } elseif {[lindex [split $path /] end] eq $tail} {
            lappend found [list 1 $path]
        } elseif {[set d [distance $lower [string tolower $path] 2]] <= 2} {
            lappend found [list [expr {$d + 1}] $path]
        }
    }
    return [lmap pair [lrange [lsort -index 0 -integer $found] 0 4] {lindex $pair 1}]
}

proc ::vexa::cli::with_suggestions {message name candidates} {
    set near [near_matches $name $candidates]
    if {[llength $near] > 0} {
        append message "\ndid you mean: [join $near {, }]"
    }
    return $message
}

# The signal path for NAME (one leading "/" allowed), or a failure saying what NAME is.
proc ::vexa::cli::signal_path {h name} {
    variable shownName
    set path [expr {[string index $name 0] eq "/" ? [string range $name 1 end] : $name}]
    set all [leaves $h]
    if {[lsearch -exact $all $path] >= 0} {
        return $path
    }
    # A member of a bus is a signal too, though lists show only the bus.
    if {[vexa::design locate $h $path] ne {}} {
        return $path
    }
    if {$path ne {} && [is_scope $h $path]} {
        fail "\"$name\" is a scope, not a signal (try: vexa list $shownName '$path/*')"
    }
    fail [with_suggestions "no such signal \"$name\" in $shownName" $path $all]
}

# Loads the signals and returns their wave ids, in order.
proc ::vexa::cli::load_signals {h paths} {
    lassign [vexa::design loadwaves $h $paths] result ids
    foreach path $paths id $ids {
        if {$id eq "0"} {
            fail "couldn't load \"$path\": the FSDB format refused it"
        }
    }
    return $ids
}

proc ::vexa::cli::parse_time {text command} {
    if {[catch {vexa::format parse $text} message]} {
        usage_error $message $command
    }
    return $text
}

# --- Names as hardware engineers write them ---------------------------------------------------
# Every list and tree of names shown, here and in the viewer, goes through vexa::sortnames: name
# order with numbers as numbers (q[2] before q[10]), a scope's paths together; patterns go through
# vexa::design pattern, where brackets stand for themselves.

# --- Commands ---------------------------------------------------------------------------------

proc ::vexa::cli::kind_counts {h} {
    set counts {}
    foreach type {digital bus analog event} {
        set n [vexa::design count $h $type]
        if {$n > 0} {
            lappend counts "$n $type"
        }
    }
    return $counts
}

# The time step, first and last time of a few signals: {grid first last}, or {}. Logic signals
# come first since their waveforms run to the file's end; each one loaded costs a full read.
proc ::vexa::cli::time_span {h} {
    set sample [lrange [concat [vexa::design find $h -type digital] [vexa::design find $h -type bus]] 0 2]
    if {[llength $sample] == 0} {
        set sample [lrange [leaves $h] 0 2]
    }
    if {[llength $sample] == 0} {
        return {}
    }
    lassign [vexa::design loadwaves $h $sample] result ids
    set loaded [lsearch -all -inline -not -exact $ids 0]
    if {[llength $loaded] == 0} {
        return {}
    }
    return [vexa::timegrid {*}$loaded]
}

# The file's own time unit as a time text ("10ps"), or fallback when the format does not say.
proc ::vexa::cli::file_unit {h fallback} {
    if {[catch {vexa::format time [vexa::fileinfo $h -timescale]} unit]} {
        return $fallback
    }
    return $unit
}

proc ::vexa::cli::print_info {h path} {
    set counts [kind_counts $h]
    set n [vexa::design count $h]
    puts "file:    $path"
    puts "design:  [vexa::fileinfo [main_file $h] -design]"
    set span [time_span $h]
    if {$span ne {}} {
        lassign $span grid first last
        # Times that never differ tell no step; the file's unit is the finest one it could have.
        if {$first eq $last} {
            set grid [file_unit $h $grid]
        }
        puts "time:    $first to $last (step $grid)"
    }
    puts "signals: $n[expr {[llength $counts] ? " ([join $counts {, }])" : {}}]"
    set created [vexa::fileinfo [main_file $h] -created]
    if {$created ne {}} {
        puts "created: $created"
    }
}

proc ::vexa::cli::cmd_info {args} {
    lassign [parse_args info $args {}] words
    if {[llength $words] != 1} {
        usage_error "info takes one FILE" info
    }
    set h [open_file [lindex $words 0]]
    print_info $h [lindex $words 0]
}

# Prints the children of SCOPE ({} for the top) to DEPTH levels (-1: all); returns the number
# of lines printed, stopping after LIMIT lines (-1: no limit).
proc ::vexa::cli::print_tree {h scope depth indent limit {printed 0}} {
    if {$depth == 0} {
        return $printed
    }
    set all [leaves $h]
    foreach name [vexa::sortnames [vexa::design children $h $scope]] {
        if {$limit >= 0 && $printed >= $limit} {
            puts "$indent..."
            return [expr {$limit + 1}]
        }
        set path [expr {$scope eq {} ? $name : "$scope/$name"}]
        incr printed
        if {[lsearch -exact $all $path] >= 0} {
            puts "$indent$name"
        } else {
            puts "$indent$name/"
            set printed [print_tree $h $path [expr {$depth - 1}] "$indent  " $limit $printed]
        }
    }
    return $printed
}

proc ::vexa::cli::cmd_tree {args} {
    lassign [parse_args tree $args {--depth 1}] words options
    if {[llength $words] < 1 || [llength $words] > 2} {
        usage_error "tree takes FILE and at most one SCOPE" tree
    }
    set depth -1
    if {[dict exists $options --depth]} {
        set depth [dict get $options --depth]
        if {![string is integer -strict $depth] || $depth < 1} {
            usage_error "bad depth \"$depth\": must be a whole number of 1 or more" tree
        }
    }
    lassign $words file scope
    set h [open_file $file]
    set scope [expr {[string index $scope 0] eq "/" ? [string range $scope 1 end] : $scope}]
    if {$scope ne {} && ![is_scope $h $scope]} {
        variable shownName
        fail [with_suggestions "no such scope \"$scope\" in $shownName" $scope [scopes $h]]
    }
    if {$scope ne {} && [lsearch -exact [leaves $h] $scope] >= 0} {
        fail "\"$scope\" is a signal, not a scope"
    }
    print_tree $h $scope $depth {} -1
}

proc ::vexa::cli::cmd_list {args} {
    lassign [parse_args list $args {--type 1}] words options
    if {[llength $words] < 1 || [llength $words] > 2} {
        usage_error "list takes FILE and at most one PATTERN" list
    }
    lassign $words file pattern
    if {[llength $words] == 1} {
        set pattern *
    }
    set find [list -- [vexa::design pattern $pattern]]
    if {[dict exists $options --type]} {
        set type [dict get $options --type]
        if {$type ni {analog event digital bus}} {
            usage_error "bad type \"$type\": must be analog, event, digital or bus" list
        }
        lappend find -type $type
    }
    set h [open_file $file]
    foreach path [vexa::sortnames [vexa::design find $h {*}$find]] {
        puts $path
    }
}

proc ::vexa::cli::resolve_signals {h names} {
    set paths {}
    foreach name $names {
        lappend paths [signal_path $h $name]
    }
    return $paths
}

proc ::vexa::cli::cmd_dump {args} {
    lassign [parse_args dump $args {--from 1 --to 1 --at 1 --radix 1}] words options
    if {[llength $words] < 2} {
        usage_error "dump takes FILE and at least one SIGNAL" dump
    }
    set table {}
    foreach {option key} {--from -from --to -to --at -at} {
        if {[dict exists $options $option]} {
            lappend table $key [parse_time [dict get $options $option] dump]
        }
    }
    if {[dict exists $options --at] && ([dict exists $options --from] || [dict exists $options --to])} {
        usage_error "--at cannot be combined with --from or --to" dump
    }
    if {[dict exists $options --from] && [dict exists $options --to] &&
        [vexa::format parse [dict get $options --from]] > [vexa::format parse [dict get $options --to]]} {
        usage_error "--from [dict get $options --from] is after --to [dict get $options --to]" dump
    }
    set radix [expr {[dict exists $options --radix] ? [dict get $options --radix] : "bin"}]
    if {$radix ni {bin hex dec signed}} {
        usage_error "bad radix \"$radix\": must be bin, hex, dec or signed" dump
    }
    set h [open_file [lindex $words 0]]
    set paths [resolve_signals $h [lrange $words 1 end]]
    set ids [load_signals $h $paths]
    puts [join [linsert $paths 0 time] \t]
    vexa::table $ids {*}$table -radix $radix -channel stdout
}

# --- plot: SVG --------------------------------------------------------------------------------

proc ::vexa::cli::cmd_plot {args} {
    lassign [parse_args plot $args {-o 1 --output 1 --from 1 --to 1 --width 1 --radix 1}] words options
    if {[llength $words] < 2} {
        usage_error "plot takes FILE and at least one SIGNAL" plot
    }
    if {[dict exists $options --output]} {
        dict set options -o [dict get $options --output]
    }
    if {![dict exists $options -o]} {
        usage_error "plot needs -o OUT.svg" plot
    }
    set width 1000
    if {[dict exists $options --width]} {
        set width [dict get $options --width]
        if {![string is integer -strict $width] || $width < 200 || $width > 100000} {
            usage_error "bad width \"$width\": must be a whole number from 200 to 100000" plot
        }
    }
    set radix [expr {[dict exists $options --radix] ? [dict get $options --radix] : "hex"}]
    if {$radix ni {bin hex dec signed}} {
        usage_error "bad radix \"$radix\": must be bin, hex, dec or signed" plot
    }
    foreach option {--from --to} {
        if {[dict exists $options $option]} {
            parse_time [dict get $options $option] plot
        }
    }
    set h [open_file [lindex $words 0]]
    set paths [resolve_signals $h [lrange $words 1 end]]
    set ids [load_signals $h $paths]
    lassign [vexa::timegrid {*}$ids] grid first last
    set from [expr {[dict exists $options --from] ? [dict get $options --from] : $first}]
    set to [expr {[dict exists $options --to] ? [dict get $options --to] : $last}]
    if {$from eq {} || [vexa::format parse $to] <= [vexa::format parse $from]} {
        fail "nothing to plot: the time window is empty (from $from to $to)"
    }
    set svg [vexa::svg::plot $paths $ids $from $to $width $radix]
    set out [dict get $options -o]
    if {[catch {
        set f [open $out w]
        puts -nonewline $f $svg
        close $f
    } message]} {
        fail "couldn't write \"$out\": $message"
    }
}

# --- view: the Tk viewer ------------------------------------------------------------------------

proc ::vexa::cli::cmd_view {args} {
    # --signals takes every word up to the next option.
    set globs {}
    set rest {}
    set taking 0
    foreach word $args {
        if {$word eq "--signals"} {
            set taking 1
        } elseif {$taking && ![string match -* $word]} {
            lappend globs $word
        } else {
            set taking 0
            lappend rest $word
        }
    }
    if {[lsearch -exact $args --signals] >= 0 && [llength $globs] == 0} {
        usage_error "option --signals needs at least one GLOB" view
    }
    lassign [parse_args view $rest {--view 1 --at 1 --reference 1}] words options
    if {[llength $words] < 1} {
        usage_error "view takes at least one FILE" view
    }
    if {[dict exists $options --at]} {
        parse_time [dict get $options --at] view
    }
    dict set options --signals $globs
    foreach path $words {
        if {![file exists $path]} {
            fail "couldn't open \"$path\": no such file"
        }
    }
    package require vexa::viewer
    if {[catch {::vexa::viewer::main $words $options} message]} {
        fail $message
    }
}

# --- Entry ------------------------------------------------------------------------------------

proc ::vexa::cli::help {args} {
    variable usage
    set topic [expr {[llength $args] ? [lindex $args 0] : "main"}]
    if {![info exists usage($topic)]} {
        usage_error "no help for \"$topic\""
    }
    puts $usage($topic)
}

# Runs the command line ARGV; returns the exit status: exitStatus, which a command may set, or
# for a failure the status in its error code, for a command of troubleStatus that one.
proc ::vexa::cli::main {argv} {
    variable commands
    variable troubleStatus
    variable exitStatus 0
    global Scope
    set rest {}
    foreach word $argv {
        switch -- $word {
            --bus { set Scope(fsdb,show_bus) 1 }
            --split { set Scope(fsdb,cat_split) 1 }
            default { lappend rest $word }
        }
    }
    set status [catch {
        set first [lindex $rest 0]
        if {$first in {--help -h help}} {
            help {*}[lrange $rest 1 end]
        } elseif {$first in $commands} {
            if {[lsearch -exact [lrange $rest 1 end] --help] >= 0} {
                help $first
            } else {
                cmd_$first {*}[lrange $rest 1 end]
            }
        } elseif {[llength $rest] == 1 && ![string match -* $first]} {
            set h [open_file $first]
            print_info $h $first
            puts "hierarchy:"
            print_tree $h {} 3 "  " 20
        } elseif {[llength $rest] == 1 && [regexp {[./]} $first]} {
            fail "couldn't open \"$first\": no such file"
        } else {
            usage_error "unknown command \"$first\""
        }
        flush stdout
    } message options]
    if {$status == 0} {
        return $exitStatus
    }
    set code [dict get $options -errorcode]
    if {[string match {POSIX EPIPE *} $code] || [string match "*broken pipe*" $message]} {
        catch {close stdout}
        return 0
    }
    puts stderr "vexa: $message"
    if {[dict exists $troubleStatus $first]} {
        return [dict get $troubleStatus $first]
    }
    if {[lindex $code 0] eq "VEXACLI"} {
        return [lindex $code 1]
    }
    return 1
}

source [file join [file dirname [info script]] analysis.tcl]
package provide vexa::cli [package present vexa]
