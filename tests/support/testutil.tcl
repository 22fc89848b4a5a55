# testutil.tcl: helpers shared by the tcltest scripts: FSDB files written by fsdbgen into
# temporary folders that are removed when the script ends.
namespace eval ::testutil {
    variable dirs {}
    variable counter 0
}

# A fresh folder below $QUORVEL_TEST_TMP (or the system's temporary folder).
proc make_temp_dir {} {
    variable ::testutil::counter
    set base [expr {[info exists ::env(QUORVEL_TEST_TMP)] ? $::env(QUORVEL_TEST_TMP) : "/tmp"}]
    file mkdir $base
    while 1 {
        set dir [file join $base "tcl-[pid]-[incr ::testutil::counter]"]
        if {![file exists $dir]} break
    }
    file mkdir $dir
    lappend ::testutil::dirs $dir
    return $dir
}

# Writes DESCRIPTION (fsdbgen's text format) as NAME in DIR (a new temporary folder when
# empty) and returns the path of the FSDB file.
proc make_fsdb {name description {dir {}}} {
    if {$dir eq {}} {
        set dir [make_temp_dir]
    }
    set out [file join $dir $name]
    set desc [file join $dir "$name.desc"]
    set f [open $desc w]
    puts -nonewline $f $description
    close $f
    exec $::env(FSDBGEN) $desc $out
    return $out
}

proc cleanup_test_files {} {
    foreach dir $::testutil::dirs {
        catch {file delete -force $dir}
    }
    set ::testutil::dirs {}
}

# Windows file names cannot hold a colon (it would name a stream of the file): tests whose
# paths spell "::" run only where file names can.
::tcltest::testConstraint colonInFileNames [expr {$::tcl_platform(platform) ne "windows"}]
