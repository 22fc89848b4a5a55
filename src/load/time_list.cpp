// time_list.cpp: the ordered list of a bus's distinct change times, built from each member's
// ordered changes by merging them as in a binary counter, and its linked-list reference.
#include "load/time_list.h"

#include <stdlib.h>
#include <string.h>

#include <algorithm>

#include "context/context.h"
#include "context/timescale.h"

// A run of entries; level counts the member runs merged into it.
struct TimeRun {
    TimeEntry* entries;
    uint32_t count;
    uint32_t capacity;
    int level;
};

// Runs waiting to be merged; levels strictly decrease towards the top, so the depth stays
// below 34 for any width.
enum { MAX_PENDING_RUNS = 40 };
struct RunStack {
    TimeRun runs[MAX_PENDING_RUNS];
    int depth;
};

static bool EarlierTime(const TimeEntry& a, const TimeEntry& b)
{
    return a.time < b.time;
}

static bool SameTime(const TimeEntry& a, const TimeEntry& b)
{
    return a.time == b.time;
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

// Stable bottom-up merge sort by time (a member's times are out of order only for a negative
// scale); std::stable_sort is not used since it allocates with new. 1 when memory runs out.
static int SortRun(TimeRun* run)
{
    TimeEntry* end = run->entries + run->count;
    if (std::is_sorted(run->entries, end, EarlierTime)) {
        return 0;
    }
    TimeEntry* scratch = (TimeEntry*)malloc((size_t)run->count * sizeof(TimeEntry));
    if (scratch == NULL) {
        return 1;
    }
    TimeEntry* from = run->entries;
    TimeEntry* to = scratch;
    for (size_t width = 1; width < run->count; width *= 2) {
        for (size_t start = 0; start < run->count; start += 2 * width) {
            size_t middle = std::min<size_t>(start + width, run->count);
            size_t stop = std::min<size_t>(middle + width, run->count);
            std::merge(from + start, from + middle, from + middle, from + stop, to + start,
                       EarlierTime);
        }
        std::swap(from, to);
    }
    if (from != run->entries) {
        memcpy(run->entries, from, (size_t)run->count * sizeof(TimeEntry));
    }
    free(scratch);
    return 0;
}

// Keeps the first of every group of equal times (the run is ordered).
static void DropRepeats(TimeRun* run)
{
    TimeEntry* end = std::unique(run->entries, run->entries + run->count, SameTime);
    run->count = (uint32_t)(end - run->entries);
}

// Merges the two topmost runs into one; on equal times the lower one, from earlier members,
// keeps its entry (a union: both runs hold each time once, and it takes the first range's).
static int MergeTopRuns(RunStack* stack)
{
    TimeRun* left = &stack->runs[stack->depth - 2];
    TimeRun* right = &stack->runs[stack->depth - 1];
    uint32_t total = left->count + right->count;
    if (total < left->count || (size_t)total > SIZE_MAX / sizeof(TimeEntry)) {
        return 1;
    }
    TimeEntry* merged = (TimeEntry*)malloc((size_t)(total > 0 ? total : 1) * sizeof(TimeEntry));
    if (merged == NULL) {
        return 1;
    }
    TimeEntry* end = std::set_union(left->entries, left->entries + left->count, right->entries,
                                    right->entries + right->count, merged, EarlierTime);
    free(left->entries);
    free(right->entries);
    left->entries = merged;
    left->count = (uint32_t)(end - merged);
    left->capacity = total;
    left->level = std::max(left->level, right->level) + 1;
    stack->depth--;
    return 0;
}

// Takes over one member's run (any order) and merges runs of equal level.
static int PushRun(RunStack* stack, TimeRun* run)
{
    if (SortRun(run) != 0 || stack->depth == MAX_PENDING_RUNS) {
        return 1;
    }
    DropRepeats(run);
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
static int GatherMemberTimes(const BusMembers* members, int idcode, RunStack* stack)
{
    ffrVCTraverser* traverser = members->reader->CreateTraverser(idcode);
    if (traverser == NULL) {
        return 0;
    }
    const double scale = members->context->timeScale;
    TimeTag tag = {0, 0};
    if (traverser->GetFirstTag(&tag) != 0) {
        traverser->FreeTraverser();
        return 0;
    }
    TimeRun run = {NULL, 0, 0, 0};
    int failed = AppendEntry(&run, TagToTime(scale, &tag), tag);
    while (!failed && traverser->GotoNext() == 0) {
        traverser->GetTag(&tag);
        failed = AppendEntry(&run, TagToTime(scale, &tag), tag);
    }
    traverser->FreeTraverser();
    if (!failed) {
        failed = PushRun(stack, &run);
    }
    free(run.entries);
    return failed;
}

int BuildTimeList(const BusMembers* members, TimeList* list)
{
    RunStack stack;
    stack.depth = 0;
    int failed = 0;
    for (uint32_t m = 0; m < members->width && !failed; m++) {
        failed = GatherMemberTimes(members, members->ids[m], &stack);
    }
    while (!failed && stack.depth >= 2) {
        failed = MergeTopRuns(&stack);
    }
    list->entries = NULL;
    list->count = 0;
    if (failed) {
        for (int i = 0; i < stack.depth; i++) {
            free(stack.runs[i].entries);
        }
    } else if (stack.depth == 1) {
        list->entries = stack.runs[0].entries;
        list->count = stack.runs[0].count;
    }
    return failed;
}

void FreeTimeList(TimeList* list)
{
    free(list->entries);
    list->entries = NULL;
    list->count = 0;
}

void InsertTimePoint(const ReaderContext* context, TimeTag tag, TimePoint** list)
{
    double t = TagToTime(context->timeScale, &tag);
    if (list == NULL || *list == NULL) {
        return;
    }
    TimePoint* previous = NULL;
    TimePoint* point = *list;
    while (point != NULL && t > point->time) {
        previous = point;
        point = point->next;
    }
    if (point != NULL && point->time == t) {
        return;
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
