# draw.tcl: the viewer's drawing commands without a display: the canvas items of a row, an axis
# and the markers from the drawing model's decimated columns, and the zoom and pan arithmetic.
# An item is {TYPE COORDS OPTIONS}, created as: $canvas create TYPE {*}COORDS {*}OPTIONS.

package require vexa::draw

namespace eval ::vexa::viewer::draw {
    namespace export logic_items real_items event_items row_items ruler_items marker_items \
        zoom pan x_of seconds_at fit_name telling_names ascii linear recolour
    variable colors
    array set colors {
        trace #1a7f1a x #d01010 xfill #f2b8b8 z #e08000 zfill #ffe3b0 busy #7fbf7f
        analog #1f4fbf event #8030a0 grid #e4e4e4 axis #404040 text #000000
        cursor #0050e0 marker #c000c0
    }
}

proc ::vexa::viewer::draw::px {value} {
    format %.1f $value
}

# The x of SECONDS in a pane of WIDTH columns showing [FROM, TO] seconds.
proc ::vexa::viewer::draw::x_of {seconds from to width} {
    expr {($seconds - $from) / double($to - $from) * $width}
}

proc ::vexa::viewer::draw::seconds_at {x from to width} {
    expr {$from + double($x) / $width * ($to - $from)}
}

# The items of one logic row from vexa::columns runs {x0 x1 value busy}, placed by
# vexa::draw::logic_row: a 1-bit trace (X a red box, Z an orange mid line) or boxes labelled
# with their value.
proc ::vexa::viewer::draw::logic_items {runs bits top height} {
    variable colors
    set items {}
    set mid [expr {(($top + 4) + ($top + $height - 4)) / 2.0}]
    set boxes [dict create value [list -fill #ffffff -outline $colors(trace)] \
                   unknown [list -fill $colors(xfill) -outline $colors(x)] \
                   floating [list -fill $colors(zfill) -outline $colors(z)]]
    set trace {}
    foreach shape [vexa::draw::logic_row $runs $bits $top $height 0 1] {
        lassign $shape type coords text
        if {$type ne "level" && $trace ne {}} {
            lappend items {*}[trace_item $trace]
            set trace {}
        }
        switch -- $type {
            busy {
                lassign $coords a high b low
                lappend items [list rectangle [list $a $high [px [expr {max($b, $a + 1)}]] $low] \
                                   [list -fill $colors(busy) -outline {}]]
            }
            unknown {
                lappend items [list rectangle $coords [list -fill $colors(xfill) -outline $colors(x)]]
            }
            floating {
                lappend items [list line $coords [list -fill $colors(z) -width 2]]
            }
            level {
                # A stretch that starts where the last one ended continues its line: one
                # canvas item for a whole trace of 0s and 1s instead of one per change.
                if {$trace ne {} && [lrange $trace end-1 end] eq [lrange $coords 0 1]} {
                    lappend trace {*}[lrange $coords 2 end]
                    continue
                }
                lappend items {*}[trace_item $trace]
                set trace $coords
                continue
            }
            box {
                lappend items [list polygon $text [dict get $boxes $coords]]
            }
            label {
                lappend items [list text [list $coords $mid] \
                                   [list -text $text -fill $colors(text) -font TkFixedFont]]
            }
        }
    }
    lappend items {*}[trace_item $trace]
    return $items
}

# The line item of a 1-bit trace's COORDS, none when empty.
proc ::vexa::viewer::draw::trace_item {coords} {
    variable colors
    if {$coords eq {}} {
        return {}
    }
    return [list [list line $coords [list -fill $colors(trace) -width 1.5]]]
}

# The items of an analog row from vexa::columns' {ymin ymax} {x y ...}: a line scaled to the
# range drawn, and the range's ends as texts.
proc ::vexa::viewer::draw::real_items {range xy top height unit} {
    variable colors
    lassign $range lo hi
    if {[llength $xy] < 4} {
        return {}
    }
    set span [expr {$hi > $lo ? $hi - $lo : 1.0}]
    set coords {}
    foreach {x y} $xy {
        lappend coords [px $x] [px [expr {$top + $height - 4 - ($y - $lo) / $span * ($height - 8)}]]
    }
    set u [expr {$unit in {{} -} ? {} : " $unit"}]
    return [list [list line $coords [list -fill $colors(analog) -width 1.2]] \
                [list text [list 2 [expr {$top + 2}]] [list -text $hi$u -anchor nw -fill #606060]] \
                [list text [list 2 [expr {$top + $height - 2}]] \
                     [list -text $lo$u -anchor sw -fill #606060]]]
}

proc ::vexa::viewer::draw::event_items {columns top height} {
    variable colors
    set items {}
    foreach c $columns {
        set x [px [expr {$c + 0.5}]]
        lappend items [list line [list $x [expr {$top + 4}] $x [expr {$top + $height - 4}]] \
                           [list -fill $colors(event) -width 1.5]]
    }
    return $items
}

# The items of a row from the answer of vexa::columns.
proc ::vexa::viewer::draw::row_items {columns bits top height unit} {
    switch -- [lindex $columns 0] {
        logic { return [logic_items [lindex $columns 1] $bits $top $height] }
        real { return [real_items [lindex $columns 1] [lindex $columns 2] $top $height $unit] }
        event { return [event_items [lindex $columns 1] $top $height] }
    }
    return {}
}

# The ruler's items from vexa::ticks {x label ...}: labels along the top (kept inside WIDTH at
# its ends), grid lines below.
proc ::vexa::viewer::draw::ruler_items {ticks width rulerHeight bottom} {
    variable colors
    set items {}
    foreach {x label} $ticks {
        set anchor [expr {$x < 15 ? "nw" : ($x > $width - 15 ? "ne" : "n")}]
        set x [px $x]
        lappend items [list line [list $x $rulerHeight $x $bottom] [list -fill $colors(grid)]]
        lappend items [list line [list $x [expr {$rulerHeight - 5}] $x $rulerHeight] \
                           [list -fill $colors(axis)]]
        lappend items [list text [list $x 2] [list -text $label -anchor $anchor -fill $colors(axis)]]
    }
    return $items
}

# A vertical marker line at X (nothing when outside [0, WIDTH]).
proc ::vexa::viewer::draw::marker_items {x width bottom color} {
    if {$x < 0 || $x > $width} {
        return {}
    }
    set x [px $x]
    return [list [list line [list $x 0 $x $bottom] [list -fill $color -dash {4 2}]]]
}

# The window zoomed by FACTOR (< 1 zooms in) around CENTRE, kept inside [FIRST, LAST] and no
# narrower than MINSPAN: {from to} in seconds.
proc ::vexa::viewer::draw::zoom {from to centre factor first last minSpan} {
    set span [expr {max($minSpan, ($to - $from) * $factor)}]
    set full [expr {$last - $first}]
    if {$span >= $full} {
        return [list $first $last]
    }
    set ratio [expr {$to > $from ? ($centre - $from) / double($to - $from) : 0.5}]
    set a [expr {$centre - $ratio * $span}]
    return [clamp $a [expr {$a + $span}] $first $last]
}

# The window moved by FRACTION of its width, kept inside [FIRST, LAST].
proc ::vexa::viewer::draw::pan {from to fraction first last} {
    set shift [expr {($to - $from) * $fraction}]
    return [clamp [expr {$from + $shift}] [expr {$to + $shift}] $first $last]
}

proc ::vexa::viewer::draw::clamp {a b first last} {
    if {$a < $first} {
        set b [expr {$b + $first - $a}]
        set a $first
    }
    if {$b > $last} {
        set a [expr {max($first, $a - ($b - $last))}]
        set b $last
    }
    return [list $a $b]
}

# A row's name in WIDTH pixels, MEASURE being a command giving a text's width: the whole path
# when it fits, else the leaf with as many of its scopes, nearest first, as fit after "…/". The
# name at index KEY (from telling_names) stays in front: "…/cl[0]/…/bl/q".
proc ::vexa::viewer::draw::fit_name {path width measure {key -1}} {
    if {[{*}$measure $path] <= $width} {
        return $path
    }
    set parts [split $path /]
    set head {}
    if {$key >= 0 && $key < [llength $parts] - 1} {
        set head [expr {$key > 0 ? "\u2026/" : ""}][lindex $parts $key]/
    } else {
        set key -1
    }
    set best {}
    for {set j [expr {[llength $parts] - 1}]} {$j > $key} {incr j -1} {
        set text $head[expr {$j > $key + 1 ? "\u2026/" : ""}][join [lrange $parts $j end] /]
        if {$best ne {} && [{*}$measure $text] > $width} {
            break
        }
        set best $text
    }
    return $best
}

# For each path, the index of its first name that differs from the other paths of the same leaf
# name (at the deepest such split), or -1 when no other path ends in its leaf name: the name
# that tells apart rows like TOP/cl[0]/u/q and TOP/cl[1]/u/q.
proc ::vexa::viewer::draw::telling_names {paths} {
    lmap path $paths {
        set parts [split $path /]
        set key -1
        foreach other $paths {
            set others [split $other /]
            if {$other ne $path && [lindex $others end] eq [lindex $parts end]} {
                for {set k 0} {[lindex $parts $k] eq [lindex $others $k]} {incr k} {}
                set key [expr {max($key, $k)}]
            }
        }
        set key
    }
}

# A hex value as ASCII text, and an analog step trace drawn linear: shared with vexa plot's SVG.
proc ::vexa::viewer::draw::ascii {hex} {
    vexa::draw::ascii $hex
}

proc ::vexa::viewer::draw::linear {xy} {
    vexa::draw::linear $xy
}

# ITEMS with the trace colours (logic, analog, event) replaced by COLOR.
proc ::vexa::viewer::draw::recolour {items color} {
    variable colors
    set map [list $colors(trace) $color $colors(analog) $color $colors(event) $color]
    lmap item $items {
        lset item 2 [string map $map [lindex $item 2]]
    }
}
