// split_test.cpp: chains of split files: the candidate names and splitState transitions, and
// loads continued across chains in both naming forms.
#include <filesystem>
#include <fstream>

#include "load_support.h"
#include "stderr_capture.h"

#if !defined(_WIN32)
#include <sys/resource.h>
#endif

namespace loadtest {
namespace {

class SplitTest : public LoadTest {
protected:
    // One analog signal top/v (id 1) changing at tag 10 * file + i with value file + i / 10,
    // and a two-member bus top/data[1:0] (ids 2, 3); end tag 10 * file + 9.
    void WriteChainFile(const std::string& path, int file)
    {
        nffr::FileWriter writer;
        writer.SetFileType(1);
        writer.SetTimeUnit("1s");
        writer.SetEndTag(10 * file + 9);
        writer.BeginScope("top");
        int v = writer.AddVar("v", 'v', 64, 3, 1);
        for (int i = 0; i < 3; i++) {
            writer.AddReal(v, 10 * file + i, file + i / 10.0);
        }
        int hi = writer.AddVar("data[1]", 0, 1, 3, 2);
        writer.AddChange(hi, 10 * file, {uint8_t(file % 2)});
        int lo = writer.AddVar("data[0]", 0, 1, 3, 3);
        writer.AddChange(lo, 10 * file + 1, {1});
        writer.EndScope();
        std::string error;
        ASSERT_TRUE(writer.Write(path, &error)) << error;
    }
    static std::vector<Sample> ExpectedV(const std::vector<int>& files)
    {
        std::vector<Sample> samples;
        for (int file : files) {
            for (int i = 0; i < 3; i++) {
                samples.push_back({double(10 * file + i), Num(file + i / 10.0)});
            }
        }
        return samples;
    }
    std::vector<Sample> LoadV(ReaderContext* context)
    {
        char path[] = "top/v";
        WfXWave* wave = nullptr;
        EXPECT_EQ(Quorvel_LoadWave(interp_, context, path, &wave), 0);
        Keep(wave);
        return Samples(wave);
    }
    // Replaces Tcl's file command: "file exists" records the candidate and answers from
    // ::existing; a candidate in ::broken raises an error.
    void StubFileExists()
    {
        Eval(
            "set ::asked {}; set ::existing {}; set ::broken {}\n"
            "rename file _file\n"
            "proc file {op name} {\n"
            "  lappend ::asked $name\n"
            "  if {$name in $::broken} { error broken }\n"
            "  expr {$name in $::existing}\n"
            "}");
    }
    int Next(ReaderContext* base, int n, std::string* candidate)
    {
        ReaderContext continuation;
        InitContext(&continuation);
        int found = NextSplitFileName(base, &continuation, n);
        *candidate = continuation.path != nullptr ? continuation.path : "";
        free(continuation.path);
        delete continuation.tree;
        return found;
    }
};

// Candidate names, the order they are tried in, and the splitState transitions.
TEST_F(SplitTest, CandidateNamesAndStates)
{
    StubFileExists();
    ReaderContext base;
    InitContext(&base);
    base.interp = interp_;
    base.path = strdup("/sim/run.fsdb");
    base.splitState = 1;
    std::string candidate;
    EXPECT_EQ(Next(&base, 1, &candidate), 0);
    EXPECT_EQ(Eval("set ::asked"), "/sim/run_1.fsdb /sim/run.fsdb.1");
    EXPECT_EQ(base.splitState, 1);

    // Entering in the dot form tries only the dot form, then switches back.
    base.splitState = 2;
    Eval("set ::asked {}; set ::existing {/sim/run_1.fsdb}");
    EXPECT_EQ(Next(&base, 1, &candidate), 0);
    EXPECT_EQ(Eval("set ::asked"), "/sim/run.fsdb.1");
    EXPECT_EQ(base.splitState, 1);
    EXPECT_EQ(Next(&base, 1, &candidate), 1);
    EXPECT_EQ(candidate, "/sim/run_1.fsdb");

    // Numbers of any length; a found dot-form file leaves the state at 2.
    Eval("set ::existing {/sim/run.fsdb.12}");
    EXPECT_EQ(Next(&base, 12, &candidate), 1);
    EXPECT_EQ(candidate, "/sim/run.fsdb.12");
    EXPECT_EQ(base.splitState, 2);

    // A test that cannot be made ends the search and keeps the state.
    Eval("set ::broken {/sim/run.fsdb.3}");
    EXPECT_EQ(Next(&base, 3, &candidate), 0);
    EXPECT_EQ(base.splitState, 2);

    // The only "." lies in a directory name.
    free(base.path);
    base.path = strdup("/sim.old/run");
    base.splitState = 1;
    Eval("set ::asked {}; set ::broken {}");
    EXPECT_EQ(Next(&base, 1, &candidate), 0);
    EXPECT_EQ(Eval("set ::asked"), "/sim_1.old/run /sim.old/run.1");

    // Blanks, brackets, dollar signs and backslashes reach the command as they are.
    free(base.path);
    base.path = strdup("/a b/[x]$y\\z");
    Eval("set ::asked {}");
    EXPECT_EQ(Next(&base, 1, &candidate), 0);
    EXPECT_EQ(Eval("lindex $::asked 0"), "/a b/[x]$y\\z_1");
    free(base.path);
    delete base.tree;
}

// Chains of 1, 3 and 12 files in the underscore form, and 3 in the dot form.
TEST_F(SplitTest, ChainsInBothForms)
{
    for (int length : {1, 3, 12}) {
        std::string dir = File("u" + std::to_string(length));
        std::filesystem::create_directories(dir);
        std::vector<int> files;
        for (int f = 0; f < length; f++) {
            std::string name = f == 0 ? "run.fsdb" : "run_" + std::to_string(f) + ".fsdb";
            WriteChainFile(dir + "/" + name, f);
            files.push_back(f);
        }
        ReaderContext* context = Open(dir + "/run.fsdb", 1);
        EXPECT_EQ(LoadV(context), ExpectedV(files)) << length;
        EXPECT_EQ(context->splitState, 1);
    }
    std::string dir = File("dot");
    std::filesystem::create_directories(dir);
    WriteChainFile(dir + "/run.fsdb", 0);
    WriteChainFile(dir + "/run.fsdb.1", 1);
    WriteChainFile(dir + "/run.fsdb.2", 2);
    ReaderContext* context = Open(dir + "/run.fsdb", 1);
    EXPECT_EQ(LoadV(context), ExpectedV({0, 1, 2}));
    EXPECT_EQ(context->splitState, 1);
}

// A mixed chain changes form between files; a missing middle file ends the chain; a path
// with a blank is followed like any other.
TEST_F(SplitTest, MixedChainMissingFileAndBlank)
{
    std::string dir = File("with blank");
    std::filesystem::create_directories(dir);
    WriteChainFile(dir + "/run.fsdb", 0);
    WriteChainFile(dir + "/run_1.fsdb", 1);
    WriteChainFile(dir + "/run.fsdb.2", 2);
    WriteChainFile(dir + "/run.fsdb.3", 3);
    WriteChainFile(dir + "/run_5.fsdb", 5);
    ReaderContext* context = Open(dir + "/run.fsdb", 1);
    EXPECT_EQ(LoadV(context), ExpectedV({0, 1, 2, 3}));
    EXPECT_EQ(context->splitState, 1);
    // Without the split setting nothing is continued.
    ReaderContext* plain = Open(dir + "/run.fsdb", 0);
    EXPECT_EQ(LoadV(plain), ExpectedV({0}));
}

// A chain that ends on a dot-form file that fails to open leaves splitState at 2; the next
// load then tries only run.fsdb.1 and does not continue into run_1.fsdb.
TEST_F(SplitTest, StateLeftAtTwo)
{
    WriteChainFile(File("run.fsdb"), 0);
    std::ofstream(File("run.fsdb.1")) << "not an fsdb file\n";
    ReaderContext* context = Open(File("run.fsdb"), 1);
    EXPECT_EQ(LoadV(context), ExpectedV({0}));
    EXPECT_EQ(context->splitState, 2);
    std::filesystem::remove(File("run.fsdb.1"));
    WriteChainFile(File("run_1.fsdb"), 1);
    EXPECT_EQ(LoadV(context), ExpectedV({0}));
    EXPECT_EQ(context->splitState, 1);
    EXPECT_EQ(LoadV(context), ExpectedV({0, 1}));
}

// Load-many continues a bus with the bus loader and a scalar with the scalar loader; a
// failing continuation keeps the first file's waveform and result.
TEST_F(SplitTest, BusThenScalarInOneSplitLoad)
{
    WriteChainFile(File("run.fsdb"), 0);
    WriteChainFile(File("run_1.fsdb"), 1);
    ReaderContext* context = Open(File("run.fsdb"), 1, 1);
    std::vector<WfXWave*> slots(2, nullptr);
    ResetCounts();
    ASSERT_EQ(Quorvel_LoadWaves(interp_, context, "top/data[1:0] top/v", "", slots.data()), 0);
    Keep(slots[0]);
    Keep(slots[1]);
    EXPECT_TRUE(HoldsExactly(
        slots[0], {{0, "0X"}, {1, "01"}, {9, "01"}, {10, "1X"}, {11, "11"}, {19, "11"}}));
    EXPECT_TRUE(HoldsExactly(slots[1], ExpectedV({0, 1})));
    EXPECT_TRUE(Header(slots[0]).done);
    // The continuation file is opened once for both waveforms, its tree read once.
    EXPECT_EQ(Calls(Op::ReadSignalTree), 1);
    EXPECT_EQ(context->splitState, 1);

    // The next file lacks the signal: the chain ends, the first file's samples stay.
    nffr::FileWriter other;
    other.SetFileType(1);
    other.BeginScope("elsewhere");
    other.AddVar("u", 'v', 64, 3, 9);
    other.EndScope();
    std::string error;
    ASSERT_TRUE(other.Write(File("run_1.fsdb"), &error)) << error;
    EXPECT_EQ(LoadV(context), ExpectedV({0}));
}

#if !defined(_WIN32)
// A chain of 300 files loads whole under an open-file limit of 64, as one waveform and as two
// of one load-many call. With one file left to open, the chain ends where a continuation
// cannot be opened, with one message naming it and the reason; the earlier samples stay.
TEST_F(SplitTest, LongChainUnderLowOpenFileLimit)
{
    std::vector<int> files;
    for (int f = 0; f < 300; f++) {
        WriteChainFile(File(f == 0 ? "run.fsdb" : "run_" + std::to_string(f) + ".fsdb"), f);
        files.push_back(f);
    }
    ReaderContext* context = Open(File("run.fsdb"), 1);
    std::vector<WfXWave*> whole(2, nullptr), limited(2, nullptr);
    ASSERT_EQ(Quorvel_LoadWaves(interp_, context, "top/v top/data[1:0]", "", whole.data()), 0);
    struct rlimit saved, low;
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &saved), 0);
    low = saved;
    low.rlim_cur = 64;
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &low), 0);
    std::vector<Sample> one = LoadV(context);
    int many = Quorvel_LoadWaves(interp_, context, "top/v top/data[1:0]", "", limited.data());
    StderrCapture capture;
    int next = dup(2);  // the lowest free descriptor
    ASSERT_GE(next, 0);
    close(next);
    low.rlim_cur = rlim_t(next) + 1;
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &low), 0);
    std::vector<WfXWave*> cut(1, nullptr);
    int cutResult = Quorvel_LoadWaves(interp_, context, "top/v", "", cut.data());
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &saved), 0);
    std::string messages = capture.Finish();
    for (WfXWave* wave : {whole[0], whole[1], limited[0], limited[1], cut[0]}) {
        Keep(wave);
    }
    EXPECT_EQ(one, ExpectedV(files));
    EXPECT_EQ(many, 0);
    EXPECT_EQ(Samples(limited[0]), ExpectedV(files));
    EXPECT_EQ(Samples(limited[1]), Samples(whole[1]));
    EXPECT_EQ(cutResult, 0);
    EXPECT_EQ(Samples(cut[0]), ExpectedV({0, 1}));
    EXPECT_EQ(messages, "Split file \"" + File("run_2.fsdb") +
                            "\" exists but cannot be opened: Too many open files; the waveform "
                            "ends with the file before it.\n");
}
#endif

}  // namespace
}  // namespace loadtest
