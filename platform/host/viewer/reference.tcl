# reference.tcl: a second dump opened as a reference: each row's signal compared with the
# reference's signal of the same path (vexa::differences), the differing intervals marked on
# the row, the reference's value beside the row's at the cursor, next/previous difference.

namespace eval ::vexa::viewer {
    # {handle path} of the reference design, or {}.
    variable reference {}
    # Per wave id of a row: {ref ID count N intervals {{FROM TO} ...} starts {SECONDS ...}}, or
    # {note TEXT} when the reference cannot be compared.
    variable compared [dict create]
    # The reference's wave id (or 0) per signal path.
    variable referenceWaves [dict create]
    # The intervals kept per row for marks and steps (count tells all of them).
    variable intervalLimit 100000
}

proc ::vexa::viewer::open_reference {path} {
    variable reference
    close_reference
    if {[catch {
        set fsdb [::vexa::cache::fsdb_for $path]
        ::vexa::cache::link_vcd_chain $path $fsdb
        set h [vexa::design open $fsdb FSDB]
    } message]} {
        error_box "couldn't open the reference \"$path\": $message"
        return {}
    }
    set reference [list $h [file normalize $path]]
    redraw
    return $h
}

proc ::vexa::viewer::close_reference {} {
    variable reference
    variable compared
    variable referenceWaves
    if {$reference ne {}} {
        catch {vexa::design close [lindex $reference 0]}
        # The reference's waves were loaded for the comparisons only.
        vexa::free {*}[lsearch -all -inline -not -regexp [dict values $referenceWaves] {^0?$}]
    }
    set reference {}
    set compared [dict create]
    set referenceWaves [dict create]
    redraw
}

# What the reference says of ROW ({} without a reference or for a row that is no loaded signal),
# compared once per loaded wave.
proc ::vexa::viewer::comparison {row} {
    variable reference
    variable compared
    if {$reference eq {} || ![is_signal $row] || [dict get $row id] eq {}} {
        return {}
    }
    set id [dict get $row id]
    if {![dict exists $compared $id]} {
        dict set compared $id [compare_row $row]
    }
    dict get $compared $id
}

proc ::vexa::viewer::compare_row {row} {
    variable reference
    variable intervalLimit
    variable referenceWaves
    # The reference's signal is loaded once per path, however often the row's file is read.
    set path [dict get $row path]
    if {![dict exists $referenceWaves $path]} {
        lassign [vexa::design loadwaves [lindex $reference 0] [list $path]] result ids
        dict set referenceWaves $path [lindex $ids 0]
    }
    set ref [dict get $referenceWaves $path]
    if {$ref in {{} 0}} {
        return [dict create note "not in the reference"]
    }
    if {[catch {vexa::differences [dict get $row id] $ref -limit $intervalLimit} answer]} {
        return [dict create note "kind or width differs"]
    }
    dict with answer {}
    return [dict create ref $ref count $count intervals $intervals \
                starts [lmap interval $intervals {vexa::format parse [lindex $interval 0]}]]
}

# The reference's value of ROW at the cursor, after the row's: "9 | a"; a note when there is none.
proc ::vexa::viewer::with_reference {row value} {
    variable cursor
    set info [comparison $row]
    if {$info eq {}} {
        return $value
    }
    if {[dict exists $info note]} {
        return "$value | [dict get $info note]"
    }
    if {$cursor eq {}} {
        return $value
    }
    set other [lindex [vexa::table [list [dict get $info ref]] -at $cursor \
                           -radix [model_radix $row]] 0 1]
    return "$value | [shown_value $row $other]"
}

# Red marks along the bottom of row TOP..TOP+HEIGHT where it differs from the reference, within
# [FROM, TO] seconds of WIDTH columns; marks closer than a column are drawn as one.
proc ::vexa::viewer::difference_items {info from to width top height} {
    if {![dict exists $info starts] || [dict get $info count] == 0} {
        return {}
    }
    set intervals [dict get $info intervals]
    set first [expr {max(0, [lsearch -bisect -real [dict get $info starts] $from])}]
    set y0 [expr {$top + $height - 4}]
    set y1 [expr {$top + $height - 1}]
    set items {}
    set reach -1
    foreach interval [lrange $intervals $first end] {
        lassign $interval a b
        set x0 [draw::x_of [vexa::format parse $a] $from $to $width]
        if {$x0 > $width} {
            break
        }
        set x1 [expr {$b eq {} ? $width : [draw::x_of [vexa::format parse $b] $from $to $width]}]
        if {$x1 < 0 || $x1 <= $reach} {
            continue
        }
        set x0 [expr {max($x0, $reach, 0)}]
        set reach [expr {max($x1, $x0 + 1)}]
        lappend items [list rectangle [list [draw::px $x0] $y0 [draw::px $reach] $y1] \
                           {-fill #e02020 -outline {}}]
    }
    return $items
}

# Moves the cursor to the next (or previous) start of a difference from the reference: of the
# selected row, or of every row when none is selected.
proc ::vexa::viewer::step_difference {direction} {
    variable rows
    variable selected
    variable cursor
    set at [expr {$cursor eq {} ? "-Inf" : [vexa::format parse $cursor]}]
    set chosen {}
    set index -1
    foreach row $rows {
        incr index
        if {$selected >= 0 && $index != $selected} {
            continue
        }
        set info [comparison $row]
        if {![dict exists $info starts]} {
            continue
        }
        set starts [dict get $info starts]
        set k [lsearch -bisect -real $starts $at]
        # The last start at or before the cursor: the next is the one after it.
        if {$direction eq "next"} {
            incr k
        } elseif {$k >= 0 && [lindex $starts $k] == $at} {
            incr k -1
        }
        if {$k < 0 || $k >= [llength $starts]} {
            continue
        }
        set candidate [list [lindex $starts $k] [lindex [dict get $info intervals] $k 0]]
        if {$chosen eq {} || ($direction eq "next" ? [lindex $candidate 0] < [lindex $chosen 0]
                               : [lindex $candidate 0] > [lindex $chosen 0])} {
            set chosen $candidate
        }
    }
    if {$chosen eq {}} {
        bell
        return
    }
    move_cursor [lindex $chosen 1]
}

proc ::vexa::viewer::ask_reference {} {
    set path [tk_getOpenFile -parent . -title "Open reference" \
                  -filetypes {{Waveforms {.fsdb .vcd .gz .fst}} {All *}}]
    if {$path ne {}} {
        open_reference $path
    }
}
