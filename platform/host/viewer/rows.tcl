# rows.tcl: how each row shows: a signal's own radix, colour and analog drawing, group rows that
# fold the signals below them (up to the next group or divider), named dividers, and the
# names' context menu that sets them.

namespace eval ::vexa::viewer {
    variable rowRadixes {bin hex dec signed ascii}
    variable rowColors {#1a7f1a #1f4fbf #d02020 #c06000 #8030a0 #008080 #000000}
}

proc ::vexa::viewer::is_signal {row} {
    dict exists $row handle
}

# The radix ROW is drawn in: bin for one bit, else its own or the window's.
proc ::vexa::viewer::row_radix {row} {
    variable radix
    if {[dict get $row bits] == 1} {
        return bin
    }
    expr {[dict exists $row radix] ? [dict get $row radix] : $radix}
}

# VALUE, written in hex, as ROW shows it (ASCII rows turn it to text).
proc ::vexa::viewer::shown_value {row value} {
    expr {[row_radix $row] eq "ascii" && $value ni {{} -} ? [draw::ascii $value] : $value}
}

# The radix asked of the drawing model for ROW.
proc ::vexa::viewer::model_radix {row} {
    set r [row_radix $row]
    expr {$r eq "ascii" ? "hex" : $r}
}

# The canvas items of signal ROW over the window [A, B] of WIDTH columns.
proc ::vexa::viewer::signal_items {row a b width top height} {
    set id [dict get $row id]
    set columns [vexa::columns $id $a $b $width [model_radix $row]]
    if {[lindex $columns 0] eq "logic" && [row_radix $row] eq "ascii"} {
        set columns [list logic [lmap run [lindex $columns 1] {
            lset run 2 [shown_value $row [lindex $run 2]]
        }]]
    } elseif {[lindex $columns 0] eq "real" && [dict exists $row analog] &&
              [dict get $row analog] eq "linear"} {
        lset columns 2 [draw::linear [lindex $columns 2]]
    }
    set items [draw::row_items $columns [dict get $row bits] $top $height [vexa::wave $id yunit]]
    if {[dict exists $row color]} {
        set items [draw::recolour $items [dict get $row color]]
    }
    return $items
}

# Sets the display KEY (radix, color or analog) of row INDEX to VALUE; {} goes back to the
# window's default.
proc ::vexa::viewer::set_row_style {index key value} {
    variable rows
    if {$index < 0 || $index >= [llength $rows] || ![is_signal [lindex $rows $index]]} {
        return
    }
    set row [lindex $rows $index]
    if {$value eq {}} {
        dict unset row $key
    } else {
        dict set row $key [check_style $key $value]
    }
    lset rows $index $row
    redraw
}

# VALUE if it is one KEY may take, else an error.
proc ::vexa::viewer::check_style {key value} {
    variable rowRadixes
    switch -- $key {
        radix {
            if {$value ni $rowRadixes} {
                error "bad radix \"$value\": must be [join $rowRadixes {, }]"
            }
        }
        analog {
            if {$value ni {steps linear}} {
                error "bad analog drawing \"$value\": must be steps or linear"
            }
        }
        color {
            if {![regexp {^#[0-9a-fA-F]{6}$} $value]} {
                error "bad colour \"$value\": must be #RRGGBB"
            }
        }
        default {
            error "bad display setting \"$key\": must be radix, color or analog"
        }
    }
    return $value
}

# Inserts a group (KIND group) or a divider (KIND divider) named NAME at row INDEX.
proc ::vexa::viewer::insert_band {kind index name {folded 0}} {
    variable rows
    set row [dict create kind $kind name $name]
    if {$kind eq "group"} {
        dict set row folded [expr {!!$folded}]
    }
    set rows [linsert $rows [expr {$index eq "end" || $index < 0 ? "end" : $index}] $row]
    redraw
}

# Folds or unfolds the group of row INDEX (the group itself, or the one the row is in).
proc ::vexa::viewer::toggle_fold {index} {
    variable rows
    for {set i $index} {$i >= 0 && $i < [llength $rows]} {incr i -1} {
        set kind [dict get [lindex $rows $i] kind]
        if {$kind eq "divider"} {
            break
        }
        if {$kind eq "group"} {
            set row [lindex $rows $i]
            dict set row folded [expr {![dict get $row folded]}]
            lset rows $i $row
            redraw
            return
        }
    }
    bell
}

# The names pane's menu for row INDEX: the signal's radix, colour and analog drawing; a group or
# divider inserted above it, folding, renaming, removing.
proc ::vexa::viewer::row_menu {index rootX rootY} {
    variable rows
    variable rowRadixes
    variable rowColors
    if {$index < 0} {
        return
    }
    select_row $index
    set m .rowmenu
    destroy $m
    menu $m -tearoff 0
    set row [lindex $rows $index]
    if {[is_signal $row]} {
        foreach {label key values} [list Radix radix [list {} {*}$rowRadixes] \
                                        Colour color [list {} {*}$rowColors] \
                                        Analog analog {{} steps linear}] {
            menu $m.$key -tearoff 0
            $m add cascade -label $label -menu $m.$key
            foreach value $values {
                $m.$key add command -label [expr {$value eq {} ? "default" : $value}] \
                    -command [list ::vexa::viewer::set_row_style $index $key $value]
            }
        }
        $m add separator
    }
    $m add command -label "Group above..." \
        -command [list ::vexa::viewer::ask_band group $index]
    $m add command -label "Divider above..." \
        -command [list ::vexa::viewer::ask_band divider $index]
    $m add command -label "Fold or unfold group" -accelerator G \
        -command [list ::vexa::viewer::toggle_fold $index]
    if {![is_signal $row]} {
        $m add command -label "Rename..." -command [list ::vexa::viewer::ask_rename $index]
    }
    $m add command -label Remove -command [list ::vexa::viewer::remove_row $index]
    tk_popup $m $rootX $rootY
}

# A name asked in a small dialog ({} when cancelled).
proc ::vexa::viewer::ask_name {title initial} {
    set w .askname
    destroy $w
    toplevel $w
    wm title $w $title
    wm transient $w .
    set ::vexa::viewer::askedName $initial
    ttk::entry $w.entry -textvariable ::vexa::viewer::askedName -width 30
    ttk::button $w.ok -text OK -command {set ::vexa::viewer::askedDone 1}
    pack $w.entry $w.ok -side left -padx 4 -pady 4
    bind $w.entry <Return> {set ::vexa::viewer::askedDone 1}
    bind $w <Escape> {set ::vexa::viewer::askedDone 0}
    bind $w <Destroy> {set ::vexa::viewer::askedDone 0}
    focus $w.entry
    vwait ::vexa::viewer::askedDone
    set name [expr {$::vexa::viewer::askedDone ? $::vexa::viewer::askedName : {}}]
    destroy $w
    return $name
}

proc ::vexa::viewer::ask_band {kind index} {
    set name [ask_name [string totitle $kind] $kind]
    if {$name ne {}} {
        insert_band $kind $index $name
    }
}

proc ::vexa::viewer::ask_rename {index} {
    variable rows
    set name [ask_name Rename [dict get [lindex $rows $index] name]]
    if {$name ne {}} {
        set row [lindex $rows $index]
        dict set row name $name
        lset rows $index $row
        redraw
    }
}
