// drawmodel_test.cpp: the drawing model without a display: exact times and their texts, radix
// texts, tables of samples, decimation per pixel column and time-axis ticks.
#include "draw/drawmodel.h"

#include <gtest/gtest.h>

#include <cstring>

namespace draw = vexa::draw;

namespace {

// Samples held in vectors, with times made from ticks as a reader makes them.
struct Samples {
    std::vector<double> x;
    std::vector<double> y;
    std::vector<std::string> texts;

    draw::SampleView View()
    {
        draw::SampleView view;
        view.count = x.size();
        view.text = !texts.empty();
        view.x = [this](std::size_t i) { return x[i]; };
        view.y = [this](std::size_t i) { return y[i]; };
        view.value = [this](std::size_t i) { return texts[i].c_str(); };
        bool exact = false;
        view.grid = draw::InferGrid(view, &exact);
        return view;
    }
};

const double kNs = 1.0 / 1e9;

Samples Logic(const std::vector<std::pair<long long, std::string>>& changes, double unit = kNs)
{
    Samples s;
    for (const auto& [tick, text] : changes) {
        s.x.push_back(static_cast<double>(tick) * unit);
        s.texts.push_back(text);
    }
    return s;
}

std::string Text(const draw::Time& t)
{
    return draw::FormatTime(t);
}

draw::Time Parse(const std::string& text)
{
    draw::Time t;
    std::string error;
    EXPECT_TRUE(draw::ParseTime(text, &t, &error)) << error;
    return t;
}

}  // namespace

TEST(DrawTime, EngineeringTextsAreExact)
{
    EXPECT_EQ(Text({55, -9}), "55ns");
    EXPECT_EQ(Text({12, -7}), "1.2us");
    EXPECT_EQ(Text({1500, -9}), "1.5us");
    EXPECT_EQ(Text({5, -10}), "500ps");
    EXPECT_EQ(Text({1000, 0}), "1000s");
    EXPECT_EQ(Text({0, -9}), "0");
    EXPECT_EQ(Text({123456789, -18}), "123.456789ps");
    EXPECT_EQ(Text({1, -20}), "0.01as");
    EXPECT_EQ(draw::GridText(-8), "10ns");
}

TEST(DrawTime, ParseReadsUnitsAndRefusesGuesses)
{
    EXPECT_EQ(Text(Parse("55ns")), "55ns");
    EXPECT_EQ(Text(Parse("1.2us")), "1.2us");
    EXPECT_EQ(Text(Parse("0.0015ms")), "1.5us");
    EXPECT_EQ(Text(Parse("0")), "0");
    EXPECT_EQ(Parse("1200ns").mant, 12);
    EXPECT_EQ(Parse("1200ns").exp, -7);
    for (const char* bad :
         {"55", "ns", "5 ns", "-5ns", "1.2.3ns", "5NS", "", "1234567890123456789ns"}) {
        draw::Time t;
        std::string error;
        EXPECT_FALSE(draw::ParseTime(bad, &t, &error)) << bad;
    }
    draw::Time t;
    std::string error;
    draw::ParseTime("55", &t, &error);
    EXPECT_EQ(
        error,
        "bad time \"55\": write a number and a unit (s, ms, us, ns, ps, fs or as), e.g. 55ns");
}

TEST(DrawTime, CompareIsExactAcrossExponents)
{
    EXPECT_EQ(draw::Compare({55, -9}, {55000, -12}), 0);
    EXPECT_EQ(draw::Compare({55, -9}, {55001, -12}), -1);
    EXPECT_EQ(draw::Compare({1, 12}, {1, -18}), 1);  // beyond int64 when scaled
    EXPECT_EQ(draw::Compare({0, 3}, {0, -9}), 0);
}

TEST(DrawGrid, SampleTimesComeBackWithoutRoundingNoise)
{
    Samples s = Logic({{0, "0"}, {5, "1"}, {3, "0"}, {1200, "1"}});
    ASSERT_EQ(s.x[2], 3.0000000000000004e-9);  // 3 ticks of 1ns, as a reader computes them
    draw::SampleView view = s.View();
    EXPECT_EQ(view.grid, -9);
    EXPECT_EQ(Text(draw::TimeOnGrid(s.x[2], view.grid)), "3ns");
    EXPECT_EQ(Text(draw::TimeOnGrid(s.x[3], view.grid)), "1.2us");

    Samples ps = Logic({{0, "0"}, {3, "1"}}, 10 / 1e12);
    EXPECT_EQ(ps.View().grid, -11);
    EXPECT_EQ(Text(draw::TimeOnGrid(ps.x[1], -11)), "30ps");

    Samples coarse = Logic({{0, "0"}, {20, "1"}, {40, "0"}});
    EXPECT_EQ(coarse.View().grid, -8);

    Samples odd;
    odd.x = {0, 1e-30};  // below every grid
    odd.y = {0, 0};
    bool exact = true;
    EXPECT_EQ(draw::InferGrid(odd.View(), &exact), -18);
    EXPECT_FALSE(exact);
}

TEST(DrawRadix, LogicTextsInEveryRadix)
{
    using draw::Radix;
    EXPECT_EQ(draw::FormatLogic("0101", Radix::kHex), "5");
    EXPECT_EQ(draw::FormatLogic("10101", Radix::kHex), "15");
    EXPECT_EQ(draw::FormatLogic("XXXX", Radix::kHex), "X");
    EXPECT_EQ(draw::FormatLogic("ZZZZZ", Radix::kHex), "ZZ");
    EXPECT_EQ(draw::FormatLogic("Z", Radix::kHex), "Z");
    EXPECT_EQ(draw::FormatLogic("1Z01", Radix::kHex), "X");
    EXPECT_EQ(draw::FormatLogic("11110000", Radix::kHex), "f0");
    EXPECT_EQ(draw::FormatLogic("1111", Radix::kDec), "15");
    EXPECT_EQ(draw::FormatLogic("1111", Radix::kSigned), "-1");
    EXPECT_EQ(draw::FormatLogic("1000", Radix::kSigned), "-8");
    EXPECT_EQ(draw::FormatLogic("0111", Radix::kSigned), "7");
    EXPECT_EQ(draw::FormatLogic("1", Radix::kSigned), "-1");
    EXPECT_EQ(draw::FormatLogic("10X1", Radix::kDec), "X");
    EXPECT_EQ(draw::FormatLogic("ZZ", Radix::kDec), "Z");
    EXPECT_EQ(draw::FormatLogic("01XZ", Radix::kBin), "01XZ");
    EXPECT_EQ(draw::FormatLogic(std::string(70, '1'), Radix::kDec), "1180591620717411303423");
    EXPECT_EQ(draw::FormatLogic("1" + std::string(69, '0'), Radix::kSigned),
              "-590295810358705651712");
    EXPECT_EQ(draw::FormatReal(0.1), "0.1");
    EXPECT_EQ(draw::FormatReal(-2.5), "-2.5");
    EXPECT_EQ(draw::FormatReal(1e-9), "1e-09");
    draw::Radix radix;
    EXPECT_TRUE(draw::ParseRadix("signed", &radix));
    EXPECT_EQ(radix, Radix::kSigned);
    EXPECT_FALSE(draw::ParseRadix("oct", &radix));
}

TEST(DrawTable, RowsMergeTimesAndStartWithTheValuesAtFrom)
{
    Samples clk = Logic({{0, "0"}, {5, "1"}, {10, "0"}, {15, "1"}, {20, "0"}});
    Samples bus = Logic({{0, "XXXX"}, {5, "0000"}, {15, "1010"}, {15, "1011"}});
    std::vector<draw::SampleView> views{clk.View(), bus.View()};
    std::string out;
    auto sink = [&out](const std::string& time, const std::vector<std::string>& values) {
        out += time;
        for (const auto& v : values) {
            out += " " + v;
        }
        out += "\n";
        return true;
    };
    draw::Window window;
    window.hasFrom = window.hasTo = true;
    window.from = Parse("7ns");
    window.to = Parse("15ns");
    EXPECT_TRUE(draw::TableRows(views, window, draw::Radix::kHex, sink));
    EXPECT_EQ(out, "7ns 1 0\n10ns 0 0\n15ns 1 b\n");

    out.clear();
    EXPECT_TRUE(draw::TableRows(views, draw::Window{}, draw::Radix::kBin, sink));
    EXPECT_EQ(out, "0 0 XXXX\n5ns 1 0000\n10ns 0 0000\n15ns 1 1011\n20ns 0 1011\n");

    EXPECT_EQ(draw::ValuesAt(views, Parse("14.9ns"), draw::Radix::kDec),
              (std::vector<std::string>{"0", "0"}));
    Samples late = Logic({{10, "1"}});
    EXPECT_EQ(draw::ValuesAt({late.View()}, Parse("9ns"), draw::Radix::kBin),
              (std::vector<std::string>{"-"}));

    int rows = 0;
    EXPECT_FALSE(draw::TableRows(
        views, draw::Window{}, draw::Radix::kBin,
        [&rows](const std::string&, const std::vector<std::string>&) { return ++rows < 2; }));
    EXPECT_EQ(rows, 2);
}

TEST(DrawTable, ChangesSkipRepeatedValues)
{
    Samples q = Logic({{0, "0"}, {5, "1"}, {10, "1"}, {15, "1"}, {20, "0"}, {20, "1"}});
    draw::SampleView view = q.View();
    auto next = [&view](const char* t) { return draw::ChangeIndex(view, Parse(t), true); };
    auto previous = [&view](const char* t) { return draw::ChangeIndex(view, Parse(t), false); };
    // 10ns and 15ns repeat 1; two samples at 20ns are two changes at one time.
    EXPECT_EQ(next("0"), 1u);
    EXPECT_EQ(next("5ns"), 4u);
    EXPECT_EQ(next("19ns"), 4u);
    EXPECT_EQ(next("20ns"), 6u);
    EXPECT_EQ(previous("20ns"), 1u);
    EXPECT_EQ(previous("17ns"), 1u);
    EXPECT_EQ(previous("5ns"), 0u);
    EXPECT_EQ(previous("0"), 6u);
    EXPECT_EQ(previous("21ns"), 5u);

    Samples real;
    real.x = {0, 2 * kNs, 4 * kNs};
    real.y = {0.5, 0.5, -1.0};
    draw::SampleView analog = real.View();
    EXPECT_EQ(draw::ChangeIndex(analog, Parse("0"), true), 2u);
    EXPECT_EQ(draw::ChangeIndex(analog, Parse("3ns"), false), 0u);
}

TEST(DrawColumns, LogicRunsAndBusyColumns)
{
    // 0..100ns over 10 columns: a long run, then a burst of changes inside column 5.
    Samples s = Logic({{0, "0"}, {30, "1"}, {51, "0"}, {52, "1"}, {53, "0"}, {70, "1"}});
    std::vector<draw::Run> runs = draw::LogicRuns(s.View(), 0, 100e-9, 10, draw::Radix::kBin);
    std::string text;
    for (const auto& r : runs) {
        text += std::to_string(static_cast<int>(r.x0 * 10 + 0.5)) + "-" +
                std::to_string(static_cast<int>(r.x1 * 10 + 0.5)) + ":" +
                (r.busy ? "busy" : r.value) + " ";
    }
    EXPECT_EQ(text, "0-30:0 30-51:1 51-60:busy 60-70:0 70-100:1 ");
}

TEST(DrawColumns, MillionsOfChangesGiveAFewRunsPerColumn)
{
    Samples s;
    for (long long t = 0; t < 1000000; ++t) {
        s.x.push_back(static_cast<double>(t) * kNs);
        s.texts.push_back(t % 2 ? "1" : "0");
    }
    std::vector<draw::Run> runs = draw::LogicRuns(s.View(), 0, 1e-3, 500, draw::Radix::kBin);
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_TRUE(runs[0].busy);
    EXPECT_EQ(runs[0].x1, 500.0);

    std::vector<draw::Run> zoomed =
        draw::LogicRuns(s.View(), draw::GridSeconds(Parse("100ns"), -9),
                        draw::GridSeconds(Parse("110ns"), -9), 100, draw::Radix::kBin);
    ASSERT_EQ(zoomed.size(), 10u);
    EXPECT_EQ(zoomed[0].value, "0");
    EXPECT_EQ(zoomed[1].value, "1");
    EXPECT_EQ(zoomed[9].x1, 100.0);
}

TEST(DrawColumns, RealTraceKeepsTheRangeOfEveryColumn)
{
    Samples s;
    s.x = {0, 1e-9, 1.1e-9, 1.2e-9, 5e-9};
    s.y = {0.5, 2.0, -3.0, 1.0, 1.5};
    draw::Trace trace = draw::RealTrace(s.View(), 0, 10e-9, 10);
    EXPECT_EQ(trace.yMin, -3.0);
    EXPECT_EQ(trace.yMax, 2.0);
    // Column 1 holds three samples: entry step, its minimum and maximum, the value it leaves.
    auto px = [](double x) { return x / 10e-9 * 10; };
    std::vector<double> expected{0,          0.5, px(1e-9), 0.5, px(1e-9), -3.0, px(1e-9), 2.0,
                                 px(1.2e-9), 1.0, px(5e-9), 1.0, px(5e-9), 1.5,  10,       1.5};
    EXPECT_EQ(trace.xy, expected);

    Samples events;
    events.x = {1e-9, 1.5e-9, 7e-9};
    events.y = {1, 1, 1};
    EXPECT_EQ(draw::EventColumns(events.View(), 0, 10e-9, 10), (std::vector<int>{1, 7}));
}

TEST(DrawAxis, TicksAtRoundSteps)
{
    std::vector<draw::Tick> ticks = draw::AxisTicks(Parse("0"), Parse("80ns"), 400, 100);
    std::string text;
    for (const auto& t : ticks) {
        text += draw::FormatReal(t.x) + ":" + t.label + " ";
    }
    EXPECT_EQ(text, "0:0 100:20ns 200:40ns 300:60ns 400:80ns ");
    ticks = draw::AxisTicks(Parse("1.01us"), Parse("1.02us"), 100, 50);
    ASSERT_EQ(ticks.size(), 3u);
    EXPECT_EQ(ticks[0].label, "1.01us");
    EXPECT_EQ(ticks[1].label, "1.015us");
}
