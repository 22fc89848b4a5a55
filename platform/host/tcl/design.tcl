# design.tcl: vexa::design, one dump seen as one design: a main file and the companion that holds
# its reals and events, opened together, with one hierarchy, one set of paths and one load.
# Compiled into the package (Vexa_Init evaluates it), so scripts see what the command line sees.

namespace eval ::vexa::design {
    namespace export open close companion files find children count locate loadwaves pattern
    namespace ensemble create -command ::vexa::design
    # design handle -> the file handles, the main file first
    variable designs [dict create]
}

# The name of PATH's companion: ".analog" before the extension, a split file's number (".N" at
# the end, "_N" before the extension) kept at its place: run_1.fsdb gives run.analog_1.fsdb.
# The same rule as fsdbgen's AnalogCompanionName (platform/import/vcd_import.cpp).
proc ::vexa::design::companion {path} {
    set start [expr {max([string last / $path], [string last \\ $path]) + 1}]
    set head [string range $path 0 [expr {$start - 1}]]
    regexp {^(.+?)((?:\.[0-9]+)*)$} [string range $path $start end] -> name numbers
    if {![regexp {^(.+)(\.[^.]*)$} $name -> stem extension]} {
        return $head$name.analog$numbers
    }
    regexp {^(.+?)((?:_[0-9]+)*)$} $stem -> stem split
    return $head$stem.analog$split$extension$numbers
}

# A pattern of the command line or the viewer's search as a glob of vexa::find: * and ? are
# wildcards and \ takes the next character literally, but brackets stand for themselves, since
# in signal names they are indices (top/blk[0]/q[3:0]), hardly ever character classes.
proc ::vexa::design::pattern {pattern} {
    join [lmap c [regexp -all -inline {\\.?|[^\\]} $pattern] {
        expr {$c in {[ ]} ? "\\$c" : $c}
    }] {}
}

# Opens PATH and, when it exists, its companion; returns the design's handle, which is the main
# file's handle (fsdb1), so it serves the per-file commands for the main file too.
proc ::vexa::design::open {path args} {
    variable designs
    set handles [list [vexa::open $path {*}$args]]
    set other [companion $path]
    if {[file isfile $other]} {
        if {[catch {vexa::open $other {*}$args} h]} {
            vexa::close [lindex $handles 0]
            return -code error "couldn't open the companion \"$other\": $h"
        }
        lappend handles $h
    }
    set d [lindex $handles 0]
    dict set designs $d $handles
    return $d
}

proc ::vexa::design::files {d} {
    variable designs
    if {![dict exists $designs $d]} {
        return -code error -errorcode [list VEXA UNKNOWN DESIGN $d] "unknown design \"$d\""
    }
    return [dict get $designs $d]
}

proc ::vexa::design::close {d} {
    variable designs
    foreach h [files $d] {
        catch {vexa::close $h}
    }
    dict unset designs $d
    return
}

# vexa::find over every file: the main file's paths first, a path held twice listed once.
proc ::vexa::design::find {d args} {
    set handles [files $d]
    if {[llength $handles] == 1} {
        return [vexa::find [lindex $handles 0] {*}$args]
    }
    set found [dict create]
    foreach h $handles {
        foreach path [vexa::find $h {*}$args] {
            dict set found $path 1
        }
    }
    return [dict keys $found]
}

# The names below SCOPE ({} for the top) in any file, each once; an error when no file has it.
proc ::vexa::design::children {d scope} {
    set names [dict create]
    set known 0
    foreach h [files $d] {
        lassign [vexa::query fileinfo $h [list -childNodes -parentPath $scope]] result kind text
        if {$result == 0} {
            incr known
            foreach name $text {
                dict set names $name 1
            }
        }
    }
    if {!$known} {
        return -code error "no such scope \"$scope\" in $d"
    }
    return [dict keys $names]
}

# The number of signals, or of those of one TYPE (analog, event, digital or bus).
proc ::vexa::design::count {d {type {}}} {
    if {$type eq {}} {
        return [tcl::mathop::+ 0 {*}[lmap h [files $d] {vexa::fileinfo $h -nwaveforms}]]
    }
    return [llength [find $d -type $type]]
}

# {handle path} of the file holding the signal PATH (one leading "/" allowed; a bus member too),
# or {} when no file holds it.
proc ::vexa::design::locate {d path} {
    set path [expr {[string index $path 0] eq "/" ? [string range $path 1 end] : $path}]
    foreach h [files $d] {
        if {$path ne {} && [lindex [vexa::query waveinfo $h $path -wftype] 0] == 0} {
            return [list $h $path]
        }
    }
    return {}
}

# Loads PATHS, each from the file holding it: {result {id ...}} as vexa::query loadwaves, one id
# (or 0) per path in order; result 0 when every path loaded. A file rewritten since it was opened
# is an error with the code {VEXA REWRITTEN HANDLE}.
proc ::vexa::design::loadwaves {d paths} {
    set groups [dict create]
    set ids [lrepeat [llength $paths] 0]
    set result 0
    set i 0
    foreach path $paths {
        set place [locate $d $path]
        if {$place eq {}} {
            set result 1
        } else {
            dict lappend groups [lindex $place 0] $i $path
        }
        incr i
    }
    dict for {h group} $groups {
        if {[catch {vexa::loadwaves $h [dict values $group]} answer options]} {
            if {[lrange [dict get $options -errorcode] 0 1] ne {VEXA LOADWAVES}} {
                return -options $options $answer
            }
            set answer [lindex [dict get $options -errorcode] 2]
        }
        lassign $answer answer loaded
        foreach i [dict keys $group] id $loaded {
            lset ids $i $id
            if {$id eq "0"} {
                set result 1
            }
        }
        if {$answer != 0} {
            set result 1
        }
    }
    return [list $result $ids]
}
