// scalar_test.cpp: the scalar loader: kinds and widths, samples and the closing sample, growth
// of the sample arrays, appending, the load list and every failure row.
#include "load_support.h"

namespace loadtest {
namespace {

class ScalarTest : public LoadTest {
protected:
    // One scope "top" in a file of the given type, unit 1s, end tag 100.
    nffr::FileWriter Writer(uint32_t fileType = 1)
    {
        nffr::FileWriter writer;
        writer.SetFileType(fileType);
        writer.SetTimeUnit("1s");
        writer.SetEndTag(100);
        writer.BeginScope("top");
        return writer;
    }
    ReaderContext* OpenWritten(nffr::FileWriter& writer)
    {
        writer.EndScope();
        return Open(Write(writer, "run.fsdb"));
    }
    int Load(ReaderContext* context, int idcode, WfXWave** wave)
    {
        int result = LoadScalarWave(idcode, interp_, context, "top/sig", wave);
        Keep(*wave);
        return result;
    }
};

// Kinds, widths and units handed to the host, and the samples of numeric signals.
TEST_F(ScalarTest, NumericKindsAndSamples)
{
    nffr::FileWriter writer = Writer();
    int v = writer.AddVar("v", 'v', 64, 3);
    writer.AddReal(v, 0, 1.5);
    writer.AddReal(v, 10, -2.25);
    int f = writer.AddVar("f", 'I', 32, 2);
    writer.AddReal(f, 5, 0.5);
    writer.AddReal(f, 7, 3.0);
    int d = writer.AddVar("d", 'i', 32, 2);
    writer.AddReal(d, 3, 4.0);
    ReaderContext* context = OpenWritten(writer);

    WfXWave* wave = nullptr;
    ASSERT_EQ(Load(context, v, &wave), 0);
    vexahost::WaveHeader header = Header(wave);
    EXPECT_EQ(header.kind, 1);
    EXPECT_EQ(header.width, 1);
    EXPECT_EQ(header.yUnit, "V");
    EXPECT_EQ(header.xName, "t");
    EXPECT_EQ(header.xUnit, "s");
    EXPECT_EQ(header.dataType, "real");
    EXPECT_EQ(header.name, "top/sig");
    // A numeric signal never gets a closing sample, though its last change is before the end.
    EXPECT_TRUE(HoldsExactly(wave, {{0, Num(1.5)}, {10, Num(-2.25)}}));

    WfXWave* floats = nullptr;
    ASSERT_EQ(Load(context, f, &floats), 0);
    EXPECT_EQ(Header(floats).kind, 2);
    EXPECT_EQ(Header(floats).yUnit, "A");
    EXPECT_TRUE(HoldsExactly(floats, {{5, Num(0.5)}, {7, Num(3.0)}}));

    // Kind 22 keeps doubles whatever the stored data type.
    WfXWave* events = nullptr;
    ASSERT_EQ(Load(context, d, &events), 0);
    EXPECT_EQ(Header(events).kind, 22);
    EXPECT_TRUE(HoldsExactly(events, {{3, Num(4.0)}}));
}

// Doubles reach the host bit for bit (0.1, 1e-12 and -0.3 are not floats), floats are widened
// exactly, and times above 2^32 and 2^53 ticks are the whole count times the scale.
TEST_F(ScalarTest, RealsAndTimesKeepEveryBit)
{
    nffr::FileWriter writer = Writer();
    writer.SetTimeUnit("1ns");
    int v = writer.AddVar("v", 'v', 64, 3);
    writer.AddReal(v, 5, 0.1);
    writer.AddReal(v, 0x14d9da35bf992dull, 1e-12);
    writer.AddReal(v, 0x20000000000001ull, -0.3);
    int d = writer.AddVar("d", 'd', 64, 3);
    writer.AddReal(d, 7, 0.1);
    int f = writer.AddVar("f", 'v', 32, 2);
    writer.AddReal(f, 7, 0.1);
    ReaderContext* context = OpenWritten(writer);

    WfXWave* wave = nullptr;
    ASSERT_EQ(Load(context, v, &wave), 0);
    EXPECT_TRUE(HoldsExactly(wave, {{0x1.5798ee2308c3ap-28, Num(0.1)},
                                    {0x1.66379b0c597a1p+22, Num(1e-12)},
                                    {0x1.12e0be826d696p+23, Num(-0.3)}}));
    WfXWave* events = nullptr;
    ASSERT_EQ(Load(context, d, &events), 0);
    EXPECT_TRUE(HoldsExactly(events, {{0x1.e1094d643f785p-28, Num(0.1)}}));
    WfXWave* floats = nullptr;
    ASSERT_EQ(Load(context, f, &floats), 0);
    EXPECT_EQ(Header(floats).kind, WFX_KIND_FLOAT);
    EXPECT_TRUE(HoldsExactly(floats, {{0x1.e1094d643f785p-28, Num(0x1.99999ap-4)}}));
}

// Logic signals: bit size 1 versus 8, the closing sample, a change on the end tag.
TEST_F(ScalarTest, LogicKindsAndClosingSample)
{
    nffr::FileWriter writer = Writer(0);
    int bit = writer.AddVar("bit", 0, 1);
    writer.AddBits(bit, 0, "0");
    writer.AddBits(bit, 40, "1");
    int byte = writer.AddVar("byte", 0, 8);
    writer.AddBits(byte, 0, "0101xz01");
    writer.AddBits(byte, 100, "11111111");
    ReaderContext* context = OpenWritten(writer);

    WfXWave* wave = nullptr;
    ASSERT_EQ(Load(context, bit, &wave), 0);
    EXPECT_EQ(Header(wave).kind, 23);
    EXPECT_EQ(Header(wave).width, 1);
    EXPECT_EQ(Header(wave).yUnit, "-");
    EXPECT_TRUE(HoldsExactly(wave, {{0, "0"}, {40, "1"}, {100, "1"}}));

    WfXWave* vec = nullptr;
    ASSERT_EQ(Load(context, byte, &vec), 0);
    EXPECT_EQ(Header(vec).kind, 25);
    EXPECT_EQ(Header(vec).width, 8);
    // The last change lies on the end tag: no closing sample.
    EXPECT_TRUE(HoldsExactly(vec, {{0, "0101XZ01"}, {100, "11111111"}}));
}

// Texts of every width from 1 to 65 bits, each rendered whole and none overlapping the next.
// Byte b of changes 0 to 2 is (b + c) % 6; changes 3 and 4 hold only 0 and 1, alternating;
// change 5 is like change 3 but for a 4 at the middle and a 3 at the end; so every position of
// every text differs from its neighbours'. File type 1 gives one character from the first
// byte, whatever the width.
TEST_F(ScalarTest, TextsOfEveryWidth)
{
    const uint32_t changes = 6;
    auto byteAt = [](uint32_t b, uint32_t c, uint32_t width) {
        if (c < 3) {
            return uint8_t((b + c) % 6);
        }
        if (c == 5 && b == width - 1) {
            return uint8_t(3);
        }
        return uint8_t(c == 5 && b == width / 2 ? 4 : (b + c) % 2);
    };
    for (uint32_t fileType : {0u, 1u}) {
        nffr::FileWriter writer = Writer(fileType);
        std::vector<int> ids;
        for (uint32_t width = 1; width <= 65; width++) {
            int id = writer.AddVar("v" + std::to_string(width), 0, width);
            for (uint32_t c = 0; c < changes; c++) {
                std::vector<uint8_t> bytes(width);
                for (uint32_t b = 0; b < width; b++) {
                    bytes[b] = byteAt(b, c, width);
                }
                writer.AddChange(id, c * 10, bytes);
            }
            ids.push_back(id);
        }
        writer.EndScope();
        ReaderContext* context = Open(Write(writer, "w" + std::to_string(fileType) + ".fsdb"));
        for (uint32_t width = 1; width <= 65; width++) {
            std::vector<Sample> expected;
            for (uint32_t c = 0; c < changes; c++) {
                std::string text;
                for (uint32_t b = 0; b < (fileType == 0 ? width : 1); b++) {
                    text += (fileType == 0 ? "01XZUU" : "01XZZZ")[byteAt(b, c, width)];
                }
                expected.push_back({double(c * 10), text});
            }
            expected.push_back({100, expected.back().y});
            WfXWave* wave = nullptr;
            ASSERT_EQ(Load(context, ids[width - 1], &wave), 0);
            EXPECT_EQ(Samples(wave), expected) << "file type " << fileType << ", width " << width;
        }
    }
}

// An unknown change count: every change is loaded while the arrays grow (64 slots, then
// doubling), and a text kind still gets its closing sample (growing by one slot when the arrays
// are exactly full).
TEST_F(ScalarTest, UnknownCountLoadsEveryChange)
{
    nffr::FileWriter writer = Writer();
    writer.SetEndTag(10000);
    int logic = writer.AddVar("logic", 0, 1);
    writer.SetCountUnknown(logic);
    std::vector<Sample> expectedLogic;
    for (int i = 0; i < 65; i++) {
        writer.AddBits(logic, i * 2, i % 2 ? "1" : "0");
        expectedLogic.push_back({double(i * 2), i % 2 ? "1" : "0"});
    }
    expectedLogic.push_back({10000, "0"});
    int analog = writer.AddVar("analog", 'v', 64);
    writer.SetCountUnknown(analog);
    std::vector<Sample> expectedAnalog;
    for (int i = 0; i < 1000; i++) {
        writer.AddReal(analog, i, i * 0.5);
        expectedAnalog.push_back({double(i), Num(i * 0.5)});
    }
    ReaderContext* context = OpenWritten(writer);

    WfXWave* wave = nullptr;
    ASSERT_EQ(Load(context, logic, &wave), 0);
    EXPECT_TRUE(HoldsExactly(wave, expectedLogic));
    WfXWave* numbers = nullptr;
    ASSERT_EQ(Load(context, analog, &numbers), 0);
    EXPECT_TRUE(HoldsExactly(numbers, expectedAnalog));
}

// An understated count keeps only count + 1 samples, and a text kind then gets no closing one.
TEST_F(ScalarTest, UnderstatedCountStopsAtCapacity)
{
    nffr::FileWriter writer = Writer();
    int logic = writer.AddVar("logic", 0, 1);
    writer.SetRecordedCount(logic, 2);
    for (int i = 0; i < 5; i++) {
        writer.AddBits(logic, i, i % 2 ? "1" : "0");
    }
    ReaderContext* context = OpenWritten(writer);
    WfXWave* wave = nullptr;
    ASSERT_EQ(Load(context, logic, &wave), 0);
    EXPECT_TRUE(HoldsExactly(wave, {{0, "0"}, {1, "1"}, {2, "0"}}));
}

// A signal without changes gives an empty new waveform and success.
TEST_F(ScalarTest, SignalWithoutChanges)
{
    nffr::FileWriter writer = Writer();
    int quiet = writer.AddVar("quiet", 'v', 64);
    ReaderContext* context = OpenWritten(writer);
    WfXWave* wave = nullptr;
    ASSERT_EQ(Load(context, quiet, &wave), 0);
    ASSERT_NE(wave, nullptr);
    EXPECT_EQ(Header(wave).count, 0u);
    EXPECT_EQ(Calls(Op::GetFirstTag), 0);
}

// Appending into a handed-in waveform: no new waveform, the samples follow the old ones.
TEST_F(ScalarTest, AppendsToHandedInWave)
{
    nffr::FileWriter writer = Writer();
    int v = writer.AddVar("v", 'v', 64);
    writer.AddReal(v, 20, 2.0);
    writer.AddReal(v, 30, 3.0);
    int logic = writer.AddVar("logic", 0, 1);
    writer.AddBits(logic, 20, "1");
    ReaderContext* context = OpenWritten(writer);

    WfXWave* given = NewWave(1, 1);
    double x[1] = {1};
    double y[1] = {1.0};
    ASSERT_EQ(WfX_AddValuesSimp(interp_, given, x, y, 1, 0), 0);
    WfXWave* wave = given;
    ASSERT_EQ(LoadScalarWave(v, interp_, context, "ignored", &wave), 0);
    EXPECT_EQ(wave, given);
    EXPECT_EQ(Header(wave).name, "given");
    EXPECT_TRUE(HoldsExactly(wave, {{1, Num(1.0)}, {20, Num(2.0)}, {30, Num(3.0)}}));

    WfXWave* givenText = NewWave(23, 1);
    wave = givenText;
    ASSERT_EQ(LoadScalarWave(logic, interp_, context, "ignored", &wave), 0);
    EXPECT_TRUE(HoldsExactly(wave, {{20, "1"}, {100, "1"}}));
}

// The load list: a listed signal is not added again; an unlisted one is added and loaded.
TEST_F(ScalarTest, LoadListCalls)
{
    nffr::FileWriter writer = Writer();
    int v = writer.AddVar("v", 'v', 64);
    writer.AddReal(v, 0, 1.0);
    ReaderContext* context = OpenWritten(writer);
    ResetCounts();
    WfXWave* wave = nullptr;
    ASSERT_EQ(Load(context, v, &wave), 0);
    EXPECT_EQ(Calls(Op::AddToLoadList), 1);
    EXPECT_EQ(Calls(Op::LoadListedSignals), 1);
    ResetCounts();
    WfXWave* again = nullptr;
    ASSERT_EQ(Load(context, v, &again), 0);
    EXPECT_EQ(Calls(Op::IsInLoadList), 1);
    EXPECT_EQ(Calls(Op::AddToLoadList), 0);
    EXPECT_EQ(Calls(Op::LoadListedSignals), 0);
    EXPECT_EQ(Calls(Op::CreateTraverser), 1);
    EXPECT_EQ(Calls(Op::FreeTraverser), 1);
}

// Failure rows and what the caller's handle holds afterwards.
TEST_F(ScalarTest, FailureRows)
{
    nffr::FileWriter writer = Writer();
    int v = writer.AddVar("v", 'v', 64);
    writer.AddReal(v, 0, 1.0);
    writer.AddReal(v, 5, 2.0);
    ReaderContext* context = OpenWritten(writer);
    WfXWave* marker = NewWave(1, 1);

    WfXWave* wave = marker;
    EXPECT_EQ(LoadScalarWave(-1, interp_, context, "x", &wave), 1);
    EXPECT_EQ(wave, marker);
    EXPECT_EQ(LoadScalarWave(999, interp_, context, "x", &wave), 1);
    EXPECT_EQ(wave, marker);

    // No traverser: null even when appending.
    nffr::testhooks::FailNthCall(Op::CreateTraverser, 1);
    EXPECT_EQ(LoadScalarWave(v, interp_, context, "x", &wave), 1);
    EXPECT_EQ(wave, nullptr);

    // First tag, last tag or first value: the waveform comes back without samples; the last
    // tag is asked even when the first failed.
    for (Op op : {Op::GetFirstTag, Op::GetLastTag, Op::GetValue}) {
        ResetCounts();
        nffr::testhooks::FailNthCall(op, 1);
        wave = nullptr;
        EXPECT_EQ(Load(context, v, &wave), 1);
        ASSERT_NE(wave, nullptr);
        EXPECT_EQ(Header(wave).count, 0u);
        EXPECT_EQ(Calls(Op::GetLastTag), 1);
        EXPECT_EQ(Calls(Op::FreeTraverser), 1);
    }

    // The host refuses to create the waveform (no name): null.
    WfXWave* none = nullptr;
    EXPECT_EQ(LoadScalarWave(v, interp_, context, nullptr, &none), 1);
    EXPECT_EQ(none, nullptr);

    // The reader cannot count the changes: the handle is unchanged.
    nffr::testhooks::FailNthCall(Op::GetChangeCount, 1);
    wave = marker;
    EXPECT_EQ(LoadScalarWave(v, interp_, context, "x", &wave), 1);
    EXPECT_EQ(wave, marker);
    EXPECT_EQ(Header(marker).count, 0u);
}

// A context whose reader was dropped by a later refresh of the same path never loads from it.
TEST_F(ScalarTest, DroppedReaderIsNotUsed)
{
    nffr::FileWriter writer = Writer();
    int v = writer.AddVar("v", 'v', 64);
    writer.AddReal(v, 0, 1.0);
    writer.EndScope();
    std::string path = Write(writer, "run.fsdb");
    ReaderContext* first = Open(path);
    host_.ListOpen("fsdb1", path);
    nffr::testhooks::FailNthCall(Op::NeedsReopen, 1);
    ReaderContext* second = Open(path);
    ASSERT_NE(second, nullptr);
    ResetCounts();
    WfXWave* wave = nullptr;
    EXPECT_EQ(LoadScalarWave(v, interp_, first, "x", &wave), 1);
    EXPECT_EQ(wave, nullptr);
    EXPECT_EQ(Calls(Op::CreateTraverser), 0);
    ASSERT_EQ(Load(second, v, &wave), 0);
    EXPECT_TRUE(HoldsExactly(wave, {{0, Num(1.0)}}));
}

// GrowSampleArrays keeps the old samples and zeroes the new slots.
TEST(GrowSampleArraysTest, KeepsOldSlotsAndZeroesNewOnes)
{
    double* x = static_cast<double*>(malloc(2 * sizeof(double)));
    char** texts = static_cast<char**>(calloc(2, sizeof(char*)));
    x[0] = 1;
    x[1] = 2;
    texts[0] = strdup("a");
    void* y = texts;
    ASSERT_EQ(GrowSampleArrays(&x, &y, 2, 66, sizeof(double), sizeof(char*)), 0);
    texts = static_cast<char**>(y);
    EXPECT_EQ(x[1], 2);
    EXPECT_EQ(x[65], 0);
    EXPECT_STREQ(texts[0], "a");
    EXPECT_EQ(texts[1], nullptr);
    EXPECT_EQ(texts[65], nullptr);
    free(texts[0]);
    free(texts);
    free(x);
}

// A failed growth never leaves an array smaller than asked: the x block that cannot be
// allocated leaves both arrays as they were; a y block that cannot leaves y as it was.
TEST(GrowSampleArraysTest, FailureLeavesUsableArrays)
{
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the sanitizer stops oversized allocations instead of failing them";
#endif
    double* x = static_cast<double*>(malloc(sizeof(double)));
    double* ys = static_cast<double*>(malloc(sizeof(double)));
    x[0] = 3;
    ys[0] = 4;
    void* y = ys;
    EXPECT_EQ(GrowSampleArrays(&x, &y, 1, UINT32_MAX, UINT32_MAX, sizeof(double)), 1);
    EXPECT_EQ(y, ys);
    EXPECT_EQ(x[0], 3);
    EXPECT_EQ(GrowSampleArrays(&x, &y, 1, 65, sizeof(double), UINT32_MAX), 1);
    EXPECT_EQ(y, ys);
    EXPECT_EQ(x[0], 3);
    x[64] = 1;  // x now has its 65 slots
    EXPECT_EQ(static_cast<double*>(y)[0], 4);
    free(x);
    free(y);
}

}  // namespace
}  // namespace loadtest
