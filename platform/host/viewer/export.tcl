# export.tcl: the view written as SVG by the renderer of vexa plot (vexa::svg), and a window
# started as the command line asks: a saved view applied to the files given, signals by
# pattern, the cursor at a time.

package require vexa::svg

# Writes the rows shown, over the window, as the SVG of vexa plot: each signal in its own radix,
# colour and analog drawing, groups and dividers as bands, the signals of a folded group left out.
proc ::vexa::viewer::export_svg {file} {
    variable view
    variable radix
    set rows [export_rows]
    if {[llength [lsearch -all -inline -index 0 $rows path]] == 0} {
        error "nothing to export: no signal is shown"
    }
    set width [expr {[winfo width .main.names] + [winfo width .main.wave]}]
    set svg [vexa::svg::page $rows [time_text [dict get $view from]] \
                 [time_text [dict get $view to]] [expr {max(200, min(100000, $width))}] $radix]
    set f [open $file w]
    fconfigure $f -encoding utf-8
    puts -nonewline $f $svg
    close $f
}

# The rows as vexa::svg::page takes them: each band and each loaded signal that has a height.
proc ::vexa::viewer::export_rows {} {
    variable rows
    set out {}
    foreach row $rows place [row_layout] {
        if {[lindex $place 1] == 0} {
            continue
        }
        if {![is_signal $row]} {
            lappend out [dict create band [band_title $row]]
        } elseif {[dict get $row id] ne {}} {
            lappend out [dict create path [dict get $row path] id [dict get $row id] \
                             {*}[dict filter $row key radix color analog]]
        }
    }
    return $out
}

proc ::vexa::viewer::ask_export {} {
    set path [tk_getSaveFile -parent . -defaultextension .svg -filetypes {{SVG .svg}}]
    if {$path ne {} && [catch {export_svg $path} message]} {
        error_box "couldn't export the view: $message"
    }
}

# Shows PATHS as OPTIONS say (the command line's --view, --signals, --at, --reference); what
# they ask that cannot be shown is an error, not a dialog. Without --view, a file that cannot
# be opened is a dialog in the window, as for File, Open.
proc ::vexa::viewer::show_as {paths options} {
    variable strict
    if {![dict exists $options --view]} {
        foreach path $paths {
            open_file $path
        }
    }
    set strict 1
    try {
        if {[dict exists $options --view]} {
            restore_view [dict get $options --view] $paths
        }
        if {[dict exists $options --signals]} {
            add_matching [dict get $options --signals]
        }
        if {[dict exists $options --at]} {
            show_time [dict get $options --at]
        }
        if {[dict exists $options --reference]} {
            open_reference [dict get $options --reference]
        }
    } finally {
        set strict 0
    }
}

# Adds, in name order, the signals of the open files matching each of GLOBS.
proc ::vexa::viewer::add_matching {globs} {
    variable files
    foreach pattern $globs {
        set glob [vexa::design pattern $pattern]
        set found 0
        foreach h [dict keys $files] {
            foreach path [lsearch -all -inline -glob [all_names $h] $glob] {
                add_signal $h $path
                incr found
            }
        }
        if {!$found} {
            error "no signal matches \"$pattern\""
        }
    }
}

# The cursor at the time TEXT, the window moved to show it.
proc ::vexa::viewer::show_time {text} {
    variable view
    variable rows
    set seconds [vexa::format parse $text]
    dict with view {}
    if {[llength $rows] && ($seconds < $first || $seconds > $last)} {
        error "time $text is outside the signals' span ([time_text $first] to [time_text $last])"
    }
    set_cursor $seconds
    if {$seconds < $from || $seconds > $to} {
        set half [expr {($to - $from) / 2.0}]
        set_window {*}[draw::clamp [expr {$seconds - $half}] [expr {$seconds + $half}] $first $last]
    }
}
