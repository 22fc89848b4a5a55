# side.tcl: the side panel: the hierarchy tree, read as it is browsed, and the signal list
# filtered by the search text.

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
