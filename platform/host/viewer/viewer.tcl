# viewer.tcl: vexa view, the Tk waveform viewer: a hierarchy tree, a searchable signal list and
# a waveform pane with a value column, over files opened through the format's handlers.
# Each signal is loaded once when added; redraws decimate the loaded waveform per pixel column.

source [file join [file dirname [info script]] draw.tcl]
source [file join [file dirname [info script]] names.tcl]

namespace eval ::vexa::viewer {
    variable rulerHeight 22
    # Open files: design handle (vexa::design: a file and its companion) -> {path fsdb}; rows
    # shown: list of dicts (handle path id kind bits).
    variable files [dict create]
    variable rows {}
    variable selected -1
    # The window in seconds, the full span, the grid and its step in seconds.
    variable view [dict create from 0.0 to 1.0 first 0.0 last 1.0 grid 1ns step 1e-9]
    variable cursor {}
    variable marker {}
    variable radix hex
    variable search *
    # Messages the format sent through VexaMessage, {text type title} each; dialogs shown
    # unless quiet (tests).
    variable messages {}
    variable quiet 0
    variable drag {}
}

# --- Messages ---------------------------------------------------------------------------------

# The format reports what the user must see (a rewritten file) through VexaMessage while one of
# its handlers runs; the dialog waits for the handler to return.
proc ::vexa::viewer::install_message_command {} {
    if {[info commands ::vexa::viewer::host_message] eq {} && [info commands ::VexaMessage] ne {}} {
        rename ::VexaMessage ::vexa::viewer::host_message
    }
    proc ::VexaMessage {text type title} {
        variable ::vexa::viewer::messages
        lappend messages [list $text $type $title]
        if {[info commands ::vexa::viewer::host_message] ne {}} {
            catch {::vexa::viewer::host_message $text $type $title}
        }
        after idle [list ::vexa::viewer::show_message $text $type $title]
    }
}

proc ::vexa::viewer::show_message {text type title} {
    variable quiet
    if {!$quiet} {
        tk_messageBox -parent . -icon [expr {$type in {error warning info} ? $type : "info"}] \
            -title $title -message [string trimright $text \n]
    }
}

proc ::vexa::viewer::error_box {text} {
    variable quiet
    variable messages
    lappend messages [list $text error Error]
    if {!$quiet} {
        tk_messageBox -parent . -icon error -title Error -message $text
    }
}

# An error in an event handler: on standard error and in a dialog, the window kept working.
proc ::vexa::viewer::background_error {message options} {
    puts stderr "vexa view: [dict get $options -errorinfo]"
    error_box $message
}

# --- Files and signals ------------------------------------------------------------------------

# Opens PATH (FSDB, or VCD or FST through the command line's import cache) with the settings
# of the Options menu; returns the handle, or {} after an error dialog.
proc ::vexa::viewer::open_file {path} {
    variable files
    if {[catch {
        set fsdb [::vexa::cli::fsdb_for $path]
        ::vexa::cli::link_vcd_chain $path $fsdb
        set h [vexa::design open $fsdb FSDB]
    } message]} {
        error_box "couldn't open \"$path\": $message"
        return {}
    }
    # By its full path, so that a reload or a saved view finds it from any folder.
    dict set files $h [list [file normalize $path] $fsdb]
    fill_tree
    fill_list
    return $h
}

proc ::vexa::viewer::close_file {h} {
    variable files
    variable rows
    set rows [lmap row $rows {
        if {[dict get $row handle] eq $h} {
            continue
        }
        set row
    }]
    catch {vexa::design close $h}
    dict unset files $h
    fill_tree
    fill_list
    redraw
}

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
        catch {vexa::design close $h}
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

# Loads one signal; {} when the format refuses it. A file rewritten since it was opened is
# reopened (the format said so through VexaMessage) and the load tried once more.
proc ::vexa::viewer::load_one {h path {retry 1}} {
    variable messages
    set before [llength $messages]
    lassign [vexa::design loadwaves $h [list $path]] result ids
    set id [lindex $ids 0]
    if {$id ne {} && $id ne "0"} {
        return $id
    }
    set rewritten [expr {[llength $messages] > $before &&
                         [string match "*rewritten*" [lindex $messages end 0]]}]
    if {$rewritten && $retry} {
        variable files
        set file [lindex [dict get $files $h] 0]
        reload $h
        set fresh [lindex [dict keys [dict filter $files script {k v} {
            expr {[lindex $v 0] eq $file}
        }]] end]
        if {$fresh ne {}} {
            return [load_one $fresh $path 0]
        }
    }
    return {}
}

# Adds the signal PATH of file H as the last row (or at row INDEX).
proc ::vexa::viewer::add_signal {h path {index end}} {
    variable rows
    variable files
    if {![dict exists $files $h]} {
        return 0
    }
    set file [lindex [dict get $files $h] 0]
    set id [load_one $h $path]
    if {$id eq {}} {
        error_box "couldn't load \"$path\""
        return 0
    }
    # A reload may have replaced the handle.
    foreach {handle info} $files {
        if {[lindex $info 0] eq $file} {
            set h $handle
        }
    }
    set row [dict create handle $h path $path id $id kind [vexa::wave $id kind] \
                 bits [vexa::wave $id width]]
    set fit [expr {[llength $rows] == 0}]
    set rows [linsert $rows $index $row]
    update_span
    if {$fit} {
        zoom_fit
    } else {
        redraw
    }
    return 1
}

proc ::vexa::viewer::remove_row {index} {
    variable rows
    variable selected
    if {$index < 0 || $index >= [llength $rows]} {
        return
    }
    set rows [lreplace $rows $index $index]
    set selected [expr {min($selected, [llength $rows] - 1)}]
    update_span
    redraw
}

# The time span and grid of every loaded signal.
proc ::vexa::viewer::update_span {} {
    variable rows
    variable view
    if {[llength $rows] == 0} {
        return
    }
    lassign [vexa::timegrid {*}[lmap row $rows {dict get $row id}]] grid first last
    if {$first eq {}} {
        return
    }
    set a [vexa::format parse $first]
    set b [vexa::format parse $last]
    set step [vexa::format parse $grid]
    if {$b <= $a} {
        set b [expr {$a + 10 * $step}]
    }
    dict set view grid $grid
    dict set view step $step
    dict set view first $a
    dict set view last $b
}

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
    set at [vexa::change [dict get [lindex $rows $selected] id] $from $direction]
    if {$at eq {}} {
        bell
        return
    }
    set cursor $at
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
    expr {[dict get $row kind] in {1 2} ? 60 : 28}
}

# {top height} of each row below the ruler.
proc ::vexa::viewer::row_layout {} {
    variable rows
    variable rulerHeight
    set top $rulerHeight
    set layout {}
    foreach row $rows {
        set height [row_height $row]
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

# Each row's value at the cursor, in its radix ("" without a cursor).
proc ::vexa::viewer::cursor_values {} {
    variable rows
    variable cursor
    variable radix
    lmap row $rows {
        if {$cursor eq {}} {
            set value {}
        } else {
            set r [expr {[dict get $row bits] == 1 ? "bin" : $radix}]
            lindex [vexa::table [list [dict get $row id]] -at $cursor -radix $r] 0 1
        }
    }
}

# --- Drawing ----------------------------------------------------------------------------------

proc ::vexa::viewer::create_items {canvas items tags} {
    foreach item $items {
        lassign $item type coords options
        $canvas create $type {*}$coords {*}$options -tags $tags
    }
}

proc ::vexa::viewer::redraw {} {
    if {![winfo exists .main]} {
        return
    }
    draw_names
    draw_waves
}

proc ::vexa::viewer::draw_waves {} {
    variable rows
    variable view
    variable radix
    variable rulerHeight
    variable cursor
    variable marker
    set c .main.wave
    $c delete all
    set width [expr {max(10, [winfo width $c])}]
    set layout [row_layout]
    set last [expr {[llength $layout] ? [tcl::mathop::+ {*}[lindex $layout end]] : $rulerHeight}]
    set bottom [expr {max([winfo height $c], $last)}]
    foreach pane {names values wave} {
        .main.$pane configure -scrollregion [list 0 0 0 $last]
    }
    dict with view {}
    set a [time_text $from]
    set b [time_text $to]
    if {[llength $rows] > 0 && $b ne $a} {
        create_items $c [draw::ruler_items [vexa::ticks $a $b $width 100] $width $rulerHeight \
                                 $bottom] ruler
    }
    $c create line 0 $rulerHeight $width $rulerHeight -fill #404040
    set index 0
    foreach row $rows place [row_layout] {
        lassign $place top height
        set bits [dict get $row bits]
        set id [dict get $row id]
        set r [expr {$bits == 1 ? "bin" : $radix}]
        create_items $c [draw::row_items [vexa::columns $id $a $b $width $r] $bits $top $height \
                             [vexa::wave $id yunit]] [list trace trace-$index]
        incr index
    }
    foreach {time color tag} [list $marker $draw::colors(marker) marker \
                                  $cursor $draw::colors(cursor) cursor] {
        if {$time ne {}} {
            set x [draw::x_of [vexa::format parse $time] $from $to $width]
            create_items $c [draw::marker_items $x $width $bottom $color] $tag
        }
    }
}

# --- Hierarchy tree and signal list -----------------------------------------------------------

proc ::vexa::viewer::fill_tree {} {
    variable files
    if {![winfo exists .side.tree]} {
        return
    }
    set t .side.tree
    $t delete [$t children {}]
    foreach {h info} $files {
        set node [$t insert {} end -text [file tail [lindex $info 0]] -open 1 \
                      -values [list $h {}]]
        fill_scope $t $node $h {}
    }
}

# The children of SCOPE under NODE. A child scope gets one placeholder child, replaced by its
# own children when it is opened, so that a large design's tree is read as it is browsed.
proc ::vexa::viewer::fill_scope {t node h scope} {
    set leaves [dict create]
    foreach path [vexa::design find $h -- [expr {$scope eq {} ? "*" : "[literal $scope]/*"}]] {
        dict set leaves $path 1
    }
    foreach name [vexa::sortnames [vexa::design children $h $scope]] {
        set path [expr {$scope eq {} ? $name : "$scope/$name"}]
        set child [$t insert $node end -text $name -values [list $h $path]]
        if {![dict exists $leaves $path]} {
            $t insert $child end -text ... -values [list $h {} placeholder]
        }
    }
}

proc ::vexa::viewer::open_scope {t} {
    set node [$t focus]
    set first [lindex [$t children $node] 0]
    if {$first eq {} || [lindex [$t item $first -values] 2] ne "placeholder"} {
        return
    }
    $t delete $first
    lassign [$t item $node -values] h path
    fill_scope $t $node $h $path
}

proc ::vexa::viewer::fill_list {} {
    variable files
    variable search
    if {![winfo exists .side.list]} {
        return
    }
    set l .side.list
    $l delete [$l children {}]
    # A text with * or ? is a pattern as on the command line (brackets literal); any other text
    # is looked for literally, anywhere.
    set glob [expr {[regexp {[*?]} $search] ? [::vexa::cli::pattern_glob $search]
                    : "*[literal $search]*"}]
    foreach h [dict keys $files] {
        foreach path [vexa::sortnames [vexa::design find $h -- $glob]] {
            $l insert {} end -text $path -values [list $h $path]
        }
    }
}

# TEXT as a glob matching only itself.
proc ::vexa::viewer::literal {text} {
    string map {\\ \\\\ * \\* ? \\? [ \\[ ] \\]} $text
}

# The {handle path} of the signal under the focus of a tree or list (a leaf only).
proc ::vexa::viewer::chosen {widget} {
    set item [$widget focus]
    if {$item eq {}} {
        return {}
    }
    lassign [$widget item $item -values] h path
    if {$path eq {} || [lsearch -exact [vexa::design find $h] $path] < 0} {
        return {}
    }
    return [list $h $path]
}

proc ::vexa::viewer::add_chosen {widget} {
    set choice [chosen $widget]
    if {$choice ne {}} {
        add_signal {*}$choice
    }
}

# --- Save and restore -------------------------------------------------------------------------

# The view as a Tcl script of vexa::viewer commands.
proc ::vexa::viewer::view_script {} {
    variable files
    variable rows
    variable view
    variable cursor
    variable marker
    variable radix
    set lines [list "# vexa view: the open files, the signals shown and the zoom"]
    set names [dict create]
    set n 0
    foreach {h info} $files {
        dict set names $h [incr n]
        lappend lines [list view_open $n [lindex $info 0]]
    }
    foreach row $rows {
        lappend lines [list view_add [dict get $names [dict get $row handle]] [dict get $row path]]
    }
    lappend lines [list view_window [time_text [dict get $view from]] [time_text [dict get $view to]]]
    lappend lines [list view_marks $cursor $marker $radix]
    return [join $lines \n]\n
}

proc ::vexa::viewer::save_view {file} {
    set f [open $file w]
    puts -nonewline $f [view_script]
    close $f
}

# Runs a saved view in a safe interpreter that knows only the four view commands.
proc ::vexa::viewer::restore_view {file} {
    variable files
    variable rows
    foreach h [dict keys $files] {
        catch {vexa::design close $h}
    }
    set files [dict create]
    set rows {}
    set f [open $file]
    set script [read $f]
    close $f
    set safe [interp create -safe]
    variable restoring [dict create]
    foreach command {view_open view_add view_window view_marks} {
        $safe alias $command ::vexa::viewer::$command
    }
    set status [catch {$safe eval $script} message]
    interp delete $safe
    fill_tree
    fill_list
    redraw
    if {$status} {
        error_box "couldn't restore the view from \"$file\": $message"
    }
}

proc ::vexa::viewer::view_open {n path} {
    variable restoring
    dict set restoring $n [open_file $path]
}

proc ::vexa::viewer::view_add {n path} {
    variable restoring
    if {[dict exists $restoring $n] && [dict get $restoring $n] ne {}} {
        add_signal [dict get $restoring $n] $path
    }
}

# FROM and TO are times with a unit, as saved; the window is kept inside the signals' span.
proc ::vexa::viewer::view_window {from to} {
    variable view
    set_window {*}[draw::clamp [vexa::format parse $from] [vexa::format parse $to] \
                       [dict get $view first] [dict get $view last]]
}

proc ::vexa::viewer::view_marks {cursor marker radix} {
    foreach time [list $cursor $marker] {
        if {$time ne {}} {
            vexa::format parse $time
        }
    }
    if {$radix ni {bin hex dec signed}} {
        error "bad radix \"$radix\""
    }
    set ::vexa::viewer::cursor $cursor
    set ::vexa::viewer::marker $marker
    set_radix $radix
}

# --- Window -----------------------------------------------------------------------------------

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
    .menu.file add separator
    .menu.file add command -label Quit -accelerator Ctrl+Q -command {destroy .}
    menu .menu.view -tearoff 0
    .menu add cascade -label View -underline 0 -menu .menu.view
    foreach {label key command} {
        "Zoom in" + {zoom_by 0.5} "Zoom out" - {zoom_by 2.0} "Zoom to fit" F zoom_fit
        "Pan left" Left {pan_by -0.25} "Pan right" Right {pan_by 0.25}
        "Next change" N {step_change next} "Previous change" P {step_change previous}
        "Marker at cursor" M marker_at_cursor "Remove signal" Delete remove_selected
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
    .pane add .side -weight 0
    .pane add .main -weight 1
    pack .pane -fill both -expand 1
    bind_keys
}

proc ::vexa::viewer::bind_keys {} {
    set w .main.wave
    bind .side.search <KeyRelease> ::vexa::viewer::fill_list
    bind .side.tree <<TreeviewOpen>> {::vexa::viewer::open_scope %W}
    bind .side.search <Return> {focus .side.list; .side.list focus [lindex [.side.list children {}] 0]
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
    bind .main.names <Double-Button-1> {::vexa::viewer::remove_row [::vexa::viewer::row_at %y]}
    bind .main.names <Motion> {::vexa::viewer::show_tip %x %y}
    bind .main.names <Leave> ::vexa::viewer::hide_tip
    foreach {keys command} {
        {plus equal KP_Add} {zoom_by 0.5} {minus KP_Subtract} {zoom_by 2.0} {f F} zoom_fit
        Left {pan_by -0.25} Right {pan_by 0.25} n {step_change next} {N p} {step_change previous}
        m marker_at_cursor Delete remove_selected Up {select_row [expr {$::vexa::viewer::selected - 1}]}
        Down {select_row [expr {$::vexa::viewer::selected + 1}]} r next_radix
    } {
        foreach key $keys {
            bind $w <Key-$key> "::vexa::viewer::$command"
        }
    }
    foreach {key command} {o ask_open r reload s ask_save l ask_restore q {destroy .}} {
        # Ctrl+R is not the pane's r: pass it on to the window's binding.
        bind $w <Control-Key-$key> continue
        bind . <Control-Key-$key> [expr {$command eq {destroy .} ? $command : "::vexa::viewer::$command"}]
    }
    bind $w <Control-Key-f> continue
    bind . <Control-Key-f> {focus .side.search; .side.search selection range 0 end}
}

proc ::vexa::viewer::scroll_rows {args} {
    foreach pane {names values wave} {
        .main.$pane yview {*}$args
    }
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
        add_signal {*}$choice [expr {$index < 0 ? "end" : $index}]
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
proc ::vexa::viewer::start {} {
    set saved $::argv
    set ::argv {}
    set status [catch {package require Tk} message]
    set ::argv $saved
    if {$status} {
        return -code error "the viewer needs Tk (Debian package tk8.6) and a display: $message"
    }
    install_message_command
    interp bgerror {} ::vexa::viewer::background_error
    build_window
}

# vexa view FILE...: opens the files in a window; returns when it is closed.
proc ::vexa::viewer::main {paths} {
    start
    foreach path $paths {
        open_file $path
    }
    tkwait window .
    return 0
}
