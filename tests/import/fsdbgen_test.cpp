// fsdbgen_test.cpp: fsdbgen's description format and VCD import, read back by the reader.
#include <zlib.h>

#include "import.h"
#if !defined(_WIN32)
#include <sys/stat.h>
#include <sys/wait.h>

#include <csignal>
#include <thread>
#endif

#include <algorithm>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>

#if defined(QUORVEL_HAVE_FST)
#include "fstapi.h"
#endif
#include "import_backend.h"
#include "nffr_test_util.h"
#include "vcd_stream.h"

using namespace nffrtest;

namespace {

struct Leaf {
    std::string name;
    int idcode;
    uint8_t varType;
    uint32_t bits;
};

bool Collect(uint32_t type, void* client, void* record)
{
    auto* out = static_cast<std::vector<Leaf>*>(client);
    if (type == FFR_TREE_SCOPE_BEGIN)
        out->push_back({std::string("+") + static_cast<ffrScopeRecord*>(record)->name, 0, 0, 0});
    if (type == FFR_TREE_SCOPE_END)
        out->push_back({"-", 0, 0, 0});
    if (type == FFR_TREE_VAR) {
        auto* v = static_cast<ffrVarRecord*>(record);
        out->push_back({v->name, v->idcode, v->varType, v->bitSize});
    }
    return true;
}

class Fsdbgen : public ReaderTest {
protected:
    // Builds path_ from a description; "" on success, else the error.
    std::string Build(const std::string& input)
    {
        std::istringstream in(input);
        nffr::FileWriter w;
        diag_ = fsdbgen::Diagnostics();
        if (!fsdbgen::ReadDescription(in, &w, &diag_))
            return diag_.error;
        std::string error;
        if (!w.Write(path_, &error))
            return error;
        return "";
    }
    // Imports vcd (written to a file first) into path_; "" on success, else the error.
    std::string Import(const std::string& vcd, const std::string& name = "in.vcd")
    {
        const std::string input = dir_.File(name);
        std::ofstream(input, std::ios::binary) << vcd;
        return ImportFile(input);
    }
    std::string ImportFile(const std::string& input, bool fst = false)
    {
        diag_ = fsdbgen::Diagnostics();
        written_.clear();
        if (!(fst ? fsdbgen::ConvertFst(input, path_, &diag_, &written_, layout_)
                  : fsdbgen::ConvertVcd(input, path_, &diag_, &written_, 0, layout_)))
            return diag_.error;
        return "";
    }
    // The tree of the file at path with each signal's changes, blank-separated: "+scope", "-"
    // at a scope's end, "name:tag=value,..."; "" when there is no such file.
    std::string Listing(const std::string& path)
    {
        ffrObject* r = std::ifstream(path).good() ? Open(path) : nullptr;
        std::string out;
        for (const Leaf& leaf : r ? tree_ : std::vector<Leaf>()) {
            out += (out.empty() ? "" : " ") + leaf.name;
            if (leaf.idcode == 0)
                continue;
            std::string changes;
            for (const std::string& c : Changes(r, leaf.idcode))
                changes += (changes.empty() ? ":" : ",") + c;
            out += changes;
        }
        if (r)
            r->Close();
        return out;
    }
    ffrObject* Open(const std::string& path = "")
    {
        tree_.clear();
        openPath_ = path.empty() ? path_ : path;
        ffrObject* r = ffrObject::ffrOpen2(openPath_.c_str(), &Collect, &tree_, 0);
        if (r)
            r->ReadSignalTree();
        return r;
    }
    // "tag=value" texts of one signal, values as 0 1 x z u (or reals).
    std::vector<std::string> Changes(ffrObject* r, int idcode)
    {
        std::vector<std::string> out;
        r->AddToLoadList(idcode, 0, 0);
        r->LoadListedSignals();
        ffrVCTraverser* t = r->CreateTraverser(idcode);
        if (!t || !t->HasChanges()) {
            if (t)
                t->FreeTraverser();
            return out;
        }
        ffrVarInfo* info = nullptr;
        r->GetVarInfo(idcode, &info);
        ffrFileInfo file;
        GetFileInfo(openPath_.c_str(), &file);
        do {
            TimeTag tag;
            unsigned char* v = nullptr;
            t->GetTag(&tag);
            t->GetValue(&v);
            std::string text = std::to_string(Tag64(tag)) + "=";
            if (file.fileType == 1 && info->varType != 0) {
                double d = 0;
                if (t->ValueDataType() == 2) {
                    float f;
                    std::memcpy(&f, v, 4);
                    d = f;
                } else {
                    std::memcpy(&d, v, 8);
                }
                std::ostringstream s;
                s.precision(17);
                s << d;
                text += s.str();
            } else {
                for (uint32_t i = 0; i < t->ValueBitSize(); ++i)
                    text += v[i] < 5 ? "01xzu"[v[i]] : '?';
            }
            out.push_back(text);
        } while (t->GotoNext() == 0);
        t->FreeTraverser();
        return out;
    }
    // The tool's exit status, its standard output and error going to the files out and err.
    int RunTool(const std::string& args)
    {
        const std::string out = " >" + dir_.File("out") + " 2>" + dir_.File("err");
        const int status = std::system((FSDBGEN_PATH " " + args + out).c_str());
#if defined(_WIN32)
        return status;  // the exit code itself, through cmd.exe
#else
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
#endif
    }
    std::string path_ = dir_.File("out.fsdb");
    int layout_ = fsdbgen::kDefaultLayout;  // of the files the import writes
    std::string openPath_;
    fsdbgen::Diagnostics diag_;
    std::vector<std::string> written_;
    std::vector<Leaf> tree_;
};

TEST_F(Fsdbgen, DescriptionWithEveryOption)
{
    ASSERT_EQ("", Build("# a comment\n"
                        "  # an indented comment\n\n"
                        "type 1\nunit 100fs\nend 99\nstamp made  by test \n"
                        "scope top level/x\n"
                        "var v 1 data=float count=unknown volts\n0 1.5\n10 -2\n"
                        "var #0 3 id=7 bus\n0 01x\n5 bytes:1,4,3\n"
                        "var i 1 count=5 id=9 current\n"
                        "var v 1 id=1 volts alias\n20 3\n"
                        "upscope\n"));
    ffrFileInfo info;
    ASSERT_EQ(0, GetFileInfo(path_.c_str(), &info));
    EXPECT_EQ(1, info.fileType);
    EXPECT_STREQ("100fs", info.timeUnit);
    EXPECT_EQ(99u, Tag64(info.endTag));
    ffrObject* r = Open();
    ASSERT_NE(nullptr, r);
    char stamp[2048];
    r->GetStamp(stamp);
    EXPECT_STREQ("made  by test ", stamp);
    ASSERT_EQ(6u, tree_.size());
    EXPECT_EQ("+top level/x", tree_[0].name);
    EXPECT_EQ("volts", tree_[1].name);
    EXPECT_EQ('v', tree_[1].varType);
    EXPECT_EQ(7, tree_[2].idcode);
    EXPECT_EQ(0, tree_[2].varType);
    EXPECT_EQ("volts alias", tree_[4].name);
    EXPECT_EQ(1, tree_[4].idcode);
    EXPECT_EQ((std::vector<std::string>{"0=1.5", "10=-2", "20=3"}), Changes(r, 1));
    EXPECT_EQ((std::vector<std::string>{"0=01x", "5=1uz"}), Changes(r, 7));
    EXPECT_EQ(0, r->GetChangeCount(1));
    EXPECT_EQ(5, r->GetChangeCount(9));
    r->Close();

    ASSERT_EQ("", Build("type -5\nvar #200 2 d\n3 zz\n"));
    ASSERT_EQ(0, GetFileInfo(path_.c_str(), &info));
    EXPECT_EQ(-5, info.fileType);
    EXPECT_EQ(3u, Tag64(info.endTag));
}

TEST_F(Fsdbgen, DescriptionErrorsNameTheLine)
{
    const std::pair<const char*, const char*> cases[] = {
        {"bogus 1\n", "line 1: unknown keyword"},
        {"type x\n", "line 1: type needs"},
        {"\nupscope\n", "line 2: upscope without"},
        {"0 1\n", "line 1: a value change before any var"},
        {"var 5 1 x\n", "line 1: bad variable type"},
        {"var #256 1 x\n", "line 1: variable type #N"},
        {"var v 1\n", "line 1: var needs a name"},
        {"type 0\nvar v 2 x\n0 0\n", "line 3: value \"0\" is not 2"},
        {"type 0\nvar v 2 x\n0 bytes:1,300\n", "line 3: bad byte"},
        {"var v 1 x\n5 1\n4 1\n", "line 3: tag 4 before"},
        {"var v 1 x\n5 abc\n", "line 2: bad real value"},
        {"var v 1 data=int x\n", "line 1: data must be"},
        {"unit \n", "line 1: unit needs"},
    };
    for (const auto& c : cases) {
        std::string error = Build(c.first);
        EXPECT_EQ(0u, error.find(c.second)) << c.first << " -> " << error;
    }
}

const char kHead[] =
    "$timescale 1ns $end\n$scope module t $end\n$var wire 2 a v $end\n"
    "$upscope $end\n$enddefinitions $end\n";

TEST_F(Fsdbgen, VcdImport)
{
    ASSERT_EQ("", Import("$date today $end\n$version x $end\n$timescale 10 ps $end\n"
                         "$scope module top $end\n"
                         "$var wire 1 ! clk $end\n"
                         "$var reg 8 \" bus [7:0] $end\n"
                         "$var wire 1 # data [3] $end\n"
                         "$scope module sub $end\n$var wire 1 ! clk_copy $end\n$upscope $end\n"
                         "$upscope $end\n$enddefinitions $end\n"
                         "#0\n$dumpvars\n0!\nb1 \"\nx#\n$end\n"
                         "#5\n1!\nbx \"\nbz10 \"\n"
                         "#12\nB0 \"\nZ#\n#13\nb10110011 \"\n"));
    EXPECT_TRUE(diag_.warnings.empty());
    EXPECT_TRUE(diag_.notes.empty());
    EXPECT_EQ((std::vector<std::string>{path_ + ": 3 logic variables (file type 0)"}), written_);
    ffrFileInfo info;
    ASSERT_EQ(0, GetFileInfo(path_.c_str(), &info));
    EXPECT_EQ(0, info.fileType);
    EXPECT_STREQ("10ps", info.timeUnit);
    EXPECT_EQ(13u, Tag64(info.endTag));
    ffrObject* r = Open();
    ASSERT_NE(nullptr, r);
    ASSERT_EQ(8u, tree_.size());
    EXPECT_EQ("bus[7:0]", tree_[2].name);
    EXPECT_EQ(8u, tree_[2].bits);
    EXPECT_EQ("data[3]", tree_[3].name);
    EXPECT_EQ(tree_[1].idcode, tree_[5].idcode);  // a second reference to one code: an alias
    EXPECT_EQ((std::vector<std::string>{"0=0", "5=1"}), Changes(r, tree_[1].idcode));
    EXPECT_EQ((std::vector<std::string>{"0=00000001", "5=xxxxxxxx", "5=zzzzzz10", "12=00000000",
                                        "13=10110011"}),
              Changes(r, tree_[2].idcode));
    EXPECT_EQ((std::vector<std::string>{"0=x", "12=z"}), Changes(r, tree_[3].idcode));
    char stamp[2048];
    r->GetStamp(stamp);
    EXPECT_STREQ("today", stamp);
    r->Close();
}

TEST_F(Fsdbgen, MalformedVcdNamesTheLine)
{
    const std::string head = kHead;
    const std::pair<std::string, const char*> cases[] = {
        {"$timescale 1000 s $end\n",
         "line 1: bad $timescale \"1000s\": write a whole number of s, ms, us, ns, ps or fs, "
         "from 1 fs to 100 s"},
        {"$timescale 1 zs $end\n", "line 1: bad $timescale \"1zs\": write"},
        {"$timescale 0 ns $end\n", "line 1: bad $timescale \"0ns\": write"},
        {"$timescale 100000000000000001 fs $end\n", "line 1: bad $timescale"},
        {"$scope module t $end\n$enddefinitions $end\n", "line 2: end of file inside 1 open"},
        {"$upscope $end\n", "line 1: $upscope without"},
        {"$var wire x a v $end\n", "line 1: bad $var size \"x\""},
        {"$var wire 100000001 a v $end\n", "line 1: bad $var size \"100000001\""},
        {"$var wire 1 a $end\n", "line 1: $var needs"},
        {head + "#5\n#4\n", "line 7: time \"#4\" before"},
        {head + "#5\n1q\n", "line 7: unknown code \"q\""},
        {head + "b101 a\n", "line 6: value \"101\" wider"},
        {head + "b12 a\n", "line 6: bad bit \"2\" in \"12\""},
        {head + "r1 a\n", "line 6: real value for \"v\", which is not"},
        {head + "2a\n", "line 6: bad value change \"2a\""},
        {head + "#\n", "line 6: bad time \"#\""},
        {head + "#3.5\n", "line 6: bad time \"#3.5\""},
        {head + "#.0\n", "line 6: bad time \"#.0\""},
        {head + "b0b101 a\n", "line 6: value \"101\" wider than its 2 bits"},
        {head + "b10c1 a\n", "line 6: bad bit \"c\" in \"10c1\""},
        {head + "b a\n", "line 6: empty vector value"},
        {"0a\n", "line 1: not a VCD file: it does not begin with a $ keyword"},
        {"$comment x $end 0a\n", "line 1: \"0a\" among the declarations"},
        {std::string("$comment x $end \x01\xff\n", 20), "line 1: \"\\x01\\xff\" among"},
    };
    for (const auto& c : cases) {
        std::string error = Import(c.first);
        const std::string expected = dir_.File("in.vcd") + ": " + c.second;
        EXPECT_EQ(expected, error.substr(0, expected.size())) << c.first;
    }
}

// What real tools write beyond the standard: one line per kind, with the first one's line.
TEST_F(Fsdbgen, VcdDialectsGiveOneLinePerKind)
{
    const std::string scope = "$scope module t $end\n$var wire 2 a v $end\n";
    const std::string head = scope + "$upscope $end\n$enddefinitions $end\n";
    const struct {
        std::string vcd;
        std::vector<std::string> warnings, notes;
    } cases[] = {
        {"$attrbegin x $end\n" + scope + "$attrbegin y $end\n$foo $end\n$upscope $end\n" +
             "$enddefinitions $end\n#0\nb1 a\n$attrbegin z $end\n",
         {"line 1: unknown section \"$attrbegin\" skipped (3 in all)",
          "line 5: unknown section \"$foo\" skipped"},
         {}},
        {scope + "$upscope $end\n#0\nb1 a\n",
         {"line 4: no $enddefinitions before \"#0\": the declarations are taken to end here"},
         {}},
        {head + "#0.0\nb0b1 a\n#5.00\nb0b10 a\n",
         {},
         {"line 5: time \"#0.0\" read as a whole time (2 in all)",
          "line 6: Python's 0b prefix dropped from \"0b1\" (2 in all)"}},
        {"$scope module $end\n" + scope + "$var string 1 s q $end\n$var wire 0 z e $end\n" +
             "$var wire 2 a v $end\n$upscope $end\n$scope module $end\n$upscope $end\n" +
             "$upscope $end\n$enddefinitions $end\n#0\nsX s\nb z\nb11 a\n",
         {"line 4: string variable \"q\" skipped: strings are not imported",
          "line 5: variable \"e\" of 0 bits skipped: it holds no value"},
         {"line 1: scope without a name (as Verilator's top scope): its variables are placed in "
          "the enclosing scope (2 in all)",
          "line 6: variable \"v\" declared again in the same scope with the same code: one "
          "signal kept"}},
    };
    for (const auto& c : cases) {
        ASSERT_EQ("", Import(c.vcd)) << c.vcd;
        EXPECT_EQ(c.warnings, diag_.warnings) << c.vcd;
        EXPECT_EQ(c.notes, diag_.notes) << c.vcd;
        ffrObject* r = Open();
        ASSERT_NE(nullptr, r);
        EXPECT_LT(0, r->GetChangeCount(1)) << c.vcd;
        r->Close();
    }
    // A real variable given a name instead of a number is left out, and its scope with it.
    ASSERT_EQ("", Import(scope + "$var real 1 l level $end\n$scope module m $end\n" +
                         "$var real 1 r e $end\n$upscope $end\n$upscope $end\n" +
                         "$enddefinitions $end\n#0\nr1 r\nb1 a\nsIDLE r\n#1\nr2 r\n"));
    EXPECT_EQ((std::vector<std::string>{"line 12: real variable \"e\" skipped: it is given "
                                        "\"sIDLE\", which is not a number"}),
              diag_.warnings);
    ffrObject* r = Open(dir_.File("out.analog.fsdb"));
    ASSERT_NE(nullptr, r);
    ASSERT_EQ(3u, tree_.size());
    EXPECT_EQ("level", tree_[1].name);
    r->Close();
}

TEST_F(Fsdbgen, NineValueLogicIsKeptOrMapped)
{
    ASSERT_EQ("", Import("$scope module t $end\n$var reg 1 ! s $end\n$var reg 4 \" v $end\n"
                         "$upscope $end\n$enddefinitions $end\n"
                         "#0\nU!\nbUUUU \"\n#1\nL!\nbLHW- \"\n#2\nh!\nbu \"\n#3\nw!\nb1l \"\n"
                         "#4\n-!\n"));
    EXPECT_EQ((std::vector<std::string>{
                  "nine-value logic mapped to the nearest of 0 1 X Z: 3 L to 0, 2 H to 1, "
                  "2 W to X, 2 - to X"}),
              diag_.notes);
    ffrObject* r = Open();
    ASSERT_NE(nullptr, r);
    EXPECT_EQ((std::vector<std::string>{"0=u", "1=0", "2=1", "3=x", "4=x"}), Changes(r, 1));
    EXPECT_EQ((std::vector<std::string>{"0=uuuu", "1=01xx", "2=uuuu", "3=0010"}), Changes(r, 2));
    r->Close();
}

TEST_F(Fsdbgen, RealsAndEventsGoToTheAnalogCompanion)
{
    ASSERT_EQ("", Import("$date  Mon  Dec 1 $end\n$timescale 1us $end\n"
                         "$scope module top $end\n$var wire 1 ! clk $end\n"
                         "$scope module sub $end\n$var real 64 r level $end\n"
                         "$var event 1 e go $end\n$var realtime 1 t when $end\n"
                         "$var real 64 r level_alias $end\n$upscope $end\n"
                         "$upscope $end\n$scope module digital_only $end\n$var wire 1 d q $end\n"
                         "$upscope $end\n$enddefinitions $end\n"
                         "#0\n$dumpvars\n0!\nr0.1 r\n1e\nr-1e300 t\n0d\n$end\n"
                         "#7\n1e\nr3.25 r\n#8\n0e\n#9\n1e\nR1e-7 r\n"));
    const std::string companion = dir_.File("out.analog.fsdb");
    EXPECT_EQ(
        (std::vector<std::string>{path_ + ": 2 logic variables (file type 0)",
                                  companion + ": 2 real variables and 1 event (file type 1)"}),
        written_);
    EXPECT_EQ((std::vector<std::string>{"2 event values that mark no trigger ignored (values other "
                                        "than 1, and values in $dumpvars and the like)"}),
              diag_.notes);
    ffrFileInfo info;
    ASSERT_EQ(0, GetFileInfo(companion.c_str(), &info));
    EXPECT_EQ(1, info.fileType);
    EXPECT_STREQ("1us", info.timeUnit);
    EXPECT_EQ(9u, Tag64(info.endTag));
    ffrObject* r = Open(companion);
    ASSERT_NE(nullptr, r);
    char stamp[2048];
    r->GetStamp(stamp);
    EXPECT_STREQ("Mon Dec 1", stamp);
    ASSERT_EQ(8u, tree_.size());  // only the scopes that hold analog signals
    EXPECT_EQ("+top", tree_[0].name);
    EXPECT_EQ("+sub", tree_[1].name);
    EXPECT_EQ("level", tree_[2].name);
    EXPECT_EQ('r', tree_[2].varType);
    EXPECT_EQ("go", tree_[3].name);
    EXPECT_EQ('d', tree_[3].varType);
    EXPECT_EQ("when", tree_[4].name);
    EXPECT_EQ(tree_[2].idcode, tree_[5].idcode);
    EXPECT_EQ(
        (std::vector<std::string>{"0=0.10000000000000001", "7=3.25", "9=9.9999999999999995e-08"}),
        Changes(r, tree_[2].idcode));
    EXPECT_EQ((std::vector<std::string>{"7=1", "9=1"}), Changes(r, tree_[3].idcode));
    EXPECT_EQ((std::vector<std::string>{"0=-1.0000000000000001e+300"}),
              Changes(r, tree_[4].idcode));
    r->Close();
    r = Open();
    ASSERT_NE(nullptr, r);
    EXPECT_EQ(6u, tree_.size());
    EXPECT_EQ("+digital_only", tree_[3].name);
    r->Close();

    // A later import without reals removes the companion, which would now be stale.
    ASSERT_EQ("", Import(std::string(kHead) + "#0\nb1 a\n"));
    EXPECT_EQ((std::vector<std::string>{path_ + ": 1 logic variable (file type 0)",
                                        "removed " + companion + ", left by an earlier import"}),
              written_);
    EXPECT_FALSE(std::ifstream(companion).good());
}

// The companions of a chain's files form a chain of their own, named from the first companion
// as the files are from the first file: run.fsdb, run_1.fsdb, run.fsdb.1.
TEST_F(Fsdbgen, CompanionNameKeepsTheSplitNumberAtItsPlace)
{
    const std::pair<const char*, const char*> cases[] = {
        {"/sim/run.fsdb", "/sim/run.analog.fsdb"},
        {"/sim.old/run", "/sim.old/run.analog"},
        {"run.fsdb.1", "run.analog.fsdb.1"},
        {"dir/.hidden", "dir/.hidden.analog"},
        {"/sim/run_1.fsdb", "/sim/run.analog_1.fsdb"},
        {"/sim/run_1_12.fsdb", "/sim/run.analog_1_12.fsdb"},
        {"run.fsdb.2.10", "run.analog.fsdb.2.10"},
        {"run_3.fsdb.1", "run.analog_3.fsdb.1"},
        {"run_1", "run_1.analog"},
        {"run.1", "run.analog.1"},
        {"d_1/_2.fsdb", "d_1/_2.analog.fsdb"},
        {"a_b.x_y.fsdb", "a_b.x_y.analog.fsdb"},
    };
    for (const auto& [file, companion] : cases)
        EXPECT_EQ(companion, fsdbgen::AnalogCompanionName(file)) << file;
}

TEST_F(Fsdbgen, TruncatedVcdKeepsEveryCompleteTimeStep)
{
    const std::string dump = std::string(kHead) + "#0\nb00 a\n#10\nb01 a\n#20\nb10 a\nb11";
    const std::pair<std::string, std::string> cases[] = {
        // cut inside a vector change: the step #20 is dropped
        {dump,
         "line 12: the file ends in the middle of the time step #20 begun on line 10; "
         "kept the changes up to #10"},
        // cut inside the last token of a line
        {dump + " a\n#30\nb00 a",
         "line 14: the file ends in the middle of the time step #30 "
         "begun on line 13; kept the changes up to #20"},
        // cut inside a time
        {dump + " a\n#3",
         "line 13: the file ends in the middle of the time step #20 begun on "
         "line 10; kept the changes up to #10"},
    };
    const std::vector<std::string> kept[] = {
        {"0=00", "10=01"}, {"0=00", "10=01", "20=10", "20=11"}, {"0=00", "10=01"}};
    const uint64_t end[] = {10, 20, 10};
    for (size_t i = 0; i < 3; ++i) {
        ASSERT_EQ("", Import(cases[i].first)) << i;
        EXPECT_EQ((std::vector<std::string>{cases[i].second}), diag_.warnings) << i;
        ffrFileInfo info;
        ASSERT_EQ(0, GetFileInfo(path_.c_str(), &info));
        EXPECT_EQ(end[i], Tag64(info.endTag)) << i;
        ffrObject* r = Open();
        ASSERT_NE(nullptr, r);
        EXPECT_EQ(kept[i], Changes(r, 1)) << i;
        r->Close();
    }
    // A complete file that merely lacks its last newline after $end is not cut.
    ASSERT_EQ("", Import(std::string(kHead) + "#0\n$dumpvars b01 a $end"));
    EXPECT_TRUE(diag_.warnings.empty());
}

TEST_F(Fsdbgen, VcdCutInItsDeclarationsOrEmptyGetsAWarning)
{
    ASSERT_EQ("", Import("$scope module t $end\n$var wire 1 ! a $end\n$var wire 2 \" b"));
    EXPECT_EQ((std::vector<std::string>{"line 3: the file ends inside $var before "
                                        "$enddefinitions; the variables declared so far are "
                                        "kept, without values"}),
              diag_.warnings);
    ffrObject* r = Open();
    ASSERT_NE(nullptr, r);
    EXPECT_EQ(3u, tree_.size());
    r->Close();
    ASSERT_EQ("", Import("$t\xff 1ns"));  // the keyword shown as printable text
    EXPECT_EQ(0u, diag_.warnings[0].find("line 1: the file ends inside $t\\xff before"));
    ASSERT_EQ("", Import(""));
    EXPECT_EQ((std::vector<std::string>{"empty VCD file"}), diag_.warnings);
    ASSERT_EQ("", Import("$date x $end\n$enddefinitions $end\n#0\n"));
    EXPECT_EQ((std::vector<std::string>{"no variables declared"}), diag_.warnings);
    EXPECT_TRUE(IsFsdbFile(path_.c_str()));
}

std::string Slurp(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), {});
}

// A text the tool wrote, with Windows line ends read as newlines.
std::string SlurpText(const std::string& path)
{
    std::ifstream in(path);
    return std::string((std::istreambuf_iterator<char>(in)), {});
}

TEST_F(Fsdbgen, GzipVcdGivesTheSameFile)
{
    const std::string vcd = std::string(kHead) + "#0\nb01 a\n#5\nbx a\n";
    ASSERT_EQ("", Import(vcd));
    const std::string expected = Slurp(path_);
    const std::string gz = dir_.File("in.vcd.gz");
    gzFile out = gzopen(gz.c_str(), "wb");
    ASSERT_NE(nullptr, out);
    gzwrite(out, vcd.data(), static_cast<unsigned>(vcd.size()));
    gzclose(out);
    ASSERT_EQ("", ImportFile(gz));
    EXPECT_EQ(expected, Slurp(path_));

    // A compressed stream cut short is a truncated VCD.
    std::ifstream whole(gz, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(whole)), {});
    std::ofstream(gz, std::ios::binary) << bytes.substr(0, bytes.size() - 6);
    ASSERT_EQ("", ImportFile(gz));
    ASSERT_EQ(1u, diag_.warnings.size());
    EXPECT_EQ(
        "line 9: the file ends in the middle of the time step #5 begun on line 8; kept the "
        "changes up to #0",
        diag_.warnings[0]);
}

#if !defined(_WIN32)
// A VCD read from a pipe (a simulator writing into a FIFO) loses none of its first bytes, which
// told it from gzip; a compressed one, whose first bytes cannot be read again, is refused.
TEST_F(Fsdbgen, VcdThroughAPipe)
{
    const std::string vcd = std::string(kHead) + "#0\nb01 a\n#5\nbx a\n";
    ASSERT_EQ("", Import(vcd));
    const std::string expected = Slurp(path_);
    const std::string gz = dir_.File("in.vcd.gz"), fifo = dir_.File("pipe");
    gzFile out = gzopen(gz.c_str(), "wb");
    ASSERT_NE(nullptr, out);
    gzwrite(out, vcd.data(), static_cast<unsigned>(vcd.size()));
    gzclose(out);
    ASSERT_EQ(0, mkfifo(fifo.c_str(), 0600));
    std::signal(SIGPIPE, SIG_IGN);  // the refused gzip stream is not read to its end
    for (const std::string& bytes : {vcd, Slurp(gz)}) {
        std::thread writer([&] { std::ofstream(fifo, std::ios::binary) << bytes; });
        const std::string error = ImportFile(fifo);
        writer.join();
        EXPECT_EQ(bytes == vcd ? ""
                               : "cannot read \"" + fifo +
                                     "\": a gzip-compressed VCD must be a file, not a pipe "
                                     "(decompress it into the pipe)",
                  error);
    }
    EXPECT_EQ(expected, Slurp(path_));
}
#endif

std::string Image(const nffr::FileWriter& w)
{
    std::vector<uint8_t> image;
    std::string error;
    EXPECT_TRUE(w.Bytes(&image, &error)) << error;
    return std::string(image.begin(), image.end());
}

// The import's files are byte for byte those that a writer told the same things writes.
TEST_F(Fsdbgen, VcdImportWritesTheFilesOfAWriter)
{
    layout_ = 1;
    ASSERT_EQ("", Import("$date  Mon Dec 8 $end\n$timescale 100 ns $end\n"
                         "$scope module top $end\n"
                         "$var wire 1 ! clk $end\n"
                         "$var reg 4 \"# nib [3:0] $end\n"
                         "$var real 64 rl3 r $end\n"
                         "$scope task t $end\n"
                         "$var wire 1 ! clk_alias $end\n"
                         "$var event 1 ev_code_longer_than_8 go $end\n"
                         "$upscope $end\n"
                         "$var wire 12 % w [11:0] $end\n"
                         "$upscope $end\n$enddefinitions $end\n"
                         "#0\n$dumpvars\nx!\nbx \"#\nr0.5 rl3\n1ev_code_longer_than_8\nb0 %\n$end\n"
                         "#3\n1!\nb1z \"#\nr-1e-3 rl3\n1ev_code_longer_than_8\n"
                         "#7\nL!\nbHW1- \"#\nbx %\nu!\n#9\n"));
    nffr::FileWriter digital, analog;
    for (nffr::FileWriter* w : {&digital, &analog})
        w->SetLayout(1);  // the import writes layout 1
    for (nffr::FileWriter* w : {&digital, &analog}) {
        w->SetFileType(w == &digital ? 0 : 1);
        w->SetTimeUnit("100ns");
        w->SetStamp("Mon Dec 8");
        w->SetEndTag(9);
        w->BeginScope("top");
    }
    const int clk = digital.AddVar("clk", 0, 1);
    const int nib = digital.AddVar("nib[3:0]", 0, 4);
    const int r = analog.AddVar("r", 'r', 64);
    digital.BeginScope("t");
    analog.BeginScope("t");
    digital.AddAlias("clk_alias", clk);
    const int go = analog.AddVar("go", 'd', 64);
    digital.EndScope();
    analog.EndScope();
    const int w = digital.AddVar("w[11:0]", 0, 12);
    digital.EndScope();
    analog.EndScope();
    digital.AddChange(clk, 0, {2});
    digital.AddChange(clk, 3, {1});
    digital.AddChange(clk, 7, {0});
    digital.AddChange(clk, 7, {4});
    digital.AddChange(nib, 0, {2, 2, 2, 2});
    digital.AddChange(nib, 3, {0, 0, 1, 3});
    digital.AddChange(nib, 7, {1, 2, 1, 2});
    digital.AddChange(w, 0, std::vector<uint8_t>(12, 0));
    digital.AddChange(w, 7, std::vector<uint8_t>(12, 2));
    analog.AddReal(r, 0, 0.5);
    analog.AddReal(r, 3, -1e-3);
    analog.AddReal(go, 3, 1.0);
    EXPECT_EQ(Image(digital), Slurp(path_));
    EXPECT_EQ(Image(analog), Slurp(fsdbgen::AnalogCompanionName(path_)));
}

// A VCD of many changes, whose tokens cross the import's read blocks and whose signals fill
// many storage chunks, gives the same bytes as a writer handed the same changes.
TEST_F(Fsdbgen, LargeVcdImportWritesTheFilesOfAWriter)
{
    layout_ = 1;
    nffr::FileWriter digital, analog;
    for (nffr::FileWriter* w : {&digital, &analog})
        w->SetLayout(1);  // the import writes layout 1
    std::string vcd = "$timescale 1 ps $end\n$scope module top $end\n";
    for (nffr::FileWriter* w : {&digital, &analog}) {
        w->SetFileType(w == &digital ? 0 : 1);
        w->SetTimeUnit("1ps");
        w->BeginScope("top");
    }
    struct Var {
        std::string code;
        uint32_t width;  // 0 for a real
        int idcode;
    };
    std::vector<Var> vars;
    const uint32_t widths[] = {1, 3, 8, 33};
    for (int i = 0; i < 300; ++i) {
        std::string code;
        for (int n = i * 37; code.empty() || n > 0; n /= 94)
            code += static_cast<char>('!' + n % 94);
        if (i % 50 == 7)
            code += "_long";
        const std::string name = "s" + std::to_string(i);
        const uint32_t width = i % 60 == 5 ? 0 : widths[i % 4];
        vcd += "$var " + std::string(width ? "wire " : "real ") +
               std::to_string(width ? width : 64) + " " + code + " " + name + " $end\n";
        vars.push_back(
            {code, width, width ? digital.AddVar(name, 0, width) : analog.AddVar(name, 'r', 64)});
    }
    vcd += "$upscope $end\n";
    std::string body = "$enddefinitions $end\n";
    digital.EndScope();
    analog.EndScope();
    uint32_t seed = 5;
    auto next = [&seed] { return (seed = seed * 1103515245u + 12345u) >> 8; };
    uint64_t time = 0, last = 0;
    while (body.size() < (5u << 19)) {
        last = time;
        body += "#" + std::to_string(time) + "\n";
        for (int c = 0; c < 8; ++c) {
            const Var& v = vars[next() % vars.size()];
            if (!v.width) {
                const double real = static_cast<int>(next() % 100000) * 0.25 - 5000;
                char text[40];
                std::snprintf(text, sizeof text, "r%.17g ", real);
                body += text + v.code + "\n";
                analog.AddReal(v.idcode, time, real);
                continue;
            }
            const size_t size = 1 + next() % v.width;
            std::string text;
            std::vector<uint8_t> bytes(v.width - size);
            for (size_t k = 0; k < size; ++k) {
                const uint32_t b = next() % 9 == 0 ? 2 + next() % 2 : next() % 2;
                text += "01xz"[b];
                bytes.push_back(static_cast<uint8_t>(b));
            }
            std::fill(bytes.begin(), bytes.end() - size,
                      bytes[v.width - size] <= 1 ? 0 : bytes[v.width - size]);
            body += v.width == 1 ? text + v.code + "\n" : "b" + text + " " + v.code + "\n";
            digital.AddChange(v.idcode, time, bytes);
        }
        time += 1 + next() % 5;
    }
    for (nffr::FileWriter* w : {&digital, &analog})
        w->SetEndTag(last);
    // A comment that makes the first read block (the import reads 1 MiB at a time) end inside
    // a code that follows a vector value.
    const size_t block = 1 << 20;
    size_t cut = 0;
    for (size_t at = body.find("\nb"); at + vcd.size() + 60 < block;
         at = body.find("\nb", at + 1)) {
        const size_t code = body.find(' ', at) + 1;
        if (body[code + 1] != '\n')
            cut = code + 1;
    }
    ASSERT_GT(cut, 0u);
    const size_t pad = block - vcd.size() - cut;
    vcd += "$comment " + std::string(pad - 15, 'p') + " $end\n" + body;
    const size_t line = vcd.rfind('\n', block - 1) + 1;
    ASSERT_EQ('b', vcd[line]);
    ASSERT_LT(vcd.find(' ', line), block - 1);
    ASSERT_NE('\n', vcd[block]);
    ASSERT_EQ("", Import(vcd));
    EXPECT_EQ(Image(digital), Slurp(path_));
    const std::string companion = fsdbgen::AnalogCompanionName(path_);
    EXPECT_EQ(Image(analog), Slurp(companion));
    // Streamed, in many batches given to the writers on a thread of their own or (where none
    // can be started) on the reading one: the same changes.
    const std::string listing = Listing(path_) + "\n" + Listing(companion);
    layout_ = 2;
    for (bool thread : {true, false}) {
        fsdbgen::gSenderThread = thread;
        ASSERT_EQ("", Import(vcd));
        EXPECT_EQ(listing, Listing(path_) + "\n" + Listing(companion)) << thread;
    }
    fsdbgen::gSenderThread = true;
}

TEST_F(Fsdbgen, CommandLine)
{
    auto run = [&](const std::string& args) { return RunTool(args); };
    std::string desc = dir_.File("in.desc");
    std::ofstream(desc) << "type 0\nvar #0 1 d\n0 1\n";
    for (const char* layout : {"", "--layout 1 ", "--layout 2 ", "--layout 3 "}) {
        EXPECT_EQ(0, run(layout + desc + " " + path_));
        EXPECT_TRUE(IsFsdbFile(path_.c_str()));
        EXPECT_EQ(*layout ? layout[9] - '0' : 3, Slurp(path_).at(8)) << layout;
    }
    std::ofstream(desc) << "nonsense\n";
    EXPECT_EQ(1, run(desc + " " + path_));
    EXPECT_EQ("fsdbgen: " + desc + ": line 1: unknown keyword \"nonsense\"\n",
              SlurpText(dir_.File("err")));
    std::ofstream(desc) << "type 0\n";
    EXPECT_EQ(1, run(desc + " " + dir_.File("none/x.fsdb")));
    EXPECT_EQ(
        "fsdbgen: cannot write \"" + dir_.File("none/x.fsdb") + "\": No such file or directory\n",
        SlurpText(dir_.File("err")));

    EXPECT_EQ(0, run("--help"));
    const std::string help = SlurpText(dir_.File("out"));
    EXPECT_EQ(0u, help.find("usage: fsdbgen DESCRIPTION OUT.fsdb"));
    EXPECT_EQ("", SlurpText(dir_.File("err")));

    const std::string vcd = dir_.File("counter.vcd");
    std::ofstream(vcd) << kHead << "#0\nbL1 a\n";
    const std::pair<std::string, std::string> mistakes[] = {
        {vcd + " x.fsdb", "fsdbgen: \"" + vcd + "\" is a VCD file; import it with: fsdbgen --vcd " +
                              vcd + " x.fsdb\n"},
        {"--vcd " + vcd, "fsdbgen: missing the output file name after \"" + vcd + "\"\n"},
        {"--vcd", "fsdbgen: --vcd needs the VCD file to read and the FSDB file to write\n"},
        {"--fst", "fsdbgen: --fst needs the FST file to read and the FSDB file to write\n"},
        {"", "fsdbgen: missing the input and the output file names\n"},
        {"-x a b", "fsdbgen: unknown option \"-x\"\n"},
        {"a b c", "fsdbgen: too many arguments\n"},
        {"--layout 4 a b", "fsdbgen: --layout needs 1, 2 or 3\n"},
        {"--layout 1 --vcd",
         "fsdbgen: --vcd needs the VCD file to read and the FSDB file to "
         "write\n"},
    };
    for (const auto& m : mistakes) {
        EXPECT_EQ(2, run(m.first)) << m.first;
        EXPECT_EQ(m.second + help, SlurpText(dir_.File("err"))) << m.first;
        EXPECT_EQ("", SlurpText(dir_.File("out")));
    }

    EXPECT_EQ(0, run("--vcd " + vcd + " " + path_));
    EXPECT_EQ("wrote " + path_ + ": 1 logic variable (file type 0)\n", SlurpText(dir_.File("out")));
    EXPECT_EQ("fsdbgen: " + vcd + ": nine-value logic mapped to the nearest of 0 1 X Z: 1 L to 0\n",
              SlurpText(dir_.File("err")));
    // "-" reads standard input; --layout 1 imports into layout 1 (the header's version).
    const std::string fromFile = Slurp(path_);
    EXPECT_EQ(0, run("--vcd - " + path_ + " <" + vcd));
    EXPECT_EQ(fromFile, Slurp(path_));
    EXPECT_EQ(3, Slurp(path_).at(8));
    EXPECT_EQ(0, run("--layout 1 --vcd " + vcd + " " + path_));
    EXPECT_EQ(1, Slurp(path_).at(8));

    EXPECT_EQ(1, run("--vcd " + vcd + " " + dir_.File("none/x.fsdb")));
    EXPECT_EQ(
        "fsdbgen: cannot write \"" + dir_.File("none/x.fsdb") + "\": No such file or directory\n",
        SlurpText(dir_.File("err")).substr(SlurpText(dir_.File("err")).find("fsdbgen: cannot")));
    EXPECT_EQ(1, run("--vcd " + dir_.File("none.vcd") + " " + path_));
    EXPECT_EQ("fsdbgen: cannot read \"" + dir_.File("none.vcd") + "\": No such file or directory\n",
              SlurpText(dir_.File("err")));
    EXPECT_EQ(1, run("--vcd " + vcd + " " + vcd));
    EXPECT_EQ("fsdbgen: the output would replace the input\n", SlurpText(dir_.File("err")));
}

// kHead and 4 GiB of NUL bytes in a gzip file of 4 MiB: a deflate block of 1 MiB of zeros,
// ended by a full flush so that it refers to nothing before it, repeated.
std::string GzipBomb()
{
    z_stream z = {};
    deflateInit2(&z, 9, Z_DEFLATED, -15, 9, Z_DEFAULT_STRATEGY);
    auto pack = [&](const std::string& in, int flush) {
        std::string out(compressBound(static_cast<uLong>(in.size())) + 64, '\0');
        z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(in.data()));
        z.avail_in = static_cast<uInt>(in.size());
        z.next_out = reinterpret_cast<Bytef*>(&out[0]);
        z.avail_out = static_cast<uInt>(out.size());
        deflate(&z, flush);
        return out.substr(0, out.size() - z.avail_out);
    };
    const std::string head = kHead, zeros(1 << 20, '\0'), block = pack(zeros, Z_FULL_FLUSH);
    std::string gz = std::string("\x1f\x8b\x08\0\0\0\0\0\0\xff", 10) + pack(head, Z_FULL_FLUSH);
    uLong crc = crc32(0, reinterpret_cast<const Bytef*>(head.data()), head.size());
    const uLong zerosCrc = crc32(0, reinterpret_cast<const Bytef*>(zeros.data()), zeros.size());
    for (int i = 0; i < 4096; ++i, crc = crc32_combine(crc, zerosCrc, 1 << 20))
        gz += block;
    gz += pack("", Z_FINISH);
    deflateEnd(&z);
    const uint32_t trailer[2] = {static_cast<uint32_t>(crc), static_cast<uint32_t>(head.size())};
    return gz + std::string(reinterpret_cast<const char*>(trailer), 8);  // little-endian
}

// Hostile input ends in one message and exit status 1, its words, codes, sections and scopes
// within bounds: a word, or a value and its code, may take the read block (1 MiB) beyond the
// widest variable; a gzip bomb is read only that far.
TEST_F(Fsdbgen, HostileVcdEndsInOneMessage)
{
    auto repeat = [](const std::string& text, int times) {
        std::string out;
        for (int i = 0; i < times; ++i)
            out += text;
        return out;
    };
    const std::pair<std::string, std::string> cases[] = {
        {"$var wire 1 " + std::string(100000, '!') + " v $end\n",
         "line 1: $var code longer than 1024 characters"},
        {kHead + ("#0\nb" + std::string(3 << 20, '0')) + " a\n",
         "line 7: a word longer than 1048578 bytes"},
        {repeat("$scope module m $end\n", 1000000), "line 10001: more than 10000 nested scopes"},
        {"$date" + repeat(" x", 600000) + " $end\n",
         "line 1: \"$date\" section longer than 1048576 bytes"},
        {"$var wire 1 a x $end $var wire 1 a y" + std::string(1, '\0') +
             "z $end $enddefinitions $end\n",
         "alias name holding NUL"},
        {GzipBomb(), "line 6: a word longer than 1048578 bytes"},
    };
    int n = 0;
    for (const auto& c : cases) {
        const std::string vcd = dir_.File("hostile" + std::to_string(++n) + ".vcd");
        std::ofstream(vcd, std::ios::binary) << c.first;
        EXPECT_EQ(1, RunTool("--vcd " + vcd + " " + path_)) << n;
        const bool ofInput = c.second.compare(0, 5, "line ") == 0;
        EXPECT_EQ("fsdbgen: " + (ofInput ? vcd + ": " : "") + c.second + "\n",
                  SlurpText(dir_.File("err")))
            << n;
    }
}

// The records' arena: pieces from its small first block, from huge blocks after it and from
// blocks of their own, each aligned and apart from the others.
TEST(VcdStream, RecordArenaKeepsItsPiecesAlignedAndApart)
{
    nffr::RecordArena arena;
    const std::pair<size_t, size_t> pieces[] = {{24, 8},        {32, 32},     {40 << 10, 64},
                                                {40 << 10, 16}, {3 << 20, 8}, {512, 32}};
    std::vector<std::pair<uint8_t*, size_t>> taken;
    for (int round = 0; round < 2; ++round)
        for (const auto& piece : pieces) {
            auto* at = static_cast<uint8_t*>(arena.Take(piece.first, piece.second));
            ASSERT_NE(nullptr, at);
            EXPECT_EQ(0u, reinterpret_cast<uintptr_t>(at) % piece.second) << piece.first;
            std::memset(at, static_cast<int>(taken.size()), piece.first);
            taken.emplace_back(at, piece.first);
        }
    for (size_t i = 0; i < taken.size(); ++i)
        EXPECT_EQ(taken[i].second,
                  size_t(std::count(taken[i].first, taken[i].first + taken[i].second,
                                    static_cast<uint8_t>(i))))
            << i;
}

// Pieces appended (split across chunks) or written into room (whole, a chunk's rest unused).
TEST(VcdStream, ChainKeepsEveryByteAcrossItsChunks)
{
    fsdbgen::ChunkPool pool;
    fsdbgen::Chain chain(&pool);
    std::string expected;
    uint32_t seed = 1;
    for (int i = 0; i < 3000; ++i) {
        seed = seed * 1103515245u + 12345u;
        std::string piece((seed >> 16) % 300, static_cast<char>('a' + i % 26));
        if (i % 3 == 0) {
            uint8_t* room = chain.Room(piece.size());
            ASSERT_NE(nullptr, room);
            std::memcpy(room, piece.data(), piece.size());
            chain.Commit(piece.size());
        } else {
            ASSERT_TRUE(chain.Append(piece.data(), piece.size()));
        }
        expected += piece;
    }
    auto contents = [&] {
        std::string got;
        chain.ForEach([&](const uint8_t* data, size_t size) {
            got.append(reinterpret_cast<const char*>(data), size);
        });
        return got;
    };
    EXPECT_EQ(expected.size(), chain.Bytes());
    EXPECT_EQ(expected, contents());
    for (uint64_t cut : {uint64_t(400000), uint64_t(4097), uint64_t(63), uint64_t(0)}) {
        chain.TruncateTo(cut);
        expected.resize(cut);
        EXPECT_EQ(expected, contents()) << cut;
    }
    ASSERT_TRUE(chain.Append("xyz", 3));
    EXPECT_EQ("xyz", contents());
}

TEST(VcdStream, CodeTableFindsShortAndLongCodes)
{
    fsdbgen::CodeTable table;
    std::vector<std::string> codes;
    for (int i = 0; i < 20000; ++i) {
        std::string code;
        for (int n = i; code.empty() || n > 0; n /= 94)
            code += static_cast<char>('!' + n % 94);
        if (i % 1000 == 0)
            code += "_longer_than_eight";
        codes.push_back(code);
        table.Insert(code.data(), code.size(), i);
    }
    for (int i = 0; i < 20000; ++i)
        ASSERT_EQ(i, table.Find(codes[i].data(), codes[i].size())) << codes[i];
    EXPECT_EQ(-1, table.Find("~~~~~", 5));
    EXPECT_EQ(-1, table.Find("!_longer_than_eigh", 18));
}

// Control characters and bytes above ~ at every place of a word's eight-byte windows are part
// of the word; each kind of blank ends it. Read through the smallest buffer and the default.
TEST(VcdStream, TokenizerEndsWordsAtBlanksOnly)
{
    TempDir dir;
    const std::string words[] = {
        "ab\001cdefghij",      "\037",    "1234567\002", "\177\200\377abcdefghijklm", "x",
        "0123456789abcde\036", "\003\004"};
    const std::string blanks = " \t\n\v\f\r";
    std::string text, expected;
    int line = 1;
    for (size_t i = 0; i < 7; ++i) {
        text += words[i] + blanks.substr(i % 6, 1 + i % 2);
        expected += words[i] + "@" + std::to_string(line) + "|";
        line += static_cast<int>(std::count(text.end() - 1 - i % 2, text.end(), '\n'));
    }
    const std::string path = dir.File("words.vcd");
    std::ofstream(path, std::ios::binary) << text;
    for (size_t block : {size_t(16), fsdbgen::Tokenizer::kReadBlock}) {
        fsdbgen::VcdInput in;
        std::string error, got;
        ASSERT_TRUE(in.Open(path, &error)) << error;
        fsdbgen::Tokenizer tok(&in, block);
        tok.SetLimit(64);
        for (fsdbgen::Token t; tok.Next(&t);)
            got += std::string(t.text, t.size) + "@" + std::to_string(t.line) + "|";
        EXPECT_EQ(expected, got) << block;
    }
}

// Codes that one slot would mix up if a path of the table did: the three-character table's
// range (a character outside ! to ~ goes to the packed table), codes packed with NULs at their
// end, a code of NULs through the packed table's growth, longer codes by their text.
TEST(VcdStream, CodeTableKeepsEveryKindOfCodeApart)
{
    using namespace std::string_literals;
    const std::vector<std::string> codes = {
        "!",       "\0"s,    "!!",        "!\"!",    "\x7f!!",     "!!\x7f",   "~~~",
        "\0\0\0"s, "ab\x7f", "ab\x7f\0"s, "abcdefg", "abcdefg\0"s, "abcdefgh", "abcdefgh\0"s};
    fsdbgen::CodeTable table;
    for (size_t i = 0; i < codes.size(); ++i)
        table.Insert(codes[i].data(), codes[i].size(), static_cast<int>(i));
    for (int i = 0; i < 100; ++i)  // grows the packed table
        table.Insert(("#" + std::to_string(1000 + i)).data(), 5, 1000 + i);
    for (size_t i = 0; i < codes.size(); ++i)
        EXPECT_EQ(static_cast<int>(i), table.Find(codes[i].data(), codes[i].size()))
            << "code " << i;
    EXPECT_EQ(1099, table.Find("#1099", 5));
    EXPECT_EQ(-1, table.Find("\"!!", 3));
}

// A file is at least as long as its widest logic variable, which the reader requires: one
// without changes is padded, by Bytes() and WriteStreamed() alike.
TEST_F(Fsdbgen, WideVariableWithoutChangesIsReadable)
{
    layout_ = 1;
    ASSERT_EQ("", Import("$var wire 5000 ! w $end $enddefinitions $end\n"));
    ffrObject* r = Open();
    ASSERT_NE(nullptr, r);
    EXPECT_EQ(5000u, tree_.at(0).bits);
    r->Close();
    nffr::FileWriter w;
    w.SetLayout(1);  // the import writes layout 1
    w.SetFileType(0);
    w.SetTimeUnit("1s");
    w.SetEndTag(0);
    w.AddVar("w", 0, 5000);
    EXPECT_EQ(Image(w), Slurp(path_));
}

// Changes kept by the test and handed to WriteStreamed block by block.
class TestBlocks : public nffr::BlockSource {
public:
    std::map<int, std::vector<uint64_t>> tags;
    std::map<int, std::vector<uint8_t>> values;
    uint32_t Count(int idcode) const override
    {
        return static_cast<uint32_t>(tags.at(idcode).size());
    }
    void Write(int idcode, nffr::BlockOut* out) const override
    {
        out->Tags(tags.at(idcode).data(), tags.at(idcode).size());
        out->Values(values.at(idcode).data(), values.at(idcode).size());
    }
};

TEST_F(Fsdbgen, StreamedWriteGivesTheImageOfWrite)
{
    auto declare = [](nffr::FileWriter* w) {
        w->SetFileType(1);
        w->SetStamp("s");
        w->BeginScope("top");
        w->AddVar("a", 0, 3);
        w->AddVar("r", 'v', 64, 2);
        w->AddAlias("a2", 1);
        w->AddVar("empty", 'i', 1);
        w->SetCountUnknown(3);
    };
    nffr::FileWriter held, streamed;
    held.SetLayout(1);  // WriteStreamed writes layout 1
    declare(&held);
    declare(&streamed);
    TestBlocks blocks;
    blocks.tags = {{1, {0, 5, 5}}, {2, {1, 2}}, {3, {}}};
    blocks.values = {{1, {0, 1, 2, 3, 3, 3, 1, 1, 0}}, {2, {}}, {3, {}}};
    held.AddChange(1, 0, {0, 1, 2});
    held.AddChange(1, 5, {3, 3, 3});
    held.AddChange(1, 5, {1, 1, 0});
    for (uint64_t t : {1, 2}) {
        held.AddReal(2, t, 0.5 * t);
        float f = 0.5f * t;
        const uint8_t* b = reinterpret_cast<const uint8_t*>(&f);
        blocks.values[2].insert(blocks.values[2].end(), b, b + 4);
    }
    std::vector<uint8_t> image;
    ASSERT_TRUE(held.Bytes(&image));
    std::string error;
    ASSERT_TRUE(streamed.WriteStreamed(path_, blocks, &error)) << error;
    std::ifstream in(path_, std::ios::binary);
    EXPECT_EQ(std::string(image.begin(), image.end()),
              std::string((std::istreambuf_iterator<char>(in)), {}));

    blocks.tags[1] = {5, 0, 5};
    EXPECT_FALSE(streamed.WriteStreamed(path_, blocks, &error));
    EXPECT_EQ("idcode 1: tags out of order", error);
    blocks.tags[1] = {0, 5, 5};
    blocks.values[1].pop_back();
    EXPECT_FALSE(streamed.WriteStreamed(path_, blocks, &error));
    EXPECT_EQ("idcode 1: a block of 32 bytes where 33 are expected", error);
    blocks.values[1].push_back(0);
    EXPECT_FALSE(streamed.WriteStreamed(dir_.File("no/such.fsdb"), blocks, &error));
    EXPECT_EQ("cannot write \"" + dir_.File("no/such.fsdb") + "\": No such file or directory",
              error);
    EXPECT_FALSE(held.WriteStreamed(path_, blocks, &error));
    EXPECT_EQ("idcode 1 holds changes of its own", error);
    std::vector<uint8_t> again;
    ASSERT_TRUE(held.Bytes(&again));
    EXPECT_EQ(image, again);
}

}  // namespace

#if defined(QUORVEL_HAVE_FST)
// Every kind of FST variable arrives as from the same dump written as a VCD: scales and time
// zero exact, reals bit for bit, the first time's event values as $dumpvars' (no triggers).
TEST_F(Fsdbgen, FstArrivesAsItsVcd)
{
    struct Case {
        int scale;
        int64_t zero;
        const char* unit;
        std::vector<uint64_t> times;
        const char* main;      // the listing of each file: "+scope", "-", "name:changes"
        const char* analog;    // "" when there is no companion
        const char* warnings;  // before the string's, each closed by |
    };
    const Case cases[] = {
        {-10,
         0,
         "100ps",
         {0, 5},
         "+top clk:0=0,5=1 q[3:0]:0=x01z,5=1111 clk2:0=0,5=1 -",
         "+top r:0=0.30000000000000004,5=0.33333333333333331 ev:5=1 -",
         ""},
        {2,
         5,
         "100s",
         {0, 3},
         "+top clk:5=0,8=1 q[3:0]:5=x01z,8=1111 clk2:5=0,8=1 -",
         "+top r:5=0.30000000000000004,8=0.33333333333333331 ev:8=1 -",
         ""},
        {-15,
         -2,
         "1fs",
         {2, 4},
         "+top clk:0=0,2=1 q[3:0]:0=x01z,2=1111 clk2:0=0,2=1 -",
         "+top r:0=0.30000000000000004,2=0.33333333333333331 ev:2=1 -",
         ""},
        {-13,
         -10,
         "100fs",
         {2, 4},
         "+top clk:2=0,4=1 q[3:0]:2=x01z,4=1111 clk2:2=0,4=1 -",
         "+top r:2=0.30000000000000004,4=0.33333333333333331 ev:4=1 -",
         "time zero -10 left out: it would put times before 0 or past the largest time; times "
         "are the dump's own ticks|"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.unit);
        const std::string fst = dir_.File("in.fst");
        void* w = fstWriterCreate(fst.c_str(), 1);
        fstWriterSetTimescale(w, c.scale);
        fstWriterSetTimezero(w, c.zero);
        fstWriterSetScope(w, FST_ST_VCD_MODULE, "top", nullptr);
        const fstHandle clk = fstWriterCreateVar(w, FST_VT_VCD_WIRE, FST_VD_IMPLICIT, 1, "clk", 0);
        const fstHandle q =
            fstWriterCreateVar(w, FST_VT_SV_LOGIC, FST_VD_IMPLICIT, 4, "q [3:0]", 0);
        const fstHandle r = fstWriterCreateVar(w, FST_VT_VCD_REAL, FST_VD_IMPLICIT, 8, "r", 0);
        const fstHandle ev = fstWriterCreateVar(w, FST_VT_VCD_EVENT, FST_VD_IMPLICIT, 1, "ev", 0);
        const fstHandle s = fstWriterCreateVar(w, FST_VT_GEN_STRING, FST_VD_IMPLICIT, 0, "s", 0);
        fstWriterCreateVar(w, FST_VT_VCD_WIRE, FST_VD_IMPLICIT, 1, "clk2", clk);
        fstWriterSetUpscope(w);
        const char* values[][3] = {{"0", "x01z", "1"}, {"1", "1111", "1"}};
        const double reals[] = {0.1 + 0.2, 1.0 / 3};
        for (int i = 0; i < 2; ++i) {
            fstWriterEmitTimeChange(w, c.times[i]);
            fstWriterEmitValueChange(w, clk, values[i][0]);
            fstWriterEmitValueChange(w, q, values[i][1]);
            fstWriterEmitValueChange(w, ev, values[i][2]);
            fstWriterEmitValueChange(w, r, &reals[i]);
            fstWriterEmitVariableLengthValueChange(w, s, "hi", 2);
        }
        fstWriterClose(w);
        // Found by its content, without --fst.
        ASSERT_EQ(0, RunTool(fst + " " + path_));
        ASSERT_EQ("", ImportFile(fst, true));
        std::string warnings;
        for (const std::string& line : diag_.warnings)
            warnings += line + "|";
        EXPECT_EQ(c.warnings + std::string("string variable \"s\" skipped: strings are not "
                                           "imported|"),
                  warnings);
        EXPECT_EQ(c.main, Listing(path_));
        EXPECT_EQ(c.analog, Listing(dir_.File("out.analog.fsdb")));
        ffrFileInfo info;
        ASSERT_EQ(0, GetFileInfo(path_.c_str(), &info));
        EXPECT_STREQ(c.unit, info.timeUnit);
    }
    // A file cut short has lost its hierarchy, written last: refused, not imported as empty
    // (through the tool: the FST library may end the process on a damaged file).
    const std::string fst = Slurp(dir_.File("in.fst")), cut = dir_.File("cut.fst");
    std::ofstream(cut, std::ios::binary) << fst.substr(0, fst.size() - 10);
    EXPECT_EQ(1, RunTool("--fst " + cut + " " + path_));
    const std::string err = SlurpText(dir_.File("err"));  // after the time zero's warning
    EXPECT_EQ("fsdbgen: " + cut +
                  ": the file declares 6 variables but its hierarchy holds 0: it is damaged or "
                  "cut short\n",
              err.substr(err.rfind("fsdbgen: ")));
}
#endif
