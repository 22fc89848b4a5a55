# svg.tcl: the SVG renderer of vexa plot and of the viewer's export: rows of logic, real and event
# signals over a time axis, the logic rows placed by vexa::draw::logic_row.

package require vexa
package require vexa::draw
namespace eval ::vexa::svg {}

proc ::vexa::svg::xml {text} {
    string map {& &amp; < &lt; > &gt; \" &quot;} $text
}

proc ::vexa::svg::px {value} {
    format %.2f $value
}

# The SVG elements of one logic signal's row: runs {x0 x1 value busy} in plot coordinates, drawn
# where vexa::draw::logic_row places them.
proc ::vexa::svg::logic_elements {runs x0 top height bits} {
    set out {}
    array set classes {value v unknown vx floating vz}
    foreach shape [vexa::draw::logic_row $runs $bits $top $height $x0 2] {
        lassign $shape type coords text
        switch -- $type {
            busy - unknown {
                lassign $coords a high b low
                set w [px [expr {$b - $a}]]
                set class x
                if {$type eq "busy"} {
                    set class busy
                    set w [expr {max($w, 1)}]
                }
                append out "<rect class=\"$class\" x=\"$a\" y=\"$high\" width=\"$w\" height=\"[expr {$low - $high}]\"/>\n"
            }
            floating {
                lassign $coords a mid b
                append out "<line class=\"z\" x1=\"$a\" y1=\"$mid\" x2=\"$b\" y2=\"$mid\"/>\n"
            }
            level {
                # After an edge: the edge's line, then the level's.
                if {[llength $coords] == 6} {
                    lassign $coords a from - to
                    append out "<line class=\"t\" x1=\"$a\" y1=\"$from\" x2=\"$a\" y2=\"$to\"/>\n"
                    set coords [lrange $coords 2 end]
                }
                lassign $coords a y b
                append out "<line class=\"t\" x1=\"$a\" y1=\"$y\" x2=\"$b\" y2=\"$y\"/>\n"
            }
            box {
                set points [lmap {x y} $text {string cat $x , $y}]
                append out "<polygon class=\"$classes($coords)\" points=\"[join $points { }]\"/>\n"
            }
            label {
                set y [px [expr {$top + $height / 2.0 + 4}]]
                append out "<text class=\"label\" x=\"$coords\" y=\"$y\">[xml $text]</text>\n"
            }
        }
    }
    return $out
}

proc ::vexa::svg::real_elements {trace x0 top height unit} {
    lassign $trace range xy
    lassign $range lo hi
    set span [expr {$hi > $lo ? $hi - $lo : 1.0}]
    set points {}
    foreach {x y} $xy {
        lappend points "[px [expr {$x0 + $x}]],[px [expr {$top + $height - 4 - ($y - $lo) / $span * ($height - 8)}]]"
    }
    set out "<polyline class=\"a\" points=\"[join $points { }]\"/>\n"
    set u [expr {$unit in {{} -} ? {} : " $unit"}]
    append out "<text class=\"range\" x=\"[expr {$x0 - 6}]\" y=\"[expr {$top + 10}]\">[xml $hi$u]</text>\n"
    append out "<text class=\"range\" x=\"[expr {$x0 - 6}]\" y=\"[expr {$top + $height - 2}]\">[xml $lo$u]</text>\n"
    return $out
}

proc ::vexa::svg::event_elements {columns x0 top height} {
    set out {}
    foreach c $columns {
        set x [px [expr {$x0 + $c + 0.5}]]
        append out "<line class=\"e\" x1=\"$x\" y1=\"[expr {$top + 4}]\" x2=\"$x\" y2=\"[expr {$top + $height - 4}]\"/>\n"
    }
    return $out
}

# The whole SVG of vexa plot: the signals PATHS loaded as IDS, one row each, from FROM to TO on
# a page WIDTH pixels wide, vectors in RADIX.
proc ::vexa::svg::plot {paths ids from to width radix} {
    page [lmap path $paths id $ids {dict create path $path id $id}] $from $to $width $radix
}

# The SVG of ROWS, each a dict: a signal {path P id ID} with its own display settings when it has
# them (radix bin, hex, dec, signed or ascii; color #RRGGBB; analog steps or linear), or a band
# {band TITLE} (a group or divider of the viewer); vectors in RADIX unless a row says otherwise.
proc ::vexa::svg::page {rows from to width radix} {
    set longest [tcl::mathfunc::max 0 {*}[lmap row $rows {string length [row_title $row]}]]
    set nameWidth [expr {min(300, max(80, 7 * $longest + 16))}]
    set x0 [expr {$nameWidth + 10}]
    set plotWidth [expr {$width - $x0 - 20}]
    set placed {}
    set top 10
    foreach row $rows {
        if {[dict exists $row band]} {
            set height 22
        } else {
            dict set row kind [vexa::wave [dict get $row id] kind]
            set height [expr {[dict get $row kind] in {1 2} ? 80 : 30}]
        }
        lappend placed [list $row $top $height]
        incr top [expr {$height + 6}]
    }
    set axis [expr {$top + 4}]
    set total [expr {$axis + 30}]
    set body {}
    foreach {x label} [vexa::ticks $from $to $plotWidth 100] {
        set gx [px [expr {$x0 + $x}]]
        append body "<line class=\"grid\" x1=\"$gx\" y1=\"6\" x2=\"$gx\" y2=\"$axis\"/>\n"
        append body "<text class=\"tick\" x=\"$gx\" y=\"[expr {$axis + 16}]\">[xml $label]</text>\n"
    }
    append body "<line class=\"axis\" x1=\"$x0\" y1=\"$axis\" x2=\"[expr {$x0 + $plotWidth}]\" y2=\"$axis\"/>\n"
    foreach item $placed {
        lassign $item row top height
        append body [row_elements $row $from $to $plotWidth $nameWidth $x0 $top $height $radix]
    }
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>
<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"$width\" height=\"$total\" viewBox=\"0 0 $width $total\" font-family=\"monospace\" font-size=\"12\">
<style>
.t{stroke:#1a7f1a;stroke-width:1.5;fill:none}
.x{fill:#f2b8b8;stroke:#d01010;stroke-width:1}
.z{stroke:#e08000;stroke-width:2;fill:none}
.busy{fill:#7fbf7f;stroke:none}
.v{fill:#ffffff;stroke:#1a7f1a;stroke-width:1.2}
.vx{fill:#f2b8b8;stroke:#d01010;stroke-width:1.2}
.vz{fill:#ffe3b0;stroke:#e08000;stroke-width:1.2}
.a{stroke:#1f4fbf;stroke-width:1.2;fill:none}
.e{stroke:#8030a0;stroke-width:1.5}
.grid{stroke:#e4e4e4;stroke-width:1}
.axis{stroke:#404040;stroke-width:1}
.name{text-anchor:end;fill:#000000}
.label{text-anchor:middle;fill:#000000}
.range{text-anchor:end;fill:#606060;font-size:10px}
.tick{text-anchor:middle;fill:#404040}
</style>
<rect width=\"100%\" height=\"100%\" fill=\"#ffffff\"/>
$body</svg>
"
}

proc ::vexa::svg::row_title {row} {
    expr {[dict exists $row band] ? [dict get $row band] : [dict get $row path]}
}

# The elements of one row of the page: its name, then a band's fill or the signal's trace drawn
# as its display settings say.
proc ::vexa::svg::row_elements {row from to plotWidth nameWidth x0 top height radix} {
    set y [expr {$top + $height / 2 + 4}]
    set name [list "<text class=\"name\" x=\"$nameWidth\" y=\"$y\"" \
                  ">[xml [row_title $row]]</text>\n"]
    if {[dict exists $row band]} {
        return "<rect x=\"0\" y=\"$top\" width=\"[expr {$x0 + $plotWidth}]\" height=\"$height\"\
                fill=\"#eef0f4\"/>\n[join $name { font-weight="bold" fill="#303030"}]"
    }
    set id [dict get $row id]
    set bits [vexa::wave $id width]
    set rowRadix [expr {$bits == 1 ? "bin" : ([dict exists $row radix] ? [dict get $row radix]
                                                : $radix)}]
    set columns [vexa::columns $id $from $to $plotWidth \
                     [expr {$rowRadix eq "ascii" ? "hex" : $rowRadix}]]
    switch -- [lindex $columns 0] {
        logic {
            set runs [lindex $columns 1]
            if {$rowRadix eq "ascii"} {
                set runs [lmap run $runs {
                    expr {[lindex $run 2] in {{} -} ? $run
                          : [lreplace $run 2 2 [vexa::draw::ascii [lindex $run 2]]]}
                }]
            }
            set out [logic_elements $runs $x0 $top $height $bits]
        }
        real {
            set trace [lrange $columns 1 end]
            if {[dict exists $row analog] && [dict get $row analog] eq "linear"} {
                lset trace 1 [vexa::draw::linear [lindex $trace 1]]
            }
            set out [real_elements $trace $x0 $top $height [vexa::wave $id yunit]]
        }
        event {
            set out [event_elements [lindex $columns 1] $x0 $top $height]
        }
        default {
            set out {}
        }
    }
    if {![dict exists $row color]} {
        return [join $name {}]$out
    }
    # The row's colour for its name and trace, as the viewer shows it.
    set c [dict get $row color]
    set style " style=\"stroke:$c\""
    return [join $name " style=\"fill:$c\""][string map [list {class="t"} "class=\"t\"$style" \
        {class="v"} "class=\"v\"$style" {class="a"} "class=\"a\"$style" \
        {class="e"} "class=\"e\"$style"] $out]
}

package provide vexa::svg [package present vexa]
