// compare.h: waveforms as values in force over time, on an exact common time grid: the walk over
// a waveform's changes, the differences of two waveforms and the statistics of one. Pure
// functions over draw::SampleView, no Tcl.
#ifndef VEXA_COMPARE_H
#define VEXA_COMPARE_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "drawmodel.h"

namespace vexa::analysis {

// A time as whole ticks of 10^grid seconds, grid shared by everything compared.
using Ticks = std::int64_t;
constexpr std::size_t kNone = static_cast<std::size_t>(-1);

// The ticks of sample i on grid g (g at most the view's own grid); false when they do not fit.
bool SampleTicks(const draw::SampleView& view, std::size_t i, int g, Ticks* ticks);
// A time on grid g (rounded to the nearest tick); false when it does not fit.
bool TimeTicks(const draw::Time& t, int g, Ticks* ticks);
// True when every sample of the view has ticks on grid g (its first and last do).
bool FitsGrid(const draw::SampleView& view, int g);

// The samples of one waveform in time order, those at one time read as one instant whose value
// in force is the last of them.
class Walk {
public:
    Walk(const draw::SampleView& view, int grid);
    bool Done() const { return next_ >= view_->count; }
    Ticks Time() const { return time_; }  // the next instant's time, when not Done
    // Moves past the next instant; returns the sample in force from it on.
    std::size_t Step();
    // Moves past every instant at or before t; returns the sample in force at t (kNone: none).
    std::size_t SkipTo(Ticks t);
    // The number of samples at the instant Step passed last.
    std::size_t LastCount() const { return lastCount_; }

private:
    void ReadTime();
    const draw::SampleView* view_;
    int grid_;
    std::size_t next_ = 0;
    std::size_t lastCount_ = 0;
    Ticks time_ = 0;
};

// The shortest logic text that extends to BITS as a vector value does: to the left with its
// leading X or Z, or with 0 ("XXXX" and "X", "0011" and "11" are one value).
const char* Shortest(const char* bits);
// True when samples i of a and j of b hold the same value (kNone, no value yet, equals only
// kNone); reals compare bit for bit, so NaN equals NaN.
bool SameValue(const draw::SampleView& a, std::size_t i, const draw::SampleView& b, std::size_t j);

// A time window in ticks; either end may be open.
struct Window {
    bool hasFrom = false, hasTo = false;
    Ticks from = 0, to = 0;
};

// Where two waveforms hold different values: intervals [from, to), to open (toEnd) when they
// differ to the end of both. Events differ at the instants where only one of them occurs, each
// an interval with to == from.
struct Interval {
    Ticks from = 0, to = 0;
    bool toEnd = false;
};
struct Differences {
    std::size_t count = 0;  // differing intervals
    Ticks first = 0;        // the first one's start, when count > 0
    // The samples in force at first (events: the numbers of occurrences there).
    std::size_t firstA = kNone, firstB = kNone;
    std::vector<Interval> intervals;  // the first `limit` of them
};
// Levels: values in force compared from the window's start (values in force there) to its end.
Differences CompareLevels(const draw::SampleView& a, const draw::SampleView& b, int grid,
                          const Window& window, std::size_t limit);
Differences CompareEvents(const draw::SampleView& a, const draw::SampleView& b, int grid,
                          const Window& window, std::size_t limit);

// One waveform over [start, end]: the value in force at start, then its changes up to end (a
// sample repeating the value in force is none). Events: occurrences in [start, end].
struct Statistics {
    std::size_t changes = 0;
    Ticks first = 0, last = 0;         // of the changes, when changes > 0
    std::size_t rises = 0, falls = 0;  // one-bit logic: 0 to 1, 1 to 0
    Ticks high = 0;                    // one-bit logic: time at 1 within [start, end]
    std::size_t distinct = 0;          // logic: distinct values in force within the window
};
Statistics Measure(const draw::SampleView& view, bool event, int grid, Ticks start, Ticks end);

}  // namespace vexa::analysis

#endif
