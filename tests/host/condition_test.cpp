// condition_test.cpp: the condition language without Tcl: parsing with positioned errors,
// selects, three-valued logic over X and Z, edges and events, reals, as the times a condition
// becomes true.
#include "tcl/condition.h"

#include <gtest/gtest.h>

#include <map>

namespace draw = vexa::draw;
namespace condition = vexa::condition;

namespace {

struct Samples {
    std::vector<double> x;
    std::vector<double> y;
    std::vector<std::string> texts;
    draw::SampleView view;
};

// Samples at whole nanoseconds: texts for logic, numbers for reals and events.
void Fill(Samples* s, const std::vector<std::pair<long long, std::string>>& changes, bool text)
{
    for (const auto& [tick, value] : changes) {
        s->x.push_back(static_cast<double>(tick) * 1e-9);
        text ? s->texts.push_back(value) : s->y.push_back(std::stod(value));
    }
    s->view.count = s->x.size();
    s->view.text = text;
    s->view.x = [s](std::size_t i) { return s->x[i]; };
    s->view.y = [s](std::size_t i) { return s->y[i]; };
    s->view.value = [s](std::size_t i) { return s->texts[i].c_str(); };
    s->view.grid = -9;
}

// The times (ns) at which TEXT becomes true, or "error P: MESSAGE".
std::string Matches(const std::string& text)
{
    static std::map<std::string, std::pair<Samples, condition::Signal>> signals;
    if (signals.empty()) {
        auto add = [](const std::string& name, condition::Kind kind, int width, bool isText,
                      const std::vector<std::pair<long long, std::string>>& changes) {
            auto& [samples, signal] = signals[name];
            Fill(&samples, changes, isText);
            signal = condition::Signal{&samples.view, kind, width, name, 0};
        };
        add("a", condition::Kind::kLogic, 1, true,
            {{0, "0"}, {10, "1"}, {20, "0"}, {30, "1"}, {30, "1"}, {40, "X"}});
        add("v", condition::Kind::kLogic, 8, true,
            {{0, "X"}, {5, "10000000"}, {15, "1"}, {25, "11110000"}, {35, "Z"}});
        add("r", condition::Kind::kReal, 1, false, {{0, "0.5"}, {12, "2.5"}, {30, "-1"}});
        add("e", condition::Kind::kEvent, 1, false, {{22, "1"}, {22, "1"}, {33, "1"}});
    }
    condition::Expression e;
    condition::Error error;
    bool ok = e.Parse(text, &error);
    for (std::size_t r = 0; ok && r < e.References().size(); ++r) {
        const condition::Reference& ref = e.References()[r];
        bool select = !signals.count(ref.text);
        const std::string& name = select ? ref.base : ref.text;
        ok = signals.count(name) && e.Bind(r, signals[name].second, select, &error);
    }
    if (!ok || !e.Check(&error)) {
        return "error " + std::to_string(error.position) + ": " + error.message;
    }
    std::string times;
    e.Matches(-9, vexa::analysis::Window{}, false, [&times](vexa::analysis::Ticks t) {
        times += (times.empty() ? "" : " ") + std::to_string(t);
        return true;
    });
    return times;
}

TEST(Condition, TimesAndErrors)
{
    const std::pair<const char*, const char*> cases[] = {
        {"a", "10 30"},
        {"!a", "0 20"},  // X at 40 is neither true nor false
        {"rise(a)", "10 30"},
        {"fall(a)", "20"},
        {"v == 1", "15"},  // "1" is the vector 00000001
        {"v >= 0x80", "5 25"},
        {"v[7:4] == 0b1111", "25"},
        {"isx(v) || isz(v)", "0 35"},
        {"!(v == 1)", "5 25"},  // unknown at 0 and 35
        {"a && v == 1", "15"},
        {"a || v > 200", "10 25"},
        {"e", "22 33"},
        {"r > 1 && !e", "12"},
        {"r < -0.5", "30"},
        {"-1.5e0 < r", "0"},
        {"a &&", "error 5: expected a signal, a number, \"(\" or \"!\", found \"the end\""},
        {"(a", "error 3: expected \")\", found \"the end\""},
        {"a == 1 == 1", "error 8: comparisons do not chain: join them with && or ||"},
        {"foo(a)", "error 1: unknown function \"foo\": must be rise, fall, isx or isz"},
        {"rise(v)", "error 6: rise() needs a one-bit signal: \"v\" is not one"},
        {"rise(a == 1)", "error 6: rise() takes a signal"},
        {"e == 1", "error 1: \"e\" is an event: it stands alone, true where it occurs"},
        {"v[8]", "error 1: \"v[8]\" selects bits outside \"v\" (8 bits from index 0)"},
        {"v[0:3]", "error 1: write the select of \"v[0:3]\" high bit first"},
        {"v == 0x",
         "error 6: bad number \"0x\": write 200, 0xc8, 0b11001000 or a real such as 1.5e-3"},
        {"a @ 1", "error 3: expected &&, || or the end, found \"@\""},
    };
    for (const auto& [text, expected] : cases) {
        EXPECT_EQ(Matches(text), expected) << text;
    }
}

}  // namespace

namespace {

// Logic texts are the vector values they extend to, however short a reader writes them.
TEST(Compare, ShortestLogicText)
{
    const std::pair<const char*, const char*> cases[] = {
        {"XXXX", "X"}, {"0011", "11"}, {"0X", "0X"}, {"ZZ1", "Z1"}, {"0000", "0"}, {"1", "1"}};
    for (const auto& [text, expected] : cases) {
        EXPECT_STREQ(vexa::analysis::Shortest(text), expected) << text;
    }
}

}  // namespace
