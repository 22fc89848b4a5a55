# cache.tcl: the import cache that the command line and the viewer share: the FSDB file to open
# for a waveform file, a VCD imported by fsdbgen into a cache folder and made again only when the
# VCD changed, and the links that let the format follow a split VCD's chain.

package require vexa
namespace eval ::vexa::cache {}

# Errors of the cache carry the error code {VEXA IMPORT}.
proc ::vexa::cache::fail {message} {
    return -code error -errorcode {VEXA IMPORT} $message
}

proc ::vexa::cache::cache_dir {} {
    global env
    if {[info exists env(XDG_CACHE_HOME)] && $env(XDG_CACHE_HOME) ne {}} {
        return [file join $env(XDG_CACHE_HOME) vexa]
    }
    return [file join $env(HOME) .cache vexa]
}

proc ::vexa::cache::fsdbgen {} {
    global env
    if {[info exists env(FSDBGEN)] && $env(FSDBGEN) ne {}} {
        return $env(FSDBGEN)
    }
    set beside [file join [file dirname [info nameofexecutable]] fsdbgen]
    if {[file executable $beside]} {
        return $beside
    }
    set found [auto_execok fsdbgen]
    if {$found eq {}} {
        fail "cannot import a VCD or FST file: the fsdbgen tool was not found (set FSDBGEN)"
    }
    return [lindex $found 0]
}

# The FSDB file to open for PATH: PATH itself, or for a VCD or FST its import in the cache,
# made again when the dump's path, size or modification time differ from the cached import's.
proc ::vexa::cache::fsdb_for {path} {
    if {![regexp -nocase {\.(vcd(\.gz)?|fst)$} $path]} {
        return $path
    }
    if {![file isfile $path]} {
        fail "couldn't open \"$path\": no such file"
    }
    set full [file normalize $path]
    # Nanosecond times and the inode tell apart a VCD rewritten within one second at one size.
    set key [list $full {*}[vexa::filestate $full]]
    # One folder per VCD path, holding the import under the VCD's own name so that its
    # design name is the VCD's, and the key it was made from.
    set dir [file join [cache_dir] [format %08x [zlib crc32 $full]]]
    set name [file tail $full]
    regsub -nocase {\.(vcd(\.gz)?|fst)$} $name {} name
    set base [file join $dir $name]
    set cached $base.fsdb
    if {[file exists $cached] && [file exists $dir/key]} {
        set f [open $dir/key]
        set stored [read $f]
        close $f
        # Left-over work files mean an entry made without its companion: made again.
        if {$stored eq $key && [leftovers $dir] eq {}} {
            return $cached
        }
    }
    if {[catch {file mkdir $dir} message]} {
        fail "couldn't make the cache folder \"$dir\": $message"
    }
    import_vcd $full $path $base $key
    return $cached
}

# Imports the VCD FULL into BASE.fsdb and, when it has reals or events, its companion; KEY goes
# to the folder's file "key". Both files are written into a work folder under their final names
# (so the companion rule holds), then moved in with the key removed and written last: the key
# makes the entry valid, so a failed or interrupted import leaves the previous entry or none,
# never a main file with another import's companion. A companion that the new import does not
# have is removed, and so are work files that an interrupted import left behind.
proc ::vexa::cache::import_vcd {full shown base key} {
    set dir [file dirname $base]
    remove_leftovers $dir
    set work [file join $dir [pid].tmp]
    set main [file join $work [file tail $base].fsdb]
    set companion [vexa::design companion $main]
    set tool [fsdbgen]
    if {[catch {
        file delete -force $work
        file mkdir $work
        exec $tool [expr {[regexp -nocase {\.fst$} $full] ? "--fst" : "--vcd"}] $full $main 2>@1
    } message]} {
        file delete -force $work
        regsub {\n?child process exited abnormally$} $message {} message
        fail "couldn't import \"$shown\": [string trim $message]"
    }
    # What the import skipped (string variables, say) is said once, when it is made.
    foreach line [split $message \n] {
        if {[string match "fsdbgen: $full: warning: *" $line]} {
            puts stderr "vexa: $shown: [string range $line [string length "fsdbgen: $full: "] end]"
        }
    }
    if {[catch {
        file delete $dir/key
        set final [vexa::design companion $base.fsdb]
        if {[file exists $companion]} {
            file rename -force $companion $final
        } else {
            file delete $final
        }
        file rename -force $main $base.fsdb
        set f [open $dir/key.[pid].tmp w]
        puts -nonewline $f $key
        close $f
        file rename -force $dir/key.[pid].tmp $dir/key
    } message]} {
        file delete -force $work $dir/key.[pid].tmp
        fail "couldn't store the import of \"$shown\" in \"$dir\": $message"
    }
    file delete -force $work
}

# The work files in the cache folder DIR (PID.tmp, key.PID.tmp, and NAME.PID.tmp and
# NAME.PID.analog.tmp of earlier versions, which left an import's companion there) of imports
# whose process is gone; without /proc, all of them.
proc ::vexa::cache::leftovers {dir} {
    lmap leftover [glob -nocomplain -directory $dir *.tmp] {
        if {[regexp {(?:^|\.)([0-9]+)(?:\.analog)?\.tmp$} [file tail $leftover] -> owner] &&
            $owner != [pid] && [file isdirectory /proc/$owner]} {
            continue
        }
        set leftover
    }
}

proc ::vexa::cache::remove_leftovers {dir} {
    foreach leftover [leftovers $dir] {
        file delete -force $leftover
    }
}

# With --split, the split files of the VCD PATH (run_1.vcd, run_2.vcd, ...; .vcd.gz alike) are
# imported each into its own cache entry, and linked beside FSDB, PATH's import, under the names
# by which the format follows a chain from it and from its companion: run_1.fsdb and
# run.analog_1.fsdb. The links of an earlier open are replaced, since the chain may have changed.
proc ::vexa::cache::link_vcd_chain {path fsdb} {
    global Scope
    if {![info exists Scope(fsdb,cat_split)] || !$Scope(fsdb,cat_split) ||
        ![regexp -nocase {^(.*)(\.vcd(?:\.gz)?)$} $path -> stem extension]} {
        return
    }
    set base [file rootname $fsdb]
    set name [file tail $base]
    foreach old [glob -nocomplain -directory [file dirname $fsdb] -tails *.fsdb] {
        foreach prefix [list ${name}_ $name.analog_] {
            set number [string range $old [string length $prefix] end-5]
            if {[string first $prefix $old] == 0 && [string is digit -strict $number]} {
                file delete [file join [file dirname $fsdb] $old]
            }
        }
    }
    for {set n 1} {[file isfile ${stem}_$n$extension]} {incr n} {
        set part [fsdb_for ${stem}_$n$extension]
        foreach from [list $part [vexa::design companion $part]] \
                to [list ${base}_$n.fsdb [vexa::design companion ${base}_$n.fsdb]] {
            if {[file isfile $from] && [catch {file link -hard $to $from}]} {
                file copy -force $from $to
            }
        }
    }
}

# Every script of the package is at the version of the package's library.
package provide vexa::cache [package present vexa]
