// kinds.h: the rendering of signal values as reals or logic texts; the classification of
// signals (context/var_types.h) comes with it.
#ifndef QUORVEL_KINDS_H
#define QUORVEL_KINDS_H

#include <stdint.h>
#include <string.h>

#include "context/var_types.h"
#include "nffr.h"

struct ReaderContext;

double ReadRealSample(ffrVCTraverser* traverser, const unsigned char* value);
// The same for a traverser whose ValueDataType is already known (it never changes for one
// traverser, so loaders ask it once). Inline: the loaders read one per sample.
inline double ReadRealValue(int dataType, const unsigned char* value)
{
    if (dataType == 3) {
        double sample;
        memcpy(&sample, value, sizeof(sample));
        return sample;
    }
    float sample;
    memcpy(&sample, value, sizeof(sample));
    return (double)sample;
}
// Stores a new heap text of the characters 0 1 X Z U, or null when it cannot be allocated.
void LogicValueText(const ReaderContext* context, const unsigned char* value,
                    ffrVCTraverser* traverser, char** text);
// The length of every value text of the traverser's signal: its bit size for file type 0, else 1.
uint32_t LogicTextLength(const ReaderContext* context, ffrVCTraverser* traverser);
// The character of one value byte: for file type 0 the byte of one bit, else the first byte
// of the value, of which bytes 3, 4 and 5 are all high impedance and every other one unknown.
inline char LogicCharacter(int fileType, unsigned char byte)
{
    if (fileType == 0) {
        return byte < 4 ? "01XZ"[byte] : 'U';
    }
    return byte < 6 ? "01XZZZ"[byte] : 'X';
}
// The text of eight value bytes of file type 0 when all are 0 or 1, the usual case: '0' plus
// each byte, written without a terminator. 0 (nothing written) for any other value.
inline int WriteEightBitText(const unsigned char* value, char* text)
{
    const uint64_t ones = UINT64_C(0x0101010101010101);
    uint64_t bytes;
    memcpy(&bytes, value, sizeof bytes);
    if ((bytes & ~ones) != 0) {
        return 0;
    }
    bytes += ones * '0';
    memcpy(text, &bytes, sizeof bytes);
    return 1;
}
// Writes the first length characters of the value's text, as LogicValueText renders it, without
// a terminator; length is LogicTextLength of the value's traverser.
void WriteLogicText(const ReaderContext* context, const unsigned char* value, uint32_t length,
                    char* text);
// The text of a value whose text has one character (LogicTextLength 1), or "" for a missing
// value: a constant text, which the caller must not free.
const char* OneCharacterText(const ReaderContext* context, const unsigned char* value);

#endif
