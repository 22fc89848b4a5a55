# vcdref.tcl: a small VCD reader of the tests' own, written apart from fsdbgen, that says what the
# plug-in must show for every signal of an imported VCD: its kind and its samples.

namespace eval vcdref {}

# The whole text of a VCD file, gunzipped when it starts with the gzip magic bytes.
proc vcdref::slurp {path} {
    set f [open $path rb]
    set data [read $f]
    close $f
    if {[string range $data 0 1] eq "\x1f\x8b"} {
        set data [zlib gunzip $data]
    }
    return $data
}

# Text of one logic value as the plug-in shows it: U kept, L H W - as 0 1 X X, a 0b prefix
# (PyMTL3 writes Python's) dropped.
proc vcdref::logic {value width} {
    regsub {^0[bB](.)} $value {\1} value
    set v [string map {x X z Z u U l 0 L 0 h 1 H 1 w X W X - X} $value]
    set pad [string index $v 0]
    if {$pad eq "1"} {
        set pad 0
    }
    return [string repeat $pad [expr {$width - [string length $v]}]]$v
}

# Seconds per tick for a timescale such as "10ps".
proc vcdref::scale {unit} {
    regexp {^(\d+)(\w*)$} $unit -> n u
    set div [dict get {s 1 ms 1e3 us 1e6 ns 1e9 ps 1e12 fs 1e15} $u]
    expr {$u eq "s" ? double($n) : $n / $div}
}

# Reads the VCD at path and returns a dict:
#   unit    the timescale text, end the last time kept, stamp the $date words,
#   signals a dict from signal path to {kind width changes}, kind logic, real or event,
#           changes a flat list of tag and value.
# A file that does not end in a blank (a simulation killed mid-write) loses its last time step.
# Strings, variables of 0 bits and reals given a value that is not a number are left out; a
# scope without a name adds no level, and a name declared twice in one scope is one signal.
proc vcdref::parse {path} {
    set data [slurp $path]
    set words [regexp -all -inline {\S+} $data]
    if {[regexp {\S$} $data] && [lindex $words end] ne {$end}} {
        set cut [lsearch -all -regexp $words {^#}]
        set words [lrange $words 0 [expr {[lindex $cut end] - 1}]]
    }
    set unit 1s
    set stamp {}
    set scopes {}
    set codes {}
    set paths {}
    set time 0
    set restating 0
    set n [llength $words]
    for {set i 0} {$i < $n} {incr i} {
        set w [lindex $words $i]
        if {[string index $w 0] eq "\$"} {
            # an event's value in these sections restates its state: no trigger
            set restating [expr {$w in {$dumpvars $dumpon $dumpoff $dumpall}}]
            set body {}
            if {$w ni {$dumpvars $dumpon $dumpoff $dumpall $end}} {
                while {[incr i] < $n && [lindex $words $i] ne {$end}} {
                    lappend body [lindex $words $i]
                }
            }
            switch -- $w {
                $timescale { set unit [join $body ""] }
                $date { set stamp [join $body " "] }
                $scope { lappend scopes [lindex $body 1] }
                $upscope { set scopes [lrange $scopes 0 end-1] }
                $var {
                    lassign $body type size code ref
                    set name [join [concat [list $ref] [lrange $body 4 end]] ""]
                    set kind [expr {$type in {real realtime} ? "real" :
                                    $type eq "event" ? "event" :
                                    $type eq "string" || $size == 0 ? "none" : "logic"}]
                    set path [join [concat [lsearch -all -inline -not $scopes {}] [list $name]] /]
                    if {![dict exists $paths $code] || $path ni [dict get $paths $code]} {
                        dict lappend paths $code $path
                    }
                    if {![dict exists $codes $code]} {
                        dict set codes $code [list $kind $size {}]
                    }
                }
            }
            continue
        }
        switch -regexp -- $w {
            {^#} { regsub {^#(\d+)(\.0+)?$} $w {\1} time }
            {^[bBrRsS]} { set value [string range $w 1 end]; set code [lindex $words [incr i]] }
            default { set value [string index $w 0]; set code [string range $w 1 end] }
        }
        if {[string index $w 0] eq "#"} continue
        lassign [dict get $codes $code] kind size changes
        switch $kind {
            logic { lappend changes $time [logic $value $size] }
            real {
                if {[string is double -strict $value]} {
                    lappend changes $time [expr {double($value)}]
                } else {
                    set kind none
                }
            }
            event {
                if {$value eq "1" && !$restating} {
                    lappend changes $time 1.0
                }
            }
        }
        dict set codes $code [list $kind $size $changes]
    }
    set signals {}
    dict for {code names} $paths {
        foreach name $names {
            if {[lindex [dict get $codes $code] 0] ne "none"} {
                dict set signals $name [dict get $codes $code]
            }
        }
    }
    dict create unit $unit end $time stamp $stamp signals $signals
}

# What vexa::wave gives for one signal of a VCD read by vcdref::parse: {kind samples}, times in
# seconds, logic signals closed by a sample at the end time.
proc vcdref::expected {vcd name} {
    set scale [scale [dict get $vcd unit]]
    lassign [dict get $vcd signals $name] kind width changes
    set samples {}
    foreach {tag value} $changes {
        lappend samples [expr {double($tag) * $scale}] $value
    }
    set end [dict get $vcd end]
    if {$kind eq "logic" && [llength $changes] && [lindex $changes end-1] != $end} {
        lappend samples [expr {double($end) * $scale}] [lindex $changes end]
    }
    set code [dict get {logic 23 real 1 event 22} $kind]
    if {$kind eq "logic" && $width > 1} {
        set code 25
    }
    list $code $samples
}
