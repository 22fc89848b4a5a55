// bus_test.cpp: the bus loader: time points of all members, joined member texts, kinds and
// widths, the load list, every failure row, and the ordered time list.
#include <cctype>
#include <map>
#include <utility>

#include "context/timescale.h"
#include "load/time_list.h"
#include "load_support.h"

namespace loadtest {
namespace {

class BusTest : public LoadTest {
protected:
    // Scope "top" in a file of type 0, unit 1s, end tag 100; buses grouped from name[i] leaves.
    nffr::FileWriter Writer()
    {
        nffr::FileWriter writer;
        writer.SetFileType(0);
        writer.SetTimeUnit("1s");
        writer.SetEndTag(100);
        writer.BeginScope("top");
        return writer;
    }
    ReaderContext* OpenWritten(nffr::FileWriter& writer, const std::string& name = "run.fsdb")
    {
        writer.EndScope();
        return Open(Write(writer, name), 0, 1);
    }
    ReaderTreeBus* Bus(ReaderContext* context, const char* path = "top/data[1:0]")
    {
        ReaderTreeNode* node = LookUpPath(context, path);
        EXPECT_NE(node, nullptr) << path;
        ReaderTreeBus* bus = node != nullptr ? node->GetNodeBus() : nullptr;
        EXPECT_NE(bus, nullptr) << path;
        return bus;
    }
    int Load(ReaderTreeBus* bus, ReaderContext* context, WfXWave** wave, int force = 0)
    {
        int result = LoadBusWave(bus, interp_, context, "top/data", wave, force);
        Keep(*wave);
        return result;
    }
};

// Members changing at the same and at different times; texts joined highest index first.
TEST_F(BusTest, TimePointsAndJoinedTexts)
{
    nffr::FileWriter writer = Writer();
    int hi = writer.AddVar("data[1]", 0, 1);
    writer.AddBits(hi, 0, "0");
    writer.AddBits(hi, 10, "1");
    writer.AddBits(hi, 20, "z");
    int lo = writer.AddVar("data[0]", 0, 1);
    writer.AddBits(lo, 0, "1");
    writer.AddBits(lo, 5, "x");
    writer.AddBits(lo, 20, "0");
    ReaderContext* context = OpenWritten(writer);
    WfXWave* wave = nullptr;
    ASSERT_EQ(Load(Bus(context), context, &wave), 0);
    vexahost::WaveHeader header = Header(wave);
    EXPECT_EQ(header.kind, 25);
    EXPECT_EQ(header.width, 2);
    EXPECT_EQ(header.name, "top/data");
    EXPECT_TRUE(HoldsExactly(wave, {{0, "01"}, {5, "0X"}, {10, "1X"}, {20, "Z0"}, {100, "Z0"}}));
}

// Members walked forward over the time points: a member whose first change comes after the
// first point has no value in force before it and shows X in every bit there, a
// member of four bits keeps its place between one-bit members, and a change is in force from
// its own point on.
TEST_F(BusTest, MembersWalkedAcrossEveryPoint)
{
    nffr::FileWriter writer = Writer();
    int high = writer.AddVar("data[2]", 0, 1);
    writer.AddBits(high, 0, "0");
    writer.AddBits(high, 7, "1");
    writer.AddBits(high, 9, "x");
    int middle = writer.AddVar("data[1]", 0, 4);
    writer.AddBits(middle, 3, "1z0x");
    writer.AddBits(middle, 8, "0000");
    int low = writer.AddVar("data[0]", 0, 1);
    for (uint64_t t = 0; t < 10; t++) {
        writer.AddBits(low, t, t % 2 ? "1" : "0");
    }
    ReaderContext* context = OpenWritten(writer);
    WfXWave* wave = nullptr;
    ASSERT_EQ(Load(Bus(context, "top/data[2:0]"), context, &wave), 0);
    EXPECT_EQ(Samples(wave), (std::vector<Sample>{{0, "0XXXX0"},
                                                  {1, "0XXXX1"},
                                                  {2, "0XXXX0"},
                                                  {3, "01Z0X1"},
                                                  {4, "01Z0X0"},
                                                  {5, "01Z0X1"},
                                                  {6, "01Z0X0"},
                                                  {7, "11Z0X1"},
                                                  {8, "100000"},
                                                  {9, "X00001"},
                                                  {100, "X00001"}}));
}

// Members wider than one bit: the joined text holds every member's whole text.
TEST_F(BusTest, WideMembersAreJoinedWhole)
{
    nffr::FileWriter writer = Writer();
    std::string expected;
    for (int i = 2; i >= 0; i--) {
        int id = writer.AddVar("data[" + std::to_string(i) + "]", 0, 16);
        writer.AddBits(id, 100, std::string(16, i == 1 ? 'x' : '1'));
        expected += std::string(16, i == 1 ? 'X' : '1');
    }
    ReaderContext* context = OpenWritten(writer);
    WfXWave* wave = nullptr;
    ASSERT_EQ(Load(Bus(context, "top/data[2:0]"), context, &wave), 0);
    EXPECT_EQ(Header(wave).width, 3);
    // The only change lies on the end tag: no closing sample.
    EXPECT_TRUE(HoldsExactly(wave, {{100, expected}}));
}

// A member without changes adds nothing; a bus of width 1 keeps its member's kind.
TEST_F(BusTest, QuietMemberAndWidthOne)
{
    nffr::FileWriter writer = Writer();
    int hi = writer.AddVar("data[1]", 0, 1);
    writer.AddBits(hi, 3, "1");
    writer.AddVar("data[0]", 0, 1);
    int solo = writer.AddVar("solo[0]", 0, 1);
    writer.AddBits(solo, 0, "0");
    ReaderContext* context = OpenWritten(writer);
    WfXWave* wave = nullptr;
    ASSERT_EQ(Load(Bus(context), context, &wave), 0);
    EXPECT_TRUE(HoldsExactly(wave, {{3, "1"}, {100, "1"}}));

    WfXWave* single = nullptr;
    ASSERT_EQ(Load(Bus(context, "top/solo[0:0]"), context, &single), 0);
    EXPECT_EQ(Header(single).kind, 23);
    EXPECT_EQ(Header(single).width, 1);
    EXPECT_TRUE(HoldsExactly(single, {{0, "0"}, {100, "0"}}));
}

// No member yields a first tag (none has changes): one sample at time 0 (tag 0), then the
// closing sample. A first tag that cannot be read once leaves the load to the time list, which
// reads it again.
TEST_F(BusTest, NoFirstTagGivesTheZeroPoint)
{
    nffr::FileWriter writer = Writer();
    int only = writer.AddVar("data[0]", 0, 1);
    writer.AddBits(only, 0, "1");
    writer.AddBits(only, 50, "0");
    writer.AddVar("quiet[0]", 0, 1);
    ReaderContext* context = OpenWritten(writer);
    WfXWave* wave = nullptr;
    ASSERT_EQ(Load(Bus(context, "top/quiet[0:0]"), context, &wave), 0);
    EXPECT_TRUE(HoldsExactly(wave, {{0, ""}, {100, ""}}));

    ResetCounts();
    nffr::testhooks::FailNthCall(Op::GetFirstTag, 1);
    wave = nullptr;
    ASSERT_EQ(Load(Bus(context, "top/data[0:0]"), context, &wave), 0);
    EXPECT_TRUE(HoldsExactly(wave, {{0, "1"}, {50, "0"}, {100, "0"}}));
    EXPECT_EQ(Calls(Op::GetFirstTag), 2);
}

// Appending to a handed-in waveform, and the load list with and without force.
TEST_F(BusTest, AppendingAndLoadList)
{
    nffr::FileWriter writer = Writer();
    int hi = writer.AddVar("data[1]", 0, 1);
    writer.AddBits(hi, 100, "1");
    int lo = writer.AddVar("data[0]", 0, 1);
    writer.AddBits(lo, 100, "0");
    ReaderContext* context = OpenWritten(writer);
    ReaderTreeBus* bus = Bus(context);
    ResetCounts();
    WfXWave* wave = nullptr;
    ASSERT_EQ(Load(bus, context, &wave), 0);
    EXPECT_EQ(Calls(Op::AddToLoadList), 2);
    EXPECT_EQ(Calls(Op::LoadListedSignals), 1);

    ResetCounts();
    WfXWave* given = NewWave(25, 2);
    WfXWave* appended = given;
    ASSERT_EQ(Load(bus, context, &appended), 0);
    EXPECT_EQ(appended, given);
    EXPECT_EQ(Header(given).name, "given");
    EXPECT_TRUE(HoldsExactly(given, {{100, "10"}}));
    EXPECT_EQ(Calls(Op::IsInLoadList), 2);
    EXPECT_EQ(Calls(Op::AddToLoadList), 0);
    EXPECT_EQ(Calls(Op::LoadListedSignals), 1);

    ResetCounts();
    WfXWave* forced = nullptr;
    ASSERT_EQ(Load(bus, context, &forced, 1), 0);
    EXPECT_EQ(Calls(Op::IsInLoadList), 0);
    EXPECT_EQ(Calls(Op::AddToLoadList), 2);
    EXPECT_EQ(Calls(Op::LoadListedSignals), 1);
}

// Failure rows and what the caller's handle holds afterwards.
TEST_F(BusTest, FailureRows)
{
    nffr::FileWriter writer = Writer();
    int hi = writer.AddVar("data[1]", 0, 1);
    writer.AddBits(hi, 0, "0");
    writer.AddBits(hi, 10, "1");
    int lo = writer.AddVar("data[0]", 0, 1);
    writer.AddBits(lo, 0, "1");
    ReaderContext* context = OpenWritten(writer);
    ReaderTreeBus* bus = Bus(context);
    WfXWave* marker = NewWave(25, 2);

    // The first member has no variable record in this other file.
    nffr::FileWriter other;
    other.SetFileType(0);
    other.BeginScope("top");
    int far = other.AddVar("far", 0, 1, 3, 77);
    other.AddBits(far, 0, "1");
    ReaderContext* otherContext = OpenWritten(other, "other.fsdb");
    WfXWave* wave = marker;
    EXPECT_EQ(LoadBusWave(bus, interp_, otherContext, "x", &wave, 0), 1);
    EXPECT_EQ(wave, marker);

    // The host refuses to create the waveform (no name).
    wave = nullptr;
    EXPECT_EQ(LoadBusWave(bus, interp_, context, nullptr, &wave, 0), 1);
    EXPECT_EQ(wave, nullptr);

    // No traverser for the second member: handle unchanged.
    ResetCounts();
    nffr::testhooks::FailNthCall(Op::CreateTraverser, 2);
    wave = marker;
    EXPECT_EQ(LoadBusWave(bus, interp_, context, "x", &wave, 0), 1);
    EXPECT_EQ(wave, marker);
    EXPECT_EQ(Header(marker).count, 0u);
    EXPECT_EQ(Calls(Op::FreeTraverser), Calls(Op::CreateTraverser) - 1);

    // A failed read, when a member is placed at the first point or later when it steps to a
    // further change: nothing is read after it, nothing is handed over, the waveform comes back.
    // Each member is placed once (GotoTag) and then walked forward.
    struct ReadFailure {
        Op op;
        int nth;
        int gotoTags;
    };
    for (ReadFailure failure : {ReadFailure{Op::GetValue, 1, 1}, ReadFailure{Op::GotoTag, 2, 2},
                                ReadFailure{Op::GetValue, 3, 2}, ReadFailure{Op::GetTag, 1, 1}}) {
        ResetCounts();
        nffr::testhooks::FailNthCall(failure.op, failure.nth);
        wave = nullptr;
        EXPECT_EQ(Load(bus, context, &wave), 1);
        ASSERT_NE(wave, nullptr);
        EXPECT_EQ(Header(wave).count, 0u);
        EXPECT_EQ(Calls(failure.op), failure.nth);
        EXPECT_EQ(Calls(Op::GotoTag), failure.gotoTags);
    }
    ResetCounts();
    wave = nullptr;
    EXPECT_EQ(Load(bus, context, &wave), 0);
    EXPECT_EQ(Calls(Op::GotoTag), 2);
    EXPECT_EQ(Calls(Op::GetValue), 3);  // two first values and data[1]'s change at 10

    // The host refuses the samples (the waveform is done): its result, the waveform returned.
    WfXWave* done = NewWave(25, 2);
    WfX_Done(interp_, done);
    wave = done;
    EXPECT_EQ(LoadBusWave(bus, interp_, context, "x", &wave, 0), 1);
    EXPECT_EQ(wave, done);
    EXPECT_EQ(Calls(Op::CreateTraverser), Calls(Op::FreeTraverser));
}

// The ordered time list: points by converted time, equal times merged keeping the first tag.
TEST(InsertTimePointTest, OrdersAndMergesByTime)
{
    ReaderContext context;
    memset(&context, 0, sizeof context);
    context.timeScale = 1.0;
    TimePoint* list = nullptr;
    InsertTimePoint(&context, TimeTag{0, 5}, &list);
    EXPECT_EQ(list, nullptr);  // an empty list stays empty

    list = static_cast<TimePoint*>(calloc(1, sizeof(TimePoint)));
    list->time = 10;
    list->tag = TimeTag{0, 10};
    for (uint32_t tag : {20u, 5u, 15u, 10u, 30u, 1u}) {
        InsertTimePoint(&context, TimeTag{0, tag}, &list);
    }
    context.timeScale = 0.0;  // every tag now converts to 0: merged with the point at 0 if any
    InsertTimePoint(&context, TimeTag{0, 99}, &list);
    std::vector<double> times;
    std::vector<uint32_t> tags;
    while (list != nullptr) {
        times.push_back(list->time);
        tags.push_back(list->tag.low);
        TimePoint* next = list->next;
        free(list);
        list = next;
    }
    EXPECT_EQ(times, (std::vector<double>{0, 1, 5, 10, 15, 20, 30}));
    EXPECT_EQ(tags, (std::vector<uint32_t>{99, 1, 5, 10, 15, 20, 30}));
}

// Tags that convert to the same time are one point that keeps the tag seen first in member
// order: 2^53 and 2^53 + 1 seconds are the same double. The closing sample tells which tag
// was kept, since the end tag is 2^53 + 1.
TEST_F(BusTest, EqualTimesKeepTheFirstTag)
{
    const uint64_t big = uint64_t(1) << 53;
    const double t = double(big);
    for (bool laterFirst : {true, false}) {
        nffr::FileWriter writer = Writer();
        writer.SetEndTag(big + 1);
        int hi = writer.AddVar("data[1]", 0, 1);
        writer.AddBits(hi, 0, "0");
        writer.AddBits(hi, laterFirst ? big + 1 : big, "1");
        int lo = writer.AddVar("data[0]", 0, 1);
        writer.AddBits(lo, 0, "0");
        writer.AddBits(lo, laterFirst ? big : big + 1, "1");
        ReaderContext* context = OpenWritten(writer, laterFirst ? "a.fsdb" : "b.fsdb");
        WfXWave* wave = nullptr;
        ASSERT_EQ(Load(Bus(context), context, &wave), 0);
        // Kept tag 2^53: data[0]'s change one tick later is not yet in force.
        std::vector<Sample> expected{{0, "00"}, {t, laterFirst ? "11" : "10"}};
        if (!laterFirst) {
            expected.push_back({t, "10"});
        }
        EXPECT_TRUE(HoldsExactly(wave, expected)) << laterFirst;
    }
}

// The bus loader's time points are those that InsertTimePoint builds from the members' changes
// in load order (first member first): the same times, each keeping the first tag seen, and the
// texts in force at that tag. Tags near 2^53 seconds convert to equal times.
TEST_F(BusTest, TimePointsAreThoseOfInsertTimePoint)
{
    const uint64_t big = uint64_t(1) << 53;
    const uint64_t pool[] = {0, 3, 7, big, big + 1, big + 2, big + 3, big + 4, big + 5};
    nffr::FileWriter writer = Writer();
    writer.SetEndTag(big + 6);
    std::map<int, std::vector<std::pair<uint64_t, char>>> changes;  // by idcode
    uint32_t seed = 12345;
    for (int m = 3; m >= 0; m--) {
        int id = writer.AddVar("data[" + std::to_string(m) + "]", 0, 1);
        char bit = '0';
        for (uint64_t tag : pool) {
            seed = seed * 1103515245u + 12345u;
            if (tag != 0 && (seed >> 16) % 3 == 0) {
                continue;
            }
            writer.AddBits(id, tag, std::string(1, bit));
            changes[id].push_back({tag, bit});
            bit = bit == '0' ? '1' : '0';
        }
    }
    ReaderContext* context = OpenWritten(writer);
    ReaderTreeBus* bus = Bus(context, "top/data[3:0]");
    ASSERT_NE(bus, nullptr);
    std::vector<int> ids(bus->GetBusWidth());
    bus->GetBusIds(ids.data());

    TimePoint* list = nullptr;
    for (int id : ids) {
        for (const auto& change : changes[id]) {
            TimeTag tag{uint32_t(change.first >> 32), uint32_t(change.first)};
            if (list == nullptr) {
                list = static_cast<TimePoint*>(calloc(1, sizeof(TimePoint)));
                list->time = TagToTime(context->timeScale, &tag);
                list->tag = tag;
            } else {
                InsertTimePoint(context, tag, &list);
            }
        }
    }
    std::vector<Sample> expected;
    uint64_t lastKept = 0;
    while (list != nullptr) {
        lastKept = (uint64_t(list->tag.high) << 32) | list->tag.low;
        std::string text;
        for (int id : ids) {
            char inForce = '?';
            for (const auto& change : changes[id]) {
                if (change.first <= lastKept) {
                    inForce = change.second;
                }
            }
            text += inForce;
        }
        expected.push_back({list->time, text});
        TimePoint* next = list->next;
        free(list);
        list = next;
    }
    if (lastKept != big + 6) {
        expected.push_back({TagToTime(context->timeScale, &context->endTag), expected.back().y});
    }
    ASSERT_GT(expected.size(), 5u);

    WfXWave* wave = nullptr;
    ASSERT_EQ(Load(bus, context, &wave), 0);
    EXPECT_TRUE(HoldsExactly(wave, expected));
}

using Member = std::vector<std::pair<uint64_t, std::string>>;
// n one-bit members changing at 0, member m next at n - m and every third once more at n + 5.
std::vector<Member> Spread(uint64_t n)
{
    std::vector<Member> members(n);
    for (uint64_t m = 0; m < n; m++) {
        members[m] = {{0, m % 2 ? "1" : "0"}, {n - m, "x"}};
        if (m % 3 == 0) {
            members[m].push_back({n + 5, "z"});
        }
    }
    return members;
}

// Three members of 700 changes, more than a round of the walk takes: all at the same tags, or
// not, with 300 changes at one tag and a member of three bits.
std::vector<Member> Long(bool shared)
{
    std::vector<Member> members(3);
    for (uint64_t t = 0; t < 700; t++) {
        members[0].push_back({t, t % 3 ? "1" : t % 2 ? "z" : "0"});
        members[1].push_back({t, t % 5 ? "0" : "x"});
        if (shared) {
            members[2].push_back({t, t % 7 ? "1" : "0"});
        } else if (t % 3 == 0) {
            members[2].push_back({t, t % 2 ? "01x" : "110"});
        }
    }
    if (!shared) {
        members[1].insert(members[1].begin() + 100, 300, {100, "z"});
    }
    return members;
}

// The members walked once in tag order (unit 1s) and the time list built first (unit 1e290 s,
// a scale too large for the walk, which tells them apart by its GetLastTag calls) give the
// same rows: every distinct tag is a point, each member shows the change in force there, X
// before its first change; repeated tags within and across members, members wider than one
// bit and a member starting late; then twenty members changing together at 0, moving on in the
// reverse of their order and ending at different tags. The time list's path also abandons the
// load, handle unchanged, when its second pass cannot create a traverser.
TEST_F(BusTest, TagOrderWalkAndTimeListAgree)
{
    int files = 0;
    for (const std::vector<Member>& members : std::vector<std::vector<Member>>{
             {{{0, "1"}, {4, "0"}, {4, "z"}, {9, "1"}, {30, "x"}},
              {{2, "01x"}, {4, "110"}, {17, "zzz"}, {30, "000"}, {30, "101"}, {41, "011"}},
              {{9, "0"}, {12, "1"}}},
             Spread(20),
             Long(true),
             Long(false)}) {
        const uint32_t n = uint32_t(members.size());
        std::map<uint64_t, std::string> rows;  // expected texts by tag
        for (const auto& member : members) {
            for (const auto& change : member) {
                rows[change.first];
            }
        }
        for (auto& row : rows) {
            for (const auto& member : members) {
                std::string inForce(member[0].second.size(), 'x');
                for (const auto& change : member) {
                    inForce = change.first <= row.first ? change.second : inForce;
                }
                for (char c : inForce) {
                    row.second += char(toupper(c));
                }
            }
        }
        for (const char* unit : {"1s", "1e290s"}) {
            nffr::FileWriter writer = Writer();
            writer.SetTimeUnit(unit);
            for (size_t m = 0; m < members.size(); m++) {
                int id = writer.AddVar("data[" + std::to_string(n - 1 - m) + "]", 0,
                                       uint32_t(members[m][0].second.size()));
                for (const auto& change : members[m]) {
                    writer.AddBits(id, change.first, change.second);
                }
            }
            ReaderContext* context =
                OpenWritten(writer, std::to_string(files++) + "-" + std::string(unit) + ".fsdb");
            std::vector<Sample> expected;
            for (const auto& row : rows) {
                TimeTag tag = {0, uint32_t(row.first)};
                expected.push_back({TagToTime(context->timeScale, &tag), row.second});
            }
            expected.push_back(
                {TagToTime(context->timeScale, &context->endTag), rows.rbegin()->second});
            ResetCounts();
            WfXWave* wave = nullptr;
            ReaderTreeBus* bus =
                Bus(context, ("top/data[" + std::to_string(n - 1) + ":0]").c_str());
            ASSERT_EQ(Load(bus, context, &wave), 0) << unit;
            EXPECT_TRUE(HoldsExactly(wave, expected)) << unit;
            bool walked = std::string(unit) == "1s";
            EXPECT_EQ(Calls(Op::GetLastTag), walked ? int(n) : 0) << unit;
            if (!walked) {
                // Three traversers for the walk's plan, three for the time list, then the second.
                ResetCounts();
                nffr::testhooks::FailNthCall(Op::CreateTraverser, int(2 * n + 2));
                WfXWave* marker = NewWave(25, int(n));
                wave = marker;
                EXPECT_EQ(LoadBusWave(bus, interp_, context, "x", &wave, 0), 1);
                EXPECT_EQ(wave, marker);
                EXPECT_EQ(Header(marker).count, 0u);
                EXPECT_EQ(Calls(Op::CreateTraverser), int(2 * n + 2));
                EXPECT_EQ(Calls(Op::FreeTraverser), int(2 * n + 1));
            }
        }
    }
}

}  // namespace
}  // namespace loadtest
