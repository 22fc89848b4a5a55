# reload.tcl: the open files read again: on request (Ctrl+R), when the format says a file was
# rewritten, and when a file changes on disk; rows whose signal is gone stay, shown as missing.

namespace eval ::vexa::viewer {
    # Per design: {loaded seen}, the file's vexa::filestate when opened and at the last look.
    variable fileStates [dict create]
    # Milliseconds between looks at the open files (0: no looking; tests look by themselves).
    variable watchEvery 0
    # 1 while files are read again: a dialog's event loop then runs no look.
    variable reloading 0
}

# Opens every file (or the design ONLY) again and loads the signals shown anew, keeping the
# rows, window, cursor and markers. A row whose signal the file no longer holds stays as a
# missing row, and comes back at a later reload that finds it. A file that cannot be opened
# now keeps its old design (with a dialog unless QUIET).
proc ::vexa::viewer::reload {{only {}} {quiet 0}} {
    variable reloading 1
    try {
        reload_files $only $quiet
    } finally {
        set reloading 0
    }
    fill_tree
    fill_list
    update_span
    redraw
}

proc ::vexa::viewer::reload_files {only quiet} {
    variable files
    variable rows
    foreach h [dict keys $files] {
        if {($only ne {} && $h ne $only) || ![dict exists $files $h]} {
            continue
        }
        set path [lindex [dict get $files $h] 0]
        set fresh [open_file $path $quiet]
        if {$fresh eq {}} {
            continue
        }
        close_design $h
        dict unset files $h
        set old {}
        set rows [lmap row $rows {
            if {[is_signal $row] && [dict get $row handle] eq $h} {
                lappend old [dict get $row id]
                dict set row handle $fresh
                dict set row id [load_one $fresh [dict get $row path] 0]
            }
            set row
        }]
        # The waves read from the old file are freed once the rows show the new ones.
        forget_waves $old
    }
}

# Remembers STATE, the file's vexa::filestate read before design H was opened from it.
proc ::vexa::viewer::opened_state {h state} {
    variable fileStates
    if {$state ne {}} {
        dict set fileStates $h [list $state $state]
    }
}

# Reloads each file changed on disk since it was opened once it has stayed the same between two
# looks (a simulator may still be writing it). A file that is gone is left as it was shown.
proc ::vexa::viewer::watch {} {
    variable files
    variable fileStates
    variable reloading
    if {$reloading} {
        return
    }
    foreach {h info} $files {
        if {![dict exists $fileStates $h] ||
            [catch {vexa::filestate [lindex $info 0]} now]} {
            continue
        }
        lassign [dict get $fileStates $h] loaded seen
        dict set fileStates $h [list $loaded $now]
        if {$now ne $loaded && $now eq $seen} {
            reload $h 1
        }
    }
}

proc ::vexa::viewer::keep_watching {} {
    variable watchEvery
    if {$watchEvery > 0} {
        watch
        after $watchEvery ::vexa::viewer::keep_watching
    }
}
