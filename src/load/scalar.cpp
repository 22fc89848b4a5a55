// scalar.cpp: the scalar loader, which turns one signal's value changes into the samples of a
// host waveform, and the growth of the sample arrays when the reader cannot tell the count.
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include "context/context.h"
#include "context/paths.h"
#include "context/reader_uses.h"
#include "context/timescale.h"
#include "load/kinds.h"
#include "load/loaders.h"
#include "load/text_arena.h"

// The x and y arrays of one load. The texts of the text slots live in the arena, or are
// constant texts when every text has one character.
struct SampleArrays {
    double* x;
    void* y;
    uint32_t capacity;
    uint32_t count;
    int growable;  // the reader reported a change count of 0
    int kind;
    int dataType;         // numeric kinds: the traverser's ValueDataType, asked once
    uint32_t textLength;  // text kinds: characters of every value text
    TextArena texts;
};

static bool IsTextKind(int kind)
{
    return kind == WFX_KIND_LOGIC || kind == WFX_KIND_LOGIC_VEC;
}

static uint32_t YElementSize(int kind)
{
    if (kind == WFX_KIND_FLOAT) {
        return sizeof(float);
    }
    return IsTextKind(kind) ? sizeof(char*) : sizeof(double);
}

// count elements of size bytes; null when the size does not fit the address space.
static void* AllocateSlots(uint32_t count, uint32_t size, bool zeroed)
{
    if (size == 0 || (size_t)count > SIZE_MAX / size) {
        return NULL;
    }
    size_t bytes = (size_t)count * size;
    if (bytes == 0) {
        bytes = 1;
    }
    return zeroed ? calloc(1, bytes) : malloc(bytes);
}

// Replaces *array by a zeroed block of newCount elements holding its first oldCount ones.
static int GrowOneArray(void** array, uint32_t oldCount, uint32_t newCount, uint32_t size)
{
    void* grown = AllocateSlots(newCount, size, 1);
    if (grown == NULL) {
        return 1;
    }
    uint32_t kept = oldCount < newCount ? oldCount : newCount;
    if (*array != NULL && kept > 0) {
        memcpy(grown, *array, (size_t)kept * size);
    }
    free(*array);
    *array = grown;
    return 0;
}

int GrowSampleArrays(double** x, void** y, uint32_t oldCount, uint32_t newCount, uint32_t xSize,
                     uint32_t ySize)
{
    void* xBlock = *x;
    if (GrowOneArray(&xBlock, oldCount, newCount, xSize) != 0) {
        return 1;
    }
    *x = (double*)xBlock;
    return GrowOneArray(y, oldCount, newCount, ySize);
}

static void FreeArrays(SampleArrays* arrays)
{
    FreeTextArena(&arrays->texts);
    free(arrays->x);
    free(arrays->y);
    arrays->x = NULL;
    arrays->y = NULL;
}

static int AllocateArrays(SampleArrays* arrays)
{
    arrays->x = (double*)AllocateSlots(arrays->capacity, sizeof(double), 0);
    if (arrays->x == NULL) {
        return 1;
    }
    arrays->y =
        AllocateSlots(arrays->capacity, YElementSize(arrays->kind), IsTextKind(arrays->kind));
    if (IsTextKind(arrays->kind)) {
        // Every text has the same length, so the first block can hold them all.
        size_t each = (size_t)arrays->textLength + 1;
        size_t all = each > SIZE_MAX / arrays->capacity ? SIZE_MAX : each * arrays->capacity;
        InitTextArena(&arrays->texts, all);
    }
    return arrays->y == NULL ? 1 : 0;
}

// Makes room for one more sample; 1 when the arrays are full and cannot grow (or no memory).
static int MakeRoom(SampleArrays* arrays, uint32_t step, int* noMemory)
{
    if (arrays->count < arrays->capacity) {
        return 0;
    }
    if (!arrays->growable || arrays->capacity > UINT32_MAX - step) {
        return 1;
    }
    if (GrowSampleArrays(&arrays->x, &arrays->y, arrays->capacity, arrays->capacity + step,
                         sizeof(double), YElementSize(arrays->kind)) != 0) {
        *noMemory = 1;
        return 1;
    }
    arrays->capacity += step;
    return 0;
}

// The value's text in the arena (empty for a missing value); null when memory runs out.
static char* StoreText(const ReaderContext* context, SampleArrays* arrays,
                       const unsigned char* value)
{
    uint32_t length = value == NULL ? 0 : arrays->textLength;
    if ((uint64_t)length >= (uint64_t)SIZE_MAX) {
        return NULL;  // text and terminator do not fit the address space
    }
    char* text = ArenaAllocate(&arrays->texts, (size_t)length + 1);
    if (text != NULL) {
        WriteLogicText(context, value, length, text);
        text[length] = '\0';
    }
    return text;
}

// The y value of sample i from the value bytes; 1 when memory runs out.
static int StoreValue(const ReaderContext* context, SampleArrays* arrays, uint32_t i,
                      const unsigned char* value)
{
    if (arrays->kind == WFX_KIND_FLOAT) {
        ((float*)arrays->y)[i] = (float)ReadRealValue(arrays->dataType, value);
    } else if (IsTextKind(arrays->kind) && arrays->textLength == 1) {
        ((const char**)arrays->y)[i] = OneCharacterText(context, value);
    } else if (IsTextKind(arrays->kind)) {
        char* text = StoreText(context, arrays, value);
        if (text == NULL) {
            return 1;
        }
        ((char**)arrays->y)[i] = text;
    } else {
        ((double*)arrays->y)[i] = ReadRealValue(arrays->dataType, value);
    }
    return 0;
}

// Stores the sample at tag with the value the traverser points at; 1 when memory runs out.
static int StoreSample(const ReaderContext* context, SampleArrays* arrays, const TimeTag* tag,
                       const unsigned char* value)
{
    uint32_t i = arrays->count;
    arrays->x[i] = TagToTime(context->timeScale, tag);
    if (StoreValue(context, arrays, i, value) != 0) {
        return 1;
    }
    arrays->count = i + 1;
    return 0;
}

// The arrays' fields that the loops below change, kept in locals while they run: the stores of
// samples could otherwise alias them, and the compiler would read them again per sample.
struct Slots {
    double* x;
    void* y;
    uint32_t count;
    uint32_t capacity;
};

static Slots SlotsOf(const SampleArrays* arrays)
{
    Slots slots = {arrays->x, arrays->y, arrays->count, arrays->capacity};
    return slots;
}

// Grows full arrays by doubling (at least 64 slots), which keeps an unknown count linear: 400k
// changes in steps of 64 copied the arrays over 6000 times. *failed is set when they cannot
// grow, *noMemory as well when memory ran out.
static Slots GrowSlots(SampleArrays* arrays, Slots slots, int* failed, int* noMemory)
{
    arrays->count = slots.count;
    uint32_t step = arrays->capacity < 64 ? 64 : arrays->capacity;
    *failed = MakeRoom(arrays, step, noMemory);
    return SlotsOf(arrays);
}

// Steps onto the next change, makes room for it and stores its time at x[count]; nonzero when
// there is no next change or no room (*noMemory set when growing failed). *value keeps the
// previous value when the reader gives none.
static inline int NextChange(ffrVCTraverser* traverser, SampleArrays* arrays, Slots* slots,
                             double scale, TimeTag* tag, unsigned char** value, int* noMemory)
{
    if (traverser->GotoNext() != 0) {
        return 1;
    }
    if (slots->count == slots->capacity) {
        int failed = 0;
        *slots = GrowSlots(arrays, *slots, &failed, noMemory);
        if (failed) {
            return 1;
        }
    }
    traverser->GetTag(tag);
    traverser->GetValue(value);
    slots->x[slots->count] = TagToTime(scale, tag);
    return 0;
}

// ReadFurtherChanges for texts of more than one character: each text is written straight into
// the arena's room, which holds them all when the change count is known. The room is kept in
// locals while the loop runs, since the text stores may alias the arena's fields.
static int ReadFurtherTexts(const ReaderContext* context, ffrVCTraverser* traverser,
                            SampleArrays* arrays, TimeTag* last, unsigned char* value)
{
    const double scale = context->timeScale;
    const uint32_t length = arrays->textLength;
    const uint64_t each = (uint64_t)length + 1;
    const int eightBits = context->fileType == 0 && length == 8;
    TextArena* arena = &arrays->texts;
    char* room = arena->next;
    size_t left = arena->left;
    TimeTag tag = *last;
    Slots slots = SlotsOf(arrays);
    int noMemory = 0;
    while (NextChange(traverser, arrays, &slots, scale, &tag, &value, &noMemory) == 0) {
        if (value == NULL || each > left) {
            arena->next = room;
            arena->left = left;
            arrays->count = slots.count;
            noMemory = StoreValue(context, arrays, slots.count, value);
            if (noMemory) {
                break;
            }
            room = arena->next;
            left = arena->left;
        } else {
            char* text = room;
            room += (size_t)each;
            left -= (size_t)each;
            if (!eightBits || !WriteEightBitText(value, text)) {
                WriteLogicText(context, value, length, text);
            }
            text[length] = '\0';
            ((char**)slots.y)[slots.count] = text;
        }
        slots.count++;
    }
    arena->next = room;
    arena->left = left;
    arrays->count = slots.count;
    *last = tag;
    return noMemory;
}

// Reads the changes after the first, one loop per kind of y value, so that nothing is decided
// per sample but the value itself. 1 when memory runs out.
static int ReadFurtherChanges(const ReaderContext* context, ffrVCTraverser* traverser,
                              SampleArrays* arrays, TimeTag* last, unsigned char* value)
{
    if (IsTextKind(arrays->kind) && arrays->textLength != 1) {
        return ReadFurtherTexts(context, traverser, arrays, last, value);
    }
    const double scale = context->timeScale;
    const int dataType = arrays->dataType;
    TimeTag tag = *last;
    Slots slots = SlotsOf(arrays);
    int noMemory = 0;
    if (arrays->kind == WFX_KIND_FLOAT) {
        while (NextChange(traverser, arrays, &slots, scale, &tag, &value, &noMemory) == 0) {
            ((float*)slots.y)[slots.count++] = (float)ReadRealValue(dataType, value);
        }
    } else if (!IsTextKind(arrays->kind)) {
        while (NextChange(traverser, arrays, &slots, scale, &tag, &value, &noMemory) == 0) {
            ((double*)slots.y)[slots.count++] = ReadRealValue(dataType, value);
        }
    } else {
        // The text of every byte value, looked up rather than decided per sample.
        const char* texts[256];
        for (int b = 0; b < 256; b++) {
            unsigned char byte = (unsigned char)b;
            texts[b] = OneCharacterText(context, &byte);
        }
        while (NextChange(traverser, arrays, &slots, scale, &tag, &value, &noMemory) == 0) {
            ((const char**)slots.y)[slots.count++] = value == NULL ? "" : texts[value[0]];
        }
    }
    arrays->count = slots.count;
    *last = tag;
    return noMemory;
}

// A text waveform ends with its last text repeated at the file's end, when there is room.
static int AddClosingSample(ReaderContext* context, SampleArrays* arrays, const TimeTag* last)
{
    if (!NeedsClosingSample(context, last)) {
        return 0;
    }
    int noMemory = 0;
    if (MakeRoom(arrays, 1, &noMemory) != 0) {
        return noMemory;
    }
    WriteClosingSample(context, arrays->x, (char**)arrays->y, arrays->count);
    arrays->count++;
    return 0;
}

bool NeedsClosingSample(const ReaderContext* context, const TimeTag* last)
{
    return last->high != context->endTag.high || last->low != context->endTag.low;
}

void WriteClosingSample(const ReaderContext* context, double* x, char** y, uint32_t i)
{
    x[i] = TagToTime(context->timeScale, &context->endTag);
    y[i] = y[i - 1];  // the host copies texts, so the slots may share one
}

// Reads every change of the traverser into arrays (allocated here; freed here on abort); none
// for a signal without changes.
static LoadOutcome ReadChanges(ReaderContext* context, ffrObject* reader, int idcode,
                               ffrVCTraverser* traverser, SampleArrays* arrays)
{
    if (!traverser->HasChanges()) {
        return LOAD_DONE;
    }
    TimeTag tag = {0, 0};
    TimeTag lastTag = {0, 0};
    int firstFailed = traverser->GetFirstTag(&tag);
    int lastFailed = traverser->GetLastTag(&lastTag);
    if (firstFailed != 0 || lastFailed != 0) {
        return LOAD_READ_FAILED;
    }
    unsigned char* value = NULL;
    if (traverser->GetValue(&value) != 0) {
        return LOAD_READ_FAILED;
    }
    int changeCount = reader->GetChangeCount(idcode);
    if (changeCount < 0) {
        return LOAD_ABANDONED;
    }
    arrays->capacity = (uint32_t)changeCount + 1;
    arrays->growable = changeCount == 0;
    if (AllocateArrays(arrays) != 0) {
        FreeArrays(arrays);
        return LOAD_ABANDONED;
    }
    int noMemory = StoreSample(context, arrays, &tag, value);
    if (!noMemory) {
        noMemory = ReadFurtherChanges(context, traverser, arrays, &tag, value);
    }
    if (!noMemory && IsTextKind(arrays->kind)) {
        noMemory = AddClosingSample(context, arrays, &tag);
    }
    if (noMemory) {
        // A partial load is not reported as success.
        FreeArrays(arrays);
        return LOAD_ABANDONED;
    }
    return LOAD_DONE;
}

// The kind and width given to the host, settled from the traverser, and what the loop needs
// to know of the values. The reader fixes bit size and data type for the traverser's life.
static int SettleKindAndWidth(const ReaderContext* context, ffrVCTraverser* traverser,
                              SampleArrays* arrays)
{
    if (arrays->kind == WFX_KIND_LOGIC) {
        uint32_t bits = traverser->ValueBitSize();
        if (bits > 1) {
            arrays->kind = WFX_KIND_LOGIC_VEC;
        }
        arrays->textLength = context->fileType == 0 ? bits : 1;
        return (int)bits;
    }
    arrays->dataType = traverser->ValueDataType();
    if (arrays->kind == WFX_KIND_DOUBLE && arrays->dataType == 2) {
        arrays->kind = WFX_KIND_FLOAT;
    }
    return 1;
}

// Hands the samples to the host and releases what the host does not keep; nothing to hand
// over when there are no samples.
static int HandOver(Tcl_Interp* interp, WfXWave* wave, SampleArrays* arrays, int appending)
{
    if (arrays->count == 0) {
        return 0;
    }
    int take = appending ? 0 : 1;
    int result = WfX_AddValuesSimp(interp, wave, arrays->x, arrays->y, arrays->count, take);
    if (IsTextKind(arrays->kind)) {
        FreeTextArena(&arrays->texts);
        free(arrays->y);
    } else if (appending) {
        free(arrays->y);
    }
    if (appending) {
        free(arrays->x);
    }
    return result;
}

// A traverser of idcode, which is put on the load list and loaded first when it is not there
// yet; null when the reader refused the signal: a refused signal is never traversed.
static ffrVCTraverser* ListedTraverser(ffrObject* reader, int idcode)
{
    if (!reader->IsInLoadList(idcode)) {
        reader->AddToLoadList(idcode, 0, 0);
        LoadListed(reader);
    }
    return ListedSignalsLoaded(reader, &idcode, 1) ? reader->CreateTraverser(idcode) : NULL;
}

int SettledShape(ReaderContext* context, int idcode, int* kind, int* width)
{
    ffrObject* reader = LiveReader(context);
    ffrVarInfo* info = NULL;
    if (reader == NULL || idcode == -1) {
        return 1;
    }
    reader->GetVarInfo(idcode, &info);
    if (info == NULL) {
        return 1;
    }
    char* yUnit = NULL;
    HostWaveKind(context, kind, &yUnit, info->varType);
    free(yUnit);
    ffrVCTraverser* traverser = ListedTraverser(reader, idcode);
    if (traverser == NULL) {
        return 1;
    }
    SampleArrays arrays;
    memset(&arrays, 0, sizeof arrays);
    arrays.kind = *kind;
    *width = SettleKindAndWidth(context, traverser, &arrays);
    *kind = arrays.kind;
    traverser->FreeTraverser();
    return 0;
}

int LoadScalarWave(int idcode, Tcl_Interp* interp, ReaderContext* context, const char* name,
                   WfXWave** wave)
{
    if (idcode == -1) {
        return 1;
    }
    ffrObject* reader = LiveReader(context);
    if (reader == NULL) {
        return 1;
    }
    if (FetchVarInfo(context, idcode) == NULL) {
        return 1;
    }
    int kind = 0;
    char* yUnit = NULL;
    HostWaveKind(context, &kind, &yUnit, context->varInfo->varType);
    ffrVCTraverser* traverser = ListedTraverser(reader, idcode);
    if (traverser == NULL) {
        free(yUnit);
        *wave = NULL;
        return 1;
    }
    SampleArrays arrays;
    memset(&arrays, 0, sizeof arrays);
    arrays.kind = kind;
    InitTextArena(&arrays.texts, 0);
    int width = SettleKindAndWidth(context, traverser, &arrays);
    // A handle handed in is appended to (a further file of a split chain); none asks for a new
    // waveform.
    int appending = *wave != NULL;
    WfXWave* target = appending ? *wave
                                : WfX_CreateXTyp(interp, arrays.kind, context->xName,
                                                 context->xUnit, "real", 0, name, yUnit, width, 0);
    int result = 1;
    if (target == NULL) {
        *wave = NULL;
    } else {
        LoadOutcome outcome = ReadChanges(context, reader, idcode, traverser, &arrays);
        result = outcome == LOAD_DONE ? HandOver(interp, target, &arrays, appending) : 1;
        if (outcome != LOAD_ABANDONED) {
            *wave = target;
        }
    }
    traverser->FreeTraverser();
    free(yUnit);
    return result;
}
