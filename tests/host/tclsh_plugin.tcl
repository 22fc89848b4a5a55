# tclsh_plugin.tcl: a plain tclsh finds the vexa package, loads the plug-in and asks its author.
package require vexa
vexa::load $env(QUORVEL_PLUGIN)
set author [vexa::info FSDB -author]
if {$author ne "Quorvel"} {
    puts stderr "author: got \"$author\", want \"Quorvel\""
    exit 1
}
if {[info exists Scope(Application)]} {
    puts stderr "a plain tclsh must not have Scope(Application)"
    exit 1
}
puts "vexa package loaded the plug-in: author $author"
