# run_tcltest.tcl: runs one tcltest script in the vexa shell and exits non-zero when any test
# failed or none ran, so that CTest sees failures.
package require tcltest 2.5
namespace import ::tcltest::*

if {[llength $argv] != 1} {
    puts stderr "usage: vexa run_tcltest.tcl FILE.test"
    exit 2
}
set testFile [file normalize [lindex $argv 0]]
set argv {}
::tcltest::configure -verbose {error} -testdir [file dirname $testFile]
source [file join [file dirname [info script]] testutil.tcl]

# Test files are UTF-8 whatever the system's encoding (Windows: a code page).
if {[catch {source -encoding utf-8 $testFile} message]} {
    puts stderr "error while running $testFile: $message\n$::errorInfo"
    exit 1
}
set total $::tcltest::numTests(Total)
set failed $::tcltest::numTests(Failed)
# With Tk loaded, cleanupTests exits with status 0 unless the run counts as interactive, which
# would hide the viewer tests' failures.
testConstraint interactive 1
::tcltest::cleanupTests
cleanup_test_files
if {$total == 0} {
    puts stderr "$testFile ran no test"
    exit 1
}
exit [expr {$failed > 0 ? 1 : 0}]
