// timescale.h: the file's time unit as seconds per tick, and time tags in seconds.
#ifndef QUORVEL_TIMESCALE_H
#define QUORVEL_TIMESCALE_H

#include "nffr.h"

struct ReaderContext;

// Sets context->timeScale from a unit text such as "1ns"; a zero or missing number leaves it.
void ParseTimeUnit(const char* text, ReaderContext* context);
// The tag's unsigned 64-bit value times scale.
double TagToTime(double scale, const TimeTag* tag);

#endif
