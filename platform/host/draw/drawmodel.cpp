// drawmodel.cpp: exact decimal times, radix texts, tables of samples and decimation per pixel
// column, for the command line and the viewer (see drawmodel.h).
#include "drawmodel.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>

namespace vexa::draw {
namespace {

constexpr int kFinestGrid = -18;
constexpr int kCoarsestGrid = 12;
constexpr std::int64_t kMaxMant = std::numeric_limits<std::int64_t>::max();

// 10^n for 0 <= n <= 22, exact as a double.
double Pow10(int n)
{
    double p = 1.0;
    for (int i = 0; i < n; ++i) {
        p *= 10.0;
    }
    return p;
}

// One tick of grid g as a reader computes it from a unit text: the number (1, 10 or 100) times
// or divided by a power of a thousand.
double GridScale(int g)
{
    if (g >= 0) {
        return Pow10(g);
    }
    int k = ((-g + 2) / 3) * 3;
    return Pow10(g + k) / Pow10(k);
}

bool FitsGrid(double x, double scale)
{
    if (!(x >= 0) || !std::isfinite(x) || x / scale >= 4.0e18) {
        return false;
    }
    return static_cast<double>(std::llround(x / scale)) * scale == x;
}

// mant × 10^n, false on overflow.
bool ScaleUp(std::int64_t mant, int n, std::int64_t* out)
{
    for (int i = 0; i < n; ++i) {
        if (mant > kMaxMant / 10 || mant < -(kMaxMant / 10)) {
            return false;
        }
        mant *= 10;
    }
    *out = mant;
    return true;
}

const char* UnitName(int exp)
{
    static const char* const names[] = {"s", "ms", "us", "ns", "ps", "fs", "as"};
    return names[-exp / 3];
}

// The index of the first sample whose x is after t (strictly after when strict), by bisection.
std::size_t FirstAfter(const SampleView& view, double t, bool strict)
{
    std::size_t lo = 0, hi = view.count;
    while (lo < hi) {
        std::size_t mid = lo + (hi - lo) / 2;
        double x = view.x(mid);
        if (strict ? x <= t : x < t) {
            lo = mid + 1;
        } else {
            hi = mid;
        }
    }
    return lo;
}

char HexDigit(const std::string& bits, std::size_t from)
{
    int value = 0;
    bool allZ = true, unknown = false;
    for (std::size_t i = from; i < from + 4; ++i) {
        char c = bits[i];
        allZ = allZ && c == 'Z';
        unknown = unknown || (c != '0' && c != '1');
        value = value * 2 + (c == '1' ? 1 : 0);
    }
    if (unknown) {
        return allZ ? 'Z' : 'X';
    }
    return "0123456789abcdef"[value];
}

std::string Hex(const std::string& bits)
{
    // Unknown and floating values extend to the left as Verilog extends them.
    char fill = bits[0] == 'X' || bits[0] == 'Z' ? bits[0] : '0';
    std::string padded(static_cast<std::size_t>((4 - bits.size() % 4) % 4), fill);
    padded += bits;
    std::string out;
    for (std::size_t i = 0; i < padded.size(); i += 4) {
        out += HexDigit(padded, i);
    }
    return out;
}

// The decimal text of an unsigned binary text of 0 and 1, in base-10^9 limbs.
std::string UnsignedDecimal(const std::string& bits)
{
    std::vector<std::uint32_t> limbs{0};  // least significant first
    for (char c : bits) {
        std::uint64_t carry = c == '1' ? 1 : 0;
        for (std::uint32_t& limb : limbs) {
            std::uint64_t v = static_cast<std::uint64_t>(limb) * 2 + carry;
            limb = static_cast<std::uint32_t>(v % 1000000000u);
            carry = v / 1000000000u;
        }
        if (carry != 0) {
            limbs.push_back(static_cast<std::uint32_t>(carry));
        }
    }
    std::string out = std::to_string(limbs.back());
    for (std::size_t i = limbs.size() - 1; i-- > 0;) {
        std::string part = std::to_string(limbs[i]);
        out += std::string(9 - part.size(), '0') + part;
    }
    return out;
}

// Beyond this width a decimal text costs too much time to make; such values show in hex.
constexpr std::size_t kMaxDecimalBits = 8192;

std::string Decimal(const std::string& bits, bool isSigned)
{
    if (bits.find_first_not_of("01") != std::string::npos) {
        return bits.find_first_not_of('Z') == std::string::npos ? "Z" : "X";
    }
    if (bits.size() > kMaxDecimalBits) {
        return "0x" + Hex(bits);
    }
    if (!isSigned || bits[0] == '0') {
        return UnsignedDecimal(bits);
    }
    // Two's complement: the magnitude is the inverted bits plus one.
    std::string magnitude = bits;
    for (char& c : magnitude) {
        c = c == '1' ? '0' : '1';
    }
    std::size_t i = magnitude.size();
    while (i-- > 0) {
        if (magnitude[i] == '0') {
            magnitude[i] = '1';
            break;
        }
        magnitude[i] = '0';
    }
    if (magnitude.find('1') == std::string::npos) {
        magnitude.insert(magnitude.begin(), '1');  // the most negative value
    }
    return "-" + UnsignedDecimal(magnitude);
}

double Pixel(double x, double from, double to, int width)
{
    return (x - from) / (to - from) * width;
}

// (t - from) / (to - from), from exact differences when they fit in 64 bits.
double Fraction(const Time& from, const Time& t, const Time& to)
{
    int exp = std::min({from.exp, t.exp, to.exp});
    std::int64_t a = 0, b = 0, c = 0;
    if (ScaleUp(from.mant, from.exp - exp, &a) && ScaleUp(t.mant, t.exp - exp, &b) &&
        ScaleUp(to.mant, to.exp - exp, &c) && c > a) {
        return static_cast<double>(b - a) / static_cast<double>(c - a);
    }
    return (Seconds(t) - Seconds(from)) / (Seconds(to) - Seconds(from));
}

// How many samples from the first on lie on the grid of SCALE.
std::size_t CountFitting(const SampleView& view, double scale)
{
    std::size_t i = 0;
    if (view.xRun) {
        const double* xs = nullptr;
        while (std::size_t n = i < view.count ? view.xRun(i, &xs) : 0) {
            for (std::size_t k = 0; k < n; ++k) {
                if (!FitsGrid(xs[k], scale)) {
                    return i + k;
                }
            }
            i += n;
        }
        return i;
    }
    while (i < view.count && FitsGrid(view.x(i), scale)) {
        ++i;
    }
    return i;
}

}  // namespace

int InferGrid(const SampleView& view, bool* exact)
{
    *exact = true;
    for (int g = kCoarsestGrid; g >= kFinestGrid; --g) {
        if (CountFitting(view, GridScale(g)) >= view.count) {
            return g;
        }
    }
    // No grid holds every time: the finest one that keeps the largest time countable.
    *exact = false;
    double largest = 0;
    for (std::size_t i = 0; i < view.count; ++i) {
        largest = std::max(largest, std::fabs(view.x(i)));
    }
    int g = kFinestGrid;
    while (g < kCoarsestGrid && largest / GridScale(g) >= 1.0e18) {
        ++g;
    }
    return g;
}

Time TimeOnGrid(double x, int g)
{
    double ticks = g < 0 ? x * Pow10(-g) : x / Pow10(g);
    return Time{std::llround(ticks), g};
}

double Seconds(const Time& t)
{
    double mant = static_cast<double>(t.mant);
    if (t.exp >= 0) {
        return mant * Pow10(std::min(t.exp, 22));
    }
    return t.exp >= -22 ? mant / Pow10(-t.exp) : mant / Pow10(22) / Pow10(-t.exp - 22);
}

double GridSeconds(const Time& t, int g)
{
    std::int64_t ticks = 0;
    if (t.exp >= g && ScaleUp(t.mant, t.exp - g, &ticks)) {
        return static_cast<double>(ticks) * GridScale(g);
    }
    return Seconds(t);
}

int Compare(const Time& a, const Time& b)
{
    std::int64_t left = a.mant, right = b.mant;
    bool fits = a.exp >= b.exp ? ScaleUp(a.mant, a.exp - b.exp, &left)
                               : ScaleUp(b.mant, b.exp - a.exp, &right);
    if (!fits) {
        // The scaled one is larger in magnitude than any int64: its sign decides.
        std::int64_t big = a.exp >= b.exp ? a.mant : -b.mant;
        return big > 0 ? 1 : -1;
    }
    return left < right ? -1 : (left > right ? 1 : 0);
}

std::string FormatTime(const Time& t)
{
    if (t.mant == 0) {
        return "0";
    }
    if (t.mant < 0) {
        return "-" + FormatTime(Time{-t.mant, t.exp});
    }
    std::string digits = std::to_string(t.mant);
    int lead = static_cast<int>(digits.size()) - 1 + t.exp;
    int unit = lead >= 0 ? 0 : -(((-lead) + 2) / 3) * 3;
    unit = std::max(unit, kFinestGrid);
    int shift = t.exp - unit;
    std::string number;
    if (shift >= 0) {
        number = digits + std::string(static_cast<std::size_t>(shift), '0');
    } else {
        int point = static_cast<int>(digits.size()) + shift;
        if (point <= 0) {
            digits.insert(0, static_cast<std::size_t>(1 - point), '0');
            point = 1;
        }
        std::string fraction = digits.substr(static_cast<std::size_t>(point));
        fraction.erase(fraction.find_last_not_of('0') + 1);
        number = digits.substr(0, static_cast<std::size_t>(point));
        if (!fraction.empty()) {
            number += "." + fraction;
        }
    }
    return number + UnitName(unit);
}

bool ParseTime(const std::string& text, Time* t, std::string* error)
{
    static const struct {
        const char* name;
        int exp;
    } units[] = {{"s", 0},    {"ms", -3},  {"us", -6}, {"ns", -9},
                 {"ps", -12}, {"fs", -15}, {"as", -18}};
    std::size_t i = 0;
    std::string digits;
    int fractionDigits = 0;
    while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i]))) {
        digits += text[i++];
    }
    if (i < text.size() && text[i] == '.') {
        for (++i; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])); ++i) {
            digits += text[i];
            ++fractionDigits;
        }
    }
    std::string unit = text.substr(i);
    int unitExp = 1;
    for (const auto& u : units) {
        if (unit == u.name) {
            unitExp = u.exp;
        }
    }
    digits.erase(0, std::min(digits.find_first_not_of('0'), digits.size()));
    bool zero = digits.empty() && i > 0 && text[0] != '.';
    if (zero && (unit.empty() || unitExp != 1)) {
        *t = Time{0, 0};
        return true;
    }
    if (i == 0 || unitExp == 1 || (i == 1 && text[0] == '.')) {
        *error = "bad time \"" + text +
                 "\": write a number and a unit (s, ms, us, ns, ps, fs or as), e.g. 55ns";
        return false;
    }
    if (digits.size() > 18) {
        *error = "time \"" + text + "\" has too many digits";
        return false;
    }
    Time parsed{std::stoll(digits), unitExp - fractionDigits};
    while (parsed.mant % 10 == 0) {
        parsed.mant /= 10;
        ++parsed.exp;
    }
    *t = parsed;
    return true;
}

std::string GridText(int g)
{
    return FormatTime(Time{1, g});
}

bool ParseRadix(const std::string& word, Radix* radix)
{
    static const struct {
        const char* name;
        Radix radix;
    } radixes[] = {{"bin", Radix::kBin},
                   {"hex", Radix::kHex},
                   {"dec", Radix::kDec},
                   {"signed", Radix::kSigned}};
    for (const auto& r : radixes) {
        if (word == r.name) {
            *radix = r.radix;
            return true;
        }
    }
    return false;
}

std::string FormatLogic(const std::string& bits, Radix radix)
{
    if (bits.empty()) {
        return bits;
    }
    switch (radix) {
    case Radix::kHex: return Hex(bits);
    case Radix::kDec: return Decimal(bits, false);
    case Radix::kSigned: return Decimal(bits, true);
    default: return bits;
    }
}

std::string FormatReal(double value)
{
    char buffer[32];
    auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    return std::string(buffer, result.ptr);
}

std::string FormatSample(const SampleView& view, std::size_t i, Radix radix)
{
    if (view.text) {
        const char* value = view.value(i);
        return FormatLogic(value != nullptr ? value : "", radix);
    }
    return FormatReal(view.y(i));
}

std::size_t CountAtOrBefore(const SampleView& view, int grid, const Time& t)
{
    std::size_t lo = 0, hi = view.count;
    while (lo < hi) {
        std::size_t mid = lo + (hi - lo) / 2;
        if (Compare(TimeOnGrid(view.x(mid), grid), t) <= 0) {
            lo = mid + 1;
        } else {
            hi = mid;
        }
    }
    return lo;
}

namespace {

bool SameValue(const SampleView& view, std::size_t a, std::size_t b)
{
    if (!view.text) {
        return view.y(a) == view.y(b);
    }
    // A value text may live only until the next one is read: copy the first.
    std::string first = view.value(a);
    return first == view.value(b);
}

}  // namespace

std::size_t ChangeIndex(const SampleView& view, const Time& t, bool forward)
{
    std::size_t i = CountAtOrBefore(view, view.grid, t);
    if (forward) {
        while (i > 0 && i < view.count && SameValue(view, i, i - 1)) {
            ++i;
        }
        return i;
    }
    // The last sample strictly before t, then back to the start of its run of one value.
    while (i > 0 && Compare(TimeOnGrid(view.x(i - 1), view.grid), t) == 0) {
        --i;
    }
    if (i == 0) {
        return view.count;
    }
    --i;
    while (i > 0 && SameValue(view, i, i - 1)) {
        --i;
    }
    return i;
}

std::vector<std::string> ValuesAt(const std::vector<SampleView>& views, const Time& t, Radix radix)
{
    std::vector<std::string> values;
    for (const SampleView& view : views) {
        std::size_t count = CountAtOrBefore(view, view.grid, t);
        values.push_back(count == 0 ? "-" : FormatSample(view, count - 1, radix));
    }
    return values;
}

bool TableRows(const std::vector<SampleView>& views, const Window& window, Radix radix,
               const RowSink& sink)
{
    std::vector<std::size_t> next(views.size(), 0);
    std::vector<std::string> values(views.size(), "-");
    if (window.hasFrom) {
        values = ValuesAt(views, window.from, radix);
        for (std::size_t k = 0; k < views.size(); ++k) {
            next[k] = CountAtOrBefore(views[k], views[k].grid, window.from);
        }
        if (window.hasTo && Compare(window.from, window.to) > 0) {
            return true;
        }
        if (!sink(FormatTime(window.from), values)) {
            return false;
        }
    }
    for (;;) {
        // The earliest next change of any waveform.
        bool any = false;
        Time earliest;
        for (std::size_t k = 0; k < views.size(); ++k) {
            if (next[k] < views[k].count) {
                Time t = TimeOnGrid(views[k].x(next[k]), views[k].grid);
                if (!any || Compare(t, earliest) < 0) {
                    earliest = t;
                    any = true;
                }
            }
        }
        if (!any || (window.hasTo && Compare(earliest, window.to) > 0)) {
            return true;
        }
        for (std::size_t k = 0; k < views.size(); ++k) {
            // Several samples at one time: the last one holds.
            std::size_t i = next[k];
            while (i < views[k].count &&
                   Compare(TimeOnGrid(views[k].x(i), views[k].grid), earliest) == 0) {
                ++i;
            }
            if (i != next[k]) {
                values[k] = FormatSample(views[k], i - 1, radix);
                next[k] = i;
            }
        }
        if (!sink(FormatTime(earliest), values)) {
            return false;
        }
    }
}

std::vector<Run> LogicRuns(const SampleView& view, double from, double to, int width, Radix radix)
{
    std::vector<Run> runs;
    if (view.count == 0 || !(to > from) || width <= 0) {
        return runs;
    }
    std::size_t after = FirstAfter(view, from, true);
    std::size_t i = after == 0 ? 0 : after - 1;
    double start = after == 0 ? Pixel(view.x(0), from, to, width) : 0.0;
    double columnWidth = (to - from) / width;
    while (start < width) {
        std::size_t j = i + 1;
        if (j >= view.count || view.x(j) >= to) {
            runs.push_back(
                Run{start, static_cast<double>(width), FormatSample(view, i, radix), false});
            break;
        }
        double end = Pixel(view.x(j), from, to, width);
        if (std::floor(end) > std::floor(start)) {
            runs.push_back(Run{start, end, FormatSample(view, i, radix), false});
            i = j;
            start = end;
            continue;
        }
        // Several changes in this column: one busy run up to its right edge.
        double column = std::floor(start);
        std::size_t k = FirstAfter(view, from + (column + 1) * columnWidth, false);
        i = std::max(j, k == 0 ? 0 : k - 1);
        if (!runs.empty() && runs.back().busy && runs.back().x1 == start) {
            runs.back().x1 = column + 1;
        } else {
            runs.push_back(Run{start, column + 1, std::string(), true});
        }
        start = column + 1;
    }
    return runs;
}

Trace RealTrace(const SampleView& view, double from, double to, int width)
{
    Trace trace;
    if (view.count == 0 || !(to > from) || width <= 0) {
        return trace;
    }
    std::size_t after = FirstAfter(view, from, true);
    std::size_t i = after;
    double held = 0;
    bool started = after > 0;
    auto add = [&trace](double x, double y) {
        trace.xy.push_back(x);
        trace.xy.push_back(y);
        trace.yMin = trace.xy.size() == 2 ? y : std::min(trace.yMin, y);
        trace.yMax = trace.xy.size() == 2 ? y : std::max(trace.yMax, y);
    };
    if (started) {
        held = view.y(after - 1);
        add(0, held);
    }
    // Samples after the window are not drawn; each column's samples are found by bisection,
    // so that only their values are read one by one.
    std::size_t stop = FirstAfter(view, to, true);
    double columnWidth = (to - from) / width;
    while (i < stop) {
        double px = Pixel(view.x(i), from, to, width);
        double column = std::floor(px);
        std::size_t end =
            std::min(stop, FirstAfter(view, from + (column + 1) * columnWidth, false));
        end = std::max(end, i + 1);
        double lo = view.y(i), hi = lo, last = lo;
        for (std::size_t j = i + 1; j < end; ++j) {
            last = view.y(j);
            lo = std::min(lo, last);
            hi = std::max(hi, last);
        }
        if (started) {
            add(px, held);
        }
        started = true;
        if (end - i == 1) {
            add(px, last);
        } else {
            add(px, lo);
            add(px, hi);
            add(Pixel(view.x(end - 1), from, to, width), last);
        }
        held = last;
        i = end;
    }
    // The last value holds to the window's end, as logic values do.
    if (started && trace.xy[trace.xy.size() - 2] < width) {
        add(width, held);
    }
    return trace;
}

std::vector<int> EventColumns(const SampleView& view, double from, double to, int width)
{
    std::vector<int> columns;
    if (view.count == 0 || !(to > from) || width <= 0) {
        return columns;
    }
    double columnWidth = (to - from) / width;
    std::size_t i = FirstAfter(view, from, false);
    while (i < view.count && view.x(i) <= to) {
        int column = std::min(width - 1, static_cast<int>(Pixel(view.x(i), from, to, width)));
        columns.push_back(column);
        // Skip the rest of this column.
        i = std::max(i + 1, FirstAfter(view, from + (column + 1) * columnWidth, false));
    }
    return columns;
}

std::vector<Tick> AxisTicks(const Time& from, const Time& to, int width, int minSpacing)
{
    std::vector<Tick> ticks;
    double start = Seconds(from), span = Seconds(to) - start;
    if (!(span > 0) || width <= 0 || minSpacing <= 0) {
        ticks.push_back(Tick{0, FormatTime(from)});
        return ticks;
    }
    double raw = span / std::max(1, width / minSpacing);
    int p = static_cast<int>(std::floor(std::log10(raw)));
    double base = std::pow(10.0, p);
    std::int64_t step = raw <= base ? 1 : raw <= 2 * base ? 2 : raw <= 5 * base ? 5 : 10;
    // The first multiple of the step at or after from.
    std::int64_t first = 0;
    std::int64_t scaled = 0;
    if (from.exp >= p) {
        if (!ScaleUp(from.mant, from.exp - p, &scaled)) {
            return ticks;
        }
        first = (scaled + step - 1) / step;
    } else {
        std::int64_t divisor = 1;
        bool fits = ScaleUp(step, p - from.exp, &divisor);
        first = fits ? (from.mant + divisor - 1) / divisor : (from.mant > 0 ? 1 : 0);
    }
    for (std::int64_t k = first; ticks.size() < 1000; ++k) {
        Time t{k * step, p};
        if (Compare(t, to) > 0) {
            break;
        }
        ticks.push_back(Tick{Fraction(from, t, to) * width, FormatTime(t)});
    }
    return ticks;
}

}  // namespace vexa::draw
