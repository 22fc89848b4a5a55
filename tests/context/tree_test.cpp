// tree_test.cpp: building a context's signal tree from the reader's walk, driven both by
// records made here and by opening files made with our writer.
#include <string.h>

#include <string>
#include <vector>

#include "context/tree_build.h"
#include "context_support.h"

using contexttest::HostInterp;
using contexttest::ReaderTest;
using contexttest::Write;

namespace {

// A context with an empty tree, as InitContext leaves it, of file type 1.
class TreeTest : public ReaderTest {
protected:
    void SetUp() override
    {
        ReaderTest::SetUp();
        InitContext(&context_);
        context_.fileType = 1;
        ASSERT_NE(context_.tree, nullptr);
    }
    void TearDown() override
    {
        delete context_.tree;
        ReaderTest::TearDown();
    }
    bool Scope(const char* name)
    {
        names_.push_back(name);
        ffrScopeRecord record = {&names_.back()[0], 0};
        bool result = TreeCallback(1, &context_, &record);
        lastName_ = record.name;
        return result;
    }
    bool Var(const char* name, int idcode, unsigned char varType)
    {
        names_.push_back(name);
        ffrVarRecord record;
        memset(&record, 0, sizeof(record));
        record.name = &names_.back()[0];
        record.idcode = idcode;
        record.bitSize = 1;
        record.varType = varType;
        bool result = TreeCallback(2, &context_, &record);
        lastName_ = record.name;
        return result;
    }
    bool Up() { return TreeCallback(3, &context_, nullptr); }
    // Full paths of the leaves of one leaf type (-1: all), with their idcodes.
    std::string Leaves(short leafType = -1, ReaderTree* tree = nullptr)
    {
        if (tree == nullptr) {
            tree = context_.tree;
        }
        Tcl_DString scratch, result;
        Tcl_DStringInit(&scratch);
        Tcl_DStringInit(&result);
        tree->GetTreeLeaveFullPathsNIds(tree->rootNode, &scratch, leafType, &result);
        std::string text = Tcl_DStringValue(&result);
        Tcl_DStringFree(&scratch);
        Tcl_DStringFree(&result);
        return text;
    }
    ReaderContext context_;
    std::vector<std::string> names_{};
    std::string lastName_;
};

}  // namespace

TEST_F(TreeTest, SlashesAreReplacedInNodesAndInTheRecords)
{
    EXPECT_TRUE(Scope("a/b/c"));
    EXPECT_EQ(lastName_, "a_b_c");
    EXPECT_TRUE(Var("x/y/", 7, 'v'));
    EXPECT_EQ(lastName_, "x^y^");
    EXPECT_EQ(Leaves(), "a_b_c/x^y^ 7");
}

TEST_F(TreeTest, AScopeEnteredTwiceKeepsOneNode)
{
    Scope("top");
    Var("a", 1, 'v');
    Up();
    Scope("top");
    Var("b", 2, 'v');
    Up();
    EXPECT_TRUE(TreeCallback(4, &context_, nullptr));
    Scope("other");
    Var("c", 3, 'v');
    EXPECT_TRUE(TreeCallback(5, &context_, nullptr));
    Var("d", 4, 'v');
    EXPECT_EQ(Leaves(), "top/a 1 top/b 2 other/c 3 d 4");
    EXPECT_EQ(context_.waveCount, 4);
}

TEST_F(TreeTest, DuplicateLeafNamesAreBothCounted)
{
    Scope("top");
    Var("same", 1, 'v');
    Var("same", 2, 'v');
    Var("other", 3, 'v');
    EXPECT_EQ(context_.waveCount, 3);
    EXPECT_EQ(Leaves(), "top/same 1 top/same 2 top/other 3");
}

// With showBus on, digital leaves go to the tree as possible bus members (-2), which the tree
// groups by their bit index; the tree is told the leaf's kind, never -2.
TEST_F(TreeTest, LeafTypesFollowKindAndShowBus)
{
    for (int showBus : {0, 3}) {
        delete context_.tree;
        InitContext(&context_);
        context_.fileType = 1;
        context_.showBus = showBus;
        Var("an", 1, 'v');
        Var("ev", 2, 'i');
        Var("dig", 3, 0);
        Var("d[0]", 4, 0);
        Var("d[1]", 5, 0);
        EXPECT_EQ(Leaves(0), "an 1") << showBus;
        EXPECT_EQ(Leaves(1), "ev 2") << showBus;
        EXPECT_NE(Leaves(2).find("dig 3"), std::string::npos) << showBus;
        EXPECT_EQ(Leaves(3).empty(), showBus == 0) << Leaves(3);
        EXPECT_EQ(context_.waveCount, 5);
        std::vector<short> kinds(context_.tree->leafTypes, context_.tree->leafTypes + 3);
        EXPECT_EQ(kinds, (std::vector<short>{0, 1, 2})) << showBus;
    }
}

TEST_F(TreeTest, UnhandledEventTypesAreRefusedAndChangeNothing)
{
    for (uint32_t event : {0u, 20u, 21u, 23u}) {
        EXPECT_TRUE(TreeCallback(event, &context_, nullptr)) << event;
    }
    ffrVarRecord record;
    memset(&record, 0, sizeof(record));
    char name[] = "x";
    record.name = name;
    for (uint32_t event : {6u, 7u, 19u, 24u, 0xFFFFFFFFu}) {
        EXPECT_FALSE(TreeCallback(event, &context_, &record)) << event;
    }
    EXPECT_EQ(context_.waveCount, 0);
    // Null names are skipped; a scope end at the root stays at the root.
    ffrScopeRecord nullScope = {nullptr, 0};
    EXPECT_TRUE(TreeCallback(1, &context_, &nullScope));
    record.name = nullptr;
    EXPECT_TRUE(TreeCallback(2, &context_, &record));
    EXPECT_TRUE(Up());
    EXPECT_EQ(context_.tree->currentNode, context_.tree->rootNode);
    EXPECT_EQ(Leaves(), "");
}

// A file's tree, walked by the reader, is the hierarchy its writer built.
TEST_F(TreeTest, OpenedFileHasTheWrittenHierarchy)
{
    nffr::FileWriter writer;
    writer.SetFileType(1);
    writer.BeginScope("top");
    writer.AddVar("v/1", 'v', 64, 3, 10);
    writer.BeginScope("sub/unit");
    writer.AddVar("clk", 0, 1, 3, 11);
    writer.AddAlias("clk_alias", 11);
    writer.EndScope();
    writer.AddVar("i", 'i', 64, 3, 12);
    writer.EndScope();
    writer.BeginScope("top");
    writer.AddVar("late", 'p', 64, 3, 13);
    writer.EndScope();
    Write(writer, dir_.File("tree.fsdb"));

    HostInterp host;
    ReaderContext* opened = host.Open(dir_.File("tree.fsdb"));
    ASSERT_NE(opened, nullptr);
    EXPECT_EQ(Leaves(-1, opened->tree),
              "top/v^1 10 top/sub_unit/clk 11 top/sub_unit/clk_alias 11 top/i 12 top/late 13");
    EXPECT_EQ(opened->waveCount, 5);
    host.Close(opened);
}
