// drawmodel.h: the drawing model shared by the command line and the viewer: exact decimal times
// and their engineering texts, value texts in a radix, values at a time, tables of samples, and
// decimation of a waveform to a few points per pixel column. Pure functions, no Tcl, no display.
#ifndef VEXA_DRAWMODEL_H
#define VEXA_DRAWMODEL_H

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace vexa::draw {

// Read access to one waveform's samples, in time order: x in seconds, y as a number (real
// kinds) or as a logic text of 0, 1, X, Z and U (text kinds), valid until the next value is read.
struct SampleView {
    std::size_t count = 0;
    bool text = false;
    int grid = -9;  // InferGrid of these samples, set by whoever makes the view
    std::function<double(std::size_t)> x;
    // Optional: the x values from i on that lie in one block (*xs at i's), and how many; lets a
    // walk over every time read them without a call per sample.
    std::function<std::size_t(std::size_t, const double**)> xRun;
    std::function<double(std::size_t)> y;
    std::function<const char*(std::size_t)> value;
};

// A time of mant × 10^exp seconds, held exactly.
struct Time {
    std::int64_t mant = 0;
    int exp = 0;
};

// The coarsest power-of-ten grid 10^g seconds (g from 12 down to -18) on which every sample time
// lies exactly, as a reader computes times from integer ticks of its time unit (ticks × unit).
// Samples that fit no grid give -18 with *exact false: their times are then rounded to it.
int InferGrid(const SampleView& view, bool* exact);
// The time of a sample x on grid g (x rounded to the nearest tick).
Time TimeOnGrid(double x, int g);
// The time in seconds as a double, correctly rounded from its decimal value.
double Seconds(const Time& t);
// The time in seconds as a sample at that time on grid g holds it (ticks × one tick), so that
// window edges compare equal to samples at the same time; Seconds when t is off the grid.
double GridSeconds(const Time& t, int g);
// -1, 0 or 1 as a is before, at or after b; exact for every pair of times.
int Compare(const Time& a, const Time& b);

// "0", "55ns", "1.2us", "1500s": the largest unit from as to s that keeps a digit before the
// point, and every significant digit of the exact value after it.
std::string FormatTime(const Time& t);
// Reads "55ns", "1.2us", "3s", "0" (units as, fs, ps, ns, us, ms, s). False with a message for
// anything else, a number without a unit included (its unit would be a guess).
bool ParseTime(const std::string& text, Time* t, std::string* error);
// The grid 10^g seconds as a time text: "1ns", "10ps", "100s".
std::string GridText(int g);

enum class Radix { kBin, kHex, kDec, kSigned };
// "bin", "hex", "dec", "signed"; false for another word.
bool ParseRadix(const std::string& word, Radix* radix);
// A logic text (most significant bit first) in a radix. Hex digits with an unknown bit are "X"
// ("Z" when all four bits are Z); decimal values with an unknown bit are "X" ("Z" when all are).
std::string FormatLogic(const std::string& bits, Radix radix);
// The shortest text that reads back as exactly this double.
std::string FormatReal(double value);
// Sample i's value text in a radix (reals ignore the radix).
std::string FormatSample(const SampleView& view, std::size_t i, Radix radix);

// The number of samples whose time is at or before t (so the sample before that count holds
// the value at t; 0 when t is before the first sample).
std::size_t CountAtOrBefore(const SampleView& view, int grid, const Time& t);

// The index of the sample where the value last changed before t (forward false) or first
// changes after t (forward true); a sample repeating the value before it is no change. count
// when there is none.
std::size_t ChangeIndex(const SampleView& view, const Time& t, bool forward);

// Rows of a table of several waveforms: one row per time at which any of them changes, within
// [from, to] (either may be absent), led by a row at from holding the values then. A value not
// yet defined at a row's time is "-".
struct Window {
    bool hasFrom = false, hasTo = false;
    Time from, to;
};
using RowSink =
    std::function<bool(const std::string& time, const std::vector<std::string>& values)>;
// Calls sink for every row in time order; stops early (returning false) when sink does.
bool TableRows(const std::vector<SampleView>& views, const Window& window, Radix radix,
               const RowSink& sink);
// The single row of every waveform's value at t.
std::vector<std::string> ValuesAt(const std::vector<SampleView>& views, const Time& t, Radix radix);

// Decimation to pixel columns: the window [from, to] seconds maps to x = 0 .. width.
struct Run {
    double x0 = 0, x1 = 0;
    std::string value;  // formatted in the radix; empty for a busy run
    bool busy = false;  // several changes within the run's pixel columns
};
// Runs of constant logic value, each at least one column wide, and busy runs where values
// change faster than the columns; a few runs per column at most, whatever the sample count.
std::vector<Run> LogicRuns(const SampleView& view, double from, double to, int width, Radix radix);
// A step trace of a real waveform: points (x, y) joined by straight lines, at most four per
// column (first, minimum, maximum, last); yMin/yMax are the range of the values drawn.
struct Trace {
    std::vector<double> xy;
    double yMin = 0, yMax = 0;
};
Trace RealTrace(const SampleView& view, double from, double to, int width);
// Columns holding at least one sample (event waveforms).
std::vector<int> EventColumns(const SampleView& view, double from, double to, int width);

// Time-axis ticks at 1, 2 or 5 × 10^n steps, about one per minSpacing columns: {x, label}.
struct Tick {
    double x = 0;
    std::string label;
};
std::vector<Tick> AxisTicks(const Time& from, const Time& to, int width, int minSpacing);

}  // namespace vexa::draw

#endif
