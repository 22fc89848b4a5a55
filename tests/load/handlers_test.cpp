// handlers_test.cpp: the load-one and load-many handlers: path resolution, the load list, the
// choice of loader, the id list rules, the output slots and the return value.
#include "load_support.h"

namespace loadtest {
namespace {

class HandlersTest : public LoadTest {
protected:
    // top/v (analog, id 1), top/w (analog, id 2), top/data[1], top/data[0] (digital, ids 3, 4).
    ReaderContext* OpenSample(const std::string& stamp = "")
    {
        return Open(WriteSample(stamp), 0, 1);
    }
    std::string WriteSample(const std::string& stamp)
    {
        nffr::FileWriter writer;
        writer.SetFileType(1);
        writer.SetTimeUnit("1s");
        writer.SetEndTag(50);
        if (!stamp.empty()) {
            writer.SetStamp(stamp);
        }
        writer.BeginScope("top");
        int v = writer.AddVar("v", 'v', 64, 3, 1);
        writer.AddReal(v, 0, 1.0);
        writer.AddReal(v, 10, 2.0);
        int w = writer.AddVar("w", 'v', 64, 3, 2);
        writer.AddReal(w, 5, 7.0);
        int hi = writer.AddVar("data[1]", 0, 1, 3, 3);
        writer.AddChange(hi, 0, {1});
        int lo = writer.AddVar("data[0]", 0, 1, 3, 4);
        writer.AddChange(lo, 0, {0});
        writer.EndScope();
        return Write(writer, "run.fsdb");
    }
    // Runs the load-many handler; the slots are kept for destruction.
    int LoadMany(ReaderContext* context, const char* paths, const char* ids,
                 std::vector<WfXWave*>* slots, size_t count)
    {
        slots->assign(count, reinterpret_cast<WfXWave*>(1));
        int result = Quorvel_LoadWaves(interp_, context, paths, ids, slots->data());
        for (WfXWave*& slot : *slots) {
            if (slot != reinterpret_cast<WfXWave*>(1)) {
                Keep(slot);
            }
        }
        return result;
    }
};

// Load-one: with and without the leading "/", scopes and unknown paths, no WfX_Done.
TEST_F(HandlersTest, LoadOneResolvesPaths)
{
    ReaderContext* context = OpenSample();
    ResetCounts();
    char slash[] = "/top/v";
    WfXWave* wave = reinterpret_cast<WfXWave*>(1);
    ASSERT_EQ(Quorvel_LoadWave(interp_, context, slash, &wave), 0);
    Keep(wave);
    EXPECT_EQ(Header(wave).name, "/top/v");
    EXPECT_FALSE(Header(wave).done);
    EXPECT_TRUE(HoldsExactly(wave, {{0, Num(1.0)}, {10, Num(2.0)}}));
    EXPECT_EQ(Calls(Op::AddToLoadList), 1);
    EXPECT_EQ(Calls(Op::LoadListedSignals), 1);

    char plain[] = "top/v";
    WfXWave* same = nullptr;
    ASSERT_EQ(Quorvel_LoadWave(interp_, context, plain, &same), 0);
    Keep(same);
    EXPECT_EQ(Samples(same), Samples(wave));

    WfXWave* untouched = reinterpret_cast<WfXWave*>(1);
    char scope[] = "top";
    char missing[] = "top/nothing";
    EXPECT_EQ(Quorvel_LoadWave(interp_, context, scope, &untouched), 1);
    EXPECT_EQ(Quorvel_LoadWave(interp_, context, missing, &untouched), 1);
    EXPECT_EQ(untouched, reinterpret_cast<WfXWave*>(1));
}

// A digital signal whose node carries a bus is loaded as a bus, every member listed.
TEST_F(HandlersTest, LoadOneChoosesTheBusLoader)
{
    ReaderContext* context = OpenSample();
    char bus[] = "top/data[1:0]";
    WfXWave* wave = nullptr;
    ASSERT_EQ(Quorvel_LoadWave(interp_, context, bus, &wave), 0);
    Keep(wave);
    EXPECT_EQ(Header(wave).kind, 25);
    EXPECT_TRUE(HoldsExactly(wave, {{0, "10"}, {50, "10"}}));
    ResetCounts();
    WfXWave* again = nullptr;
    ASSERT_EQ(Quorvel_LoadWave(interp_, context, bus, &again), 0);
    Keep(again);
    EXPECT_EQ(Calls(Op::AddToLoadList), 2);  // force: listed members are added again
    EXPECT_EQ(Calls(Op::IsInLoadList), 0);
}

// Load-many: id texts used, resolved by path, or naming nothing; the slots and WfX_Done.
TEST_F(HandlersTest, LoadManyIdListRules)
{
    ReaderContext* context = OpenSample();
    std::vector<WfXWave*> slots;
    ResetCounts();
    // ids: "2" names top/w though path 0 is top/v; "abc" and "-5" resolve by path; the
    // entries past the id list resolve by path.
    ASSERT_EQ(LoadMany(context, "top/v top/v top/w /top/data[1:0] top/w", "2 abc -5", &slots, 5),
              0);
    ASSERT_NE(slots[0], nullptr);
    EXPECT_EQ(Header(slots[0]).name, "top/v");
    EXPECT_TRUE(HoldsExactly(slots[0], {{5, Num(7.0)}}));
    EXPECT_TRUE(HoldsExactly(slots[1], {{0, Num(1.0)}, {10, Num(2.0)}}));
    EXPECT_TRUE(HoldsExactly(slots[2], {{5, Num(7.0)}}));
    EXPECT_EQ(Header(slots[3]).kind, 25);
    EXPECT_EQ(Header(slots[3]).name, "/top/data[1:0]");
    for (WfXWave* slot : slots) {
        ASSERT_NE(slot, nullptr);
        EXPECT_TRUE(Header(slot).done);
    }
    EXPECT_GE(Calls(Op::AddToLoadList), 5);  // every entry, then unlisted bus members
    EXPECT_EQ(Calls(Op::LoadListedSignals), 1 + 1);

    // The return value speaks for the last entry that reached a loader.
    EXPECT_EQ(LoadMany(context, "top/v top/v top", "99", &slots, 3), 0);
    EXPECT_EQ(slots[0], nullptr);
    EXPECT_NE(slots[1], nullptr);
    EXPECT_EQ(slots[2], nullptr);
    EXPECT_EQ(LoadMany(context, "top/v top/v", "1 99", &slots, 2), 1);
    EXPECT_NE(slots[0], nullptr);
    EXPECT_EQ(slots[1], nullptr);
}

// An empty path list still loads the listed signals once; a malformed id list is the result
// when no entry reaches a loader; an id text out of range is resolved by path.
TEST_F(HandlersTest, LoadManyEmptyAndMalformedLists)
{
    ReaderContext* context = OpenSample();
    std::vector<WfXWave*> slots;
    ResetCounts();
    EXPECT_EQ(LoadMany(context, "", "", &slots, 0), 0);
    EXPECT_EQ(Calls(Op::LoadListedSignals), 1);
    EXPECT_EQ(Calls(Op::AddToLoadList), 0);
    EXPECT_EQ(LoadMany(context, "top", "{", &slots, 1), 1);
    EXPECT_EQ(slots[0], nullptr);
    EXPECT_EQ(LoadMany(context, "top/w", "99999999999999999999", &slots, 1), 0);
    EXPECT_TRUE(HoldsExactly(slots[0], {{5, Num(7.0)}}));
}

// The id texts "0" and "-0" are the number 0, used as the idcode, not resolved by path: the
// file has no idcode 0, so the entry gets no waveform.
TEST_F(HandlersTest, LoadManyIdTextZeroIsAnIdcode)
{
    ReaderContext* context = OpenSample();
    std::vector<WfXWave*> slots;
    for (const char* ids : {"0", "-0", "{ 0}"}) {
        SCOPED_TRACE(ids);
        EXPECT_EQ(LoadMany(context, "top/w", ids, &slots, 1), 1);
        EXPECT_EQ(slots[0], nullptr);
    }
}

// A rewritten file is refused by both handlers, the handles untouched.
TEST_F(HandlersTest, RewrittenFileIsRefused)
{
    ReaderContext* context = OpenSample("first");
    WriteSample("second");
    char path[] = "top/v";
    WfXWave* wave = reinterpret_cast<WfXWave*>(1);
    EXPECT_EQ(Quorvel_LoadWave(interp_, context, path, &wave), 1);
    EXPECT_EQ(wave, reinterpret_cast<WfXWave*>(1));
    WfXWave* slot = reinterpret_cast<WfXWave*>(1);
    EXPECT_EQ(Quorvel_LoadWaves(interp_, context, "top/v", "", &slot), 1);
    EXPECT_EQ(slot, reinterpret_cast<WfXWave*>(1));
}

}  // namespace
}  // namespace loadtest
