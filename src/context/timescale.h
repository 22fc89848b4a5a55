// timescale.h: the file's time unit as seconds per tick, and time tags in seconds.
#ifndef QUORVEL_TIMESCALE_H
#define QUORVEL_TIMESCALE_H

#include <stdint.h>

#include "nffr.h"

struct ReaderContext;

// Sets context->timeScale from a unit text such as "1ns"; a zero or missing number leaves it.
void ParseTimeUnit(const char* text, ReaderContext* context);
// ticks * scale rounded once, for counts of 2^53 and more, which a double cannot hold exactly.
double LargeTagToTime(double scale, uint64_t ticks);

// The tag's unsigned 64-bit value times scale. Inline, since the loaders call it per sample:
// below 2^53 the count converts to double exactly, so the one product is rounded only once.
inline double TagToTime(double scale, const TimeTag* tag)
{
    uint64_t ticks = ((uint64_t)tag->high << 32) | tag->low;
    if (ticks < (UINT64_C(1) << 53)) {
        return (double)ticks * scale;
    }
    return LargeTagToTime(scale, ticks);
}

#endif
