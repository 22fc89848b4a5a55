// kinds.cpp: the rendering of values as reals or as logic texts of the characters 0 1 X Z U.
#include "load/kinds.h"

#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "base/portability.h"
#include "context/context.h"

namespace {

// One value's text is built here; a value too wide for it gets a heap text of its own size.
const size_t kScratchSize = 2097152;
char scratch[kScratchSize];

// File type 0: one character per value byte. Null when the text cannot be allocated.
char* BitsText(const ReaderContext* context, const unsigned char* value, uint32_t bits)
{
    if ((uint64_t)bits >= (uint64_t)SIZE_MAX) {
        return NULL;
    }
    int wide = (size_t)bits >= kScratchSize;
    char* text = wide ? (char*)malloc((size_t)bits + 1) : scratch;
    if (text == NULL) {
        return NULL;
    }
    WriteLogicText(context, value, bits, text);
    text[bits] = '\0';
    return wide ? text : _strdup(scratch);
}

}  // namespace

double ReadRealSample(ffrVCTraverser* traverser, const unsigned char* value)
{
    return ReadRealValue(traverser->ValueDataType(), value);
}

uint32_t LogicTextLength(const ReaderContext* context, ffrVCTraverser* traverser)
{
    return context->fileType == 0 ? traverser->ValueBitSize() : 1;
}

void WriteLogicText(const ReaderContext* context, const unsigned char* value, uint32_t length,
                    char* text)
{
    if (context->fileType != 0) {
        if (length > 0) {
            text[0] = LogicCharacter(1, value[0]);
        }
        return;
    }
    uint32_t i = 0;
#if defined(__SSE2__)
    // Sixteen bytes at once while they are all 0 or 1.
    const __m128i one = _mm_set1_epi8(1);
    const __m128i zero = _mm_setzero_si128();
    for (; i + 16 <= length; i += 16) {
        __m128i bytes = _mm_loadu_si128((const __m128i*)(value + i));
        __m128i high = _mm_andnot_si128(one, bytes);
        if (_mm_movemask_epi8(_mm_cmpeq_epi8(high, zero)) != 0xFFFF) {
            break;
        }
        _mm_storeu_si128((__m128i*)(text + i), _mm_add_epi8(bytes, _mm_set1_epi8('0')));
    }
#endif
    // Eight bytes at once while they are all 0 or 1.
    for (; i + 8 <= length && WriteEightBitText(value + i, text + i); i += 8) {
    }
    for (; i < length; i++) {
        text[i] = LogicCharacter(0, value[i]);
    }
}

const char* OneCharacterText(const ReaderContext* context, const unsigned char* value)
{
    if (value == NULL) {
        return "";
    }
    switch (LogicCharacter(context->fileType, value[0])) {
    case '0': return "0";
    case '1': return "1";
    case 'X': return "X";
    case 'Z': return "Z";
    default: return "U";
    }
}

void LogicValueText(const ReaderContext* context, const unsigned char* value,
                    ffrVCTraverser* traverser, char** text)
{
    if (value == NULL) {
        *text = _strdup("");
        return;
    }
    if (context->fileType == 0) {
        *text = BitsText(context, value, traverser->ValueBitSize());
        return;
    }
    WriteLogicText(context, value, 1, scratch);
    scratch[1] = '\0';
    *text = _strdup(scratch);
}
