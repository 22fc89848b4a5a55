# views.tcl: a view saved as a small Tcl script of view commands, and restored by running it in
# a safe interpreter that knows only those commands.

# The view as a Tcl script of vexa::viewer commands.
proc ::vexa::viewer::view_script {} {
    variable files
    variable rows
    variable view
    variable cursor
    variable marker
    variable radix
    variable reference
    set lines [list "# vexa view: the open files, the signals shown and the zoom"]
    set names [dict create]
    set n 0
    foreach {h info} $files {
        dict set names $h [incr n]
        lappend lines [list view_open $n [lindex $info 0]]
    }
    if {$reference ne {}} {
        lappend lines [list view_reference [lindex $reference 1]]
    }
    foreach row $rows {
        switch -- [dict get $row kind] {
            group { lappend lines [list view_group [dict get $row name] [dict get $row folded]] }
            divider { lappend lines [list view_divider [dict get $row name]] }
            default {
                lappend lines [list view_add [dict get $names [dict get $row handle]] \
                                   [dict get $row path]]
                set style [dict filter $row key radix color analog]
                if {[dict size $style]} {
                    lappend lines [list view_style {*}$style]
                }
            }
        }
    }
    lappend lines [list view_window [time_text [dict get $view from]] [time_text [dict get $view to]]]
    lappend lines [list view_marks $cursor $marker $radix]
    return [join $lines \n]\n
}

proc ::vexa::viewer::save_view {file} {
    set f [open $file w]
    puts -nonewline $f [view_script]
    close $f
}

# Runs a saved view in a safe interpreter that knows only the view commands; with PATHS, the
# view's Nth file is the Nth of PATHS.
proc ::vexa::viewer::restore_view {file {paths {}}} {
    variable files
    variable rows
    foreach h [dict keys $files] {
        close_design $h
    }
    forget_waves [lmap row $rows {expr {[is_signal $row] ? [dict get $row id] : {}}}]
    set files [dict create]
    set rows {}
    set f [open $file]
    set script [read $f]
    close $f
    set safe [interp create -safe]
    # The handle of each file the view opened, by its number; the row its last view_add added.
    variable restoring [dict create]
    variable restorePaths $paths
    variable restoredRow {}
    foreach command {view_open view_reference view_add view_style view_group view_divider
        view_window view_marks} {
        $safe alias $command ::vexa::viewer::$command
    }
    set status [catch {$safe eval $script} message]
    interp delete $safe
    fill_tree
    list_soon
    redraw
    if {$status} {
        error_box "couldn't restore the view from \"$file\": $message"
    }
}

proc ::vexa::viewer::view_open {n path} {
    variable restoring
    variable restorePaths
    if {[llength $restorePaths]} {
        set path [lindex $restorePaths [expr {min($n, [llength $restorePaths]) - 1}]]
    }
    dict set restoring $n [open_file $path]
}

# The reference dump PATH; one that is gone is said in one line and the view goes on without a
# reference.
proc ::vexa::viewer::view_reference {path} {
    if {![file exists $path]} {
        close_reference
        notice "the reference \"$path\" is gone: the view is shown without it"
        return
    }
    open_reference $path
}

proc ::vexa::viewer::view_add {n path} {
    variable restoring
    variable restoredRow {}
    variable rows
    if {[dict exists $restoring $n] && [dict get $restoring $n] ne {} &&
        [add_signal [dict get $restoring $n] $path]} {
        set restoredRow [expr {[llength $rows] - 1}]
    }
}

# The display settings (radix, color, analog) of the row the last view_add added.
proc ::vexa::viewer::view_style {args} {
    variable restoredRow
    if {[llength $args] % 2} {
        error "view_style takes pairs of a setting and its value"
    }
    foreach {key value} $args {
        check_style $key $value
        if {$restoredRow ne {}} {
            set_row_style $restoredRow $key $value
        }
    }
}

proc ::vexa::viewer::view_group {name folded} {
    if {![string is boolean -strict $folded]} {
        error "bad fold \"$folded\": must be 0 or 1"
    }
    insert_band group end $name $folded
}

proc ::vexa::viewer::view_divider {name} {
    insert_band divider end $name
}

# FROM and TO are times with a unit, as saved; the window is kept inside the signals' span.
proc ::vexa::viewer::view_window {from to} {
    variable view
    set_window {*}[draw::clamp [vexa::format parse $from] [vexa::format parse $to] \
                       [dict get $view first] [dict get $view last]]
}

proc ::vexa::viewer::view_marks {cursor marker radix} {
    foreach time [list $cursor $marker] {
        if {$time ne {}} {
            vexa::format parse $time
        }
    }
    if {$radix ni {bin hex dec signed}} {
        error "bad radix \"$radix\""
    }
    set ::vexa::viewer::cursor $cursor
    set ::vexa::viewer::marker $marker
    set_radix $radix
}
