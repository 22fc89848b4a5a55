# find.tcl: the find bar: a condition over signals (vexa find's language, e.g.
# "top/state == 3 && rise(top/clk)") whose next or previous match moves the cursor.

namespace eval ::vexa::viewer {
    variable findText {}
    variable findStatus {}
}

proc ::vexa::viewer::build_find_bar {} {
    ttk::frame .main.find
    ttk::label .main.find.label -text Find:
    ttk::entry .main.find.entry -textvariable ::vexa::viewer::findText
    ttk::button .main.find.previous -text Previous -command {::vexa::viewer::find_match previous}
    ttk::button .main.find.next -text Next -command {::vexa::viewer::find_match next}
    ttk::label .main.find.status -textvariable ::vexa::viewer::findStatus -foreground #404040
    pack .main.find.label -side left -padx 2
    pack .main.find.entry -side left -fill x -expand 1
    pack .main.find.previous .main.find.next .main.find.status -side left -padx 2
    bind .main.find.entry <Return> {::vexa::viewer::find_match next}
    bind .main.find.entry <Shift-Return> {::vexa::viewer::find_match previous}
}

# The design the condition's signals are read from: the selected row's, else the first file's.
proc ::vexa::viewer::find_design {} {
    variable rows
    variable selected
    variable files
    set row [lindex $rows $selected]
    if {$selected >= 0 && [is_signal $row]} {
        return [dict get $row handle]
    }
    lindex [dict keys $files] 0
}

# Moves the cursor to the condition's next (or previous) match after (before) the cursor; the
# status says where, that there is none, or what is wrong with the condition.
proc ::vexa::viewer::find_match {direction} {
    variable findText
    variable findStatus
    variable cursor
    set d [find_design]
    if {$d eq {} || [string trim $findText] eq {}} {
        bell
        return
    }
    set bound {}
    if {$cursor ne {}} {
        set bound [list [expr {$direction eq "next" ? "-after" : "-before"}] $cursor]
    }
    set which [expr {$direction eq "next" ? "-first" : "-last"}]
    if {[catch {vexa::when $d $findText {*}$bound $which} found options]} {
        set findStatus $found
        set code [dict get $options -errorcode]
        if {[lrange $code 0 1] eq {VEXA CONDITION} && [winfo exists .main.find.entry]} {
            .main.find.entry icursor [expr {[lindex $code 2] - 1}]
        }
        bell
        return
    }
    if {$found eq {}} {
        set findStatus "no [expr {$direction eq "next" ? "later" : "earlier"}] match"
        bell
        return
    }
    set findStatus "match at [lindex $found 0]"
    move_cursor [lindex $found 0]
}
