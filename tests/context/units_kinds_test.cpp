// units_kinds_test.cpp: time units and tag conversion, the signal kind tables, and the value
// texts and real samples read from files of both types.
#include <math.h>

#include <vector>

#include "context/timescale.h"
#include "context_support.h"
#include "load/kinds.h"

using contexttest::ReaderTest;
using contexttest::Write;

namespace {

ReaderContext ContextOfType(int fileType)
{
    ReaderContext context;
    memset(&context, 0, sizeof(context));
    context.timeScale = 1.0;
    context.fileType = fileType;
    return context;
}

// Opens a written file directly through the reader and positions a traverser on the first
// change of idcode.
class ValueTest : public ReaderTest {
protected:
    void TearDown() override
    {
        if (traverser_ != nullptr) {
            traverser_->FreeTraverser();
        }
        if (reader_ != nullptr) {
            reader_->Close();
        }
        ReaderTest::TearDown();
    }
    const unsigned char* FirstValue(const nffr::FileWriter& writer, int idcode)
    {
        std::string path = dir_.File("values" + std::to_string(++files_) + ".fsdb");
        Write(writer, path);
        if (traverser_ != nullptr) {
            traverser_->FreeTraverser();
            traverser_ = nullptr;
        }
        if (reader_ != nullptr) {
            reader_->Close();
        }
        reader_ = ffrObject::ffrOpen2(path.c_str(), nullptr, nullptr, 0);
        EXPECT_NE(reader_, nullptr);
        if (reader_ == nullptr) {
            return nullptr;
        }
        reader_->AddToLoadList(idcode, 0, 0);
        reader_->LoadListedSignals();
        traverser_ = reader_->CreateTraverser(idcode);
        EXPECT_NE(traverser_, nullptr);
        unsigned char* value = nullptr;
        if (traverser_ != nullptr) {
            EXPECT_EQ(traverser_->GetValue(&value), 0);
        }
        return value;
    }
    std::string Text(const ReaderContext& context, const unsigned char* value)
    {
        char* text = nullptr;
        LogicValueText(&context, value, traverser_, &text);
        EXPECT_NE(text, nullptr);
        std::string result = text != nullptr ? text : "";
        free(text);
        return result;
    }
    ffrObject* reader_ = nullptr;
    ffrVCTraverser* traverser_ = nullptr;
    int files_ = 0;
};

}  // namespace

TEST(TimeUnitTest, FactorChosenByTheCharacterAfterTheNumber)
{
    struct Case {
        const char* text;
        double scale;
    } cases[] = {
        {"1ns", 1e-9}, {"1n", 1e-9},       {"10ps", 1e-11},  {"100fs", 1e-13}, {"1us", 1e-6},
        {"1s", 1},     {"10sec", 10},      {"10", 10},       {"1Ms", 1e6},     {"1ms", 1e-3},
        {"1ks", 1e3},  {"1gs", 1e9},       {"1ts", 1e12},    {"1Gs", 1},       {"1Ts", 1},
        {"1Ks", 1},    {"2.5as", 2.5e-18}, {" 1e3ns", 1e-6},
    };
    for (const Case& c : cases) {
        ReaderContext context = ContextOfType(1);
        ParseTimeUnit(c.text, &context);
        EXPECT_EQ(context.timeScale, c.scale) << c.text;
    }
    for (const char* unchanged : {"0ns", "ns", "", "-0s", "-1ns", "nan", "inf", "1e308M"}) {
        ReaderContext context = ContextOfType(1);
        ParseTimeUnit(unchanged, &context);
        EXPECT_EQ(context.timeScale, 1.0) << unchanged;
    }
}

// Every result is the tag's whole 64-bit count times the scale, rounded once: above 2^32 the
// high word is not scaled apart from the low one, and above 2^53 the count is not rounded to
// a double before the product. Expected values are written out bit for bit.
TEST(TimeUnitTest, TagsConvertAsUnsignedSixtyFourBitCounts)
{
    struct Case {
        TimeTag tag;
        double scale;
        double seconds;
    } cases[] = {
        {{0, 5}, 1e-9, 0x1.5798ee2308c3ap-28},
        {{0, 0x80000000u}, 1e-9, 0x1.12e0be826d695p+1},
        {{1, 0}, 1e-9, 0x1.12e0be826d695p+2},  // 4.294967296
        {{1, 1}, 1e-9, 0x1.12e0be83804a1p+2},
        {{0x14d9da, 0x35bf992d}, 1e-9, 0x1.66379b0c597a1p+22},
        {{0x200000, 1}, 1e-9, 0x1.12e0be826d696p+23},  // 2^53 + 1 ticks
        {{0xFFFFFFFFu, 0xFFFFFFFFu}, 1e-9, 0x1.12e0be826d695p+34},
        {{0, 0x80000000u}, 1.0, 2147483648.0},
        {{1, 0x80000000u}, 1.0, 6442450944.0},
        {{0xFFFFFFFFu, 0xFFFFFFFFu}, 1.0, 0x1p+64},
    };
    for (const Case& c : cases) {
        double seconds = TagToTime(c.scale, &c.tag);
        EXPECT_EQ(memcmp(&seconds, &c.seconds, sizeof seconds), 0)
            << std::hex << c.tag.high << " " << c.tag.low << ": " << std::hexfloat << seconds
            << " instead of " << c.seconds;
    }
}

// Times are the exact product of the 64-bit count and the scale, rounded once to the nearest
// double: around 2^32, and around 2^53 where the count itself stops fitting a double.
TEST(TimeUnitTest, TagsAroundTwoToThe32And53AreRoundedOnce)
{
    struct Case {
        uint64_t ticks;
        double scale;
        double seconds;
    };
    const uint64_t p53 = uint64_t(1) << 53;
    const Case cases[] = {
        {0xFFFFFFFFu, 1e-9, 0x1.12e0be815a889p+2},
        {uint64_t(1) << 32, 1e-9, 0x1.12e0be826d695p+2},
        {(uint64_t(1) << 32) + 1, 1e-9, 0x1.12e0be83804a1p+2},
        {p53 - 1, 1e-9, 0x1.12e0be826d694p+23},
        {p53, 1e-9, 0x1.12e0be826d695p+23},
        // Rounding the count to a double first would give ...695p+23 and 0x1.8p+54.
        {p53 + 1, 1e-9, 0x1.12e0be826d696p+23},
        {p53 + 1, 1e-15, 0x1.203af9ee75617p+3},
        {p53 + 1, 3.0, 0x1.8000000000001p+54},
        // Rounding to 64 bits and then to 53 would give ...0ap+13.
        {9956668351868185u, 1e-12, 0x1.372558c8dd409p+13},
        {UINT64_MAX, 1e-9, 0x1.12e0be826d695p+34},
        {UINT64_MAX, 1.0, 0x1p+64},
        // Exactly half-way below the normal range: ties to even.
        {p53 + 1, 0x1p-1074, 0x1p-1021},
    };
    for (const Case& c : cases) {
        TimeTag tag = {uint32_t(c.ticks >> 32), uint32_t(c.ticks)};
        EXPECT_EQ(TagToTime(c.scale, &tag), c.seconds) << c.ticks << " x " << c.scale;
    }
}

TEST(KindTest, LeafKindsAndHostKindsFollowTheTables)
{
    struct Case {
        int fileType;
        unsigned char varType;
        short leaf;
        int host;
        const char* unit;
    } cases[] = {
        {0, 'v', 2, 23, "-"}, {0, 'd', 2, 23, "-"}, {0, 0, 2, 23, "-"},   {1, 0, 2, 23, "-"},
        {1, 'I', 0, 1, "A"},  {1, 'd', 1, 22, "A"}, {1, 'i', 1, 22, "A"}, {1, 'p', 1, 22, "Watt"},
        {1, 'v', 0, 1, "V"},  {1, 'x', 0, 1, "-"},  {1, 255, 0, 1, "-"},
    };
    for (const Case& c : cases) {
        ReaderContext context = ContextOfType(c.fileType);
        EXPECT_EQ(LeafKind(&context, c.varType), c.leaf) << c.fileType << " " << int(c.varType);
        int kind = -1;
        char* unit = nullptr;
        HostWaveKind(&context, &kind, &unit, c.varType);
        EXPECT_EQ(kind, c.host) << c.fileType << " " << int(c.varType);
        EXPECT_STREQ(unit, c.unit);
        free(unit);
    }
}

TEST(KindTest, FileTypeOneTextComesFromTheFirstByteOnly)
{
    ReaderContext context = ContextOfType(1);
    struct Case {
        unsigned char first;
        const char* text;
    } cases[] = {{0, "0"}, {1, "1"}, {2, "X"}, {3, "Z"}, {4, "Z"}, {5, "Z"}, {6, "X"}, {255, "X"}};
    for (const Case& c : cases) {
        unsigned char value[3] = {c.first, 1, 0};
        char* text = nullptr;
        LogicValueText(&context, value, nullptr, &text);
        EXPECT_STREQ(text, c.text) << int(c.first);
        free(text);
    }
}

TEST_F(ValueTest, FileTypeZeroTextHasOneCharacterPerBit)
{
    nffr::FileWriter writer;
    writer.SetFileType(0);
    int id = writer.AddVar("b", 0, 6);
    writer.AddChange(id, 0, {0, 1, 2, 3, 4, 9});
    const unsigned char* value = FirstValue(writer, id);
    ASSERT_NE(value, nullptr);
    EXPECT_EQ(Text(ContextOfType(0), value), "01XZUU");
}

// Wider than the 2 MiB scratch buffer: rendered whole into a text of its own size.
TEST_F(ValueTest, ValueWiderThanTheScratchBufferIsRenderedWhole)
{
    const uint32_t bits = 2097152 + 3;
    nffr::FileWriter writer;
    writer.SetFileType(0);
    int id = writer.AddVar("wide", 0, bits);
    std::vector<uint8_t> bytes(bits, 1);
    bytes[0] = 0;
    bytes[bits - 1] = 3;
    writer.AddChange(id, 0, bytes);
    const unsigned char* value = FirstValue(writer, id);
    ASSERT_NE(value, nullptr);
    std::string text = Text(ContextOfType(0), value);
    ASSERT_EQ(text.size(), bits);
    EXPECT_EQ(text.front(), '0');
    EXPECT_EQ(text[bits / 2], '1');
    EXPECT_EQ(text.back(), 'Z');
    // The scratch buffer still serves narrow values afterwards.
    EXPECT_EQ(Text(ContextOfType(1), value), "0");
}

TEST_F(ValueTest, RealSamplesFollowTheValueDataType)
{
    nffr::FileWriter writer;
    writer.SetFileType(1);
    int asDouble = writer.AddVar("d", 'v', 64, 3);
    int asFloat = writer.AddVar("f", 'v', 32, 2);
    writer.AddReal(asDouble, 0, 0.1);
    writer.AddReal(asFloat, 0, 0.1);
    const unsigned char* value = FirstValue(writer, asDouble);
    ASSERT_NE(value, nullptr);
    EXPECT_EQ(ReadRealSample(traverser_, value), 0.1);
    value = FirstValue(writer, asFloat);
    ASSERT_NE(value, nullptr);
    EXPECT_EQ(ReadRealSample(traverser_, value), (double)0.1f);
}
