# pane.tcl: the waveform pane: the window's state (zoom, pan, cursor, marker), the rows' layout
# and the drawing of the ruler, the traces and the markers, coalesced into one draw per idle.

# --- Window state: zoom, pan, cursor, marker --------------------------------------------------

proc ::vexa::viewer::time_text {seconds} {
    variable view
    vexa::format time $seconds [dict get $view grid]
}

proc ::vexa::viewer::set_window {from to} {
    variable view
    dict set view from $from
    dict set view to $to
    redraw
}

proc ::vexa::viewer::zoom_fit {} {
    variable view
    set_window [dict get $view first] [dict get $view last]
}

# Zooms by FACTOR around the cursor when it is in the window, else around the middle.
proc ::vexa::viewer::zoom_by {factor {centre {}}} {
    variable view
    variable cursor
    dict with view {}
    if {$centre eq {}} {
        set centre [expr {($from + $to) / 2.0}]
        if {$cursor ne {}} {
            set c [vexa::format parse $cursor]
            if {$c >= $from && $c <= $to} {
                set centre $c
            }
        }
    }
    set_window {*}[draw::zoom $from $to $centre $factor $first $last [expr {10 * $step}]]
}

proc ::vexa::viewer::zoom_to {a b} {
    variable view
    dict with view {}
    if {$b < $a} {
        lassign [list $a $b] b a
    }
    set_window {*}[draw::zoom $a $b $a 1.0 $first $last [expr {10 * $step}]]
}

proc ::vexa::viewer::pan_by {fraction} {
    variable view
    dict with view {}
    set_window {*}[draw::pan $from $to $fraction $first $last]
}

proc ::vexa::viewer::set_cursor {seconds} {
    variable cursor [time_text $seconds]
    redraw
}

proc ::vexa::viewer::set_marker {seconds} {
    variable marker [time_text $seconds]
    redraw
}

# Moves the cursor to the selected signal's next (or previous) change, and the window with it.
proc ::vexa::viewer::step_change {direction} {
    variable rows
    variable selected
    variable cursor
    variable view
    if {$selected < 0 || $selected >= [llength $rows]} {
        return
    }
    set from [expr {$cursor eq {} ? [time_text [dict get $view from]] : $cursor}]
    set row [lindex $rows $selected]
    set id [expr {[is_signal $row] ? [dict get $row id] : {}}]
    set at [expr {$id eq {} ? {} : [vexa::change $id $from $direction]}]
    if {$at eq {}} {
        bell
        return
    }
    move_cursor $at
}

# The cursor at the time text AT, the window moved to centre it when it is outside.
proc ::vexa::viewer::move_cursor {at} {
    variable cursor $at
    variable view
    set seconds [vexa::format parse $at]
    dict with view {}
    if {$seconds < $from || $seconds > $to} {
        set half [expr {($to - $from) / 2.0}]
        set_window {*}[draw::clamp [expr {$seconds - $half}] [expr {$seconds + $half}] $first $last]
    } else {
        redraw
    }
}

proc ::vexa::viewer::select_row {index} {
    variable rows
    variable selected
    if {$index >= -1 && $index < [llength $rows]} {
        set selected $index
        redraw
    }
}

proc ::vexa::viewer::set_radix {value} {
    variable radix $value
    redraw
}

# --- Rows -------------------------------------------------------------------------------------

proc ::vexa::viewer::row_height {row} {
    set kind [dict get $row kind]
    expr {$kind in {group divider} ? 22 : ($kind in {1 2} ? 60 : 28)}
}

# {top height} of each row below the ruler; the signals of a folded group have no height.
proc ::vexa::viewer::row_layout {} {
    variable rows
    variable rulerHeight
    set top $rulerHeight
    set layout {}
    set folded 0
    foreach row $rows {
        set kind [dict get $row kind]
        if {$kind in {group divider}} {
            set folded [expr {$kind eq "group" && [dict get $row folded]}]
        }
        set height [expr {$folded && $kind ni {group divider} ? 0 : [row_height $row]}]
        lappend layout [list $top $height]
        incr top $height
    }
    return $layout
}

# The row at window y Y of the panes (which scroll together), or -1.
proc ::vexa::viewer::row_at {y} {
    if {[winfo exists .main.names]} {
        set y [.main.names canvasy $y]
    }
    set index 0
    foreach place [row_layout] {
        lassign $place top height
        if {$y >= $top && $y < $top + $height} {
            return $index
        }
        incr index
    }
    return -1
}

# Each row's value at the cursor, in its radix ("" without a cursor), the reference's after it.
proc ::vexa::viewer::cursor_values {} {
    variable rows
    variable cursor
    lmap row $rows {
        if {![is_signal $row]} {
            set value {}
        } elseif {[dict get $row id] eq {}} {
            set value missing
        } elseif {$cursor eq {}} {
            with_reference $row {}
        } else {
            with_reference $row [shown_value $row [lindex [vexa::table \
                [list [dict get $row id]] -at $cursor -radix [model_radix $row]] 0 1]]
        }
    }
}

# --- Drawing ----------------------------------------------------------------------------------

# The items of row INDEX at TOP: a band for a group or divider, a note for a missing signal,
# else the trace and the marks of its differences from a reference.
proc ::vexa::viewer::draw_row {c row index a b width top height} {
    if {![is_signal $row]} {
        $c create rectangle 0 $top $width [expr {$top + $height}] -fill #eef0f4 -outline {} \
            -tags [list band trace-$index row-$index]
    } elseif {[dict get $row id] eq {}} {
        $c create text 8 [expr {$top + $height / 2}] -anchor w -fill #808080 \
            -text "not in the file since it was read again" \
            -tags [list missing trace-$index row-$index]
    } else {
        create_items $c [signal_items $row $a $b $width $top $height] \
            [list trace trace-$index row-$index]
        create_items $c [difference_items [comparison $row] [vexa::format parse $a] \
                             [vexa::format parse $b] $width $top $height] \
            [list difference difference-$index row-$index]
    }
}

proc ::vexa::viewer::create_items {canvas items tags} {
    foreach item $items {
        lassign $item type coords options
        $canvas create $type {*}$coords {*}$options -tags $tags
    }
}

namespace eval ::vexa::viewer {
    variable drawPending {}
    # Per row index in sight: what its items on the canvas show.
    variable drawnRows [dict create]
}

# Every change asks for a redraw; one draw runs once the events queued so far are handled.
proc ::vexa::viewer::redraw {} {
    variable drawPending
    if {$drawPending eq {}} {
        set drawPending [after idle ::vexa::viewer::draw_now]
    }
}

proc ::vexa::viewer::draw_now {} {
    variable drawPending
    after cancel $drawPending
    set drawPending {}
    if {![winfo exists .main]} {
        return
    }
    set layout [row_layout]
    draw_names $layout
    draw_waves $layout
}

# The traces of the rows in sight (the panes scroll together; a scroll redraws). A row's items
# stay on the canvas while what they show is unchanged, so that moving the cursor or selecting a
# row redraws only the ruler and the markers.
proc ::vexa::viewer::draw_waves {layout} {
    variable rows
    variable view
    variable rulerHeight
    variable cursor
    variable marker
    variable reference
    variable drawnRows
    set c .main.wave
    $c delete frame
    set width [expr {max(10, [winfo width $c])}]
    set last [expr {[llength $layout] ? [tcl::mathop::+ {*}[lindex $layout end]] : $rulerHeight}]
    set bottom [expr {max([winfo height $c], $last)}]
    foreach pane {names values wave} {
        .main.$pane configure -scrollregion [list 0 0 0 $last]
    }
    set seen [$c canvasy 0]
    set unseen [expr {$seen + [winfo height $c]}]
    dict with view {}
    set a [time_text $from]
    set b [time_text $to]
    if {[llength $rows] > 0 && $b ne $a} {
        create_items $c [draw::ruler_items [vexa::ticks $a $b $width 100] $width $rulerHeight \
                                 $bottom] {frame ruler}
        $c lower ruler
    }
    $c create line 0 $rulerHeight $width $rulerHeight -fill #404040 -tags frame
    set drawn $drawnRows
    set drawnRows [dict create]
    set index -1
    foreach row $rows place $layout {
        incr index
        lassign $place top height
        if {$height == 0 || $top > $unseen || $top + $height < $seen} {
            continue
        }
        set key [list $a $b $width $top $height $row $reference \
                     [expr {[is_signal $row] ? [row_radix $row] : {}}]]
        dict set drawnRows $index $key
        if {[dict exists $drawn $index] && [dict get $drawn $index] eq $key} {
            dict unset drawn $index
            continue
        }
        $c delete row-$index
        dict unset drawn $index
        draw_row $c $row $index $a $b $width $top $height
    }
    # Rows gone from sight or from the list.
    foreach index [dict keys $drawn] {
        $c delete row-$index
    }
    foreach {time color tag} [list $marker $draw::colors(marker) marker \
                                  $cursor $draw::colors(cursor) cursor] {
        if {$time ne {}} {
            set x [draw::x_of [vexa::format parse $time] $from $to $width]
            create_items $c [draw::marker_items $x $width $bottom $color] [list frame $tag]
        }
    }
}
