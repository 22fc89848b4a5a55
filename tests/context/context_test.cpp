// context_test.cpp: opening and closing files, the host settings read at open, readers shared
// between contexts of one path and their refresh, and the detection of rewritten files.
#include "context/context.h"

#include <stdio.h>

#include <fstream>

#include "context_support.h"
#include "stderr_capture.h"

using contexttest::HostInterp;
using contexttest::ReaderTest;
using contexttest::SmallFile;
using contexttest::Write;
using nffr::testhooks::Op;

namespace {

const char kRewritten[] = "Data file was rewritten. Please reload.\n";

// What the plug-in wrote, without the reader library's own reports.
std::string PluginLines(const std::string& text)
{
    std::string kept;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        end = end == std::string::npos ? text.size() : end + 1;
        std::string line = text.substr(start, end - start);
        if (line.rfind("nffr ", 0) != 0 && line.rfind("\"ERROR:\" ", 0) != 0 &&
            line.rfind("\"WARN:\" ", 0) != 0) {
            kept += line;
        }
        start = end;
    }
    return kept;
}

class OpenTest : public ReaderTest {
protected:
    // Opens path expecting a refusal with exactly one line on standard error.
    void ExpectRefused(const std::string& path, const std::string& line)
    {
        ReaderContext* context = reinterpret_cast<ReaderContext*>(1);
        StderrCapture capture;
        EXPECT_EQ(Quorvel_Open(host_.get(), path.c_str(), &context), 1);
        EXPECT_EQ(PluginLines(capture.Finish()), line);
        EXPECT_EQ(context, nullptr);
    }
    HostInterp host_;
};

using SharingTest = OpenTest;
using RewriteTest = OpenTest;

}  // namespace

TEST_F(OpenTest, RefusesWithOneLineAndNullHandle)
{
    std::string missing = dir_.File("missing.fsdb");
    ExpectRefused(missing, "Can not open file: " + missing + ".\n");

    std::string text = dir_.File("notes.fsdb");
    std::ofstream(text) << "not a waveform file\n";
    ExpectRefused(text, text + " is not an fsdb file.\n");

    nffr::FileWriter typeTwo;
    typeTwo.SetFileType(2);
    typeTwo.AddVar("v", 'v', 8);
    Write(typeTwo, dir_.File("type2.fsdb"));
    ExpectRefused(dir_.File("type2.fsdb"), "we do not support this file type yet.\n");

    Write(SmallFile(""), dir_.File("ok.fsdb"));
    nffr::testhooks::FailNthCall(Op::Open, 1);
    ExpectRefused(dir_.File("ok.fsdb"), "ffrObject::ffrOpen2() failed.\n");
    EXPECT_EQ(Calls(Op::Close), 0);
}

TEST_F(OpenTest, OpensBothFileTypesAndClosesNull)
{
    nffr::FileWriter typeZero;
    typeZero.SetFileType(0);
    typeZero.SetTimeUnit("10ps");
    typeZero.SetEndTag(42);
    typeZero.BeginScope("top");
    typeZero.AddVar("bus", 0, 4);
    typeZero.EndScope();
    Write(typeZero, dir_.File("zero.fsdb"));
    Write(SmallFile("stamp one"), dir_.File("one.fsdb"));

    ReaderContext* zero = host_.Open(dir_.File("zero.fsdb"));
    ReaderContext* one = host_.Open(dir_.File("one.fsdb"));
    ASSERT_NE(zero, nullptr);
    ASSERT_NE(one, nullptr);
    EXPECT_EQ(zero->fileType, 0);
    EXPECT_EQ(zero->timeScale, 1e-11);
    EXPECT_EQ(zero->endTag.high, 0u);
    EXPECT_EQ(zero->endTag.low, 42u);
    EXPECT_EQ(zero->stamp, nullptr);
    EXPECT_EQ(zero->waveCount, 1);
    EXPECT_EQ(one->fileType, 1);
    EXPECT_STREQ(one->stamp, "stamp one");
    EXPECT_STREQ(one->xName, "t");
    EXPECT_STREQ(one->xUnit, "s");
    EXPECT_EQ(one->waveCount, 2);
    EXPECT_NE(LiveReader(one), nullptr);
    host_.Close(zero);
    host_.Close(one);
    EXPECT_EQ(Calls(Op::Close), 2);
    EXPECT_EQ(Quorvel_Close(host_.get(), nullptr), 0);
}

TEST_F(OpenTest, ReadsShowBusAndCatSplitSettings)
{
    Write(SmallFile(""), dir_.File("a.fsdb"));
    struct Case {
        const char* script;
        int showBus;
        int splitState;
    } cases[] = {
        {"unset -nocomplain Scope", 0, 0},
        {"set Scope(fsdb,show_bus) 2; set Scope(fsdb,cat_split) 5", 2, 1},
        {"set Scope(fsdb,show_bus) yes; set Scope(fsdb,cat_split) 0", 0, 0},
        {"set Scope(fsdb,show_bus) { -7x}; unset Scope(fsdb,cat_split)", -7, 0},
    };
    for (const Case& c : cases) {
        host_.Eval(c.script);
        ReaderContext* context = host_.Open(dir_.File("a.fsdb"));
        ASSERT_NE(context, nullptr);
        EXPECT_EQ(context->showBus, c.showBus) << c.script;
        EXPECT_EQ(context->splitState, c.splitState) << c.script;
        host_.Close(context);
    }
}

TEST_F(OpenTest, MissingTreeRefusesWithoutTakingAReaderUse)
{
    Write(SmallFile(""), dir_.File("a.fsdb"));
    ReaderContext* context = static_cast<ReaderContext*>(malloc(sizeof(ReaderContext)));
    InitContext(context);
    delete context->tree;
    context->tree = nullptr;  // as when the tree could not be allocated
    context->interp = host_.get();
    context->path = strdup(dir_.File("a.fsdb").c_str());
    EXPECT_EQ(OpenFsdbFile(context), 1);
    EXPECT_EQ(context->reader, nullptr);
    EXPECT_EQ(Calls(Op::Open), 0);
    Quorvel_Close(host_.get(), context);
    EXPECT_EQ(Calls(Op::Close), 0);
}

// A path holding blanks, brackets and a dollar sign reaches pf:info as one literal word.
TEST_F(OpenTest, PathIsOneLiteralWordInHostScripts)
{
    std::string path = dir_.File("run [set ::ran 1] $env(HOME) {x}.fsdb");
    Write(SmallFile(""), path);
    ReaderContext* first = host_.Open(path);
    ReaderContext* second = host_.Open(path);
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(host_.Eval("info exists ::ran"), "0");
    EXPECT_EQ(host_.Eval("llength $::asked"), "2");
    EXPECT_EQ(host_.Eval("lindex $::asked 1"), path);
    EXPECT_EQ(first->reader, second->reader);
    host_.Close(first);
    host_.Close(second);
}

// Contexts of one path share one reader object; each close drops exactly its own use.
TEST_F(SharingTest, ContextsOfOnePathShareOneReader)
{
    std::string path = dir_.File("shared.fsdb");
    Write(SmallFile("s"), path);
    ReaderContext* first = host_.Open(path);
    ReaderContext* second = host_.Open(path);
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(first->reader, second->reader);
    EXPECT_NE(first->tree, second->tree);
    EXPECT_EQ(Calls(Op::NeedsReopen), 1);
    host_.Close(first);
    EXPECT_EQ(Calls(Op::Close), 1);
    ffrObject* reader = LiveReader(second);
    ASSERT_NE(reader, nullptr);
    ffrVarInfo* info = nullptr;
    reader->GetVarInfo(1, &info);
    EXPECT_NE(info, nullptr);
    EXPECT_EQ(CheckRewritten(second, host_.get()), 0);
    host_.Close(second);
    EXPECT_EQ(Calls(Op::Close), 2);
}

// A rewrite between opens refreshes the reader: the older context's reader is dropped and is
// never called again, even when the new object takes the dropped one's address; a second
// rewrite and a third open close only the uses actually held.
TEST_F(SharingTest, RefreshDropsOlderContextsAndNeverOvercloses)
{
    if (!nffr::testhooks::ContractChecksEnabled()) {
        GTEST_SKIP() << "needs the reader's contract checks (a dead object's address reused)";
    }
    std::string path = dir_.File("refresh.fsdb");
    Write(SmallFile("first"), path);
    ReaderContext* first = host_.Open(path);
    ASSERT_NE(first, nullptr);
    Write(SmallFile("second"), path);
    nffr::testhooks::ReuseDeadAddressForNextObject(true);
    ReaderContext* second = host_.Open(path);
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(Calls(Op::Open), 3);
    EXPECT_EQ(Calls(Op::Close), 2);
    EXPECT_STREQ(second->stamp, "second");
    EXPECT_EQ(second->reader, first->reader);  // the new object sits at the dropped one's address
    EXPECT_EQ(LiveReader(first), nullptr);
    EXPECT_NE(LiveReader(second), nullptr);

    int stampCalls = Calls(Op::HasStamp) + Calls(Op::GetStamp);
    EXPECT_EQ(CheckRewritten(first, host_.get()), 1);
    EXPECT_EQ(host_.Result(), kRewritten);
    EXPECT_EQ(Calls(Op::HasStamp) + Calls(Op::GetStamp), stampCalls);

    // Second rewrite, third open while both earlier contexts are still listed by the host.
    Write(SmallFile("third"), path);
    ReaderContext* third = host_.Open(path);
    ASSERT_NE(third, nullptr);
    EXPECT_EQ(Calls(Op::Close), 4);  // the second context's use and the third's own
    EXPECT_EQ(LiveReader(second), nullptr);
    EXPECT_EQ(CheckRewritten(third, host_.get()), 0);

    host_.Close(first);
    host_.Close(second);
    EXPECT_EQ(Calls(Op::Close), 4);
    host_.Close(third);
    EXPECT_EQ(Calls(Op::Close), 5);
}

TEST_F(SharingTest, FailedReopenAtRefreshRefuses)
{
    std::string path = dir_.File("a.fsdb");
    Write(SmallFile(""), path);
    ReaderContext* first = host_.Open(path);
    ASSERT_NE(first, nullptr);
    nffr::testhooks::FailNthCall(Op::NeedsReopen, 1);
    nffr::testhooks::FailNthCall(Op::Open, 2);
    ExpectRefused(path, "ffrObject::ffrOpen2() failed.\n");
    EXPECT_EQ(Calls(Op::Close), 2);
    EXPECT_EQ(LiveReader(first), nullptr);
    host_.Close(first);
    EXPECT_EQ(Calls(Op::Close), 2);
}

// Inside the host application the message goes through VexaMessage; outside it, it is the
// interpreter's result. Either way every later check reports it again.
TEST_F(RewriteTest, TellsTheUserBothWaysAndAgainOnEveryCheck)
{
    std::string path = dir_.File("a.fsdb");
    Write(SmallFile("old"), path);
    ReaderContext* context = host_.Open(path);
    ASSERT_NE(context, nullptr);
    EXPECT_EQ(CheckRewritten(context, host_.get()), 0);
    Write(SmallFile("new"), path);

    host_.Eval("set ::Scope(Application) 1");
    for (int i = 0; i < 2; i++) {
        host_.Eval("set ::lastMessage {}");
        EXPECT_EQ(CheckRewritten(context, host_.get()), 1);
        EXPECT_EQ(host_.Result(), "");
        EXPECT_EQ(host_.Eval("lindex $::lastMessage 0"), kRewritten);
        EXPECT_EQ(host_.Eval("lrange $::lastMessage 1 2"), "error Error");
    }
    for (const char* setting : {"set ::Scope(Application) 0", "unset ::Scope(Application)"}) {
        host_.Eval(setting);
        host_.Eval("set ::lastMessage {}");
        EXPECT_EQ(CheckRewritten(context, host_.get()), 1);
        EXPECT_EQ(host_.Result(), kRewritten);
        EXPECT_EQ(host_.Eval("set ::lastMessage"), "");
    }
    host_.Close(context);
}

TEST_F(RewriteTest, OnlyAFileThatNowHasAStampCounts)
{
    std::string path = dir_.File("a.fsdb");
    Write(SmallFile(""), path);
    ReaderContext* context = host_.Open(path);
    ASSERT_NE(context, nullptr);
    EXPECT_EQ(CheckRewritten(context, host_.get()), 0);
    Write(SmallFile("stamped now"), path);
    EXPECT_EQ(CheckRewritten(context, host_.get()), 1);
    EXPECT_EQ(host_.Result(), kRewritten);
    host_.Close(context);

    Write(SmallFile("stamped"), path);
    context = host_.Open(path);
    ASSERT_NE(context, nullptr);
    Write(SmallFile(""), path);
    EXPECT_EQ(CheckRewritten(context, host_.get()), 0);
    host_.Close(context);
}
