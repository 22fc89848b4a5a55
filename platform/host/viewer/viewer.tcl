# viewer.tcl: vexa view, the Tk waveform viewer: a hierarchy tree, a searchable signal list and
# a waveform pane with a value column, over files opened through the format's handlers.
# Each signal is loaded once when added; redraws decimate the loaded waveform per pixel column.

package require vexa
package require vexa::cache
source [file join [file dirname [info script]] draw.tcl]
source [file join [file dirname [info script]] names.tcl]
source [file join [file dirname [info script]] pane.tcl]
source [file join [file dirname [info script]] side.tcl]
source [file join [file dirname [info script]] views.tcl]
source [file join [file dirname [info script]] window.tcl]
source [file join [file dirname [info script]] reload.tcl]
source [file join [file dirname [info script]] rows.tcl]
source [file join [file dirname [info script]] export.tcl]
source [file join [file dirname [info script]] find.tcl]
source [file join [file dirname [info script]] reference.tcl]
package provide vexa::viewer [package present vexa]

namespace eval ::vexa::viewer {
    variable rulerHeight 22
    # Open files: design handle (vexa::design: a file and its companion) -> {path fsdb}; rows
    # shown: list of dicts (handle path id kind bits).
    variable files [dict create]
    variable rows {}
    variable selected -1
    # The window in seconds, the full span, the grid and its step in seconds.
    variable view [dict create from 0.0 to 1.0 first 0.0 last 1.0 grid 1ns step 1e-9]
    variable cursor {}
    variable marker {}
    variable radix hex
    variable search *
    # Messages the format sent through VexaMessage, {text type title} each; dialogs shown
    # unless quiet (tests).
    variable messages {}
    variable quiet 0
    # While the command line's options are applied, an error is raised, not shown.
    variable strict 0
    variable drag {}
}

# --- Messages ---------------------------------------------------------------------------------

# The format reports what the user must see (a rewritten file) through VexaMessage while one of
# its handlers runs; the dialog waits for the handler to return.
proc ::vexa::viewer::install_message_command {} {
    if {[info commands ::vexa::viewer::host_message] eq {} && [info commands ::VexaMessage] ne {}} {
        rename ::VexaMessage ::vexa::viewer::host_message
    }
    proc ::VexaMessage {text type title} {
        variable ::vexa::viewer::messages
        lappend messages [list $text $type $title]
        if {[info commands ::vexa::viewer::host_message] ne {}} {
            catch {::vexa::viewer::host_message $text $type $title}
        }
        after idle [list ::vexa::viewer::show_message $text $type $title]
    }
}

proc ::vexa::viewer::show_message {text type title} {
    variable quiet
    if {!$quiet} {
        tk_messageBox -parent . -icon [expr {$type in {error warning info} ? $type : "info"}] \
            -title $title -message [string trimright $text \n]
    }
}

proc ::vexa::viewer::error_box {text} {
    variable quiet
    variable messages
    variable strict
    if {$strict} {
        return -code error $text
    }
    lappend messages [list $text error Error]
    if {!$quiet} {
        tk_messageBox -parent . -icon error -title Error -message $text
    }
}

# What the user should know but that stops nothing: one line on standard error for the command
# line's options, else a dialog (none when quiet).
proc ::vexa::viewer::notice {text} {
    variable quiet
    variable messages
    variable strict
    lappend messages [list $text warning Warning]
    if {$strict} {
        puts stderr "vexa view: $text"
    } elseif {!$quiet} {
        tk_messageBox -parent . -icon warning -title Warning -message $text
    }
}

# An error in an event handler: on standard error and in a dialog, the window kept working.
proc ::vexa::viewer::background_error {message options} {
    puts stderr "vexa view: [dict get $options -errorinfo]"
    error_box $message
}

# --- Files and signals ------------------------------------------------------------------------

# Opens PATH (FSDB, or VCD or FST through the import cache, vexa::cache) with the settings of the
# Options menu; returns the handle, or {} after an error dialog (none when QUIET).
proc ::vexa::viewer::open_file {path {quiet 0}} {
    variable files
    # By its full path, so that a reload or a saved view finds it from any folder.
    set full [file normalize $path]
    if {[catch {vexa::filestate $full} state]} {
        set state {}
    }
    if {[catch {
        set fsdb [::vexa::cache::fsdb_for $path]
        ::vexa::cache::link_vcd_chain $path $fsdb
        set h [vexa::design open $fsdb FSDB]
    } message]} {
        if {!$quiet} {
            error_box "couldn't open \"$path\": $message"
        }
        return {}
    }
    dict set files $h [list $full $fsdb]
    opened_state $h $state
    fill_tree
    list_soon
    return $h
}

# Closes the design H, forgetting its paths read for the list.
proc ::vexa::viewer::close_design {h} {
    variable fileStates
    catch {vexa::design close $h}
    forget_paths $h
    dict unset fileStates $h
}

proc ::vexa::viewer::close_file {h} {
    variable files
    variable rows
    set gone {}
    set rows [lmap row $rows {
        if {[is_signal $row] && [dict get $row handle] eq $h} {
            lappend gone [dict get $row id]
            continue
        }
        set row
    }]
    forget_waves $gone
    close_design $h
    dict unset files $h
    fill_tree
    fill_list
    redraw
}

# Loads one signal; {} when the format refuses it. A file rewritten since it was opened is
# reopened (the load's error code is VEXA REWRITTEN) and the load tried once more.
proc ::vexa::viewer::load_one {h path {retry 1}} {
    set rewritten [catch {vexa::design loadwaves $h [list $path]} answer options]
    if {$rewritten && [lrange [dict get $options -errorcode] 0 1] ne {VEXA REWRITTEN}} {
        return -options $options $answer
    }
    set id [lindex $answer 1 0]
    if {!$rewritten && $id ne {} && $id ne "0"} {
        return $id
    }
    if {$rewritten && $retry} {
        variable files
        set file [lindex [dict get $files $h] 0]
        reload $h
        set fresh [lindex [dict keys [dict filter $files script {k v} {
            expr {[lindex $v 0] eq $file}
        }]] end]
        if {$fresh ne {}} {
            return [load_one $fresh $path 0]
        }
    }
    return {}
}

# Adds the signal PATH of file H as the last row (or at row INDEX). With SOON, the time span and
# the first draw follow in a later event, so that the events waiting since the load (one call of
# the format's handler, long for a large signal) are handled between the two.
proc ::vexa::viewer::add_signal {h path {index end} {soon 0}} {
    variable rows
    variable files
    if {![dict exists $files $h]} {
        return 0
    }
    set file [lindex [dict get $files $h] 0]
    set id [load_one $h $path]
    if {$id eq {}} {
        error_box "couldn't load \"$path\""
        return 0
    }
    # A reload may have replaced the handle.
    foreach {handle info} $files {
        if {[lindex $info 0] eq $file} {
            set h $handle
        }
    }
    set row [dict create handle $h path $path id $id kind [vexa::wave $id kind] \
                 bits [vexa::wave $id width]]
    set fit [expr {[llength $rows] == 0}]
    set rows [linsert $rows $index $row]
    if {$soon} {
        after 0 [list ::vexa::viewer::show_added $fit]
    } else {
        show_added $fit
    }
    return 1
}

proc ::vexa::viewer::show_added {fit} {
    update_span
    if {$fit} {
        zoom_fit
    } else {
        redraw
    }
}

proc ::vexa::viewer::remove_row {index} {
    variable rows
    variable selected
    if {$index < 0 || $index >= [llength $rows]} {
        return
    }
    set row [lindex $rows $index]
    set rows [lreplace $rows $index $index]
    if {[is_signal $row]} {
        forget_waves [list [dict get $row id]]
    }
    set selected [expr {min($selected, [llength $rows] - 1)}]
    update_span
    redraw
}

# Frees the loaded waves IDS ({} entries skipped), which no row shows any more, and what was
# compared of them, so that the host's store holds only what is shown.
proc ::vexa::viewer::forget_waves {ids} {
    variable compared
    set ids [lsort -unique [lsearch -all -inline -not -exact $ids {}]]
    foreach id $ids {
        dict unset compared $id
    }
    vexa::free {*}$ids
}

# The time span and grid of every loaded signal.
proc ::vexa::viewer::update_span {} {
    variable rows
    variable view
    if {[llength $rows] == 0} {
        return
    }
    set ids [lmap row $rows {
        if {![is_signal $row] || [dict get $row id] eq {}} {
            continue
        }
        dict get $row id
    }]
    if {[llength $ids] == 0} {
        return
    }
    lassign [vexa::timegrid {*}$ids] grid first last
    if {$first eq {}} {
        return
    }
    set a [vexa::format parse $first]
    set b [vexa::format parse $last]
    set step [vexa::format parse $grid]
    if {$b <= $a} {
        set b [expr {$a + 10 * $step}]
    }
    dict set view grid $grid
    dict set view step $step
    dict set view first $a
    dict set view last $b
}

proc ::vexa::viewer::start {} {
    set saved $::argv
    set ::argv {}
    set status [catch {package require Tk} message]
    set ::argv $saved
    if {$status} {
        return -code error "the viewer needs Tk (Debian package tk8.6) and a display: $message"
    }
    install_message_command
    interp bgerror {} ::vexa::viewer::background_error
    build_window
}

# vexa view FILE... OPTIONS: opens the files in a window as the options (--view, --signals,
# --at, --reference) say; returns when it is closed.
proc ::vexa::viewer::main {paths {options {}}} {
    variable watchEvery 500
    start
    if {[catch {show_as $paths $options} message]} {
        destroy .
        return -code error $message
    }
    keep_watching
    tkwait window .
    return 0
}
