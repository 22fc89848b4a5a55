// time_list.h: the bus loader's members, and the ordered list of their distinct change times
// for loads whose members cannot be walked in tag order.
#ifndef QUORVEL_TIME_LIST_H
#define QUORVEL_TIME_LIST_H

#include <stdint.h>

#include "nffr.h"

struct ReaderContext;

// The members of one bus load: what every step of the load reads from.
struct BusMembers {
    const ReaderContext* context;
    ffrObject* reader;
    const int* ids;  // idcodes in member order
    uint32_t width;
};

// A change time and the tag at which it was first seen in member order.
struct TimeEntry {
    double time;
    TimeTag tag;
};

// Distinct times in ascending order; entries is a malloc'd array (null when count is 0).
struct TimeList {
    TimeEntry* entries;
    uint32_t count;
};

// The distinct change times of all members, each with the tag it was first seen at (members in
// order, each member's changes in order); empty when no member yields a first tag. A member
// without a traverser or first tag is skipped. 1 (list empty) when memory runs out.
int BuildTimeList(const BusMembers* members, TimeList* list);
void FreeTimeList(TimeList* list);

// The reference the time list is tested against: a sorted linked list that InsertTimePoint
// grows by one change at a time, merging equal times (the point seen first keeps its tag).
struct TimePoint {
    double time;  // seconds
    TimeTag tag;  // the tag at which this time was first seen
    TimePoint* next;
};
// Inserts the tag's time into a non-empty list; an empty list stays empty.
void InsertTimePoint(const ReaderContext* context, TimeTag tag, TimePoint** list);

#endif
