// kinds.cpp: the rendering of values as reals or as logic texts of the characters 0 1 X Z U.
#include "load/kinds.h"

#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include "context/context.h"
#include "plugin/portability.h"

namespace {

// One value's text is built here; a value too wide for it gets a heap text of its own size.
const size_t kScratchSize = 2097152;
char scratch[kScratchSize];

char BitCharacter(unsigned char byte)
{
    switch (byte) {
    case 0: return '0';
    case 1: return '1';
    case 2: return 'X';
    case 3: return 'Z';
    default: return 'U';
    }
}

char FirstByteCharacter(unsigned char byte)
{
    switch (byte) {
    case 0: return '0';
    case 1: return '1';
    case 3:
    case 4:
    case 5: return 'Z';
    default: return 'X';
    }
}

// File type 0: one character per value byte. Null when the text cannot be allocated.
char* BitsText(const unsigned char* value, uint32_t bits)
{
    if ((uint64_t)bits >= (uint64_t)SIZE_MAX) {
        return NULL;
    }
    int wide = (size_t)bits >= kScratchSize;
    char* text = wide ? (char*)malloc((size_t)bits + 1) : scratch;
    if (text == NULL) {
        return NULL;
    }
    for (uint32_t i = 0; i < bits; i++) {
        text[i] = BitCharacter(value[i]);
    }
    text[bits] = '\0';
    return wide ? text : _strdup(scratch);
}

}  // namespace

double ReadRealSample(ffrVCTraverser* traverser, const unsigned char* value)
{
    if (traverser->ValueDataType() == 3) {
        double sample;
        memcpy(&sample, value, sizeof(sample));
        return sample;
    }
    float sample;
    memcpy(&sample, value, sizeof(sample));
    return (double)sample;
}

void LogicValueText(const ReaderContext* context, const unsigned char* value,
                    ffrVCTraverser* traverser, char** text)
{
    if (value == NULL) {
        *text = _strdup("");
        return;
    }
    if (context->fileType == 0) {
        *text = BitsText(value, traverser->ValueBitSize());
        return;
    }
    scratch[0] = FirstByteCharacter(value[0]);
    scratch[1] = '\0';
    *text = _strdup(scratch);
}
