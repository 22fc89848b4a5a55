# cli.tcl: the vexa command line: a summary of a waveform file and the subcommands info, tree,
# list, dump and plot, all through the format's handlers (vexa::open, fileinfo, loadwaves).
# Exit status 0 on success, 1 on a failure, 2 on a usage error; data on stdout, messages on stderr.

namespace eval ::vexa::cli {
    variable commands {info tree list dump plot view}
    variable scriptDir [file dirname [file normalize [info script]]]
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
  view FILE...                        a window showing the waveforms (needs Tk and a display)

FILE is an FSDB file, or a VCD (.vcd, .vcd.gz) or FST file (.fst) imported into a cache that
is reused while the dump is unchanged; its companion (run.analog.fsdb beside run.fsdb: the
reals and events of an import) is read with it as one design. Options for every command: --bus groups
name[i] signals into buses, --split follows split files (run_1.fsdb, run.fsdb.1, ...;
run_1.vcd, ...). Times are written with a unit: 55ns, 1.2us, 3ms. Signal names are taken
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
        view {usage: vexa view FILE...

Opens the files in a waveform viewer window: find a signal in the tree or the list (type in
the search box), double-click or drag it into the waveform pane, click to place the cursor and
read the values at it (drag the edge beside the names to widen them; the pointer over a name
shows its whole path). Keys in the pane: + and - zoom, f fits, Left and Right pan, n and p go
to the next and previous change of the selected signal, m sets the marker, r changes the radix.}
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

# --- Files: FSDB opened directly, VCD through the import cache -------------------------------

proc ::vexa::cli::cache_dir {} {
    global env
    if {[info exists env(XDG_CACHE_HOME)] && $env(XDG_CACHE_HOME) ne {}} {
        return [file join $env(XDG_CACHE_HOME) vexa]
    }
    return [file join $env(HOME) .cache vexa]
}

proc ::vexa::cli::fsdbgen {} {
    global env
    if {[info exists env(FSDBGEN)] && $env(FSDBGEN) ne {}} {
        return $env(FSDBGEN)
    }
    set beside [file join [file dirname [info nameofexecutable]] fsdbgen]
    if {[file executable $beside]} {
        return $beside
    }
    set found [auto_execok fsdbgen]
    if {$found eq {}} {
        fail "cannot import a VCD file: the fsdbgen tool was not found (set FSDBGEN)"
    }
    return [lindex $found 0]
}

# The FSDB file to open for PATH: PATH itself, or for a VCD or FST its import in the cache,
# made again when the dump's path, size or modification time differ from the cached import's.
proc ::vexa::cli::fsdb_for {path} {
    if {![regexp -nocase {\.(vcd(\.gz)?|fst)$} $path]} {
        return $path
    }
    if {![file isfile $path]} {
        fail "couldn't open \"$path\": no such file"
    }
    set full [file normalize $path]
    # Nanosecond times and the inode tell apart a VCD rewritten within one second at one size.
    set key [list $full {*}[vexa::filestate $full]]
    # One folder per VCD path, holding the import under the VCD's own name so that its
    # design name is the VCD's, and the key it was made from.
    set dir [file join [cache_dir] [format %08x [zlib crc32 $full]]]
    set name [file tail $full]
    regsub -nocase {\.(vcd(\.gz)?|fst)$} $name {} name
    set base [file join $dir $name]
    set cached $base.fsdb
    if {[file exists $cached] && [file exists $dir/key]} {
        set f [open $dir/key]
        set stored [read $f]
        close $f
        # Left-over work files mean an entry made without its companion: made again.
        if {$stored eq $key && [leftovers $dir] eq {}} {
            return $cached
        }
    }
    if {[catch {file mkdir $dir} message]} {
        fail "couldn't make the cache folder \"$dir\": $message"
    }
    import_vcd $full $path $base $key
    return $cached
}

# Imports the VCD FULL into BASE.fsdb and, when it has reals or events, its companion; KEY goes
# to the folder's file "key". Both files are written into a work folder under their final names
# (so the companion rule holds), then moved in with the key removed and written last: the key
# makes the entry valid, so a failed or interrupted import leaves the previous entry or none,
# never a main file with another import's companion. A companion that the new import does not
# have is removed, and so are work files that an interrupted import left behind.
proc ::vexa::cli::import_vcd {full shown base key} {
    set dir [file dirname $base]
    remove_leftovers $dir
    set work [file join $dir [pid].tmp]
    set main [file join $work [file tail $base].fsdb]
    set companion [vexa::design companion $main]
    set tool [fsdbgen]
    if {[catch {
        file delete -force $work
        file mkdir $work
        exec $tool [expr {[regexp -nocase {\.fst$} $full] ? "--fst" : "--vcd"}] $full $main 2>@1
    } message]} {
        file delete -force $work
        regsub {\n?child process exited abnormally$} $message {} message
        fail "couldn't import \"$shown\": [string trim $message]"
    }
    # What the import skipped (string variables, say) is said once, when it is made.
    foreach line [split $message \n] {
        if {[string match "fsdbgen: $full: warning: *" $line]} {
            puts stderr "vexa: $shown: [string range $line [string length "fsdbgen: $full: "] end]"
        }
    }
    if {[catch {
        file delete $dir/key
        set final [vexa::design companion $base.fsdb]
        if {[file exists $companion]} {
            file rename -force $companion $final
        } else {
            file delete $final
        }
        file rename -force $main $base.fsdb
        set f [open $dir/key.[pid].tmp w]
        puts -nonewline $f $key
        close $f
        file rename -force $dir/key.[pid].tmp $dir/key
    } message]} {
        file delete -force $work $dir/key.[pid].tmp
        fail "couldn't store the import of \"$shown\" in \"$dir\": $message"
    }
    file delete -force $work
}

# The work files in the cache folder DIR (PID.tmp, key.PID.tmp, and NAME.PID.tmp and
# NAME.PID.analog.tmp of earlier versions, which left an import's companion there) of imports
# whose process is gone; without /proc, all of them.
proc ::vexa::cli::leftovers {dir} {
    lmap leftover [glob -nocomplain -directory $dir *.tmp] {
        if {[regexp {(?:^|\.)([0-9]+)(?:\.analog)?\.tmp$} [file tail $leftover] -> owner] &&
            $owner != [pid] && [file isdirectory /proc/$owner]} {
            continue
        }
        set leftover
    }
}

proc ::vexa::cli::remove_leftovers {dir} {
    foreach leftover [leftovers $dir] {
        file delete -force $leftover
    }
}

# With --split, the split files of the VCD PATH (run_1.vcd, run_2.vcd, ...; .vcd.gz alike) are
# imported each into its own cache entry, and linked beside FSDB, PATH's import, under the names
# by which the format follows a chain from it and from its companion: run_1.fsdb and
# run.analog_1.fsdb. The links of an earlier open are replaced, since the chain may have changed.
proc ::vexa::cli::link_vcd_chain {path fsdb} {
    global Scope
    if {![info exists Scope(fsdb,cat_split)] || !$Scope(fsdb,cat_split) ||
        ![regexp -nocase {^(.*)(\.vcd(?:\.gz)?)$} $path -> stem extension]} {
        return
    }
    set base [file rootname $fsdb]
    set name [file tail $base]
    foreach old [glob -nocomplain -directory [file dirname $fsdb] -tails *.fsdb] {
        foreach prefix [list ${name}_ $name.analog_] {
            set number [string range $old [string length $prefix] end-5]
            if {[string first $prefix $old] == 0 && [string is digit -strict $number]} {
                file delete [file join [file dirname $fsdb] $old]
            }
        }
    }
    for {set n 1} {[file isfile ${stem}_$n$extension]} {incr n} {
        set part [fsdb_for ${stem}_$n$extension]
        foreach from [list $part [vexa::design companion $part]] \
                to [list ${base}_$n.fsdb [vexa::design companion ${base}_$n.fsdb]] {
            if {[file isfile $from] && [catch {file link -hard $to $from}]} {
                file copy -force $from $to
            }
        }
    }
}

# Opens FILE with the settings chosen and returns the handle of its design (vexa::design: the
# file and its companion); remembers the name shown.
proc ::vexa::cli::open_file {path} {
    variable shownName $path
    if {![file exists $path]} {
        fail "couldn't open \"$path\": no such file"
    }
    set fsdb [fsdb_for $path]
    link_vcd_chain $path $fsdb
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
# order with numbers as numbers (q[2] before q[10]), a scope's paths together.

# A pattern of the command line or the viewer's search as a glob of vexa::find: * and ? are
# wildcards and \ takes the next character literally, but brackets stand for themselves, since
# in signal names they are indices (top/blk[0]/q[3:0]), hardly ever character classes.
proc ::vexa::cli::pattern_glob {pattern} {
    join [lmap c [regexp -all -inline {\\.?|[^\\]} $pattern] {
        expr {$c in {[ ]} ? "\\$c" : $c}
    }] {}
}

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
    set find [list -- [pattern_glob $pattern]]
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

proc ::vexa::cli::xml {text} {
    string map {& &amp; < &lt; > &gt; \" &quot;} $text
}

proc ::vexa::cli::px {value} {
    format %.2f $value
}

# The SVG elements of one logic signal's row: runs {x0 x1 value busy} in plot coordinates.
proc ::vexa::cli::svg_logic {runs x0 top height bits} {
    set out {}
    set high [expr {$top + 4}]
    set low [expr {$top + $height - 4}]
    set mid [expr {($high + $low) / 2.0}]
    set previous {}
    foreach run $runs {
        lassign $run a b value busy
        set a [px [expr {$x0 + $a}]]
        set b [px [expr {$x0 + $b}]]
        set w [px [expr {$b - $a}]]
        if {$busy} {
            append out "<rect class=\"busy\" x=\"$a\" y=\"$high\" width=\"[expr {max($w, 1)}]\" height=\"[expr {$low - $high}]\"/>\n"
            set previous {}
            continue
        }
        set unknown [expr {[string first X $value] >= 0 || [string first U $value] >= 0}]
        set floating [expr {!$unknown && [string first Z $value] >= 0}]
        if {$bits == 1} {
            if {$unknown} {
                append out "<rect class=\"x\" x=\"$a\" y=\"$high\" width=\"$w\" height=\"[expr {$low - $high}]\"/>\n"
                set previous {}
            } elseif {$floating} {
                append out "<line class=\"z\" x1=\"$a\" y1=\"$mid\" x2=\"$b\" y2=\"$mid\"/>\n"
                set previous $mid
            } else {
                set y [expr {$value eq "1" ? $high : $low}]
                if {$previous ne {} && $previous != $y} {
                    append out "<line class=\"t\" x1=\"$a\" y1=\"$previous\" x2=\"$a\" y2=\"$y\"/>\n"
                }
                append out "<line class=\"t\" x1=\"$a\" y1=\"$y\" x2=\"$b\" y2=\"$y\"/>\n"
                set previous $y
            }
            continue
        }
        set class [expr {$unknown ? "vx" : ($floating ? "vz" : "v")}]
        set e [expr {min(3.0, $w / 2.0)}]
        set points [list $a,$mid [px [expr {$a + $e}]],$high [px [expr {$b - $e}]],$high $b,$mid \
                        [px [expr {$b - $e}]],$low [px [expr {$a + $e}]],$low]
        append out "<polygon class=\"$class\" points=\"[join $points { }]\"/>\n"
        if {[string length $value] * 7 + 6 < $w} {
            append out "<text class=\"label\" x=\"[px [expr {($a + $b) / 2.0}]]\" y=\"[px [expr {$mid + 4}]]\">[xml $value]</text>\n"
        }
    }
    return $out
}

proc ::vexa::cli::svg_real {trace x0 top height unit} {
    lassign $trace range xy
    lassign $range lo hi
    set span [expr {$hi > $lo ? $hi - $lo : 1.0}]
    set points {}
    foreach {x y} $xy {
        lappend points "[px [expr {$x0 + $x}]],[px [expr {$top + $height - 4 - ($y - $lo) / $span * ($height - 8)}]]"
    }
    set out "<polyline class=\"a\" points=\"[join $points { }]\"/>\n"
    set u [expr {$unit in {{} -} ? {} : " $unit"}]
    append out "<text class=\"range\" x=\"[expr {$x0 - 6}]\" y=\"[expr {$top + 10}]\">[xml $hi$u]</text>\n"
    append out "<text class=\"range\" x=\"[expr {$x0 - 6}]\" y=\"[expr {$top + $height - 2}]\">[xml $lo$u]</text>\n"
    return $out
}

proc ::vexa::cli::svg_events {columns x0 top height} {
    set out {}
    foreach c $columns {
        set x [px [expr {$x0 + $c + 0.5}]]
        append out "<line class=\"e\" x1=\"$x\" y1=\"[expr {$top + 4}]\" x2=\"$x\" y2=\"[expr {$top + $height - 4}]\"/>\n"
    }
    return $out
}

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
    set svg [plot_svg $paths $ids $from $to $width $radix]
    set out [dict get $options -o]
    if {[catch {
        set f [open $out w]
        puts -nonewline $f $svg
        close $f
    } message]} {
        fail "couldn't write \"$out\": $message"
    }
}

proc ::vexa::cli::plot_svg {paths ids from to width radix} {
    set longest [tcl::mathfunc::max 0 {*}[lmap p $paths {string length $p}]]
    set nameWidth [expr {min(300, max(80, 7 * $longest + 16))}]
    set x0 [expr {$nameWidth + 10}]
    set plotWidth [expr {$width - $x0 - 20}]
    set rows {}
    set top 10
    foreach path $paths id $ids {
        set kind [vexa::wave $id kind]
        set height [expr {$kind in {1 2} ? 80 : 30}]
        lappend rows [list $path $id $kind $top $height]
        incr top [expr {$height + 6}]
    }
    set axis [expr {$top + 4}]
    set total [expr {$axis + 30}]
    set body {}
    foreach {x label} [vexa::ticks $from $to $plotWidth 100] {
        set gx [px [expr {$x0 + $x}]]
        append body "<line class=\"grid\" x1=\"$gx\" y1=\"6\" x2=\"$gx\" y2=\"$axis\"/>\n"
        append body "<text class=\"tick\" x=\"$gx\" y=\"[expr {$axis + 16}]\">[xml $label]</text>\n"
    }
    append body "<line class=\"axis\" x1=\"$x0\" y1=\"$axis\" x2=\"[expr {$x0 + $plotWidth}]\" y2=\"$axis\"/>\n"
    foreach row $rows {
        lassign $row path id kind top height
        append body "<text class=\"name\" x=\"$nameWidth\" y=\"[expr {$top + $height / 2 + 4}]\">[xml $path]</text>\n"
        set bits [vexa::wave $id width]
        set columns [vexa::columns $id $from $to $plotWidth [expr {$bits == 1 ? "bin" : $radix}]]
        switch -- [lindex $columns 0] {
            logic {
                append body [svg_logic [lindex $columns 1] $x0 $top $height $bits]
            }
            real {
                append body [svg_real [lrange $columns 1 end] $x0 $top $height [vexa::wave $id yunit]]
            }
            event {
                append body [svg_events [lindex $columns 1] $x0 $top $height]
            }
        }
    }
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>
<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"$width\" height=\"$total\" viewBox=\"0 0 $width $total\" font-family=\"monospace\" font-size=\"12\">
<style>
.t{stroke:#1a7f1a;stroke-width:1.5;fill:none}
.x{fill:#f2b8b8;stroke:#d01010;stroke-width:1}
.z{stroke:#e08000;stroke-width:2;fill:none}
.busy{fill:#7fbf7f;stroke:none}
.v{fill:#ffffff;stroke:#1a7f1a;stroke-width:1.2}
.vx{fill:#f2b8b8;stroke:#d01010;stroke-width:1.2}
.vz{fill:#ffe3b0;stroke:#e08000;stroke-width:1.2}
.a{stroke:#1f4fbf;stroke-width:1.2;fill:none}
.e{stroke:#8030a0;stroke-width:1.5}
.grid{stroke:#e4e4e4;stroke-width:1}
.axis{stroke:#404040;stroke-width:1}
.name{text-anchor:end;fill:#000000}
.label{text-anchor:middle;fill:#000000}
.range{text-anchor:end;fill:#606060;font-size:10px}
.tick{text-anchor:middle;fill:#404040}
</style>
<rect width=\"100%\" height=\"100%\" fill=\"#ffffff\"/>
$body</svg>
"
}

# --- view: the Tk viewer ------------------------------------------------------------------------

proc ::vexa::cli::cmd_view {args} {
    variable scriptDir
    lassign [parse_args view $args {}] words
    if {[llength $words] < 1} {
        usage_error "view takes at least one FILE" view
    }
    foreach path $words {
        if {![file exists $path]} {
            fail "couldn't open \"$path\": no such file"
        }
    }
    source [file join [file dirname $scriptDir] viewer viewer.tcl]
    if {[catch {::vexa::viewer::main $words} message]} {
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

# Runs the command line ARGV; returns the exit status.
proc ::vexa::cli::main {argv} {
    variable commands
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
        return 0
    }
    set code [dict get $options -errorcode]
    if {[string match {POSIX EPIPE *} $code] || [string match "*broken pipe*" $message]} {
        catch {close stdout}
        return 0
    }
    puts stderr "vexa: $message"
    if {[lindex $code 0] eq "VEXACLI"} {
        return [lindex $code 1]
    }
    return 1
}
