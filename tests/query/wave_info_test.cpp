// wave_info_test.cpp: the waveform-attribute query handler: its option table, the kind and unit
// of signals of every variable type, refusals, and a context whose reader was dropped.
#include <string>

#include "nffr_testhooks.h"
#include "query_support.h"

using namespace query_test;

namespace {

namespace hooks = nffr::testhooks;

const Answer kUntouchedAnswer{1, kUntouched, false};
Answer Empty()
{
    return Answer{0, "", true};
}
Answer Says(const char* text)
{
    return Answer{0, text, true};
}

struct WaveRow {
    const char* option;
    Answer expected;
};

std::ostream& operator<<(std::ostream& out, const WaveRow& row)
{
    return out << '"' << (row.option != nullptr ? row.option : "(null)") << '"';
}

// A context filled by hand: "t" and "s" as axis texts and an empty tree, so that no signal
// is found.
class WaveOptionTest : public ::testing::TestWithParam<WaveRow> {
protected:
    WaveOptionTest() : context_("/data/a.fsdb") {}
    HandContext context_;
};

TEST_P(WaveOptionTest, AnswersByCompareRules)
{
    EXPECT_EQ(AskWave(context_.get(), "/top/sig", GetParam().option), GetParam().expected);
}

// A null waveform name is refused for every option, the fixed ones included.
TEST_P(WaveOptionTest, NullWaveNameRefused)
{
    EXPECT_EQ(AskWave(context_.get(), nullptr, GetParam().option), kUntouchedAnswer);
}

const WaveRow kWaveRows[] = {
    {"-d", Empty()},
    {"-da", Says("real")},
    {"-datatype", Says("real")},
    {"-g", Empty()},
    {"-go", Says("1")},
    {"-got_xaxis", Says("1")},
    {"-n", Empty()},
    {"-ns", Says("1")},
    {"-nw", Empty()},
    {"-x", Empty()},
    {"-xn", Says("t")},
    {"-xname", Says("t")},
    {"-xu", Says("s")},
    {"-xunit", Says("s")},
    {"-xs", Says("linear")},
    {"-xscale", Says("linear")},
    {"-xy", Empty()},
    {"-y", Empty()},
    {"-yn", Says("/top/sig")},  // the name as passed, without lookup
    {"-yname", Says("/top/sig")},
    {"-ys", Says("linear")},
    {"-yscale", Says("linear")},
    // signal-dependent: the hand context's tree holds no such signal
    {"-yu", Answer{1, "", true}},
    {"-yunit", Answer{1, "", true}},
    {"-w", Empty()},
    {"-wf", Answer{1, "", true}},
    {"-wftype", Answer{1, "", true}},
    {"-wftypes", Answer{1, "", true}},
    // case-sensitive; unknown second characters
    {"-Da", Empty()},
    {"-XN", Empty()},
    {"-xN", Empty()},
    {"-a", Empty()},
    {"--", Empty()},
    {"-zz", Empty()},
    // too short or not an option: the result is left alone
    {"", kUntouchedAnswer},
    {"-", kUntouchedAnswer},
    {"x", kUntouchedAnswer},
    {"datatype", kUntouchedAnswer},
    {nullptr, kUntouchedAnswer},
};

INSTANTIATE_TEST_SUITE_P(Options, WaveOptionTest, ::testing::ValuesIn(kWaveRows));

struct SignalRow {
    const char* name;
    unsigned char varType;
    const char* kind;
    const char* unit;
};

// One variable of every type that carries meaning, and one that does not.
const SignalRow kTypeOneSignals[] = {
    {"v", 'v', "analog", "V"},     {"I", 'I', "analog", "A"},     {"i", 'i', "event", "A"},
    {"d", 'd', "event", "A"},      {"p", 'p', "event", "Watt"},   {"logic", 0, "digital", "-"},
    {"other", 'x', "analog", "-"}, {"digit", '7', "analog", "-"},
};

// Files of type 1 and type 0 with the signals above below the scope "top/sub".
class SignalTest : public ::testing::Test {
protected:
    std::string WriteFile(uint32_t fileType, const char* name)
    {
        nffr::FileWriter writer;
        writer.SetFileType(fileType);
        writer.BeginScope("top");
        writer.BeginScope("sub");
        for (const SignalRow& row : kTypeOneSignals) {
            int id = writer.AddVar(row.name, row.varType, 1);
            if (writer.HoldsReals(id)) {
                writer.AddReal(id, 0, 1.0);
            } else {
                writer.AddBits(id, 0, "1");
            }
        }
        writer.EndScope();
        writer.EndScope();
        return Write(writer, dir_.File(name));
    }

    TempDir dir_;
    Interp interp_;
};

TEST_F(SignalTest, KindAndUnitOfEveryVariableType)
{
    OpenFile file(interp_.get(), WriteFile(1, "one.fsdb"));
    ASSERT_NE(file.get(), nullptr);
    for (const SignalRow& row : kTypeOneSignals) {
        SCOPED_TRACE(row.name);
        std::string path = std::string("top/sub/") + row.name;
        EXPECT_EQ(AskWave(file.get(), path.c_str(), "-wftype"), Says(row.kind));
        EXPECT_EQ(AskWave(file.get(), ("/" + path).c_str(), "-wftype"), Says(row.kind));
        EXPECT_EQ(AskWave(file.get(), path.c_str(), "-yunit"), Says(row.unit));
        EXPECT_EQ(AskWave(file.get(), ("/" + path).c_str(), "-yunit"), Says(row.unit));
        EXPECT_EQ(AskWave(file.get(), path.c_str(), "-datatype"), Says("real"));
    }
}

TEST_F(SignalTest, FileTypeZeroIsAllDigital)
{
    OpenFile file(interp_.get(), WriteFile(0, "zero.fsdb"));
    ASSERT_NE(file.get(), nullptr);
    for (const SignalRow& row : kTypeOneSignals) {
        SCOPED_TRACE(row.name);
        std::string path = std::string("/top/sub/") + row.name;
        EXPECT_EQ(AskWave(file.get(), path.c_str(), "-wftype"), Says("digital"));
        EXPECT_EQ(AskWave(file.get(), path.c_str(), "-yunit"), Says("-"));
    }
}

// Scopes carry no idcode and missing paths name nothing: both are refused.
TEST_F(SignalTest, ScopesAndMissingPathsRefused)
{
    OpenFile file(interp_.get(), WriteFile(1, "one.fsdb"));
    ASSERT_NE(file.get(), nullptr);
    const Answer refused{1, "", true};
    for (const char* path : {"top", "/top/sub", "top/sub/nosuch", "nosuch", "", "/"}) {
        SCOPED_TRACE(path);
        EXPECT_EQ(AskWave(file.get(), path, "-wftype"), refused);
        EXPECT_EQ(AskWave(file.get(), path, "-yunit"), refused);
        EXPECT_EQ(AskWave(file.get(), path, "-yname"), Says(path));
    }
    // The axis texts come from the opened context.
    EXPECT_EQ(AskWave(file.get(), "nosuch", "-xname"), Says("t"));
    EXPECT_EQ(AskWave(file.get(), "nosuch", "-xunit"), Says("s"));
}

// The unit text is freed after every query (the sanitizer run would report a leak).
TEST_F(SignalTest, RepeatedUnitQueriesLeakNothing)
{
    OpenFile file(interp_.get(), WriteFile(1, "one.fsdb"));
    ASSERT_NE(file.get(), nullptr);
    for (int i = 0; i < 2000; i++) {
        ASSERT_EQ(AskWave(file.get(), "top/sub/p", "-yunit"), Says("Watt"));
    }
}

// A later open of the same path that refreshes the reader drops the first context's use: the
// first context then refuses the signal queries without calling its reader.
TEST_F(SignalTest, DroppedReaderRefusesWithoutCalls)
{
    std::string path = WriteFile(1, "shared.fsdb");
    hooks::Reset();
    OpenFile first(interp_.get(), path);
    ASSERT_NE(first.get(), nullptr);
    interp_.ListOpen("fsdb1", path);
    hooks::FailNthCall(hooks::Op::NeedsReopen, 1);
    OpenFile second(interp_.get(), path);
    ASSERT_NE(second.get(), nullptr);
    ASSERT_EQ(LiveReader(first.get()), nullptr);

    int calls = hooks::CallCount(hooks::Op::GetVarInfo);
    EXPECT_EQ(AskWave(first.get(), "top/sub/v", "-wftype"), (Answer{1, "", true}));
    EXPECT_EQ(AskWave(first.get(), "top/sub/v", "-yunit"), (Answer{1, "", true}));
    EXPECT_EQ(hooks::CallCount(hooks::Op::GetVarInfo), calls);
    EXPECT_EQ(AskWave(first.get(), "top/sub/v", "-xunit"), Says("s"));
    // The refreshed context answers from its live reader.
    EXPECT_EQ(AskWave(second.get(), "top/sub/v", "-yunit"), Says("V"));
    hooks::Reset();
}

// The signal queries leave the asked signal's record as the context's current one.
TEST_F(SignalTest, SignalQueryStoresVarInfo)
{
    OpenFile file(interp_.get(), WriteFile(1, "one.fsdb"));
    ASSERT_NE(file.get(), nullptr);
    ASSERT_EQ(AskWave(file.get(), "top/sub/p", "-wftype"), Says("event"));
    ASSERT_NE(file.get()->varInfo, nullptr);
    EXPECT_EQ(file.get()->varInfo->varType, 'p');
}

}  // namespace
