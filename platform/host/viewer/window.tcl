# window.tcl: the window's widgets, menus, keys and mouse: navigation by keys and the wheel,
# the cursor and zoom by clicks and drags, drops from the tree and list, the file dialogs.

proc ::vexa::viewer::build_menus {} {
    menu .menu
    . configure -menu .menu
    menu .menu.file -tearoff 0
    .menu add cascade -label File -underline 0 -menu .menu.file
    .menu.file add command -label "Open..." -accelerator Ctrl+O -command ::vexa::viewer::ask_open
    .menu.file add command -label Reload -accelerator Ctrl+R -command ::vexa::viewer::reload
    .menu.file add command -label "Save view..." -accelerator Ctrl+S \
        -command ::vexa::viewer::ask_save
    .menu.file add command -label "Restore view..." -accelerator Ctrl+L \
        -command ::vexa::viewer::ask_restore
    .menu.file add command -label "Export SVG..." -accelerator Ctrl+E \
        -command ::vexa::viewer::ask_export
    .menu.file add command -label "Open reference..." -command ::vexa::viewer::ask_reference
    .menu.file add command -label "Close reference" -command ::vexa::viewer::close_reference
    .menu.file add separator
    .menu.file add command -label Quit -accelerator Ctrl+Q -command {destroy .}
    menu .menu.view -tearoff 0
    .menu add cascade -label View -underline 0 -menu .menu.view
    foreach {label key command} {
        "Zoom in" + {zoom_by 0.5} "Zoom out" - {zoom_by 2.0} "Zoom to fit" F zoom_fit
        "Pan left" Left {pan_by -0.25} "Pan right" Right {pan_by 0.25}
        "Next change" N {step_change next} "Previous change" P {step_change previous}
        "Marker at cursor" M marker_at_cursor "Remove signal" Delete remove_selected
        "Fold or unfold group" G {toggle_fold $::vexa::viewer::selected}
        "Next difference" D {step_difference next} "Previous difference" Shift+D
        {step_difference previous} "Find next" F3 {find_match next}
        "Find previous" Shift+F3 {find_match previous}
    } {
        .menu.view add command -label $label -accelerator $key -command "::vexa::viewer::$command"
    }
    .menu.view add separator
    foreach value {bin hex dec signed} {
        .menu.view add radiobutton -label "Radix $value" -variable ::vexa::viewer::radix \
            -value $value -command ::vexa::viewer::redraw
    }
    menu .menu.options -tearoff 0
    .menu add cascade -label Options -underline 0 -menu .menu.options
    .menu.options add checkbutton -label "Group name\[i\] signals into buses (next open)" \
        -variable ::Scope(fsdb,show_bus) -onvalue 1 -offvalue 0
    .menu.options add checkbutton -label "Follow split files (next open)" \
        -variable ::Scope(fsdb,cat_split) -onvalue 1 -offvalue 0
}

proc ::vexa::viewer::build_window {} {
    wm title . "vexa view"
    wm geometry . 1000x560
    build_menus
    ttk::panedwindow .pane -orient horizontal
    ttk::frame .side
    ttk::entry .side.search -textvariable ::vexa::viewer::search
    ttk::treeview .side.tree -show tree -height 10 -selectmode browse
    ttk::treeview .side.list -show tree -height 10 -selectmode browse
    grid .side.tree -sticky nsew
    grid .side.search -sticky ew
    grid .side.list -sticky nsew
    grid rowconfigure .side {0 2} -weight 1
    grid columnconfigure .side 0 -weight 1
    ttk::frame .main
    canvas .main.names -width 180 -background white -highlightthickness 0
    canvas .main.values -width 110 -background white -highlightthickness 0
    canvas .main.wave -background white -highlightthickness 1 -takefocus 1
    ttk::scrollbar .main.rows -orient vertical -command ::vexa::viewer::scroll_rows
    .main.names configure -yscrollcommand {.main.rows set}
    foreach pane {names values wave} {
        .main.$pane configure -confine 1 -yscrollincrement 1
    }
    build_sash
    grid .main.names .main.sash .main.values .main.wave .main.rows -sticky nsew
    grid columnconfigure .main 3 -weight 1
    grid rowconfigure .main 0 -weight 1
    build_find_bar
    grid .main.find -row 1 -column 0 -columnspan 5 -sticky ew
    .pane add .side -weight 0
    .pane add .main -weight 1
    pack .pane -fill both -expand 1
    bind_keys
}

proc ::vexa::viewer::bind_keys {} {
    set w .main.wave
    bind .side.search <KeyRelease> ::vexa::viewer::search_changed
    bind .side.tree <<TreeviewOpen>> {::vexa::viewer::open_scope %W}
    bind .side.search <Return> {::vexa::viewer::fill_list; focus .side.list
        .side.list focus [lindex [.side.list children {}] 0]
        .side.list selection set [.side.list focus]}
    foreach t {.side.tree .side.list} {
        bind $t <Double-Button-1> [list ::vexa::viewer::add_chosen $t]
        bind $t <Return> [list ::vexa::viewer::add_chosen $t]
        bind $t <ButtonRelease-1> [list ::vexa::viewer::drop $t %X %Y]
    }
    bind $w <Configure> ::vexa::viewer::redraw
    bind $w <ButtonPress-1> {focus %W; ::vexa::viewer::press %x %y}
    bind $w <B1-Motion> {::vexa::viewer::motion %x}
    bind $w <ButtonRelease-1> {::vexa::viewer::release %x}
    bind $w <Shift-ButtonPress-1> {::vexa::viewer::set_marker [::vexa::viewer::seconds_at %x]}
    bind $w <ButtonPress-3> {::vexa::viewer::set_marker [::vexa::viewer::seconds_at %x]}
    bind $w <Button-4> {::vexa::viewer::zoom_by 0.8 [::vexa::viewer::seconds_at %x]}
    bind $w <Button-5> {::vexa::viewer::zoom_by 1.25 [::vexa::viewer::seconds_at %x]}
    bind $w <Shift-Button-4> {::vexa::viewer::pan_by -0.1}
    bind $w <Shift-Button-5> {::vexa::viewer::pan_by 0.1}
    bind $w <MouseWheel> {::vexa::viewer::zoom_by [expr {%D > 0 ? 0.8 : 1.25}] [::vexa::viewer::seconds_at %x]}
    # The pane's keys work after a click on a name too.
    bind .main.names <ButtonPress-1> {
        focus .main.wave
        ::vexa::viewer::select_row [::vexa::viewer::row_at %y]
    }
    foreach pane {.main.names .main.values} {
        bind $pane <Button-4> {::vexa::viewer::scroll_rows scroll -28 units}
        bind $pane <Button-5> {::vexa::viewer::scroll_rows scroll 28 units}
        bind $pane <MouseWheel> {::vexa::viewer::scroll_rows scroll [expr {%D > 0 ? -28 : 28}] units}
    }
    bind .main.names <Double-Button-1> {
        ::vexa::viewer::double_click_name [::vexa::viewer::row_at %y]
    }
    bind .main.names <ButtonPress-3> {::vexa::viewer::row_menu [::vexa::viewer::row_at %y] %X %Y}
    bind .main.names <Motion> {::vexa::viewer::show_tip %x %y}
    bind .main.names <Leave> ::vexa::viewer::hide_tip
    foreach {keys command} {
        {plus equal KP_Add} {zoom_by 0.5} {minus KP_Subtract} {zoom_by 2.0} {f F} zoom_fit
        Left {pan_by -0.25} Right {pan_by 0.25} n {step_change next} {N p} {step_change previous}
        m marker_at_cursor Delete remove_selected Up {select_row [expr {$::vexa::viewer::selected - 1}]}
        Down {select_row [expr {$::vexa::viewer::selected + 1}]} r next_radix
        g {toggle_fold $::vexa::viewer::selected} d {step_difference next}
        D {step_difference previous} F3 {find_match next} Shift-F3 {find_match previous}
    } {
        foreach key $keys {
            set event [expr {[string match Shift-* $key] ? "<Shift-Key-[string range $key 6 end]>"
                             : "<Key-$key>"}]
            bind $w $event "::vexa::viewer::$command"
        }
    }
    foreach {key command} {
        o ask_open r reload s ask_save l ask_restore e ask_export q {destroy .}
    } {
        # Ctrl+R is not the pane's r: pass it on to the window's binding.
        bind $w <Control-Key-$key> continue
        bind . <Control-Key-$key> [expr {$command eq {destroy .} ? $command : "::vexa::viewer::$command"}]
    }
    bind $w <Key-slash> {focus .main.find.entry; .main.find.entry selection range 0 end}
    bind $w <Control-Key-f> continue
    bind . <Control-Key-f> {focus .side.search; .side.search selection range 0 end}
}

proc ::vexa::viewer::scroll_rows {args} {
    foreach pane {names values wave} {
        .main.$pane yview {*}$args
    }
    redraw
}

proc ::vexa::viewer::seconds_at {x} {
    variable view
    draw::seconds_at $x [dict get $view from] [dict get $view to] [winfo width .main.wave]
}

# A click sets the cursor; a drag of more than a few columns zooms to the range dragged.
proc ::vexa::viewer::press {x y} {
    variable drag [list $x $x]
    set index [row_at $y]
    if {$index >= 0} {
        select_row $index
    }
}

proc ::vexa::viewer::motion {x} {
    variable drag
    if {$drag eq {}} {
        return
    }
    lset drag 1 $x
    set c .main.wave
    $c delete dragrange
    $c create rectangle [lindex $drag 0] 0 $x [winfo height $c] -outline #0050e0 -dash {2 2} \
        -tags dragrange
}

proc ::vexa::viewer::release {x} {
    variable drag
    if {$drag eq {}} {
        return
    }
    set start [lindex $drag 0]
    set drag {}
    .main.wave delete dragrange
    if {abs($x - $start) > 4} {
        zoom_to [seconds_at $start] [seconds_at $x]
    } else {
        set_cursor [seconds_at $x]
    }
}

# A signal dragged from the tree or the list and released over the waveform pane is added at
# the row under the pointer.
proc ::vexa::viewer::drop {widget rootX rootY} {
    set target [winfo containing $rootX $rootY]
    if {$target ni {.main.wave .main.names .main.values}} {
        return
    }
    set choice [chosen $widget]
    if {$choice ne {}} {
        set index [row_at [expr {$rootY - [winfo rooty $target]}]]
        add_signal {*}$choice [expr {$index < 0 ? "end" : $index}] 1
    }
}

# A double-click on a signal's name removes its row; on a group's, folds or unfolds it.
proc ::vexa::viewer::double_click_name {index} {
    variable rows
    if {$index >= 0 && [dict get [lindex $rows $index] kind] eq "group"} {
        toggle_fold $index
    } else {
        remove_row $index
    }
}

proc ::vexa::viewer::marker_at_cursor {} {
    variable cursor
    variable marker
    if {$cursor ne {}} {
        set marker $cursor
        redraw
    }
}

proc ::vexa::viewer::remove_selected {} {
    variable selected
    remove_row $selected
}

proc ::vexa::viewer::next_radix {} {
    variable radix
    set all {bin hex dec signed}
    set_radix [lindex $all [expr {([lsearch $all $radix] + 1) % 4}]]
}

proc ::vexa::viewer::ask_open {} {
    set path [tk_getOpenFile -parent . -filetypes {{Waveforms {.fsdb .vcd .gz .fst}} {All *}}]
    if {$path ne {}} {
        open_file $path
    }
}

proc ::vexa::viewer::ask_save {} {
    set path [tk_getSaveFile -parent . -defaultextension .tcl -filetypes {{Views .tcl}}]
    if {$path ne {} && [catch {save_view $path} message]} {
        error_box "couldn't save the view: $message"
    }
}

proc ::vexa::viewer::ask_restore {} {
    set path [tk_getOpenFile -parent . -filetypes {{Views .tcl} {All *}}]
    if {$path ne {}} {
        restore_view $path
    }
}

# Loads Tk (hiding the command line's words from its option parser) and builds the window.
