// file_info_test.cpp: the file-attribute query handler: its option table, browsing of a real
// file's tree, leaf lists and search, leaf types, and file and design names of odd paths.
#include <string>
#include <vector>

#include "query_support.h"

using namespace query_test;

namespace {

struct FileRow {
    const char* query;
    Answer expected;
};

std::ostream& operator<<(std::ostream& out, const FileRow& row)
{
    return out << '"' << (row.query != nullptr ? row.query : "(null)") << '"';
}

const Answer kRefused{1, "", false};
Answer Empty()
{
    return Answer{0, "", true};
}
Answer Says(const char* text)
{
    return Answer{0, text, true};
}

// The context of the option table: a stamp, three leaves counted, design name "top.run".
class FileOptionTest : public ::testing::TestWithParam<FileRow> {
protected:
    FileOptionTest() : context_("/data/sim/top.run.fsdb")
    {
        context_->stamp = _strdup("built 2026-12-08");
        context_->waveCount = 3;
        context_->tree->leafTypes[0] = 2;
        context_->tree->leafTypes[1] = 0;
        context_->tree->leafTypes[2] = -1;
        context_->tree->leafTypes[3] = -1;
    }
    Interp interp_;
    HandContext context_;
};

TEST_P(FileOptionTest, AnswersByCompareRules)
{
    EXPECT_EQ(AskFile(interp_.get(), context_.get(), GetParam().query), GetParam().expected);
}

const FileRow kFileRows[] = {
    // "c": 3 characters for "-created", then 6 for "-childNodes"
    {"-created", Says("built 2026-12-08")},
    {"-cr", Says("built 2026-12-08")},
    {"-c", Empty()},
    {"-ch", Empty()},
    {"-chil", Empty()},
    {"-child", Empty()},  // the children query, but without a -parentPath word
    {"-childNodes", Empty()},
    {"-childNodes -other top", Empty()},
    // "d", "f": 3 characters
    {"-d", Empty()},
    {"-de", Says("top.run")},
    {"-design", Says("top.run")},
    {"-f", Empty()},
    {"-fi", Says("/data/sim/top.run.fsdb")},
    {"-filenames", Says("/data/sim/top.run.fsdb")},
    // "n": "-nwaveforms" before "-nsegments"
    {"-n", Empty()},
    {"-nw", Says("3")},
    {"-nwaveforms", Says("3")},
    {"-ns", Says("1")},
    {"-nsegments", Says("1")},
    {"-nx", Empty()},
    // "p": 4 characters for "-pfname", then 3 for "-program"
    {"-p", Empty()},
    {"-pf", Empty()},
    {"-pfn", Says("top.run")},
    {"-pfname", Says("top.run")},
    {"-pr", Says("FSDB")},
    {"-program", Says("FSDB")},
    {"-pR", Empty()},
    // "s", "t", "w"
    {"-s", Empty()},
    {"-se", Says("/")},
    {"-separator", Says("/")},
    {"-t", Empty()},
    {"-ti", Says("1")},
    {"-timescale", Says("1")},
    {"-w", Empty()},
    {"-wa", Empty()},  // the tree holds no leaves
    {"-wf", Says(" digital analog")},
    {"-wftypes", Says(" digital analog")},
    {"-wx", Empty()},
    // case-sensitive; unknown second characters
    {"-Created", Empty()},
    {"-Program", Empty()},
    {"-CR", Empty()},
    {"--", Empty()},
    {"-a", Empty()},
    {"-zz", Empty()},
    // too short, or not an option at all: initialised, kind not set
    {"", kRefused},
    {"-", kRefused},
    {"x", kRefused},
    {"created", kRefused},
    {"ab", kRefused},
    {nullptr, kRefused},
};

INSTANTIATE_TEST_SUITE_P(Options, FileOptionTest, ::testing::ValuesIn(kFileRows));

struct SlotRow {
    short slots[4];
    const char* expected;
};

class LeafTypeSlotTest : public ::testing::TestWithParam<SlotRow> {};

// The words come in slot order, a value held twice gives its word twice, others add nothing.
TEST_P(LeafTypeSlotTest, WordsInSlotOrder)
{
    HandContext context("/data/a.fsdb");
    for (int slot = 0; slot < 4; slot++) {
        context->tree->leafTypes[slot] = GetParam().slots[slot];
    }
    EXPECT_EQ(AskFile(nullptr, context.get(), "-wftypes"), Says(GetParam().expected));
}

const SlotRow kSlotRows[] = {
    {{2, 0, -1, 7}, " digital analog"},  {{-1, -1, -1, -1}, ""},
    {{4, -2, 100, -32768}, ""},          {{3, 2, 1, 0}, " bus digital event analog"},
    {{1, 1, -1, 3}, " event event bus"}, {{2, 2, 2, 2}, " digital digital digital digital"},
};

INSTANTIATE_TEST_SUITE_P(Slots, LeafTypeSlotTest, ::testing::ValuesIn(kSlotRows));

// A result the handler answers keeps its host word, and a refused one stays initialised.
TEST(FileInfoTest, RefusalInitialisesTheAnswer)
{
    HandContext context("/data/a.fsdb");
    QueryResult result;
    result.answerKind = kUnsetKind;
    result.hostWord = 11;
    EXPECT_EQ(Quorvel_FileInfo(nullptr, context.get(), "-", &result), 1);
    EXPECT_STREQ(Tcl_DStringValue(&result.text), "");
    EXPECT_EQ(result.answerKind, kUnsetKind);
    EXPECT_EQ(result.hostWord, 11);
    Tcl_DStringFree(&result.text);
}

TEST(FileInfoTest, NoStampAnswersEmpty)
{
    HandContext context("/data/a.fsdb");
    EXPECT_EQ(AskFile(nullptr, context.get(), "-created"), Empty());
}

// A design-name script that fails inside the interpreter answers nothing with 0.
TEST(FileInfoTest, DesignNameEvaluationFails)
{
    Interp interp;
    HandContext context("/data/top.fsdb");
    interp.Eval("rename file {}");
    EXPECT_EQ(AskFile(interp.get(), context.get(), "-design"), Empty());
    EXPECT_EQ(AskFile(interp.get(), context.get(), "-pfname"), Empty());
    EXPECT_EQ(AskFile(interp.get(), context.get(), "-program"), Says("FSDB"));
}

TEST(FileInfoTest, DesignNameTakesLastComponentUpToLastDot)
{
    Interp interp;
    HandContext twoDots("/data/run.v2.fsdb");
    EXPECT_EQ(AskFile(interp.get(), twoDots.get(), "-design"), Says("run.v2"));
    HandContext noDot("/data/dir.x/plain");
    EXPECT_EQ(AskFile(interp.get(), noDot.get(), "-design"), Says("plain"));
    // The interpreter is left holding the design name.
    EXPECT_STREQ(Tcl_GetStringResult(interp.get()), "plain");
}

// A file in its own folder, with a stamp, scopes top and top/sub and four leaves.
class FileTreeTest : public ::testing::Test {
protected:
    FileTreeTest() : file_(interp_.get(), WriteFile()) {}

    std::string WriteFile()
    {
        nffr::FileWriter writer;
        writer.SetFileType(1);
        writer.SetStamp("built 2026-12-08");
        writer.BeginScope("top");
        int vout = writer.AddVar("vout", 'v', 1);
        writer.AddReal(vout, 0, 1.5);
        int clk = writer.AddVar("clk", 0, 1);
        writer.AddBits(clk, 0, "0");
        writer.AddBits(clk, 5, "1");
        int ev = writer.AddVar("ev", 'i', 1);
        writer.AddReal(ev, 3, 2.0);
        writer.BeginScope("sub");
        int cnt = writer.AddVar("cnt", 0, 1);
        writer.AddBits(cnt, 1, "1");
        writer.EndScope();
        writer.EndScope();
        return Write(writer, dir_.File("tree.fsdb"));
    }

    Answer Ask(const char* query) { return AskFile(interp_.get(), file_.get(), query); }
    // The elements of a list answer.
    std::vector<std::string> Words(const std::string& list)
    {
        int count = 0;
        const char** words = nullptr;
        std::vector<std::string> out;
        EXPECT_EQ(Tcl_SplitList(interp_.get(), list.c_str(), &count, &words), TCL_OK) << list;
        for (int i = 0; i < count; i++) {
            out.push_back(words[i]);
        }
        Tcl_Free((char*)words);
        return out;
    }
    // What the tree itself appends for these leaves.
    std::string TreeLeaves(short leafType, bool withIds)
    {
        ReaderTree* tree = file_.get()->tree;
        Tcl_DString scratch, out;
        Tcl_DStringInit(&scratch);
        Tcl_DStringInit(&out);
        if (withIds) {
            tree->GetTreeLeaveFullPathsNIds(tree->rootNode, &scratch, leafType, &out);
        } else {
            tree->GetTreeLeaveFullPaths(tree->rootNode, &scratch, leafType, &out);
        }
        std::string text = Tcl_DStringValue(&out);
        Tcl_DStringFree(&scratch);
        Tcl_DStringFree(&out);
        return text;
    }

    TempDir dir_;
    Interp interp_;
    OpenFile file_;
};

TEST_F(FileTreeTest, FileAnswers)
{
    EXPECT_EQ(Ask("-created"), Says("built 2026-12-08"));
    EXPECT_EQ(Ask("-nwaveforms"), Says("4"));
    EXPECT_EQ(Ask("-design"), Says("tree"));
    // One list element: a Windows path's backslashes make it braced.
    std::string path = dir_.File("tree.fsdb");
    const char* element = path.c_str();
    char* list = Tcl_Merge(1, &element);
    EXPECT_EQ(Ask("-filenames"), Says(list));
    Tcl_Free(list);
    EXPECT_EQ(Ask("-wftypes"), Says(" analog digital event"));
}

// Children of a scope; the path word is passed to the tree as it is, a leading "/" included.
TEST_F(FileTreeTest, ChildNodes)
{
    Answer top = Ask("-childNodes -parentPath top");
    EXPECT_EQ(top.code, 0);
    EXPECT_EQ(Words(top.text), (std::vector<std::string>{"vout", "clk", "ev", "sub"}));
    EXPECT_EQ(Ask("-child -parent top/sub"), Says("cnt"));
    EXPECT_EQ(Ask("-childNodes -parentPath /top"), top);
    EXPECT_EQ(Ask("-childNodes -parentPath top/sub extra words"), Says("cnt"));
    EXPECT_EQ(Ask("-childNodes -parentPath top/sub/cnt"), Empty());  // a leaf has no children
}

TEST_F(FileTreeTest, ChildNodesRefusals)
{
    EXPECT_EQ(Ask("-childNodes -parentPath nowhere"), (Answer{1, "", true}));
    EXPECT_EQ(Ask("-childNodes -parentPath top/none"), (Answer{1, "", true}));
    EXPECT_EQ(Ask("-childNodes -parentPath"), Empty());  // two words
    EXPECT_EQ(Ask("-childNodes -par top"), Empty());     // "-parentPath" needs 7 characters
    EXPECT_EQ(Ask("-childNodes -parenPath top"), Empty());
    EXPECT_EQ(Ask("-childNodes -parent top"), Ask("-childNodes -parentPath top"));
    // Unbalanced braces: refused with the split's message in the interpreter.
    EXPECT_EQ(Ask("-childNodes -parentPath {top"), (Answer{1, "", true}));
    EXPECT_NE(std::string(Tcl_GetStringResult(interp_.get())), "");
    EXPECT_EQ(Ask("-childNodes {-parentPath}top"), (Answer{1, "", true}));
}

TEST_F(FileTreeTest, LeafLists)
{
    std::string all = TreeLeaves(-1, false);
    EXPECT_EQ(Words(all).size(), 4u);
    EXPECT_EQ(Ask("-waveforms"), Says(all.c_str()));
    EXPECT_EQ(Ask("-wa"), Says(all.c_str()));
    EXPECT_EQ(Ask("-waveid"), Says(all.c_str()));  // 7 characters: no idcodes
    std::string withIds = TreeLeaves(-1, true);
    EXPECT_NE(withIds, all);
    EXPECT_EQ(Ask("-waveids"), Says(withIds.c_str()));
    EXPECT_EQ(Ask("-waveidsXYZ"), Says(withIds.c_str()));
}

// "-withtype" (4 characters) as second word filters by the tree's type of the third word.
TEST_F(FileTreeTest, LeafListsWithType)
{
    std::string digital = TreeLeaves(2, false);
    EXPECT_EQ(Words(digital).size(), 2u);
    EXPECT_EQ(Ask("-waveforms -withtype digital"), Says(digital.c_str()));
    EXPECT_EQ(Ask("-wa -wit digital"), Says(digital.c_str()));
    EXPECT_EQ(Ask("-waveforms -withtype digital more"), Says(digital.c_str()));  // 4 words
    EXPECT_EQ(Ask("-waveids -withtype analog"), Says(TreeLeaves(0, true).c_str()));
    EXPECT_EQ(Words(TreeLeaves(0, true)).size(), 2u);  // one path and its idcode
    std::string all = TreeLeaves(-1, false);
    EXPECT_EQ(Ask("-waveforms -wi digital"), Says(all.c_str()));
    EXPECT_EQ(Ask("-waveforms -withtype"), Says(all.c_str()));
    EXPECT_EQ(Ask("-waveforms -type digital"), Says(all.c_str()));
    EXPECT_EQ(Ask("-waveforms -withtype nosuch"), Says(TreeLeaves(-1, false).c_str()));
}

// Exactly five words: the tree's search, given the whole query text first.
TEST_F(FileTreeTest, FiveWordsSearch)
{
    const char* query = "-waveforms -pattern *c* -withtype digital";
    ReaderTree* tree = file_.get()->tree;
    Tcl_DString expected;
    Tcl_DStringInit(&expected);
    Tcl_DStringAppend(&expected, query, -1);
    const char* words[] = {"-pattern", "*c*", "-withtype", "digital"};
    tree->SearchTree(interp_.get(), 4, words, &expected);
    Answer found = Ask(query);
    EXPECT_EQ(found, Says(Tcl_DStringValue(&expected)));
    Tcl_DStringFree(&expected);
    EXPECT_EQ(Words(found.text).size(), 2u);  // clk and cnt
    // A "-waveids" query of five words searches as well.
    EXPECT_EQ(Ask("-waveids -pattern *c* -withtype digital"), found);
    // Six words: a plain list of all leaves, the second word not being "-withtype".
    EXPECT_EQ(Ask("-waveforms -pattern *c* -withtype digital x"),
              Says(TreeLeaves(-1, false).c_str()));
}

TEST_F(FileTreeTest, LeafListUnbalancedBraces)
{
    EXPECT_EQ(Ask("-waveids {top"), (Answer{1, "", true}));
    EXPECT_EQ(Ask("-waveforms \"top"), (Answer{1, "", true}));
}

// File and design names of paths that hold blanks, brackets, dollar signs and braces: the
// design name is the path's text, and nothing in a path is evaluated.
class OddPathTest : public ::testing::TestWithParam<const char*> {};

TEST_P(OddPathTest, FileAndDesignNames)
{
    TempDir dir;
    Interp interp;
    nffr::FileWriter writer;
    int a = writer.AddVar("a", 'v', 1);
    writer.AddReal(a, 0, 1.0);
    std::string name = GetParam();
    std::string path = Write(writer, dir.File(name + ".fsdb"));
    OpenFile file(interp.get(), path);
    ASSERT_NE(file.get(), nullptr);
    EXPECT_EQ(AskFile(interp.get(), file.get(), "-design"), Says(name.c_str()));
    EXPECT_EQ(AskFile(interp.get(), file.get(), "-pfname"), Says(name.c_str()));
    Answer files = AskFile(interp.get(), file.get(), "-filenames");
    EXPECT_EQ(files.code, 0);
    int count = 0;
    const char** words = nullptr;
    ASSERT_EQ(Tcl_SplitList(interp.get(), files.text.c_str(), &count, &words), TCL_OK);
    EXPECT_EQ(count, 1);
    EXPECT_STREQ(words[0], path.c_str());
    Tcl_Free((char*)words);
    EXPECT_EQ(interp.Eval("info exists ::injected"), "0");
}

#if defined(_WIN32)
// Windows file names hold no colon (it names a stream) and no backslash (it separates folders).
INSTANTIATE_TEST_SUITE_P(Names, OddPathTest,
                         ::testing::Values("my run.v1", "[set injected 1]", "$injected", "{open",
                                           "semi;x"));
#else
INSTANTIATE_TEST_SUITE_P(Names, OddPathTest,
                         ::testing::Values("my run.v1", "[set ::injected 1]", "$::injected",
                                           "{open", "back\\slash;x"));
#endif

TEST(FileInfoTest, FileNameWithBlankIsBraced)
{
    HandContext context("/data/my run.fsdb");
    EXPECT_EQ(AskFile(nullptr, context.get(), "-filenames"), Says("{/data/my run.fsdb}"));
}

}  // namespace
