// timescale.cpp: the file's time unit as seconds per tick, and time tags in seconds.
#include "context/timescale.h"

#include <math.h>
#include <stdlib.h>

#include "context/context.h"

void ParseTimeUnit(const char* text, ReaderContext* context)
{
    if (text == NULL) {
        return;
    }
    char* end = NULL;
    double number = strtod(text, &end);
    // Zero, and also a negative, infinite or NaN unit, would make every time wrong.
    if (!(number > 0.0) || !isfinite(number)) {
        return;
    }
    // Only the one character right after the number chooses the factor, case-sensitively.
    switch (*end) {
    case 'M': number *= 1e6; break;
    case 'k': number *= 1e3; break;
    case 'g': number *= 1e9; break;
    case 't': number *= 1e12; break;
    case 'm': number /= 1e3; break;
    case 'u': number /= 1e6; break;
    case 'n': number /= 1e9; break;
    case 'p': number /= 1e12; break;
    case 'f': number /= 1e15; break;
    case 'a': number /= 1e18; break;
    default: break;
    }
    if (isfinite(number) && number > 0.0) {
        context->timeScale = number;
    }
}

double TagToTime(double scale, const TimeTag* tag)
{
    if (tag->high == 0) {
        return (double)tag->low * scale;
    }
    uint64_t ticks = ((uint64_t)tag->high << 32) | tag->low;
    // long double holds every 64-bit count exactly, so the count is not rounded before the product.
    return (double)((long double)ticks * scale);
}
