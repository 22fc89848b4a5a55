// bus.cpp: the bus loader, which builds one waveform from a group of digital signals whose
// value texts are joined in member order, walking all members forward together once.
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
#include "load/time_list.h"

static uint64_t TagValue(const TimeTag* tag)
{
    return ((uint64_t)tag->high << 32) | tag->low;
}

// One member in the walk: its traverser walks forward once over the points, and its current
// text sits at a fixed place of the row, the joined text of the current point.
struct MemberCursor {
    ffrVCTraverser* traverser;
    size_t offset;    // where its text starts in the row
    uint32_t length;  // characters of its texts; 0 for a member without changes
    int hasChanges;
    uint32_t shown;    // characters of its current text: length, or 0 for a missing value
    int pending;       // the traverser stands on a change that is not yet in force
    uint64_t nextTag;  // the tag of that change
    int stepped;       // in the walk: stepped on, the tag not yet read
    // The walk in tag order reads each member's changes ahead into a queue of their tags and
    // texts, one member at a time, rather than one change of every member per point.
    uint64_t* queuedTags;
    char* queuedTexts;  // length characters a change; a first NUL marks a missing value
    uint32_t queued;    // changes in the queue
    uint32_t taken;     // of them, those already in force
    uint32_t room;      // changes the queue has room for
};

struct MemberRow {
    MemberCursor* members;
    uint32_t opened;
    char* row;  // the members' texts side by side, rowLength characters
    size_t rowLength;
    uint32_t shortened;    // members whose current text is shorter than their place
    const char** columns;  // the walk in tag order: a queue's texts for each member
};

static void CloseMemberRow(MemberRow* row)
{
    for (uint32_t m = 0; m < row->opened; m++) {
        row->members[m].traverser->FreeTraverser();
        free(row->members[m].queuedTags);
        free(row->members[m].queuedTexts);
    }
    free(row->members);
    free(row->row);
    free(row->columns);
}

// Counts the member's text as shortened while its value is missing (shown 0).
static inline void Reshow(MemberRow* row, MemberCursor* member, uint32_t shown)
{
    if (member->shown < member->length) {
        row->shortened--;
    }
    if (shown < member->length) {
        row->shortened++;
    }
    member->shown = shown;
}

// Renders the value the member's traverser stands on into its place, then steps to its next
// change. 1 when a read fails.
static int TakeValue(const ReaderContext* context, MemberRow* row, MemberCursor* member)
{
    unsigned char* value = NULL;
    if (member->traverser->GetValue(&value) != 0) {
        return 1;
    }
    Reshow(row, member, value == NULL ? 0 : member->length);
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

// Puts every member on its change in force at tag (or on its first change when tag lies before
// it) and takes its value. 1 when a read fails; nothing is read after it.
static int PositionMembers(const BusMembers* members, MemberRow* row, const TimeTag* tag)
{
    for (uint32_t m = 0; m < members->width; m++) {
        MemberCursor* member = &row->members[m];
        if (member->length == 0) {
            continue;
        }
        if (member->traverser->GotoTag(tag, 0) != 0 ||
            TakeValue(members->context, row, member) != 0 || ReadNextTag(member) != 0) {
            return 1;
        }
    }
    return 0;
}

// Creates the traversers and gives each member its place in the row. 1 when the load must be
// abandoned.
static int CreateMemberRow(const BusMembers* members, MemberRow* row)
{
    memset(row, 0, sizeof *row);
    row->members = (MemberCursor*)calloc(members->width, sizeof(MemberCursor));
    if (row->members == NULL) {
        return 1;
    }
    for (; row->opened < members->width; row->opened++) {
        MemberCursor* member = &row->members[row->opened];
        member->traverser = members->reader->CreateTraverser(members->ids[row->opened]);
        if (member->traverser == NULL) {
            return 1;
        }
        member->hasChanges = member->traverser->HasChanges();
        if (member->hasChanges) {
            member->length = LogicTextLength(members->context, member->traverser);
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

// The samples of one load: times, joined texts (in the arena) and the tag of the last point.
struct BusSamples {
    double* x;
    char** y;
    uint32_t count;
    uint32_t capacity;  // slots of x and y
    TimeTag last;
    TextArena texts;
};

// Slots for capacity samples (at least); 1 when memory runs out.
static int ReserveSamples(BusSamples* samples, uint32_t capacity)
{
    if (capacity <= samples->capacity) {
        return 0;
    }
    if ((size_t)capacity > SIZE_MAX / sizeof(double)) {
        return 1;
    }
    double* x = (double*)realloc(samples->x, (size_t)capacity * sizeof(double));
    if (x == NULL) {
        return 1;
    }
    samples->x = x;
    char** y = (char**)realloc(samples->y, (size_t)capacity * sizeof(char*));
    if (y == NULL) {
        return 1;
    }
    samples->y = y;
    samples->capacity = capacity;
    return 0;
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
    return ReserveSamples(samples, samples->capacity < 1024 ? 1024 : samples->capacity * 2);
}

// Appends the point at tag, at time, with the row as it stands; 1 when memory runs out.
static int AppendPoint(const MemberRow* row, uint32_t width, uint64_t tag, double time,
                       BusSamples* samples)
{
    if (RoomForPoint(samples) != 0) {
        return 1;
    }
    samples->y[samples->count] = CopyRow(row, width, &samples->texts);
    if (samples->y[samples->count] == NULL) {
        return 1;
    }
    samples->x[samples->count] = time;
    samples->last.high = (uint32_t)(tag >> 32);
    samples->last.low = (uint32_t)tag;
    samples->count++;
    return 0;
}

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
static bool WalkPlanHolds(const BusMembers* members, const MemberRow* row, TimeTag* first)
{
    if (!KeepsTagsApart(members->context->timeScale)) {
        return false;
    }
    uint64_t earliest = UINT64_MAX;
    for (uint32_t m = 0; m < members->width; m++) {
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

// Every member takes its changes up to tag and reads the tag of its next one; *next is the
// earliest of those. The values of all members are taken first and their next tags read after,
// so that the members' tag reads do not wait on each other. 1 when a read fails; nothing is
// read after it.
static int TakeChangesUpTo(const BusMembers* members, MemberRow* row, uint64_t tag, uint64_t* next)
{
    // Copied, since the row's character stores may alias anything read through a pointer.
    const ReaderContext* context = members->context;
    const uint32_t width = members->width;
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

// Changes a member's queue takes per round: enough for many points a round, few enough that
// the queues of 32 members stay in the cache. A wide member's queue holds about
// kQueueTextBytes of text, and at least one change.
static const uint32_t kQueueChanges = 256;
static const size_t kQueueTextBytes = 65536;

// Room for room changes in the member's queue; 1 when memory runs out.
static int GrowQueue(MemberCursor* member, uint32_t room)
{
    if ((size_t)room > SIZE_MAX / sizeof(uint64_t) || (size_t)room > SIZE_MAX / member->length) {
        return 1;
    }
    uint64_t* tags = (uint64_t*)realloc(member->queuedTags, (size_t)room * sizeof(uint64_t));
    if (tags == NULL) {
        return 1;
    }
    member->queuedTags = tags;
    char* texts = (char*)realloc(member->queuedTexts, (size_t)room * member->length);
    if (texts == NULL) {
        return 1;
    }
    member->queuedTexts = texts;
    member->room = room;
    return 0;
}

// Moves the member's changes not yet in force to the front of its queue and queues further
// ones behind them until it is full. Changes at the tag of the last queued one join it, so
// that every change left unqueued lies after every queued one. characters holds the character
// of each value byte, for one-bit members.
static LoadOutcome FillQueue(const ReaderContext* context, const char* characters,
                             MemberCursor* member)
{
    const uint32_t length = member->length;
    const uint32_t left = member->queued - member->taken;
    memmove(member->queuedTags, member->queuedTags + member->taken, left * sizeof(uint64_t));
    memmove(member->queuedTexts, member->queuedTexts + (size_t)member->taken * length,
            (size_t)left * length);
    member->taken = 0;
    member->queued = left;
    // In locals while the loop runs: the text stores may alias the member's fields.
    ffrVCTraverser* traverser = member->traverser;
    uint32_t queued = left;
    int pending = member->pending;
    uint64_t nextTag = member->nextTag;
    while (pending && (queued < member->room || member->queuedTags[queued - 1] == nextTag)) {
        if (queued == member->room &&
            (member->room > UINT32_MAX / 2 || GrowQueue(member, member->room * 2) != 0)) {
            return LOAD_ABANDONED;
        }
        unsigned char* value = NULL;
        if (traverser->GetValue(&value) != 0) {
            return LOAD_READ_FAILED;
        }
        char* text = member->queuedTexts + (size_t)queued * length;
        if (value == NULL) {
            text[0] = '\0';
        } else if (length == 1) {
            text[0] = characters[value[0]];
        } else {
            WriteLogicText(context, value, length, text);
        }
        member->queuedTags[queued++] = nextTag;
        pending = traverser->GotoNext() == 0;
        TimeTag tag = {0, 0};
        if (pending && traverser->GetTag(&tag) != 0) {
            return LOAD_READ_FAILED;
        }
        nextTag = TagValue(&tag);
    }
    member->queued = queued;
    member->pending = pending;
    member->nextTag = nextTag;
    return LOAD_DONE;
}

// Puts the member's queued text i in force in the row.
static inline void ShowQueued(MemberRow* row, MemberCursor* member, uint32_t i)
{
    const char* text = member->queuedTexts + (size_t)i * member->length;
    if (text[0] == '\0') {
        Reshow(row, member, 0);
        return;
    }
    if (member->shown != member->length) {
        Reshow(row, member, member->length);
    }
    if (member->length == 1) {
        row->row[member->offset] = text[0];
    } else {
        memcpy(row->row + member->offset, text, member->length);
    }
}

// The tag of the member's next queued change, or UINT64_MAX when its queue is used up.
static inline uint64_t QueueHead(const MemberCursor* member)
{
    return member->taken < member->queued ? member->queuedTags[member->taken] : UINT64_MAX;
}

// Whether the queues hold whole rows: every member with changes has texts of one character,
// none missing, and the same queued tags, rising and all before limit. Each tag is then a
// point whose row holds every member's queued character at that tag. *count: the rows.
static bool QueuesAligned(const MemberRow* row, uint32_t width, uint64_t limit, uint32_t* count)
{
    const uint64_t* tags = NULL;
    uint32_t n = 0;
    if (row->shortened != 0) {
        return false;
    }
    for (uint32_t m = 0; m < width; m++) {
        const MemberCursor* member = &row->members[m];
        if (member->length == 0) {
            continue;
        }
        const uint64_t* own = member->queuedTags + member->taken;
        if (member->length != 1 || (tags != NULL && member->queued - member->taken != n)) {
            return false;
        }
        if (tags == NULL) {
            tags = own;
            n = member->queued - member->taken;
            for (uint32_t i = 1; i < n; i++) {
                if (tags[i] <= tags[i - 1]) {
                    return false;
                }
            }
        } else if (memcmp(own, tags, (size_t)n * sizeof(uint64_t)) != 0) {
            return false;
        }
        if (memchr(member->queuedTexts + member->taken, '\0', n) != NULL) {
            return false;
        }
    }
    *count = n;
    return tags != NULL && n > 0 && tags[n - 1] < limit;
}

// Appends the points of aligned queues: row i from the members' i-th queued characters. The
// members' one-character places are then the row's characters in member order. 1 when memory
// runs out.
static int TakeAlignedQueues(const BusMembers* members, MemberRow* row, uint32_t count,
                             BusSamples* samples)
{
    const double scale = members->context->timeScale;
    const uint64_t* tags = NULL;
    uint32_t columns = 0;
    for (uint32_t m = 0; m < members->width; m++) {
        MemberCursor* member = &row->members[m];
        if (member->length != 0) {
            tags = tags != NULL ? tags : member->queuedTags + member->taken;
            row->columns[columns++] = member->queuedTexts + member->taken;
            member->taken += count;
        }
    }
    const char* const* column = row->columns;
    char* text = row->row;
    for (uint32_t i = 0; i < count; i++) {
        for (uint32_t c = 0; c < columns; c++) {
            text[c] = column[c][i];
        }
        TimeTag tag = {(uint32_t)(tags[i] >> 32), (uint32_t)tags[i]};
        if (AppendPoint(row, members->width, tags[i], TagToTime(scale, &tag), samples) != 0) {
            return 1;
        }
    }
    return 0;
}

// Appends a point for every distinct queued tag before limit, each with the texts in force
// there: of a member's changes up to the point, the last. 1 when memory runs out.
static int TakeQueuesUpTo(const BusMembers* members, MemberRow* row, uint64_t limit,
                          BusSamples* samples)
{
    const uint32_t width = members->width;
    const double scale = members->context->timeScale;
    uint32_t aligned = 0;
    if (QueuesAligned(row, width, limit, &aligned)) {
        return TakeAlignedQueues(members, row, aligned, samples);
    }
    uint64_t now = UINT64_MAX;
    for (uint32_t m = 0; m < width; m++) {
        uint64_t head = QueueHead(&row->members[m]);
        now = head < now ? head : now;
    }
    while (now < limit) {
        uint64_t next = UINT64_MAX;
        for (uint32_t m = 0; m < width; m++) {
            MemberCursor* member = &row->members[m];
            const uint64_t* tags = member->queuedTags;
            const uint32_t queued = member->queued;
            uint32_t taken = member->taken;
            if (taken < queued && tags[taken] <= now) {
                while (++taken < queued && tags[taken] <= now) {
                }
                member->taken = taken;
                ShowQueued(row, member, taken - 1);
            }
            if (taken < queued && tags[taken] < next) {
                next = tags[taken];
            }
        }
        TimeTag tag = {(uint32_t)(now >> 32), (uint32_t)now};
        if (AppendPoint(row, width, now, TagToTime(scale, &tag), samples) != 0) {
            return 1;
        }
        now = next;
    }
    return 0;
}

// Gives each member with changes an empty queue; 1 when memory runs out.
static int CreateQueues(const BusMembers* members, MemberRow* row)
{
    row->columns = (const char**)malloc(members->width * sizeof(const char*));
    if (row->columns == NULL) {
        return 1;
    }
    for (uint32_t m = 0; m < members->width; m++) {
        MemberCursor* member = &row->members[m];
        size_t fits = kQueueTextBytes / (member->length > 0 ? member->length : 1);
        uint32_t room = fits < 1 ? 1 : fits > kQueueChanges ? kQueueChanges : (uint32_t)fits;
        if (member->length > 0 && GrowQueue(member, room) != 0) {
            return 1;
        }
    }
    return 0;
}

// The walk in tag order, forward from the point at first, once the members stand there: in
// rounds, each member's queue is filled, then every point before the earliest change still
// unqueued is appended. That change lies after every queued change of its member, and a full
// queue holds one tag before it, so each round appends a point.
static LoadOutcome WalkQueues(const BusMembers* members, MemberRow* row, BusSamples* samples)
{
    if (CreateQueues(members, row) != 0) {
        return LOAD_ABANDONED;
    }
    char characters[256];
    for (int b = 0; b < 256; b++) {
        characters[b] = LogicCharacter(members->context->fileType, (unsigned char)b);
    }
    for (;;) {
        uint64_t limit = UINT64_MAX;
        for (uint32_t m = 0; m < members->width; m++) {
            MemberCursor* member = &row->members[m];
            if (member->length == 0) {
                continue;
            }
            LoadOutcome filled = FillQueue(members->context, characters, member);
            if (filled != LOAD_DONE) {
                return filled;
            }
            if (member->pending && member->nextTag < limit) {
                limit = member->nextTag;
            }
        }
        if (TakeQueuesUpTo(members, row, limit, samples) != 0) {
            return LOAD_ABANDONED;
        }
        if (limit == UINT64_MAX) {
            return LOAD_DONE;
        }
    }
}

// Starts the texts' arena with room for the given number of rows.
static void InitRowArena(BusSamples* samples, const MemberRow* row, size_t rows)
{
    size_t each = row->rowLength + 1;
    InitTextArena(&samples->texts, each > SIZE_MAX / rows ? SIZE_MAX : each * rows);
}

// The one walk of all members together, forward from the point at first: each point gets the
// row of the texts in force there. Without a list the points are the distinct tags of the
// members' changes, walked through their queues; with one they are its points, and a point
// whose tag lies before the last one's puts the members back. After a failed read nothing
// more is read.
static LoadOutcome WalkMembers(const BusMembers* members, MemberRow* row, const TimeList* list,
                               const TimeTag* first, BusSamples* samples)
{
    InitRowArena(samples, row, list != NULL ? (size_t)list->count + 1 : 1024);
    if (PositionMembers(members, row, first) != 0) {
        return LOAD_READ_FAILED;
    }
    uint64_t now = TagValue(first);
    double time =
        list != NULL ? list->entries[0].time : TagToTime(members->context->timeScale, first);
    if (AppendPoint(row, members->width, now, time, samples) != 0) {
        return LOAD_ABANDONED;
    }
    if (list == NULL) {
        return WalkQueues(members, row, samples);
    }
    for (uint32_t i = 1; i < list->count; i++) {
        const TimeTag* tag = &list->entries[i].tag;
        uint64_t at = TagValue(tag);
        uint64_t next = 0;
        int failed = at < now ? PositionMembers(members, row, tag)
                              : TakeChangesUpTo(members, row, at, &next);
        if (failed) {
            return LOAD_READ_FAILED;
        }
        now = at;
        if (AppendPoint(row, members->width, now, list->entries[i].time, samples) != 0) {
            return LOAD_ABANDONED;
        }
    }
    return LOAD_DONE;
}

// The time list first, then the members walked over its points. Without any first tag the list
// is the single point at time 0, tag 0, or empty when appending (a further file of a split
// chain in which nothing changes adds nothing, rather than a point back at time 0).
static LoadOutcome WalkTimeList(const BusMembers* members, int appending, BusSamples* samples)
{
    TimeList list = {NULL, 0};
    if (BuildTimeList(members, &list) != 0) {
        return LOAD_ABANDONED;
    }
    TimeEntry zero = {0.0, {0, 0}};
    TimeList points = list.count > 0 || appending ? list : TimeList{&zero, 1};
    LoadOutcome outcome = LOAD_DONE;
    if (points.count > 0 && ReserveSamples(samples, points.count + 1) != 0) {
        outcome = LOAD_ABANDONED;
    } else if (points.count > 0) {
        MemberRow row;
        outcome = CreateMemberRow(members, &row) != 0
                      ? LOAD_ABANDONED
                      : WalkMembers(members, &row, &points, &points.entries[0].tag, samples);
        CloseMemberRow(&row);
    }
    FreeTimeList(&list);
    return outcome;
}

// The members walked in tag order when that gives the time list's points, else over the time
// list. Every member is walked in either way, so a missing traverser abandons the load.
static LoadOutcome WalkBus(const BusMembers* members, int appending, BusSamples* samples)
{
    MemberRow row;
    TimeTag first = {0, 0};
    if (CreateMemberRow(members, &row) != 0) {
        CloseMemberRow(&row);
        return LOAD_ABANDONED;
    }
    if (!WalkPlanHolds(members, &row, &first)) {
        CloseMemberRow(&row);
        return WalkTimeList(members, appending, samples);
    }
    LoadOutcome outcome = WalkMembers(members, &row, NULL, &first, samples);
    CloseMemberRow(&row);
    return outcome;
}

// Hands the samples to the host, closed by the last text at the file's end when that lies
// after the last point; with no samples nothing is handed over and the result is 0.
static int HandOverSamples(Tcl_Interp* interp, const ReaderContext* context, WfXWave* wave,
                           BusSamples* samples)
{
    uint32_t count = samples->count;
    if (count == 0) {
        return 0;
    }
    if (NeedsClosingSample(context, &samples->last)) {
        WriteClosingSample(context, samples->x, samples->y, count);
        count++;
    }
    return WfX_AddValuesSimp(interp, wave, samples->x, samples->y, count, 0);
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

// A new waveform of the bus's kind and width; null when it cannot be created.
static WfXWave* CreateBusWave(Tcl_Interp* interp, ReaderContext* context, const char* name,
                              uint32_t width)
{
    int kind = 0;
    char* yUnit = NULL;
    HostWaveKind(context, &kind, &yUnit, context->varInfo->varType);
    if (width > 1) {
        kind = WFX_KIND_LOGIC_VEC;
    }
    WfXWave* wave = WfX_CreateXTyp(interp, kind, context->xName, context->xUnit, "real", 0, name,
                                   yUnit, (int)width, 0);
    free(yUnit);
    return wave;
}

// Walks the members and hands their samples to target; the outcome decides the handle.
static int LoadMembers(Tcl_Interp* interp, const BusMembers* members, WfXWave* target,
                       int appending, WfXWave** wave)
{
    BusSamples samples;
    memset(&samples, 0, sizeof samples);
    InitTextArena(&samples.texts, 0);
    LoadOutcome outcome = WalkBus(members, appending, &samples);
    int result =
        outcome == LOAD_DONE ? HandOverSamples(interp, members->context, target, &samples) : 1;
    FreeTextArena(&samples.texts);
    free(samples.x);
    free(samples.y);
    if (outcome != LOAD_ABANDONED) {
        *wave = target;
    }
    return result;
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
    int result = 1;
    if (ListedSignalsLoaded(reader, ids, width) && FetchVarInfo(context, ids[0]) != NULL) {
        // A handle handed in is appended to (a further file of a split chain); none asks for a
        // new waveform.
        int appending = *wave != NULL;
        WfXWave* target = appending ? *wave : CreateBusWave(interp, context, name, width);
        BusMembers members = {context, reader, ids, width};
        result = target != NULL ? LoadMembers(interp, &members, target, appending, wave) : 1;
    }
    free(ids);
    return result;
}
