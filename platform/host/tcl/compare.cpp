// compare.cpp: waveforms as values in force over time: changes walked on an exact common grid,
// the differences of two waveforms, the statistics of one.
#include "compare.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <unordered_set>

namespace vexa::analysis {
namespace {

// m × 10^k into *out; false when it does not fit an int64.
bool Scale(std::int64_t m, int k, Ticks* out)
{
    for (; k > 0; --k) {
        if (m > std::numeric_limits<Ticks>::max() / 10 ||
            m < std::numeric_limits<Ticks>::min() / 10) {
            return false;
        }
        m *= 10;
    }
    *out = m;
    return true;
}

}  // namespace

bool TimeTicks(const draw::Time& t, int g, Ticks* ticks)
{
    if (t.exp >= g) {
        return Scale(t.mant, t.exp - g, ticks);
    }
    draw::Time rounded = draw::TimeOnGrid(draw::Seconds(t), g);
    *ticks = rounded.mant;
    return true;
}

bool SampleTicks(const draw::SampleView& view, std::size_t i, int g, Ticks* ticks)
{
    draw::Time t = draw::TimeOnGrid(view.x(i), view.grid);
    return Scale(t.mant, t.exp - g, ticks);
}

bool FitsGrid(const draw::SampleView& view, int g)
{
    Ticks ignored = 0;
    return view.count == 0 || (view.grid >= g && SampleTicks(view, 0, g, &ignored) &&
                               SampleTicks(view, view.count - 1, g, &ignored));
}

Walk::Walk(const draw::SampleView& view, int grid) : view_(&view), grid_(grid)
{
    // Every sample fits the grid when the first and last do, so one factor scales them all.
    if (!FitsGrid(view, grid) || !Scale(1, view.grid - grid, &factor_)) {
        factor_ = 0;
    }
    ReadTime();
}

void Walk::ReadTime()
{
    if (next_ < view_->count) {
        if (factor_ == 0) {
            SampleTicks(*view_, next_, grid_, &time_);
        } else {
            time_ = draw::TimeOnGrid(view_->x(next_), view_->grid).mant * factor_;
        }
    }
}

std::size_t Walk::Step()
{
    Ticks t = time_;
    std::size_t start = next_;
    do {
        ++next_;
        ReadTime();
    } while (next_ < view_->count && time_ == t);
    lastCount_ = next_ - start;
    return next_ - 1;
}

std::size_t Walk::SkipTo(Ticks t)
{
    // Binary search for the first sample after t.
    std::size_t lo = next_, hi = view_->count;
    while (lo < hi) {
        std::size_t mid = lo + (hi - lo) / 2;
        Ticks at = 0;
        SampleTicks(*view_, mid, grid_, &at);
        if (at <= t) {
            lo = mid + 1;
        } else {
            hi = mid;
        }
    }
    next_ = lo;
    ReadTime();
    return lo == 0 ? kNone : lo - 1;
}

const char* Shortest(const char* bits)
{
    // A logic text stands for its extension to the left with its leading X or Z, or with 0.
    while (bits[0] != '\0' && bits[1] != '\0') {
        bool floating = bits[1] == 'X' || bits[1] == 'Z';
        if (floating ? bits[0] != bits[1] : bits[0] != '0') {
            break;
        }
        ++bits;
    }
    return bits;
}

bool SameValue(const draw::SampleView& a, std::size_t i, const draw::SampleView& b, std::size_t j)
{
    if (i == kNone || j == kNone) {
        return i == j;
    }
    if (a.text != b.text) {
        return false;
    }
    if (a.text) {
        // The host may decode both texts into one buffer: the first is copied before the second.
        const std::string first = Shortest(a.value(i));
        return first == Shortest(b.value(j));
    }
    double x = a.y(i), y = b.y(j);
    return std::memcmp(&x, &y, sizeof x) == 0 || x == y;
}

namespace {

void Record(Differences* out, const Interval& interval, std::size_t limit)
{
    if (out->intervals.size() < limit) {
        out->intervals.push_back(interval);
    }
    ++out->count;
}

}  // namespace

Differences CompareLevels(const draw::SampleView& a, const draw::SampleView& b, int grid,
                          const Window& window, std::size_t limit)
{
    Differences out;
    Walk wa(a, grid), wb(b, grid);
    std::size_t ia = kNone, ib = kNone;
    Ticks t = 0;
    if (window.hasFrom) {
        t = window.from;
        ia = wa.SkipTo(t);
        ib = wb.SkipTo(t);
    } else if (!wa.Done() || !wb.Done()) {
        t = wa.Done() ? wb.Time() : (wb.Done() ? wa.Time() : std::min(wa.Time(), wb.Time()));
        ia = !wa.Done() && wa.Time() == t ? wa.Step() : kNone;
        ib = !wb.Done() && wb.Time() == t ? wb.Step() : kNone;
    } else {
        return out;
    }
    bool differ = false;
    Interval open;
    for (;;) {
        bool now = !SameValue(a, ia, b, ib);
        if (now && !differ) {
            open.from = t;
            if (out.count == 0) {
                out.first = t;
                out.firstA = ia;
                out.firstB = ib;
            }
        } else if (!now && differ) {
            open.to = t;
            Record(&out, open, limit);
        }
        differ = now;
        if (wa.Done() && wb.Done()) {
            break;
        }
        t = wa.Done() ? wb.Time() : (wb.Done() ? wa.Time() : std::min(wa.Time(), wb.Time()));
        if (window.hasTo && t > window.to) {
            break;
        }
        if (!wa.Done() && wa.Time() == t) {
            ia = wa.Step();
        }
        if (!wb.Done() && wb.Time() == t) {
            ib = wb.Step();
        }
    }
    if (differ) {
        open.toEnd = true;
        Record(&out, open, limit);
    }
    return out;
}

Differences CompareEvents(const draw::SampleView& a, const draw::SampleView& b, int grid,
                          const Window& window, std::size_t limit)
{
    Differences out;
    Walk wa(a, grid), wb(b, grid);
    if (window.hasFrom) {
        wa.SkipTo(window.from - 1);
        wb.SkipTo(window.from - 1);
    }
    while (!wa.Done() || !wb.Done()) {
        Ticks t = wa.Done() ? wb.Time() : (wb.Done() ? wa.Time() : std::min(wa.Time(), wb.Time()));
        if (window.hasTo && t > window.to) {
            break;
        }
        std::size_t ia = !wa.Done() && wa.Time() == t ? wa.Step() : kNone;
        std::size_t ib = !wb.Done() && wb.Time() == t ? wb.Step() : kNone;
        std::size_t na = ia == kNone ? 0 : wa.LastCount(), nb = ib == kNone ? 0 : wb.LastCount();
        if (na != nb) {
            if (out.count == 0) {
                out.first = t;
                out.firstA = na;
                out.firstB = nb;
            }
            Record(&out, Interval{t, t, false}, limit);
        }
    }
    return out;
}

namespace {

// The one-bit state of a sample: '0', '1' or another character (X, Z, none).
char Bit(const draw::SampleView& view, std::size_t i)
{
    if (i == kNone) {
        return '-';
    }
    const char* text = view.value(i);
    return text[0] != '\0' && text[1] == '\0' ? text[0] : '-';
}

Statistics MeasureEvents(const draw::SampleView& view, int grid, Ticks start, Ticks end)
{
    Statistics out;
    Walk walk(view, grid);
    walk.SkipTo(start - 1);
    while (!walk.Done() && walk.Time() <= end) {
        Ticks t = walk.Time();
        walk.Step();
        out.first = out.changes == 0 ? t : out.first;
        out.last = t;
        out.changes += walk.LastCount();
    }
    return out;
}

}  // namespace

Statistics Measure(const draw::SampleView& view, bool event, int grid, Ticks start, Ticks end)
{
    if (event) {
        return MeasureEvents(view, grid, start, end);
    }
    Statistics out;
    Walk walk(view, grid);
    std::size_t current = walk.SkipTo(start);
    bool oneBit = view.text && view.count > 0 && std::strlen(view.value(0)) == 1;
    std::unordered_set<std::string> values;
    if (view.text && current != kNone) {
        values.insert(Shortest(view.value(current)));
    }
    Ticks since = start;
    while (!walk.Done() && walk.Time() <= end) {
        Ticks t = walk.Time();
        std::size_t next = walk.Step();
        if (SameValue(view, current, view, next)) {
            continue;
        }
        if (oneBit) {
            char before = Bit(view, current), after = Bit(view, next);
            out.high += before == '1' ? t - since : 0;
            out.rises += before == '0' && after == '1';
            out.falls += before == '1' && after == '0';
        }
        since = t;
        current = next;
        out.first = out.changes == 0 ? t : out.first;
        out.last = t;
        ++out.changes;
        if (view.text) {
            values.insert(Shortest(view.value(current)));
        }
    }
    if (oneBit && Bit(view, current) == '1' && end > since) {
        out.high += end - since;
    }
    out.distinct = values.size();
    return out;
}

}  // namespace vexa::analysis
