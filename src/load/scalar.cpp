// scalar.cpp: the scalar loader, which turns one signal's value changes into the samples of a
// host waveform, and the growth of the sample arrays when the reader cannot tell the count.
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include "context/context.h"
#include "context/paths.h"
#include "context/timescale.h"
#include "load/kinds.h"
#include "load/loaders.h"
#include "plugin/portability.h"

// The x and y arrays of one load. Text slots are owned by the arrays.
struct SampleArrays {
    double* x;
    void* y;
    uint32_t capacity;
    uint32_t count;
    int growable;  // the reader reported a change count of 0
    int kind;
};

// How reading the changes ended; it decides what the caller's handle holds afterwards.
enum ReadOutcome {
    READ_DONE,        // samples ready for the host
    READ_TAG_FAILED,  // first tag, last tag or first value unreadable: report the waveform
    READ_ABORTED,     // count unknown to the reader or no memory: handle unchanged
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

void FreeTexts(char** texts, uint32_t count)
{
    for (uint32_t i = 0; i < count; i++) {
        free(texts[i]);
    }
}

static void FreeArrays(SampleArrays* arrays)
{
    if (IsTextKind(arrays->kind) && arrays->y != NULL) {
        FreeTexts((char**)arrays->y, arrays->count);
    }
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

// Stores the sample at tag with the value the traverser points at.
static void StoreSample(ReaderContext* context, ffrVCTraverser* traverser, SampleArrays* arrays,
                        const TimeTag* tag, const unsigned char* value)
{
    uint32_t i = arrays->count;
    arrays->x[i] = TagToTime(context->timeScale, tag);
    if (arrays->kind == WFX_KIND_FLOAT) {
        ((float*)arrays->y)[i] = (float)ReadRealSample(traverser, value);
    } else if (IsTextKind(arrays->kind)) {
        LogicValueText(context, value, traverser, &((char**)arrays->y)[i]);
    } else {
        ((double*)arrays->y)[i] = ReadRealSample(traverser, value);
    }
    arrays->count = i + 1;
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
    y[i] = y[i - 1] == NULL ? NULL : _strdup(y[i - 1]);
}

// Reads every change of the traverser into arrays (allocated here; freed here on abort).
static ReadOutcome ReadChanges(ReaderContext* context, ffrObject* reader, int idcode,
                               ffrVCTraverser* traverser, SampleArrays* arrays)
{
    TimeTag tag = {0, 0};
    TimeTag lastTag = {0, 0};
    int firstFailed = traverser->GetFirstTag(&tag);
    int lastFailed = traverser->GetLastTag(&lastTag);
    if (firstFailed != 0 || lastFailed != 0) {
        return READ_TAG_FAILED;
    }
    unsigned char* value = NULL;
    if (traverser->GetValue(&value) != 0) {
        return READ_TAG_FAILED;
    }
    int changeCount = reader->GetChangeCount(idcode);
    if (changeCount < 0) {
        return READ_ABORTED;
    }
    arrays->capacity = (uint32_t)changeCount + 1;
    arrays->growable = changeCount == 0;
    if (AllocateArrays(arrays) != 0) {
        FreeArrays(arrays);
        return READ_ABORTED;
    }
    StoreSample(context, traverser, arrays, &tag, value);
    int noMemory = 0;
    while (traverser->GotoNext() == 0) {
        if (MakeRoom(arrays, 64, &noMemory) != 0) {
            break;
        }
        traverser->GetTag(&tag);
        traverser->GetValue(&value);
        StoreSample(context, traverser, arrays, &tag, value);
    }
    if (!noMemory && IsTextKind(arrays->kind)) {
        noMemory = AddClosingSample(context, arrays, &tag);
    }
    if (noMemory) {
        // A partial load is not reported as success.
        FreeArrays(arrays);
        return READ_ABORTED;
    }
    return READ_DONE;
}

// The kind and width given to the host, settled from the traverser.
static int SettleKindAndWidth(ffrVCTraverser* traverser, int* kind)
{
    if (*kind == WFX_KIND_LOGIC) {
        uint32_t bits = traverser->ValueBitSize();
        if (bits > 1) {
            *kind = WFX_KIND_LOGIC_VEC;
        }
        return (int)bits;
    }
    if (*kind == WFX_KIND_DOUBLE && traverser->ValueDataType() == 2) {
        *kind = WFX_KIND_FLOAT;
    }
    return 1;
}

// Hands the samples to the host and releases what the host does not keep.
static int HandOver(Tcl_Interp* interp, WfXWave* wave, SampleArrays* arrays, int appending)
{
    int take = appending ? 0 : 1;
    int result = WfX_AddValuesSimp(interp, wave, arrays->x, arrays->y, arrays->count, take);
    if (IsTextKind(arrays->kind)) {
        FreeTexts((char**)arrays->y, arrays->count);
        free(arrays->y);
    } else if (appending) {
        free(arrays->y);
    }
    if (appending) {
        free(arrays->x);
    }
    return result;
}

static int LoadFromTraverser(int idcode, Tcl_Interp* interp, ReaderContext* context,
                             ffrObject* reader, ffrVCTraverser* traverser, int kind,
                             WfXWave* target, int appending, WfXWave** wave)
{
    if (!traverser->HasChanges()) {
        *wave = target;
        return 0;
    }
    SampleArrays arrays = {NULL, NULL, 0, 0, 0, kind};
    ReadOutcome outcome = ReadChanges(context, reader, idcode, traverser, &arrays);
    if (outcome == READ_TAG_FAILED) {
        *wave = target;
        return 1;
    }
    if (outcome == READ_ABORTED) {
        return 1;
    }
    int result = HandOver(interp, target, &arrays, appending);
    *wave = target;
    return result;
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
    if (!reader->IsInLoadList(idcode)) {
        reader->AddToLoadList(idcode, 0, 0);
        reader->LoadListedSignals();
    }
    ffrVCTraverser* traverser = reader->CreateTraverser(idcode);
    if (traverser == NULL) {
        free(yUnit);
        *wave = NULL;
        return 1;
    }
    int width = SettleKindAndWidth(traverser, &kind);
    int appending = *wave != NULL;
    WfXWave* target = *wave;
    if (!appending) {
        target = WfX_CreateXTyp(interp, kind, context->xName, context->xUnit, "real", 0, name,
                                yUnit, width, 0);
    }
    int result = 1;
    if (target == NULL) {
        *wave = NULL;
    } else {
        result = LoadFromTraverser(idcode, interp, context, reader, traverser, kind, target,
                                   appending, wave);
    }
    traverser->FreeTraverser();
    free(yUnit);
    return result;
}
