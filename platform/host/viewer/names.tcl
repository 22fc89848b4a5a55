# names.tcl: the viewer's name and value columns: each row's name fitted to the column (the
# leaf, its nearest scopes and the scope that tells it from rows of the same leaf name), the
# full path on hover, and the name column's width by a drag.

namespace eval ::vexa::viewer {
    # The name column's width when a drag of its edge began: {pointer x, width}.
    variable sashFrom {}
}

# A group's name after its fold mark, a divider's between dashes.
proc ::vexa::viewer::band_title {row} {
    if {[dict get $row kind] eq "group"} {
        return "[expr {[dict get $row folded] ? "\u25b8" : "\u25be"}] [dict get $row name]"
    }
    return "\u2014 [dict get $row name] \u2014"
}

proc ::vexa::viewer::draw_names {layout} {
    variable rows
    variable selected
    variable cursor
    variable marker
    variable radix
    variable reference
    variable namesDrawn
    set c .main.names
    set v .main.values
    # A zoom or a pan leaves both columns as they are: they are drawn again only when what
    # they show may differ.
    set key [list $rows $layout $selected $cursor $marker $radix $reference [$c cget -width]]
    if {[info exists namesDrawn] && $namesDrawn eq $key} {
        return
    }
    set namesDrawn $key
    $c delete all
    $v delete all
    $c create text 4 4 -text Signals -anchor nw -font TkHeadingFont
    set header [expr {$cursor eq {} ? "Value" : $cursor}]
    if {$cursor ne {} && $marker ne {}} {
        set delta [expr {abs([vexa::format parse $cursor] - [vexa::format parse $marker])}]
        append header " Δ[time_text $delta]"
    }
    $v create text 4 4 -text $header -anchor nw -font TkHeadingFont -tags header
    set room [expr {[$c cget -width] - 8}]
    set index 0
    set keys [draw::telling_names [lmap row $rows {
        expr {[is_signal $row] ? [dict get $row path] : "\0[incr bands]"}
    }]]
    foreach row $rows place $layout value [cursor_values] key $keys {
        lassign $place top height
        if {$height == 0} {
            incr index
            continue
        }
        set mid [expr {$top + $height / 2}]
        set bottom [expr {$top + $height}]
        if {$index == $selected} {
            $c create rectangle 0 $top 10000 $bottom -fill #dde8ff -outline {}
            $v create rectangle 0 $top 10000 $bottom -fill #dde8ff -outline {}
        }
        if {[is_signal $row]} {
            set name [draw::fit_name [dict get $row path] $room {font measure TkDefaultFont} $key]
            set font TkDefaultFont
            set color [expr {[dict get $row id] eq {} ? "#909090" :
                             ([dict exists $row color] ? [dict get $row color] : "#000000")}]
        } else {
            set name [band_title $row]
            set font TkHeadingFont
            set color #303030
        }
        set info [comparison $row]
        if {[dict exists $info count] && [dict get $info count] > 0} {
            $c create rectangle 0 $top 3 $bottom -fill #e02020 -outline {} -tags differs
        }
        $c create text 4 $mid -text $name -anchor w -font $font -fill $color \
            -tags [list name name-$index]
        $v create text 4 $mid -text $value -anchor w -font TkFixedFont \
            -tags [list value value-$index]
        $c create line 0 $bottom 10000 $bottom -fill #eeeeee
        incr index
    }
}

# The edge between the name and value columns: dragging it sets the name column's width.
proc ::vexa::viewer::build_sash {} {
    frame .main.sash -width 4 -cursor sb_h_double_arrow -background #d0d0d0
    bind .main.sash <ButtonPress-1> {set ::vexa::viewer::sashFrom [list %x [winfo width .main.names]]}
    bind .main.sash <B1-Motion> {::vexa::viewer::drag_sash %x}
}

proc ::vexa::viewer::drag_sash {x} {
    variable sashFrom
    if {$sashFrom eq {}} {
        return
    }
    lassign $sashFrom x0 width
    set width [expr {max(40, min($width + $x - $x0, [winfo width .] - 200))}]
    .main.names configure -width $width
    redraw
}

# The full path of the row under the pointer, in a small window beside it.
proc ::vexa::viewer::show_tip {x y} {
    variable rows
    set index [row_at $y]
    if {$index < 0} {
        hide_tip
        return
    }
    if {![winfo exists .tip]} {
        toplevel .tip -background #808080
        wm overrideredirect .tip 1
        label .tip.text -background #ffffe0 -justify left
        pack .tip.text -padx 1 -pady 1
    }
    set row [lindex $rows $index]
    .tip.text configure \
        -text [expr {[is_signal $row] ? [dict get $row path] : [dict get $row name]}]
    wm geometry .tip +[expr {[winfo rootx .main.names] + $x + 12}]+[expr {
        [winfo rooty .main.names] + $y + 16}]
    wm deiconify .tip
    raise .tip
}

proc ::vexa::viewer::hide_tip {} {
    if {[winfo exists .tip]} {
        wm withdraw .tip
    }
}
