// bus.cpp: the bus loader, which builds one waveform from a group of digital signals whose
// value texts are joined in member order, and the ordered list of the bus's change times.
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
// the list is the single point at time 0, tag 0, or empty when appending (a further file of a
// split chain in which nothing changes adds nothing, rather than a point back at time 0).
// Null when memory runs out.
static TimeRun BuildTimeList(const ReaderContext* context, ffrObject* reader, const int* ids,
                             uint32_t width, int appending, int* failed)
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
    if (stack.depth == 1 || appending) {
        list = stack.depth == 1 ? stack.runs[0] : list;
        return list;
    }
    TimeTag zero = {0, 0};
    *failed = AppendEntry(&list, 0.0, zero);
    return list;
}

static uint64_t TagValue(const TimeTag* tag)
{
    return ((uint64_t)tag->high << 32) | tag->low;
}

// One member in the second pass: its traverser walks forward once over the time points, and
// its current text sits at a fixed place of the row, the joined text of the current point.
struct MemberCursor {
    ffrVCTraverser* traverser;
    size_t offset;    // where its text starts in the row
    uint32_t length;  // characters of its texts; 0 for a member without changes
    int hasChanges;
    uint32_t shown;    // characters of its current text: length, or 0 for a missing value
    int pending;       // the traverser stands on a change that is not yet in force
    uint64_t nextTag;  // the tag of that change
    int stepped;       // in the walk: stepped on, the tag not yet read
};

struct MemberRow {
    MemberCursor* members;
    uint32_t opened;
    char* row;  // the members' texts side by side, rowLength characters
    size_t rowLength;
    uint32_t shortened;  // members whose current text is shorter than their place
};

static void CloseMemberRow(MemberRow* row)
{
    for (uint32_t m = 0; m < row->opened; m++) {
        row->members[m].traverser->FreeTraverser();
    }
    free(row->members);
    free(row->row);
}

// Renders the value the member's traverser stands on into its place, then steps to its next
// change. 1 when a read fails.
static int TakeValue(const ReaderContext* context, MemberRow* row, MemberCursor* member)
{
    unsigned char* value = NULL;
    if (member->traverser->GetValue(&value) != 0) {
        return 1;
    }
    uint32_t shown = value == NULL ? 0 : member->length;
    if (member->shown < member->length) {
        row->shortened--;
    }
    if (shown < member->length) {
        row->shortened++;
    }
    member->shown = shown;
    if (value != NULL && member->length == 1) {
        row->row[member->offset] = LogicCharacter(context->fileType, value[0]);
    } else if (value != NULL) {
        WriteLogicText(context, value, member->length, row->row + member->offset);
    }
    member->pending = member->traverser->GotoNext() == 0;
    member->nextTag = 0;
    return 0;
}

// Reads the tag of the change the member stepped onto, if any. 1 when the read fails.
static int ReadNextTag(MemberCursor* member)
{
    TimeTag tag = {0, 0};
    if (member->pending && member->traverser->GetTag(&tag) != 0) {
        return 1;
    }
    member->nextTag = TagValue(&tag);
    return 0;
}

// Renders the value the member's traverser stands on into its place, then steps to its next
// change. 1 when a read fails.
static int TakeCurrentValue(const ReaderContext* context, MemberRow* row, MemberCursor* member)
{
    if (TakeValue(context, row, member) != 0) {
        return 1;
    }
    return ReadNextTag(member);
}

// Puts the member on the change in force at tag (or on its first change when tag lies before
// it) and takes its value. 1 when a read fails.
static int PositionMember(const ReaderContext* context, MemberRow* row, MemberCursor* member,
                          const TimeTag* tag)
{
    if (member->length == 0) {
        return 0;
    }
    if (member->traverser->GotoTag(tag, 0) != 0) {
        return 1;
    }
    return TakeCurrentValue(context, row, member);
}

// Takes every change of the member up to tag; points come in time order, so each change is
// read once. 1 when a read fails.
static int AdvanceMember(const ReaderContext* context, MemberRow* row, MemberCursor* member,
                         uint64_t tag)
{
    while (member->pending && member->nextTag <= tag) {
        if (TakeCurrentValue(context, row, member) != 0) {
            return 1;
        }
    }
    return 0;
}

// Creates the traversers and gives each member its place in the row. 1 when the load must be
// abandoned.
static int CreateMemberRow(const ReaderContext* context, ffrObject* reader, const int* ids,
                           uint32_t width, MemberRow* row)
{
    row->members = (MemberCursor*)calloc(width, sizeof(MemberCursor));
    if (row->members == NULL) {
        return 1;
    }
    for (; row->opened < width; row->opened++) {
        MemberCursor* member = &row->members[row->opened];
        member->traverser = reader->CreateTraverser(ids[row->opened]);
        if (member->traverser == NULL) {
            return 1;
        }
        member->hasChanges = member->traverser->HasChanges();
        if (member->hasChanges) {
            member->length = LogicTextLength(context, member->traverser);
        }
        if (row->rowLength > SIZE_MAX - 1 - member->length) {
            return 1;
        }
        member->offset = row->rowLength;
        member->shown = member->length;
        row->rowLength += member->length;
    }
    row->row = (char*)malloc(row->rowLength + 1);
    return row->row == NULL ? 1 : 0;
}

// Places every member at the change in force at first. A failed read sets *result to 1.
static void PositionMembers(const ReaderContext* context, MemberRow* row, uint32_t width,
                            const TimeTag* first, int* result)
{
    for (uint32_t m = 0; m < width && *result == 0; m++) {
        *result = PositionMember(context, row, &row->members[m], first);
    }
}

// Creates the traversers and places the members' texts in the row, positioned at the first
// point. Returns 1 when the load must be abandoned; a read failure only sets *result.
static int OpenMemberRow(const ReaderContext* context, ffrObject* reader, const int* ids,
                         uint32_t width, const TimeTag* first, MemberRow* row, int* result)
{
    if (CreateMemberRow(context, reader, ids, width, row) != 0) {
        return 1;
    }
    PositionMembers(context, row, width, first, result);
    return 0;
}

// The row as one NUL-terminated text in the arena, leaving out what missing values do not
// fill; null when memory runs out.
static char* CopyRow(const MemberRow* row, uint32_t width, TextArena* arena)
{
    char* text = ArenaAllocate(arena, row->rowLength + 1);
    if (text == NULL) {
        return NULL;
    }
    size_t length = row->rowLength;
    if (row->shortened == 0) {
        memcpy(text, row->row, length);
    } else {
        length = 0;
        for (uint32_t m = 0; m < width; m++) {
            memcpy(text + length, row->row + row->members[m].offset, row->members[m].shown);
            length += row->members[m].shown;
        }
    }
    text[length] = '\0';
    return text;
}

// Brings every member to the point at tag; a tag earlier than the last one puts them back.
static int MoveMembers(const ReaderContext* context, MemberRow* row, uint32_t width,
                       const TimeTag* tag, uint64_t* lastTag)
{
    uint64_t value = TagValue(tag);
    int failed = 0;
    for (uint32_t m = 0; m < width && !failed; m++) {
        failed = value < *lastTag ? PositionMember(context, row, &row->members[m], tag)
                                  : AdvanceMember(context, row, &row->members[m], value);
    }
    *lastTag = value;
    return failed;
}

// Second pass: the joined member texts at every time point, in the arena. Returns 1 when the
// load must be abandoned. After a failed read (*result 1) nothing more is read.
static int FillSamples(const ReaderContext* context, ffrObject* reader, const int* ids,
                       uint32_t width, const TimeRun* list, double* x, char** y, TextArena* texts,
                       int* result)
{
    MemberRow row;
    memset(&row, 0, sizeof row);
    int abandoned = OpenMemberRow(context, reader, ids, width, &list->entries[0].tag, &row, result);
    uint64_t lastTag = TagValue(&list->entries[0].tag);
    if (!abandoned) {
        size_t each = row.rowLength + 1;
        size_t points = (size_t)list->count + 1;
        InitTextArena(texts, each > SIZE_MAX / points ? SIZE_MAX : each * points);
    }
    for (uint32_t i = 0; i < list->count && !abandoned && *result == 0; i++) {
        x[i] = list->entries[i].time;
        if (i > 0) {
            *result = MoveMembers(context, &row, width, &list->entries[i].tag, &lastTag);
        }
        y[i] = CopyRow(&row, width, texts);
        abandoned = y[i] == NULL;
    }
    CloseMemberRow(&row);
    return abandoned;
}

// The samples of one load: times, joined texts (in the arena) and the tag of the last point.
struct BusSamples {
    double* x;
    char** y;
    uint32_t count;
    uint32_t capacity;  // slots of x and y
    TimeTag last;
    TextArena texts;
};

// Tags below 2^51 are at most 2^51 times the scale, where a double's step is at most half the
// scale, so at scales of 2^-1000 to 2^900 (neither subnormal nor infinite products) distinct
// tags always convert to distinct times.
static const uint64_t kDistinctTagLimit = UINT64_C(1) << 51;

static bool KeepsTagsApart(double scale)
{
    return scale >= 0x1p-1000 && scale <= 0x1p900;
}

// Whether the members can be walked in tag order, one point per distinct tag, and still give
// the points of the time list: every member with changes has texts and readable first and last
// tags, all below the limit, and one of them has changes. *first is the earliest first tag.
static bool WalkPlanHolds(const ReaderContext* context, const MemberRow* row, uint32_t width,
                          TimeTag* first)
{
    if (!KeepsTagsApart(context->timeScale)) {
        return false;
    }
    uint64_t earliest = UINT64_MAX;
    for (uint32_t m = 0; m < width; m++) {
        const MemberCursor* member = &row->members[m];
        if (!member->hasChanges) {
            continue;
        }
        TimeTag from = {0, 0};
        TimeTag to = {0, 0};
        if (member->length == 0 || member->traverser->GetFirstTag(&from) != 0 ||
            member->traverser->GetLastTag(&to) != 0 || TagValue(&to) >= kDistinctTagLimit) {
            return false;
        }
        if (TagValue(&from) < earliest) {
            earliest = TagValue(&from);
            *first = from;
        }
    }
    return earliest != UINT64_MAX;
}

// Room for one more point and the closing sample; 1 when memory runs out.
static int RoomForPoint(BusSamples* samples)
{
    if (samples->capacity - samples->count >= 2) {
        return 0;
    }
    if (samples->capacity > UINT32_MAX / 2) {
        return 1;
    }
    uint32_t grown = samples->capacity < 1024 ? 1024 : samples->capacity * 2;
    if ((size_t)grown > SIZE_MAX / sizeof(double)) {
        return 1;
    }
    double* x = (double*)realloc(samples->x, (size_t)grown * sizeof(double));
    if (x == NULL) {
        return 1;
    }
    samples->x = x;
    char** y = (char**)realloc(samples->y, (size_t)grown * sizeof(char*));
    if (y == NULL) {
        return 1;
    }
    samples->y = y;
    samples->capacity = grown;
    return 0;
}

static uint64_t EarliestPending(const MemberRow* row, uint32_t width)
{
    uint64_t earliest = UINT64_MAX;
    for (uint32_t m = 0; m < width; m++) {
        if (row->members[m].pending && row->members[m].nextTag < earliest) {
            earliest = row->members[m].nextTag;
        }
    }
    return earliest;
}

// Every member takes its changes up to tag and reads the tag of its next one; *next is the
// earliest of those. The values of all members are taken first and their next tags read after,
// so that the members' tag reads do not wait on each other. 1 when a read fails; nothing is
// read after it.
static int TakeChangesUpTo(const ReaderContext* context, MemberRow* row, uint32_t width,
                           uint64_t tag, uint64_t* next)
{
    int again = 1;
    while (again) {
        again = 0;
        *next = UINT64_MAX;
        for (uint32_t m = 0; m < width; m++) {
            MemberCursor* member = &row->members[m];
            member->stepped = member->pending && member->nextTag <= tag;
            if (member->stepped && TakeValue(context, row, member) != 0) {
                return 1;
            }
        }
        for (uint32_t m = 0; m < width; m++) {
            MemberCursor* member = &row->members[m];
            if (member->stepped && ReadNextTag(member) != 0) {
                return 1;
            }
            again |= member->pending && member->nextTag <= tag;
            if (member->pending && member->nextTag < *next) {
                *next = member->nextTag;
            }
        }
    }
    return 0;
}

// Appends the point at tag with the row as it stands; 1 when memory runs out.
static int AppendPoint(const ReaderContext* context, const MemberRow* row, uint32_t width,
                       uint64_t tag, BusSamples* samples)
{
    if (RoomForPoint(samples) != 0) {
        return 1;
    }
    TimeTag at = {(uint32_t)(tag >> 32), (uint32_t)tag};
    samples->y[samples->count] = CopyRow(row, width, &samples->texts);
    if (samples->y[samples->count] == NULL) {
        return 1;
    }
    samples->x[samples->count] = TagToTime(context->timeScale, &at);
    samples->last = at;
    samples->count++;
    return 0;
}

// One forward walk of all members together: the points are the distinct tags of their changes,
// each with the row of the texts in force there, so no time list is built. Returns 0, having
// read no change, when the walk would not give the time list's points; else 1, with
// *abandoned set when the load must be abandoned (a traverser or memory missing) and *result 1
// after a failed read.
static int WalkInTagOrder(const ReaderContext* context, ffrObject* reader, const int* ids,
                          uint32_t width, BusSamples* samples, int* result, int* abandoned)
{
    MemberRow row;
    memset(&row, 0, sizeof row);
    TimeTag first = {0, 0};
    if (CreateMemberRow(context, reader, ids, width, &row) != 0) {
        // Every member is walked in either way, so a missing traverser ends the load.
        CloseMemberRow(&row);
        *abandoned = 1;
        return 1;
    }
    if (!WalkPlanHolds(context, &row, width, &first)) {
        CloseMemberRow(&row);
        return 0;
    }
    InitTextArena(&samples->texts, (row.rowLength + 1) * 1024);
    PositionMembers(context, &row, width, &first, result);
    uint64_t now = TagValue(&first);
    uint64_t next = EarliestPending(&row, width);
    *abandoned = 0;
    while (*result == 0) {
        *abandoned = AppendPoint(context, &row, width, now, samples);
        if (*abandoned || next == UINT64_MAX) {
            break;
        }
        now = next;
        *result = TakeChangesUpTo(context, &row, width, now, &next);
    }
    CloseMemberRow(&row);
    return 1;
}

// The time list first, then the members walked over its points. Returns 1 when the load must
// be abandoned; no samples without abandonment when nothing changes while appending.
static int TwoPassSamples(const ReaderContext* context, ffrObject* reader, const int* ids,
                          uint32_t width, int appending, BusSamples* samples, int* result)
{
    int failed = 0;
    TimeRun list = BuildTimeList(context, reader, ids, width, appending, &failed);
    uint32_t n = list.count;
    int abandoned = failed;
    if (!failed && n > 0) {
        samples->x = (double*)malloc(((size_t)n + 1) * sizeof(double));
        samples->y = samples->x == NULL ? NULL : (char**)calloc((size_t)n + 1, sizeof(char*));
        abandoned = samples->y == NULL;
    }
    if (!abandoned && n > 0) {
        abandoned = FillSamples(context, reader, ids, width, &list, samples->x, samples->y,
                                &samples->texts, result);
        samples->count = n;
        samples->capacity = n + 1;
        samples->last = list.entries[n - 1].tag;
    }
    free(list.entries);
    return abandoned;
}

// Fills and hands over the samples; 1 with *abandoned set when the load could not be built.
static int BuildAndHandOver(Tcl_Interp* interp, const ReaderContext* context, ffrObject* reader,
                            const int* ids, uint32_t width, WfXWave* wave, int appending,
                            int* abandoned)
{
    BusSamples samples;
    memset(&samples, 0, sizeof samples);
    InitTextArena(&samples.texts, 0);
    int result = 0;
    if (!WalkInTagOrder(context, reader, ids, width, &samples, &result, abandoned)) {
        *abandoned = TwoPassSamples(context, reader, ids, width, appending, &samples, &result);
    }
    if (!*abandoned && result != 1 && samples.count > 0) {
        uint32_t count = samples.count;
        if (NeedsClosingSample(context, &samples.last)) {
            WriteClosingSample(context, samples.x, samples.y, count);
            count++;
        }
        result = WfX_AddValuesSimp(interp, wave, samples.x, samples.y, count, 0);
    }
    FreeTextArena(&samples.texts);
    free(samples.x);
    free(samples.y);
    return *abandoned ? 1 : result;
}

static void ListMembers(ffrObject* reader, const int* ids, uint32_t width, int force)
{
    for (uint32_t m = 0; m < width; m++) {
        if (force || !reader->IsInLoadList(ids[m])) {
            reader->AddToLoadList(ids[m], 0, 0);
        }
    }
    LoadListed(reader);
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
    // A bus with a member the reader refused to load fails before any member is traversed.
    if (!ListedSignalsLoaded(reader, ids, width)) {
        free(ids);
        return 1;
    }
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
    int result =
        BuildAndHandOver(interp, context, reader, ids, width, target, *wave != NULL, &abandoned);
    free(ids);
    if (!abandoned) {
        *wave = target;
    }
    return result;
}
