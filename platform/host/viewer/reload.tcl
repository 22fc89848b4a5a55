# reload.tcl: the open files read again: on request (Ctrl+R), when the format says a file was
# rewritten, and when a file changes on disk.

# Closes and opens every file again, loading the signals shown anew.
proc ::vexa::viewer::reload {{only {}}} {
    variable files
    variable rows
    set shown $rows
    foreach h [dict keys $files] {
        if {$only ne {} && $h ne $only} {
            continue
        }
        set path [lindex [dict get $files $h] 0]
        close_design $h
        dict unset files $h
        set fresh [open_file $path]
        set rows [lmap row $rows {
            if {[dict get $row handle] ne $h} {
                set row
            } elseif {$fresh eq {} || [set id [load_one $fresh [dict get $row path]]] eq {}} {
                continue
            } else {
                dict merge $row [dict create handle $fresh id $id]
            }
        }]
    }
    fill_tree
    fill_list
    update_span
    redraw
}
