# logic_row.tcl: the geometry of a logic signal's row, one for the SVG of vexa plot and the
# viewer's canvas: where its traces, boxes and labels go; each renderer only writes them out;
# and the value texts and traces that a row's display settings ask for (ASCII, linear).

package require vexa
namespace eval ::vexa::draw {}

# The shapes of one logic row of HEIGHT at TOP from vexa::columns' runs {x0 x1 value busy},
# their x shifted by X0 and written with DIGITS decimals. A 1-bit signal gives
#   {level {A Y B Y}}       a stretch at one level, {level {A PREVIOUS A Y B Y}} after an edge,
#   {unknown {A HIGH B LOW}} a value with X or U, {floating {A MID B MID}} a Z;
# a vector gives {box KIND {A MID L HIGH R HIGH B MID R LOW L LOW}} (KIND value, unknown or
# floating; corners cut by up to 3), then {label X TEXT} when the text fits; and a run of several
# changes within a column gives {busy {A HIGH B LOW}} for both.
proc ::vexa::draw::logic_row {runs bits top height x0 digits} {
    set shapes {}
    set high [expr {$top + 4}]
    set low [expr {$top + $height - 4}]
    set mid [expr {($high + $low) / 2.0}]
    set previous {}
    set f %.${digits}f
    # Few format calls per run: a bus row may hold a thousand boxes.
    set pair "$f $f"
    foreach run $runs {
        lassign $run a b value busy
        lassign [format $pair [expr {$x0 + $a}] [expr {$x0 + $b}]] a b
        if {$busy} {
            lappend shapes [list busy [list $a $high $b $low]]
            set previous {}
            continue
        }
        # Most runs of a 1-bit row are a plain 0 or 1: no pattern match for those.
        if {$value eq "1" || $value eq "0"} {
            set kind value
        } else {
            set kind [expr {[regexp {[XU]} $value] ? "unknown" :
                            ([string first Z $value] >= 0 ? "floating" : "value")}]
        }
        if {$bits == 1} {
            if {$kind eq "unknown"} {
                lappend shapes [list unknown [list $a $high $b $low]]
                set previous {}
            } elseif {$kind eq "floating"} {
                lappend shapes [list floating [list $a $mid $b $mid]]
                set previous $mid
            } else {
                set y [expr {$value eq "1" ? $high : $low}]
                set coords [list $a $y $b $y]
                if {$previous ne {} && $previous != $y} {
                    set coords [list $a $previous {*}$coords]
                }
                lappend shapes [list level $coords]
                set previous $y
            }
            continue
        }
        set w [format $f [expr {$b - $a}]]
        set e [expr {min(3.0, $w / 2.0)}]
        lassign [format $pair [expr {$a + $e}] [expr {$b - $e}]] l r
        lappend shapes [list box $kind [list $a $mid $l $high $r $high $b $mid $r $low $l $low]]
        if {[string length $value] * 7 + 6 < $w} {
            lappend shapes [list label [format $f [expr {($a + $b) / 2.0}]] $value]
        }
    }
    return $shapes
}

# A hex value as text: two digits a character, the first padded with 0; a byte outside the
# printable ASCII range is ".", one with an unknown digit is its X or Z.
proc ::vexa::draw::ascii {hex} {
    if {[string length $hex] % 2} {
        set hex 0$hex
    }
    set text {}
    foreach {a b} [split $hex {}] {
        if {[regexp {[XxZz]} $a$b match]} {
            append text [string toupper $match]
        } elseif {[scan $a$b %x code] == 1 && $code >= 32 && $code < 127} {
            append text [format %c $code]
        } else {
            append text .
        }
    }
    return $text
}

# An analog step trace {x y ...} drawn linear: each change joined to the next by a straight
# line, keeping of the points at one x only the last.
proc ::vexa::draw::linear {xy} {
    set out {}
    foreach {x y} $xy {
        if {[llength $out] && [lindex $out end-1] == $x} {
            set out [lreplace $out end-1 end]
        }
        lappend out $x $y
    }
    return $out
}

package provide vexa::draw [package present vexa]
