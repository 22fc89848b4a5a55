// fsdbgen_test.cpp: fsdbgen's description format and VCD import, read back by the reader.
#include "fsdbgen.h"

#include <cstring>
#include <fstream>
#include <sstream>

#include "nffr_test_util.h"

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
    // Builds a file from input; "" on success, else the error.
    std::string Build(const std::string& input, bool vcd)
    {
        std::istringstream in(input);
        nffr::FileWriter w;
        diag_ = fsdbgen::Diagnostics();
        bool ok =
            vcd ? fsdbgen::ImportVcd(in, &w, &diag_) : fsdbgen::ReadDescription(in, &w, &diag_);
        if (!ok)
            return diag_.error;
        std::string error;
        if (!w.Write(path_, &error))
            return error;
        return "";
    }
    ffrObject* Open()
    {
        tree_.clear();
        ffrObject* r = ffrObject::ffrOpen2(path_.c_str(), &Collect, &tree_, 0);
        if (r)
            r->ReadSignalTree();
        return r;
    }
    // "tag=value" texts of one signal, values as 0 1 x z (or reals).
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
        GetFileInfo(path_.c_str(), &file);
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
                s << d;
                text += s.str();
            } else {
                for (uint32_t i = 0; i < t->ValueBitSize(); ++i)
                    text += v[i] < 4 ? "01xz"[v[i]] : '?';
            }
            out.push_back(text);
        } while (t->GotoNext() == 0);
        t->FreeTraverser();
        return out;
    }
    std::string path_ = dir_.File("out.fsdb");
    fsdbgen::Diagnostics diag_;
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
                        "upscope\n",
                        false));
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
    EXPECT_EQ((std::vector<std::string>{"0=01x", "5=1?z"}), Changes(r, 7));
    EXPECT_EQ(0, r->GetChangeCount(1));
    EXPECT_EQ(5, r->GetChangeCount(9));
    r->Close();

    ASSERT_EQ("", Build("type -5\nvar #200 2 d\n3 zz\n", false));
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
        std::string error = Build(c.first, false);
        EXPECT_EQ(0u, error.find(c.second)) << c.first << " -> " << error;
    }
}

TEST_F(Fsdbgen, VcdImport)
{
    ASSERT_EQ("", Build("$date today $end\n$version x $end\n$timescale 10 ps $end\n"
                        "$scope module top $end\n"
                        "$var wire 1 ! clk $end\n"
                        "$var reg 8 \" bus [7:0] $end\n"
                        "$var wire 1 # data [3] $end\n"
                        "$var real 64 $ level $end\n"
                        "$scope module sub $end\n$var wire 1 ! clk_copy $end\n$upscope $end\n"
                        "$upscope $end\n$enddefinitions $end\n"
                        "#0\n$dumpvars\n0!\nb1 \"\nx#\nr1.5 $\n$end\n"
                        "#5\n1!\nbx \"\nbz10 \"\n"
                        "#12\nB0 \"\nZ#\n",
                        true));
    ASSERT_EQ(1u, diag_.warnings.size());
    EXPECT_NE(std::string::npos, diag_.warnings[0].find("line 8: real variable \"level\" skipped"));
    ffrFileInfo info;
    ASSERT_EQ(0, GetFileInfo(path_.c_str(), &info));
    EXPECT_EQ(0, info.fileType);
    EXPECT_STREQ("10ps", info.timeUnit);
    EXPECT_EQ(12u, Tag64(info.endTag));
    ffrObject* r = Open();
    ASSERT_NE(nullptr, r);
    ASSERT_EQ(8u, tree_.size());
    EXPECT_EQ("bus[7:0]", tree_[2].name);
    EXPECT_EQ(8u, tree_[2].bits);
    EXPECT_EQ("data[3]", tree_[3].name);
    EXPECT_EQ(tree_[1].idcode, tree_[5].idcode);  // a second reference to one code: an alias
    EXPECT_EQ((std::vector<std::string>{"0=0", "5=1"}), Changes(r, tree_[1].idcode));
    EXPECT_EQ((std::vector<std::string>{"0=00000001", "5=xxxxxxxx", "5=zzzzzz10", "12=00000000"}),
              Changes(r, tree_[2].idcode));
    EXPECT_EQ((std::vector<std::string>{"0=x", "12=z"}), Changes(r, tree_[3].idcode));
    r->Close();
}

TEST_F(Fsdbgen, MalformedVcdNamesTheLine)
{
    const std::string head =
        "$scope module t $end\n$var wire 2 a v $end\n$upscope $end\n$enddefinitions $end\n";
    const std::pair<std::string, const char*> cases[] = {
        {"$timescale 3 ns $end\n", "line 1: bad $timescale"},
        {"$scope module t $end\n$enddefinitions $end\n", "line 2: end of file inside"},
        {"$upscope $end\n", "line 1: $upscope without"},
        {"$var wire x a v $end\n", "line 1: bad $var size"},
        {"$var wire 1 a $end\n", "line 1: $var needs"},
        {"$comment never closed\n", "line 1: $comment without $end"},
        {head + "#5\n#4\n", "line 6: time #4 before"},
        {head + "#5\n1q\n", "line 6: unknown code"},
        {head + "b101 a\n", "line 5: value \"101\" wider"},
        {head + "b12 a\n", "line 5: bad bit '2'"},
        {head + "r1 a\n", "line 5: real value"},
        {head + "b1\n", "line 5: value \"b1\" without a code"},
        {"0a\n", "line 1: \"0a\" among the declarations"},
    };
    for (const auto& c : cases) {
        std::string error = Build(c.first, true);
        EXPECT_EQ(0u, error.find(c.second)) << c.first << " -> " << error;
    }
}

TEST_F(Fsdbgen, CommandLine)
{
    std::string desc = dir_.File("in.desc");
    std::ofstream(desc) << "type 0\nvar #0 1 d\n0 1\n";
    std::string run =
        std::string(FSDBGEN_PATH) + " " + desc + " " + path_ + " 2>" + dir_.File("err");
    EXPECT_EQ(0, std::system(run.c_str()));
    EXPECT_TRUE(IsFsdbFile(path_.c_str()));
    std::ofstream(desc) << "nonsense\n";
    EXPECT_NE(0, std::system(run.c_str()));
    std::ifstream err(dir_.File("err"));
    std::string message((std::istreambuf_iterator<char>(err)), std::istreambuf_iterator<char>());
    EXPECT_NE(std::string::npos, message.find("line 1: unknown keyword \"nonsense\""));
    EXPECT_NE(0, std::system((std::string(FSDBGEN_PATH) + " 2>/dev/null").c_str()));
    EXPECT_NE(0, std::system((std::string(FSDBGEN_PATH) + " --vcd " + dir_.File("none.vcd") + " " +
                              path_ + " 2>/dev/null")
                                 .c_str()));
}

}  // namespace
