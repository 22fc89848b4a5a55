// bus.cpp: the bus loader, which builds one waveform from a group of digital signals whose
// value texts are joined in member order, and the ordered list of the bus's change times.
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include "context/context.h"
#include "context/paths.h"
#include "context/timescale.h"
#include "load/kinds.h"
#include "load/loaders.h"
#include "plugin/portability.h"

// A change time seen in the first pass.
struct TimeEntry {
    double time;
    TimeTag tag;
};

// Entries ordered by time without repeats; level counts the member runs merged into it.
struct TimeRun {
    TimeEntry* entries;
    uint32_t count;
    uint32_t capacity;
    int level;
};

// Runs waiting to be merged; as in a binary counter, at most one run per level.
enum { MAX_PENDING_RUNS = 40 };
struct RunStack {
    TimeRun runs[MAX_PENDING_RUNS];
    int depth;
};

// The joined text of one time point.
struct TextBuffer {
    char* text;
    size_t length;
    size_t capacity;
};

void InsertTimePoint(const ReaderContext* context, TimeTag tag, TimePoint** list)
{
    double t = TagToTime(context->timeScale, &tag);
    if (list == NULL || *list == NULL) {
        return;
    }
    TimePoint* previous = NULL;
    TimePoint* point = *list;
    while (point != NULL) {
        if (point->time == t) {
            return;
        }
        if (t > point->time) {
            previous = point;
            point = point->next;
            continue;
        }
        break;
    }
    TimePoint* added = (TimePoint*)malloc(sizeof(TimePoint));
    if (added == NULL) {
        return;
    }
    added->time = t;
    added->tag = tag;
    added->next = point;
    if (previous == NULL) {
        *list = added;
    } else {
        previous->next = added;
    }
}

static int AppendEntry(TimeRun* run, double time, TimeTag tag)
{
    if (run->count == run->capacity) {
        uint32_t grown = run->capacity == 0 ? 256 : run->capacity * 2;
        if (grown <= run->capacity || (size_t)grown > SIZE_MAX / sizeof(TimeEntry)) {
            return 1;
        }
        TimeEntry* entries = (TimeEntry*)realloc(run->entries, grown * sizeof(TimeEntry));
        if (entries == NULL) {
            return 1;
        }
        run->entries = entries;
        run->capacity = grown;
    }
    run->entries[run->count].time = time;
    run->entries[run->count].tag = tag;
    run->count++;
    return 0;
}

// Stable merge of two ordered runs into out; an equal time keeps the entry of the left run.
static uint32_t MergeEntries(const TimeEntry* left, uint32_t leftCount, const TimeEntry* right,
                             uint32_t rightCount, TimeEntry* out, int dropRepeats)
{
    uint32_t i = 0;
    uint32_t j = 0;
    uint32_t n = 0;
    while (i < leftCount && j < rightCount) {
        if (right[j].time < left[i].time) {
            out[n++] = right[j++];
        } else {
            if (dropRepeats && right[j].time == left[i].time) {
                j++;
            }
            out[n++] = left[i++];
        }
    }
    while (i < leftCount) {
        out[n++] = left[i++];
    }
    while (j < rightCount) {
        out[n++] = right[j++];
    }
    return n;
}

static bool IsOrdered(const TimeRun* run)
{
    for (uint32_t i = 1; i < run->count; i++) {
        if (run->entries[i].time < run->entries[i - 1].time) {
            return false;
        }
    }
    return true;
}

// Bottom-up stable merge sort by time; 1 when the scratch space cannot be allocated.
static int SortRun(TimeRun* run)
{
    if (IsOrdered(run)) {
        return 0;
    }
    TimeEntry* scratch = (TimeEntry*)malloc((size_t)run->count * sizeof(TimeEntry));
    if (scratch == NULL) {
        return 1;
    }
    TimeEntry* from = run->entries;
    TimeEntry* to = scratch;
    for (uint32_t width = 1; width < run->count; width *= 2) {
        for (uint32_t start = 0; start < run->count; start += 2 * width) {
            uint32_t middle = start + width < run->count ? start + width : run->count;
            uint32_t end = middle + width < run->count ? middle + width : run->count;
            MergeEntries(from + start, middle - start, from + middle, end - middle, to + start, 0);
        }
        TimeEntry* swap = from;
        from = to;
        to = swap;
        if (width > UINT32_MAX / 2) {
            break;
        }
    }
    if (from != run->entries) {
        memcpy(run->entries, from, (size_t)run->count * sizeof(TimeEntry));
    }
    free(scratch);
    return 0;
}

// Keeps the first of every group of entries with equal times (the run is ordered).
static void DropRepeats(TimeRun* run)
{
    uint32_t kept = 0;
    for (uint32_t i = 0; i < run->count; i++) {
        if (kept > 0 && run->entries[i].time == run->entries[kept - 1].time) {
            continue;
        }
        run->entries[kept++] = run->entries[i];
    }
    run->count = kept;
}

static void FreeRunStack(RunStack* stack)
{
    for (int i = 0; i < stack->depth; i++) {
        free(stack->runs[i].entries);
    }
    stack->depth = 0;
}

// Merges the two topmost runs into one; the lower one comes from earlier members.
static int MergeTopRuns(RunStack* stack)
{
    TimeRun* left = &stack->runs[stack->depth - 2];
    TimeRun* right = &stack->runs[stack->depth - 1];
    uint32_t total = left->count + right->count;
    if (total < left->count) {
        return 1;
    }
    TimeEntry* merged = (TimeEntry*)malloc((size_t)(total > 0 ? total : 1) * sizeof(TimeEntry));
    if (merged == NULL) {
        return 1;
    }
    uint32_t count =
        MergeEntries(left->entries, left->count, right->entries, right->count, merged, 1);
    free(left->entries);
    free(right->entries);
    left->entries = merged;
    left->count = count;
    left->capacity = total;
    left->level = (left->level > right->level ? left->level : right->level) + 1;
    stack->depth--;
    return 0;
}

// Takes over one member's run (any order) and merges runs of equal level.
static int PushRun(RunStack* stack, TimeRun* run)
{
    if (SortRun(run) != 0) {
        return 1;
    }
    DropRepeats(run);
    // Levels strictly decrease towards the top, so the depth stays below 34 for any width.
    if (stack->depth == MAX_PENDING_RUNS) {
        return 1;
    }
    stack->runs[stack->depth++] = *run;
    run->entries = NULL;
    while (stack->depth >= 2 &&
           stack->runs[stack->depth - 1].level >= stack->runs[stack->depth - 2].level) {
        if (MergeTopRuns(stack) != 0) {
            return 1;
        }
    }
    return 0;
}

// Gathers the change times of one member; 1 only when memory runs out.
static int GatherMemberTimes(const ReaderContext* context, ffrObject* reader, int idcode,
                             RunStack* stack)
{
    ffrVCTraverser* traverser = reader->CreateTraverser(idcode);
    if (traverser == NULL) {
        return 0;
    }
    TimeTag tag = {0, 0};
    if (traverser->GetFirstTag(&tag) != 0) {
        traverser->FreeTraverser();
        return 0;
    }
    TimeRun run = {NULL, 0, 0, 0};
    int failed = AppendEntry(&run, TagToTime(context->timeScale, &tag), tag);
    while (!failed && traverser->GotoNext() == 0) {
        traverser->GetTag(&tag);
        failed = AppendEntry(&run, TagToTime(context->timeScale, &tag), tag);
    }
    traverser->FreeTraverser();
    if (!failed) {
        failed = PushRun(stack, &run);
    }
    free(run.entries);
    return failed;
}

// First pass: the distinct change times of all members in time order. Without any first tag
// the list is the single point at time 0, tag 0. Null when memory runs out.
static TimeRun BuildTimeList(const ReaderContext* context, ffrObject* reader, const int* ids,
                             uint32_t width, int* failed)
{
    RunStack stack;
    stack.depth = 0;
    TimeRun list = {NULL, 0, 0, 0};
    *failed = 0;
    for (uint32_t m = 0; m < width && !*failed; m++) {
        *failed = GatherMemberTimes(context, reader, ids[m], &stack);
    }
    while (!*failed && stack.depth >= 2) {
        *failed = MergeTopRuns(&stack);
    }
    if (*failed) {
        FreeRunStack(&stack);
        return list;
    }
    if (stack.depth == 1) {
        list = stack.runs[0];
        return list;
    }
    TimeTag zero = {0, 0};
    *failed = AppendEntry(&list, 0.0, zero);
    return list;
}

static int AppendText(TextBuffer* buffer, const char* text)
{
    size_t length = strlen(text);
    if (buffer->length + length + 1 > buffer->capacity) {
        size_t grown = buffer->capacity * 2;
        if (grown < buffer->length + length + 1) {
            grown = buffer->length + length + 1;
        }
        char* bigger = (char*)realloc(buffer->text, grown);
        if (bigger == NULL) {
            return 1;
        }
        buffer->text = bigger;
        buffer->capacity = grown;
    }
    memcpy(buffer->text + buffer->length, text, length + 1);
    buffer->length += length;
    return 0;
}

// The traversers of the second pass, one per member, opened at the first time point.
struct MemberReaders {
    ffrVCTraverser** traversers;
    unsigned char* hasChanges;
    uint32_t opened;
};

static void CloseMemberReaders(MemberReaders* members)
{
    for (uint32_t m = 0; m < members->opened; m++) {
        members->traversers[m]->FreeTraverser();
    }
    free(members->traversers);
    free(members->hasChanges);
}

// Appends member m's text at tag to the buffer. Returns 1 when the load must be abandoned
// (a traverser cannot be created, no memory); a read failure only sets *result.
static int ReadMemberAt(const ReaderContext* context, ffrObject* reader, const int* ids, uint32_t m,
                        const TimeTag* tag, MemberReaders* members, TextBuffer* buffer, int* result)
{
    if (m == members->opened) {
        ffrVCTraverser* created = reader->CreateTraverser(ids[m]);
        if (created == NULL) {
            return 1;
        }
        members->traversers[m] = created;
        members->hasChanges[m] = created->HasChanges() ? 1 : 0;
        members->opened++;
    }
    ffrVCTraverser* traverser = members->traversers[m];
    if (!members->hasChanges[m]) {
        return 0;
    }
    unsigned char* value = NULL;
    if (traverser->GetValue(&value) != 0) {
        *result = 1;
    }
    if (*result == 1) {
        return 0;
    }
    if (traverser->GotoTag(tag, 0) != 0) {
        *result = 1;
        return 0;
    }
    traverser->GetValue(&value);
    char* text = NULL;
    LogicValueText(context, value, traverser, &text);
    if (text == NULL) {
        return 0;
    }
    int failed = AppendText(buffer, text);
    free(text);
    return failed;
}

// Second pass: the joined member texts at every time point. Returns 1 when the load must be
// abandoned; *stored tells how many slots of y hold texts.
static int FillSamples(const ReaderContext* context, ffrObject* reader, const int* ids,
                       uint32_t width, const TimeRun* list, double* x, char** y, TextBuffer* buffer,
                       uint32_t* stored, int* result)
{
    MemberReaders members = {NULL, NULL, 0};
    members.traversers = (ffrVCTraverser**)calloc(width, sizeof(ffrVCTraverser*));
    members.hasChanges = (unsigned char*)calloc(width, 1);
    int abandoned = members.traversers == NULL || members.hasChanges == NULL;
    for (uint32_t i = 0; i < list->count && !abandoned; i++) {
        x[i] = list->entries[i].time;
        for (uint32_t m = 0; m < width && !abandoned; m++) {
            abandoned = ReadMemberAt(context, reader, ids, m, &list->entries[i].tag, &members,
                                     buffer, result);
        }
        if (!abandoned) {
            y[i] = _strdup(buffer->text);
            *stored = i + 1;
        }
        buffer->length = 0;
        buffer->text[0] = '\0';
    }
    CloseMemberReaders(&members);
    return abandoned;
}

// Fills and hands over the samples; 1 with *abandoned set when the load could not be built.
static int BuildAndHandOver(Tcl_Interp* interp, const ReaderContext* context, ffrObject* reader,
                            const int* ids, uint32_t width, WfXWave* wave, int* abandoned)
{
    int failed = 0;
    TimeRun list = BuildTimeList(context, reader, ids, width, &failed);
    uint32_t n = list.count;
    double* x = failed ? NULL : (double*)malloc(((size_t)n + 1) * sizeof(double));
    char** y = x == NULL ? NULL : (char**)calloc((size_t)n + 1, sizeof(char*));
    TextBuffer buffer = {NULL, 0, (size_t)width + 1};
    buffer.text = y == NULL ? NULL : (char*)malloc(buffer.capacity);
    uint32_t stored = 0;
    int result = 0;
    *abandoned = buffer.text == NULL;
    if (!*abandoned) {
        buffer.text[0] = '\0';
        *abandoned =
            FillSamples(context, reader, ids, width, &list, x, y, &buffer, &stored, &result);
    }
    uint32_t count = stored;
    if (!*abandoned) {
        const TimeTag* last = &list.entries[n - 1].tag;
        if (NeedsClosingSample(context, last)) {
            WriteClosingSample(context, x, y, n);
            count = n + 1;
        }
        if (result != 1) {
            result = WfX_AddValuesSimp(interp, wave, x, y, count, 0);
        }
    }
    free(buffer.text);
    free(x);
    if (y != NULL) {
        FreeTexts(y, count);
    }
    free(y);
    free(list.entries);
    return *abandoned ? 1 : result;
}

static void ListMembers(ffrObject* reader, const int* ids, uint32_t width, int force)
{
    for (uint32_t m = 0; m < width; m++) {
        if (force || !reader->IsInLoadList(ids[m])) {
            reader->AddToLoadList(ids[m], 0, 0);
        }
    }
    reader->LoadListedSignals();
}

// The waveform to append to, or a new one; null when it cannot be created.
static WfXWave* TargetWave(Tcl_Interp* interp, ReaderContext* context, const char* name,
                           uint32_t width, WfXWave* handedIn)
{
    int kind = 0;
    char* yUnit = NULL;
    HostWaveKind(context, &kind, &yUnit, context->varInfo->varType);
    if (width > 1) {
        kind = WFX_KIND_LOGIC_VEC;
    }
    WfXWave* target = handedIn;
    if (target == NULL) {
        target = WfX_CreateXTyp(interp, kind, context->xName, context->xUnit, "real", 0, name,
                                yUnit, (int)width, 0);
    }
    free(yUnit);
    return target;
}

int LoadBusWave(ReaderTreeBus* bus, Tcl_Interp* interp, ReaderContext* context, const char* name,
                WfXWave** wave, int force)
{
    ffrObject* reader = LiveReader(context);
    if (bus == NULL || reader == NULL) {
        return 1;
    }
    uint32_t width = bus->GetBusWidth();
    if (width == 0) {
        return 1;
    }
    int* ids = (int*)malloc((size_t)width * sizeof(int));
    if (ids == NULL) {
        return 1;
    }
    bus->GetBusIds(ids);
    ListMembers(reader, ids, width, force);
    if (FetchVarInfo(context, ids[0]) == NULL) {
        free(ids);
        return 1;
    }
    WfXWave* target = TargetWave(interp, context, name, width, *wave);
    if (target == NULL) {
        free(ids);
        return 1;
    }
    int abandoned = 0;
    int result = BuildAndHandOver(interp, context, reader, ids, width, target, &abandoned);
    free(ids);
    if (!abandoned) {
        *wave = target;
    }
    return result;
}
