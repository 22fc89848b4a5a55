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
    set names [vexa::sortnames [vexa::design children $h $scope]]
    # A child that is no signal is a scope: asked per child of a few, since the signals below a
    # scope may be many; for many children, by one search of the paths below.
    set many [expr {[llength $names] > 64}]
    if {$many} {
        set leaves [dict create]
        foreach path [vexa::design find $h -- [expr {$scope eq {} ? "*" : "[literal $scope]/*"}]] {
            dict set leaves $path 1
        }
    }
    foreach name $names {
        set path [expr {$scope eq {} ? $name : "$scope/$name"}]
        set child [$t insert $node end -text $name -values [list $h $path]]
        if {$many ? ![dict exists $leaves $path] : [vexa::design locate $h $path] eq {}} {
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

namespace eval ::vexa::viewer {
    # Each open design's signal paths in name order, read once; the list shows the first
    # listLimit matches of the search and then how many more there are.
    variable pathsOf [dict create]
    variable listLimit 500
    variable listPending {}
    # Per design: {text matches} of the last search.
    variable lastMatches [dict create]
}

proc ::vexa::viewer::all_names {h} {
    variable pathsOf
    if {![dict exists $pathsOf $h]} {
        dict set pathsOf $h [vexa::sortnames [vexa::design find $h]]
    }
    dict get $pathsOf $h
}

# Drops what was read of the design H, which is closed.
proc ::vexa::viewer::forget_paths {h} {
    variable pathsOf
    variable lastMatches
    dict unset pathsOf $h
    dict unset lastMatches $h
}

proc ::vexa::viewer::fill_list {} {
    variable files
    variable search
    variable listLimit
    variable listPending
    after cancel $listPending
    set listPending {}
    if {![winfo exists .side.list]} {
        return
    }
    set l .side.list
    bind $l <Expose> {}
    $l delete [$l children {}]
    # A text with * or ? is a pattern as on the command line (brackets literal); any other text
    # is looked for literally, anywhere.
    set glob [expr {[regexp {[*?]} $search] ? [vexa::design pattern $search]
                    : "*[literal $search]*"}]
    set room $listLimit
    set more 0
    foreach h [dict keys $files] {
        set found [matches $h $glob $search]
        foreach path [lrange $found 0 [expr {$room - 1}]] {
            $l insert {} end -text $path -values [list $h $path]
        }
        incr more [expr {max(0, [llength $found] - $room)}]
        set room [expr {max(0, $room - [llength $found])}]
    }
    if {$more > 0} {
        $l insert {} end -text "\u2026 $more more: narrow the search" -values {{} {}}
    }
}

# The paths of H matching GLOB, made from the search TEXT. A text with no * or ? typed on from
# the last one is looked for among the last one's matches only.
proc ::vexa::viewer::matches {h glob text} {
    variable lastMatches
    if {$glob eq "*"} {
        return [all_names $h]
    }
    set within [all_names $h]
    if {[dict exists $lastMatches $h] && ![regexp {[*?]} $text]} {
        lassign [dict get $lastMatches $h] before found
        if {$before ne {} && ![regexp {[*?]} $before] && [string first $before $text] >= 0} {
            set within $found
        }
    }
    set found [lsearch -all -inline -glob $within $glob]
    dict set lastMatches $h [list $text $found]
    return $found
}

# The list filled once the keys typed so far are handled.
proc ::vexa::viewer::search_changed {} {
    variable listPending
    if {$listPending eq {}} {
        set listPending [after idle ::vexa::viewer::fill_list]
    }
}

# The list filled for a file just opened: once the window shows, when it does not yet, so that
# reading and sorting a large design's paths does not hold up the window's first paint (the
# paint runs when idle after the list's first Expose; the fill follows it as a timer).
proc ::vexa::viewer::list_soon {} {
    variable listPending
    if {![winfo exists .side.list] || [winfo viewable .side.list]} {
        search_changed
    } elseif {$listPending eq {}} {
        set listPending exposed
        bind .side.list <Expose> {
            bind .side.list <Expose> {}
            set ::vexa::viewer::listPending \
                [after idle {set ::vexa::viewer::listPending [after 0 ::vexa::viewer::fill_list]}]
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
    if {$path eq {} || [lsearch -exact [all_names $h] $path] < 0} {
        return {}
    }
    return [list $h $path]
}

proc ::vexa::viewer::add_chosen {widget} {
    set choice [chosen $widget]
    if {$choice ne {}} {
        add_signal {*}$choice end 1
    }
}
