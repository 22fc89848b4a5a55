# demo.tcl: shows an FSDB file through the Quorvel plug-in in the vexa shell: the file's
# attributes, its hierarchy, and the samples of every waveform.
# Usage: vexa demo.tcl FILE.fsdb

if {[llength $argv] != 1} {
    puts stderr "usage: vexa demo.tcl FILE.fsdb"
    exit 2
}
set path [lindex $argv 0]
set maxSamples 12

# Digital signals named name[i] are shown as one bus per scope.
set Scope(fsdb,show_bus) 1

proc fileinfo {fh query} {
    if {[catch {vexa::fileinfo $fh $query} answer]} {
        return "(refused: $answer)"
    }
    return $answer
}

# Prints the scope at PARENT and, indented, everything below it.
proc print_tree {fh parent depth} {
    if {[catch {vexa::fileinfo $fh [list -childNodes -parentPath $parent]} children]} {
        return
    }
    foreach child $children {
        set childPath [expr {$parent eq "" ? $child : "$parent/$child"}]
        puts "[string repeat {  } $depth]$child"
        print_tree $fh $childPath [expr {$depth + 1}]
    }
}

# A time in seconds as a short text with a unit: 1.5e-08 -> 15ns.
proc format_time {seconds} {
    if {$seconds == 0} {
        return 0
    }
    foreach {unit scale} {s 1 ms 1e-3 us 1e-6 ns 1e-9 ps 1e-12 fs 1e-15} {
        if {abs($seconds) >= $scale * 0.9999999} {
            break
        }
    }
    return "[format %g [expr {$seconds / $scale}]]$unit"
}

proc print_wave {wavePath id} {
    global maxSamples
    if {[catch {vexa::wave $id kind} kind]} {
        puts "  $wavePath: $kind"
        return
    }
    set yunit [vexa::wave $id yunit]
    puts [format "  %-22s kind %-2s width %-2s %s samples, y unit %s" \
              $wavePath $kind [vexa::wave $id width] [vexa::wave $id count] $yunit]
    set shown 0
    set line ""
    foreach {x y} [vexa::wave $id samples] {
        if {$shown == $maxSamples} {
            append line " ..."
            break
        }
        append line " [format_time $x]=$y"
        incr shown
    }
    puts "   $line"
}

if {[catch {vexa::open $path} fh]} {
    puts stderr "demo: $fh"
    exit 1
}
puts "Format:    [vexa::info FSDB -author]'s [fileinfo $fh -program] plug-in"
puts "File:      [fileinfo $fh -filenames]"
puts "Design:    [fileinfo $fh -design]"
puts "Created:   [fileinfo $fh -created]"
puts "Signals:   [fileinfo $fh -nwaveforms] of types[fileinfo $fh -wftypes]"

puts "\nHierarchy:"
set leaves [fileinfo $fh -waveforms]
set tops {}
foreach leaf $leaves {
    set top [lindex [split [string trimleft $leaf /] /] 0]
    if {$top ni $tops} {
        lappend tops $top
    }
}
foreach top $tops {
    puts $top
    print_tree $fh $top 1
}

puts "\nWaveforms (x axis [vexa::waveinfo $fh [lindex $leaves 0] -xname]\
      in [vexa::waveinfo $fh [lindex $leaves 0] -xunit]):"
foreach leaf $leaves {
    puts [format "  %-22s %s, unit %s" $leaf [vexa::waveinfo $fh $leaf -wftype] \
              [vexa::waveinfo $fh $leaf -yunit]]
}

puts "\nSamples:"
lassign [vexa::query loadwaves $fh $leaves] result ids
foreach leaf $leaves id $ids {
    if {$id eq "0"} {
        puts "  $leaf: not loaded"
        continue
    }
    print_wave $leaf $id
}
vexa::close $fh
exit [expr {$result == 0 ? 0 : 1}]
