// timescale.cpp: the file's time unit as seconds per tick, and time tags in seconds.
#include "context/timescale.h"

#include <math.h>
#include <stdint.h>
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

namespace {

// An unsigned 128-bit number as two 64-bit halves.
struct Wide {
    uint64_t high;
    uint64_t low;
};

// a * b exactly, from 32-bit pieces so that 32-bit targets need no 128-bit type.
Wide MultiplyWide(uint64_t a, uint64_t b)
{
    uint64_t a0 = a & 0xffffffffu, a1 = a >> 32;
    uint64_t b0 = b & 0xffffffffu, b1 = b >> 32;
    uint64_t p00 = a0 * b0, p01 = a0 * b1, p10 = a1 * b0, p11 = a1 * b1;
    uint64_t middle = (p00 >> 32) + (p01 & 0xffffffffu) + (p10 & 0xffffffffu);
    Wide product;
    product.low = (middle << 32) | (p00 & 0xffffffffu);
    product.high = p11 + (p01 >> 32) + (p10 >> 32) + (middle >> 32);
    return product;
}

int BitLength(Wide n)
{
    int bits = 0;
    for (uint64_t word = n.high != 0 ? n.high : n.low; word != 0; word >>= 1) {
        bits++;
    }
    return n.high != 0 ? bits + 64 : bits;
}

// Bit i of n (0 beyond the top).
int BitAt(Wide n, int i)
{
    if (i >= 128) {
        return 0;
    }
    return (int)((i >= 64 ? n.high >> (i - 64) : n.low >> i) & 1u);
}

// Whether any bit below position i is set.
int AnyBelow(Wide n, int i)
{
    if (i >= 128) {
        return n.high != 0 || n.low != 0;
    }
    if (i > 64) {
        return n.low != 0 || (n.high & ((UINT64_C(1) << (i - 64)) - 1)) != 0;
    }
    return i == 64 ? n.low != 0 : (n.low & ((UINT64_C(1) << i) - 1)) != 0;
}

// n >> shift rounded to nearest, ties to even; n has at most 117 bits and the result is below
// 2^54, so it fits 64 bits.
uint64_t ShiftRounded(Wide n, int shift)
{
    if (shift >= 128) {
        return 0;  // n is below 2^117, less than half of the last place
    }
    uint64_t kept;
    if (shift >= 64) {
        kept = n.high >> (shift - 64);
    } else if (shift == 0) {
        kept = n.low;
    } else {
        kept = (n.high << (64 - shift)) | (n.low >> shift);
    }
    int half = shift > 0 && BitAt(n, shift - 1);
    if (half && (AnyBelow(n, shift - 1) || (kept & 1u) != 0)) {
        kept++;
    }
    return kept;
}

// ticks * scale rounded once to the nearest double: the 64-bit count times the scale's 53-bit
// significand is formed exactly and rounded at the result's last place (subnormals included).
double ExactProduct(uint64_t ticks, double scale)
{
    if (ticks == 0 || scale == 0.0 || !isfinite(scale)) {
        return (double)ticks * scale;
    }
    int exponent = 0;
    double fraction = frexp(fabs(scale), &exponent);  // |scale| = fraction * 2^exponent
    uint64_t significand = (uint64_t)ldexp(fraction, 53);
    exponent -= 53;
    Wide product = MultiplyWide(ticks, significand);
    // Keep 53 significant bits, or fewer where the result falls below the normal range.
    int shift = BitLength(product) - 53;
    if (shift < -1074 - exponent) {
        shift = -1074 - exponent;
    }
    double magnitude = shift > 0 ? ldexp((double)ShiftRounded(product, shift), exponent + shift)
                                 : ldexp((double)product.low, exponent);
    return scale < 0 ? -magnitude : magnitude;
}

}  // namespace

double LargeTagToTime(double scale, uint64_t ticks)
{
    return ExactProduct(ticks, scale);
}
