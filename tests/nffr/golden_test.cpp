// golden_test.cpp: small files of each layout kept in tests/nffr/golden. The writers must make
// them again byte for byte (zstd's output is fixed for a given library version and level), and
// the reader must read from them exactly the values they were made from.
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>

#include "import.h"
#include "nffr_stream_writer.h"
#include "nffr_test_util.h"

using namespace nffrtest;

namespace {

// Type 1: doubles (one of extreme magnitude), a float of unknown count, bits with x and z and a
// recorded count that differs, an alias in a nested scope, a stamp and an end tag.
const char* kReals = R"(type 1
unit 10ps
stamp run 42
end 1000
scope top
var v 1 out
0 0.0
100 1.25
100 -2.5e300
var i 1 data=float count=unknown f
5 0.25
var #0 4 count=7 bus
0 01xz
7 1111
scope sub
var #0 4 id=3 bus_alias
upscope
upscope
)";

// Type 0: every packing of bits (0/1 only, 0/1/x/z, other bytes), a clock, a wide vector, tags
// beyond 32 bits, equal tags and a signal without changes. *dump receives what the reader must
// tell of it (as Dump writes it).
std::string Logic(std::string* dump)
{
    std::string d = "type 0\nunit 1ns\nscope top\nvar w 1 clk\n";
    *dump = "load 0\nclk 1 top.clk count 40:";
    for (int i = 0; i < 40; ++i) {
        d += std::to_string(5 * i) + (i % 2 ? " 1\n" : " 0\n");
        *dump += " " + std::to_string(5 * i) + (i % 2 ? ":01" : ":00");
    }
    d += "var w 8 count\n";
    *dump += "\ncount 2 top.count count 20:";
    for (int i = 0; i < 20; ++i) {
        std::string bits, hex;
        for (int b = 7; b >= 0; --b) {
            bits += (i * 7 >> b) & 1 ? '1' : '0';
            hex += (i * 7 >> b) & 1 ? "01" : "00";
        }
        d += std::to_string(10 * i) + " " + bits + "\n";
        *dump += " " + std::to_string(10 * i) + ":" + hex;
    }
    d += "var w 4 xz\n0 xxxx\n3 01zx\n3 zzzz\n4294967301 1010\n";
    *dump += "\nxz 3 top.xz count 4: 0:02020202 3:00010302 3:03030303 4294967301:01000100\n";
    d += "var w 3 u\n0 bytes:4,0,1\n9 bytes:255,3,2\n";
    *dump += "u 4 top.u count 2: 0:040001 9:ff0302\n";
    d += "scope inner\nvar w 2 quiet\nvar w 70 wide\n";
    d += "0 " + std::string(70, '0') + "\n1099511627776 " + std::string(35, '1') +
         std::string(35, '0') + "\n";
    *dump += "quiet 5 top.inner.quiet count 0:\nwide 6 top.inner.wide count 2: 0:" +
             std::string(140, '0') + " 1099511627776:";
    for (int i = 0; i < 35; ++i)
        *dump += "01";
    *dump += std::string(70, '0') + "\n";
    d += "upscope\nupscope\n";
    return d;
}

const char* kRealsDump =
    "load 0\n"
    "out 1 top.out count 3: 0:0000000000000000 100:000000000000f43f "
    "100:039300aa4bdd4dfe\n"
    "f 2 top.f count 0: 5:0000803e\n"
    "bus 3 top.bus count 7: 0:00010203 7:01010101\n"
    "bus_alias 3 top.bus count 7: 0:00010203 7:01010101\n";

struct Golden {
    const char* name;
    int layout;
    std::string description;
    std::string dump;
};

std::vector<Golden> Goldens()
{
    std::string logicDump;
    const std::string logic = Logic(&logicDump);
    return {{"reals1.fsdb", 1, kReals, kRealsDump},
            {"logic1.fsdb", 1, logic, logicDump},
            {"reals2.fsdb", 2, kReals, kRealsDump},
            {"logic2.fsdb", 2, logic, logicDump}};
}

std::string GoldenPath(const std::string& name)
{
    return std::string(NFFR_GOLDEN_DIR) + "/" + name;
}

std::vector<uint8_t> ReadAll(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

// Every signal of the file as text: per tree variable its name, idcode, change count and
// changes "tag:bytes in hex".
std::string Dump(const std::string& path)
{
    std::vector<std::pair<std::string, int>> vars;
    ffrFileInfo file;
    GetFileInfo(path.c_str(), &file);
    auto collect = [](uint32_t type, void* client, void* record) {
        if (type == FFR_TREE_VAR) {
            auto* v = static_cast<ffrVarRecord*>(record);
            static_cast<decltype(vars)*>(client)->emplace_back(v->name, v->idcode);
        }
        return true;
    };
    ffrObject* r = ffrObject::ffrOpen2(path.c_str(), collect, &vars, 0);
    if (!r)
        return "refused";
    r->ReadSignalTree();
    for (const auto& v : vars)
        r->AddToLoadList(v.second, 0, 0);
    std::ostringstream out;
    out << "load " << r->LoadListedSignals() << "\n";
    for (const auto& v : vars) {
        ffrVarInfo* info = nullptr;
        r->GetVarInfo(v.second, &info);
        out << v.first << " " << v.second << " " << info->name << " count "
            << r->GetChangeCount(v.second) << ":";
        ffrVCTraverser* t = r->CreateTraverser(v.second);
        const bool real = file.fileType == 1 && info->varType != 0;
        const uint32_t size = !real ? t->ValueBitSize() : t->ValueDataType() == 2 ? 4 : 8;
        for (bool more = t->HasChanges(); more; more = t->GotoNext() == 0) {
            TimeTag tag;
            unsigned char* value = nullptr;
            t->GetTag(&tag);
            t->GetValue(&value);
            out << " " << Tag64(tag) << ":";
            for (uint32_t i = 0; i < size; ++i)
                out << "0123456789abcdef"[value[i] >> 4] << "0123456789abcdef"[value[i] & 15];
        }
        t->FreeTraverser();
        out << "\n";
    }
    r->Close();
    return out.str();
}

class GoldenFiles : public ReaderTest {};

TEST_F(GoldenFiles, WritersRemakeThemAndTheReaderReadsWhatTheyHold)
{
    for (const Golden& g : Goldens()) {
        SCOPED_TRACE(g.name);
        nffr::FileWriter w;
        fsdbgen::Diagnostics diag;
        std::istringstream in(g.description);
        ASSERT_TRUE(fsdbgen::ReadDescription(in, &w, &diag)) << diag.error;
        w.SetLayout(g.layout);
        const std::string made = Write(w, dir_.File(g.name));
        if (const char* update = std::getenv("NFFR_GOLDEN_UPDATE"))
            std::filesystem::copy_file(made, std::string(update) + "/" + g.name,
                                       std::filesystem::copy_options::overwrite_existing);
        EXPECT_EQ(ReadAll(GoldenPath(g.name)), ReadAll(made));
        EXPECT_EQ(g.dump, Dump(GoldenPath(g.name)));
    }
}

}  // namespace
