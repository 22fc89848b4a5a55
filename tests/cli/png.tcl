# png.tcl: reads the pixels of a PNG file (8-bit RGB or RGBA, not interlaced), for tests that
# look at what a browser drew.

namespace eval ::png {}

# Returns {width height channels rows}: rows is a list of byte strings, one per scan line.
proc ::png::read {path} {
    set f [open $path rb]
    set data [::read $f]
    close $f
    if {[string range $data 0 7] ne "\x89PNG\r\n\x1a\n"} {
        error "$path is not a PNG file"
    }
    set at 8
    set idat {}
    while {$at < [string length $data]} {
        binary scan $data @${at}Iua4 length type
        set body [string range $data [expr {$at + 8}] [expr {$at + 7 + $length}]]
        switch -- $type {
            IHDR { binary scan $body IuIucucucucucu width height depth colour - - interlace }
            IDAT { append idat $body }
        }
        incr at [expr {12 + $length}]
    }
    if {$depth != 8 || $colour ni {2 6} || $interlace != 0} {
        error "$path: only 8-bit RGB or RGBA PNG files are read here"
    }
    set channels [expr {$colour == 6 ? 4 : 3}]
    set raw [zlib decompress $idat]
    set stride [expr {$width * $channels}]
    set rows {}
    set previous [string repeat \0 $stride]
    for {set y 0} {$y < $height} {incr y} {
        set start [expr {$y * ($stride + 1)}]
        binary scan $raw @${start}cu filter
        binary scan [string range $raw [expr {$start + 1}] [expr {$start + $stride}]] cu* line
        binary scan $previous cu* above
        set row [unfilter $filter $line $above $channels]
        set previous [binary format c* $row]
        lappend rows $previous
    }
    return [list $width $height $channels $rows]
}

proc ::png::unfilter {filter line above channels} {
    if {$filter == 0} {
        return $line
    }
    if {$filter == 2} {
        return [lmap a $line b $above {expr {($a + $b) & 255}}]
    }
    set out {}
    set i 0
    foreach byte $line up $above {
        set left [expr {$i >= $channels ? [lindex $out end-[expr {$channels - 1}]] : 0}]
        set corner [expr {$i >= $channels ? [lindex $above [expr {$i - $channels}]] : 0}]
        switch -- $filter {
            1 { set v [expr {$byte + $left}] }
            3 { set v [expr {$byte + ($left + $up) / 2}] }
            4 {
                set p [expr {$left + $up - $corner}]
                set pa [expr {abs($p - $left)}]
                set pb [expr {abs($p - $up)}]
                set pc [expr {abs($p - $corner)}]
                set v [expr {$byte + ($pa <= $pb && $pa <= $pc ? $left : ($pb <= $pc ? $up : $corner))}]
            }
        }
        lappend out [expr {$v & 255}]
        incr i
    }
    return $out
}

# {r g b} of the pixel at x, y.
proc ::png::pixel {image x y} {
    lassign $image width height channels rows
    binary scan [lindex $rows $y] @[expr {$x * $channels}]cucucu r g b
    return [list $r $g $b]
}
