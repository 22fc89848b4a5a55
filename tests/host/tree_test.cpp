// tree_test.cpp: the signal tree: paths, child and leaf lists, buses, leaf-type slots, search.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "reader_tree.h"

namespace {

// Splits a Tcl list text into its elements.
std::vector<std::string> Elements(const std::string& text)
{
    int count = 0;
    const char** words = nullptr;
    std::vector<std::string> out;
    if (Tcl_SplitList(nullptr, text.c_str(), &count, &words) == TCL_OK) {
        out.assign(words, words + count);
    }
    Tcl_Free(reinterpret_cast<char*>(words));
    return out;
}

using Strings = std::vector<std::string>;

class HostTree : public ::testing::Test {
protected:
    ReaderTree tree;

    ReaderTreeNode* Scope(const char* name)
    {
        ReaderTreeNode* node = tree.GetCurrentChildFromName(tree.currentNode, name);
        if (node == nullptr) {
            node = tree.CreateTreeNode(name, -1, -1);
            tree.InsertNode(node);
        }
        tree.SetCurrentNode(node);
        return node;
    }
    void Up() { tree.SetCurrentNode(tree.currentNode->parent); }
    ReaderTreeNode* Leaf(const char* name, short type, int id)
    {
        ReaderTreeNode* node = tree.CreateTreeNode(name, type, id);
        tree.InsertNode(node);
        tree.SetLeaveTypes(type == -2 ? 2 : type);
        return node;
    }
    ReaderTreeNode* Find(std::string path) { return tree.GetNodeFromPath(nullptr, &path[0]); }
    Strings Children(ReaderTreeNode* node)
    {
        Tcl_DString out;
        Tcl_DStringInit(&out);
        tree.GetAllChildNodeNames(node, &out);
        Strings names = Elements(Tcl_DStringValue(&out));
        Tcl_DStringFree(&out);
        return names;
    }
    Strings Leaves(short type, bool ids = false)
    {
        Tcl_DString scratch, out;
        Tcl_DStringInit(&scratch);
        Tcl_DStringInit(&out);
        int rc = ids ? tree.GetTreeLeaveFullPathsNIds(tree.rootNode, &scratch, type, &out)
                     : tree.GetTreeLeaveFullPaths(tree.rootNode, &scratch, type, &out);
        EXPECT_EQ(rc, 0);
        Strings paths = Elements(Tcl_DStringValue(&out));
        Tcl_DStringFree(&scratch);
        Tcl_DStringFree(&out);
        return paths;
    }
    // SearchTree as the plug-in calls it: the result holds the query on entry.
    int Search(Strings words, Strings* found)
    {
        Tcl_DString out;
        Tcl_DStringInit(&out);
        Tcl_DStringAppend(&out, "-waveforms the whole query", -1);
        std::vector<const char*> argv;
        for (const std::string& w : words) {
            argv.push_back(w.c_str());
        }
        int rc = tree.SearchTree(nullptr, static_cast<int>(argv.size()), argv.data(), &out);
        *found = Elements(Tcl_DStringValue(&out));
        Tcl_DStringFree(&out);
        return rc;
    }
    void BuildCpu()
    {
        Scope("top");
        Scope("cpu");
        Leaf("clk", 2, 1);
        Leaf("vdd", 0, 2);
        Up();
        Leaf("irq", 1, 3);
        Up();
    }
};

// Paths: "/" between names, optional leading "/", null start is the root, scopes have id -1.
TEST_F(HostTree, PathsResolveFromRootWithOrWithoutLeadingSlash)
{
    BuildCpu();
    ASSERT_NE(Find("top/cpu/clk"), nullptr);
    EXPECT_EQ(Find("top/cpu/clk")->idcode, 1);
    EXPECT_EQ(Find("/top/cpu/clk"), Find("top/cpu/clk"));
    EXPECT_EQ(Find("top/cpu")->idcode, -1);
    EXPECT_EQ(Find("top/cpu/")->idcode, -1);
    EXPECT_EQ(Find(""), tree.rootNode);
    EXPECT_EQ(Find("top/cpu/nothing"), nullptr);
    EXPECT_EQ(Find("top/nothing/clk"), nullptr);
    EXPECT_EQ(Find("top/cpu/clk/deeper"), nullptr);
    EXPECT_EQ(tree.GetNodeFromPath(nullptr, nullptr), nullptr);
    std::string relative = "cpu/vdd";
    EXPECT_EQ(tree.GetNodeFromPath(Find("top"), &relative[0])->idcode, 2);
    EXPECT_EQ(Find("top/cpu/clk")->parent, Find("top/cpu"));
}

TEST_F(HostTree, ChildNamesAndLeafListsAreTclListElements)
{
    BuildCpu();
    Scope("odd scope");
    Leaf("a{b", 2, 9);
    Up();
    EXPECT_EQ(Children(Find("top")), (Strings{"cpu", "irq"}));
    EXPECT_EQ(Children(nullptr), (Strings{"top", "odd scope"}));
    EXPECT_EQ(Leaves(-1), (Strings{"top/cpu/clk", "top/cpu/vdd", "top/irq", "odd scope/a{b"}));
    EXPECT_EQ(Leaves(2), (Strings{"top/cpu/clk", "odd scope/a{b"}));
    EXPECT_EQ(Leaves(1, true), (Strings{"top/irq", "3"}));
    EXPECT_EQ(Leaves(3), Strings{});
}

TEST_F(HostTree, LongNamesAndDeepTreesDoNotOverflow)
{
    std::string longName(100000, 'n');
    for (int depth = 0; depth < 2000; ++depth) {
        Scope("s");
    }
    Leaf(longName.c_str(), 0, 77);
    std::string path;
    for (int depth = 0; depth < 2000; ++depth) {
        path += "s/";
    }
    path += longName;
    ASSERT_NE(Find(path), nullptr);
    EXPECT_EQ(Find(path)->idcode, 77);
    EXPECT_EQ(Leaves(-1, true), (Strings{path, "77"}));
}

TEST_F(HostTree, BadNodesAreRefusedWithoutHarm)
{
    EXPECT_EQ(tree.CreateTreeNode(nullptr, 2, 1), nullptr);
    tree.InsertNode(nullptr);
    ReaderTreeNode* leaf = Leaf("x", 2, 1);
    tree.InsertNode(leaf);  // a second insertion is ignored
    ReaderTree other;
    other.InsertNode(leaf);  // a node of another tree is ignored
    tree.InsertNode(tree.rootNode);
    EXPECT_EQ(Children(nullptr), Strings{"x"});
    EXPECT_EQ(other.GetNodeFromPath(nullptr, &std::string("x")[0]), nullptr);
    tree.CreateTreeNode("never inserted", 2, 5);  // freed with the tree
    tree.SetCurrentNode(nullptr);
    EXPECT_EQ(tree.currentNode, tree.rootNode);
    EXPECT_EQ(tree.GetCurrentChildFromName(nullptr, nullptr), nullptr);
}

TEST_F(HostTree, DuplicateNamesAreAllKeptAndTheFirstIsFound)
{
    Leaf("d", 2, 1);
    Leaf("d", 2, 2);
    EXPECT_EQ(Leaves(-1, true), (Strings{"d", "1", "d", "2"}));
    EXPECT_EQ(Find("d")->idcode, 1);
}

// Buses: -2 leaves name[i] group per scope under name[msb:lsb], ids from msb to lsb.
TEST_F(HostTree, IndexedLeavesGroupIntoOneBusPerScope)
{
    Scope("top");
    Leaf("data[0]", -2, 10);
    Leaf("clk", -2, 20);
    Leaf("data[2]", -2, 12);
    Leaf("data[1]", -2, 11);
    Leaf("data[3]", -2, 13);
    Scope("sub");
    Leaf("data[5]", -2, 30);
    Up();
    Up();
    ReaderTreeNode* bus = Find("top/data[3:0]");
    ASSERT_NE(bus, nullptr);
    EXPECT_EQ(bus->idcode, 10);
    ASSERT_NE(bus->GetNodeBus(), nullptr);
    ASSERT_EQ(bus->GetNodeBus()->GetBusWidth(), 4u);
    int ids[4] = {};
    bus->GetNodeBus()->GetBusIds(ids);
    EXPECT_EQ(std::vector<int>(ids, ids + 4), (std::vector<int>{13, 12, 11, 10}));
    EXPECT_EQ(Children(Find("top")), (Strings{"data[3:0]", "clk", "sub"}));
    EXPECT_EQ(Children(bus), (Strings{"data[0]", "data[2]", "data[1]", "data[3]"}));
    // Members resolve below the bus and directly below the scope; they carry no bus.
    EXPECT_EQ(Find("top/data[3:0]/data[2]")->idcode, 12);
    EXPECT_EQ(Find("top/data[2]")->idcode, 12);
    EXPECT_EQ(Find("top/data[2]")->GetNodeBus(), nullptr);
    EXPECT_EQ(Find("top/clk")->GetNodeBus(), nullptr);
    EXPECT_EQ(Find("top/sub/data[5:5]")->GetNodeBus()->GetBusWidth(), 1u);
    // The bus is one leaf of type 3; members are not listed; a plain -2 leaf is digital.
    EXPECT_EQ(Leaves(-1), (Strings{"top/data[3:0]", "top/clk", "top/sub/data[5:5]"}));
    EXPECT_EQ(Leaves(3, true), (Strings{"top/data[3:0]", "10", "top/sub/data[5:5]", "30"}));
    EXPECT_EQ(Leaves(2), Strings{"top/clk"});
    EXPECT_EQ(tree.leafTypes[0], 3);
    EXPECT_EQ(tree.leafTypes[1], 2);
}

TEST_F(HostTree, OnlyDecimalIndexedMinusTwoLeavesFormBuses)
{
    Leaf("a[1]", 2, 1);   // digital, not offered for grouping
    Leaf("b[x]", -2, 2);  // not a decimal index
    Leaf("c[]", -2, 3);   // no index
    Leaf("[4]", -2, 4);   // no name
    Leaf("e[7]", -2, 5);  // a bus of one, far indices below
    Leaf("e[100]", -2, 6);
    EXPECT_EQ(Leaves(2), (Strings{"a[1]", "b[x]", "c[]", "[4]"}));
    EXPECT_EQ(Leaves(3), Strings{"e[100:7]"});
    EXPECT_EQ(Find("e[7:7]"), nullptr);  // renamed as the range grew
    int ids[2] = {};
    Find("e[100:7]")->GetNodeBus()->GetBusIds(ids);
    EXPECT_EQ(ids[0], 6);
    EXPECT_EQ(ids[1], 5);
}

// A bus renamed to a name an earlier child holds leaves the name to that child.
TEST_F(HostTree, ARenamedBusLeavesATakenNameToItsHolder)
{
    Leaf("d[0]", -2, 1);
    Leaf("d[1:0]", 2, 7);
    Leaf("d[1]", -2, 2);
    EXPECT_EQ(Children(tree.rootNode), (Strings{"d[1:0]", "d[1:0]"}));
    EXPECT_EQ(Find("d[1:0]")->idcode, 7);
}

// A bus renamed away from a name another child also has leaves the name findable.
TEST_F(HostTree, ARenamedBusLeavesItsOldNameToTheNextHolder)
{
    Leaf("d[0]", -2, 1);
    Leaf("d[0:0]", 2, 7);
    Leaf("d[1]", -2, 2);
    EXPECT_EQ(Find("d[1:0]")->GetNodeBus()->GetBusWidth(), 2u);
    EXPECT_EQ(Find("d[0:0]")->idcode, 7);
}

// Leaf-type slots: kinds in the order first seen, -1 for unused slots.
TEST_F(HostTree, LeafTypeSlotsKeepTheOrderFirstSeen)
{
    for (short slot : tree.leafTypes) {
        EXPECT_EQ(slot, -1);
    }
    tree.SetLeaveTypes(2);
    tree.SetLeaveTypes(0);
    tree.SetLeaveTypes(2);
    tree.SetLeaveTypes(-2);  // not a kind: ignored
    tree.SetLeaveTypes(9);
    EXPECT_EQ(tree.leafTypes[0], 2);
    EXPECT_EQ(tree.leafTypes[1], 0);
    EXPECT_EQ(tree.leafTypes[2], -1);
    EXPECT_EQ(tree.leafTypes[3], -1);
    tree.SetLeaveTypes(1);
    tree.SetLeaveTypes(3);
    EXPECT_EQ(tree.leafTypes[2], 1);
    EXPECT_EQ(tree.leafTypes[3], 3);
}

TEST_F(HostTree, LeafTypeWords)
{
    EXPECT_EQ(tree.GetLeafTypeFromString("analog"), 0);
    EXPECT_EQ(tree.GetLeafTypeFromString("event"), 1);
    EXPECT_EQ(tree.GetLeafTypeFromString("digital"), 2);
    EXPECT_EQ(tree.GetLeafTypeFromString("bus"), 3);
    EXPECT_EQ(tree.GetLeafTypeFromString("Digital"), -1);
    EXPECT_EQ(tree.GetLeafTypeFromString(""), -1);
    EXPECT_EQ(tree.GetLeafTypeFromString(nullptr), -1);
}

// Search: option/value pairs replace the query held in the result with matching leaf paths.
TEST_F(HostTree, SearchMatchesPatternAndTypeAndReplacesTheQuery)
{
    BuildCpu();
    Strings found;
    EXPECT_EQ(Search({"-pattern", "top/cpu/*", "-withtype", "digital"}, &found), 0);
    EXPECT_EQ(found, Strings{"top/cpu/clk"});
    EXPECT_EQ(Search({"-withtype", "event", "-pattern", "*"}, &found), 0);
    EXPECT_EQ(found, Strings{"top/irq"});
    EXPECT_EQ(Search({"-pattern", "*v*", "-pattern", "*i*"}, &found), 0);  // the last one counts
    EXPECT_EQ(found, Strings{"top/irq"});
    EXPECT_EQ(Search({"-pattern", "nomatch*", "-withtype", "analog"}, &found), 0);
    EXPECT_EQ(found, Strings{});
}

TEST_F(HostTree, SearchRefusesUnknownOptionsAndMissingValues)
{
    BuildCpu();
    Strings found;
    EXPECT_EQ(Search({"-colour", "red", "-pattern", "*"}, &found), 1);
    EXPECT_EQ(found, Strings{});
    EXPECT_EQ(Search({"-pattern", "*", "-withtype", "wire"}, &found), 1);
    EXPECT_EQ(found, Strings{});
    EXPECT_EQ(Search({"-pattern", "*", "-withtype"}, &found), 1);
    EXPECT_EQ(found, Strings{});
    EXPECT_EQ(tree.SearchTree(nullptr, 0, nullptr, nullptr), 1);
}

// The search's matcher follows Tcl's "string match" exactly: compared with Tcl_StringMatch over
// stars, "?", sets with ranges (either order), escapes, unclosed sets and non-ASCII names.
TEST_F(HostTree, SearchPatternsMatchAsTclStringMatchDoes)
{
    const Strings names = {"a",   "ab",          "a*b",    "a?c",  "a[1]", "x-y", "]z",
                           "b]c", "caf\xc3\xa9", "abcabc", "a\\b", "zz",   "m-"};
    Scope("s");
    int id = 1;
    for (const std::string& name : names) {
        Leaf(name.c_str(), 0, id++);
    }
    Up();
    const Strings patterns = {
        "*",         "s/*",           "s/a*",   "s/?",      "s/??",     "s/a\\*b", "s/a?c",
        "s/a[?]c",   "s/a\\[1]",      "s/a[1]", "s/[a-c]*", "s/[c-a]*", "s/[]]*",  "s/*[]]*",
        "s/b[]]c",   "s/[x",          "s/[ab",  "s/a[b",    "s/*c",     "s/*abc",  "s/*a*b*c*",
        "s/caf?",    "s/caf\xc3\xa9", "s/*\\",  "s/a\\\\b", "s/[a-]*",  "s/[m-",   "s/z[z-",
        "s/[ab-]]*", "s/**",          "s/*?",   "s/x[-]y",  "s/[!a]*",  "",        "s/",
    };
    for (const std::string& pattern : patterns) {
        Strings expected;
        for (const std::string& name : names) {
            std::string path = "s/" + name;
            if (Tcl_StringMatch(path.c_str(), pattern.c_str())) {
                expected.push_back(path);
            }
        }
        Strings found;
        EXPECT_EQ(Search({"-pattern", pattern}, &found), 0);
        EXPECT_EQ(found, expected) << "pattern " << pattern;
    }
}

// Many stars over a deep path: each star is retried once per position, not once per way of
// placing the earlier stars (that took minutes for a few stars over 300 levels).
TEST_F(HostTree, ManyStarsOverADeepPathAreAnsweredAtOnce)
{
    std::string path;
    for (int level = 0; level < 300; ++level) {
        Scope("level");
        path += (level == 0 ? "" : "/") + std::string("level");
    }
    Leaf("leaf", 0, 1);
    path += "/leaf";
    std::string failing;
    std::string matching;
    for (int star = 0; star < 12; ++star) {
        failing += "*l*e";
        matching += "*l*e";
    }
    failing += "*x";
    matching += "*f";
    Strings found;
    EXPECT_EQ(Search({"-pattern", failing}, &found), 0);
    EXPECT_EQ(found, Strings{});
    EXPECT_EQ(Search({"-pattern", matching}, &found), 0);
    EXPECT_EQ(found, Strings{path});
}

}  // namespace
