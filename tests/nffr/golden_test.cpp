// golden_test.cpp: small files of each layout kept in tests/nffr/golden. The writers must make
// them again byte for byte (zstd's output is fixed for a given library version and level), and
// the reader must read from them exactly the values they were made from.
#include <algorithm>
#include <cstring>
#include <fstream>
#include <functional>
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
    *dump = "end 1099511627776 load 0\nclk 1 top.clk count 40:";
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
    "end 1000 load 0\n"
    "out 1 top.out count 3: 0:0000000000000000 100:000000000000f43f "
    "100:039300aa4bdd4dfe\n"
    "f 2 top.f count 0: 5:0000803e\n"
    "bus 3 top.bus count 7: 0:00010203 7:01010101\n"
    "bus_alias 3 top.bus count 7: 0:00010203 7:01010101\n";

// A VCD whose import (by the streaming writer) stores every signal in one segment.
const char* kVcd = R"($date run 7 $end
$timescale 10ps $end
$scope module top $end
$var wire 1 ! clk $end
$var wire 4 " q [3:0] $end
$var real 64 # r $end
$upscope $end
$enddefinitions $end
#0
0!
b0x1z "
r0.5 #
#5
1!
r-2.25 #
#10
0!
b1010 "
)";

const char* kVcdDump =
    "end 10 load 0\nclk 1 top.clk count 3: 0:00 5:01 10:00\n"
    "q[3:0] 2 top.q[3:0] count 2: 0:00020103 10:01000100\n";
const char* kVcdAnalogDump =
    "end 10 load 0\nr 1 top.r count 2: 0:000000000000e03f 5:00000000000002c0\n";

struct Golden {
    const char* name;
    int layout;
    std::string description;  // or a VCD to import, when import is set
    std::string dump;
    bool import = false;
};

std::vector<Golden> Goldens()
{
    std::string logicDump;
    const std::string logic = Logic(&logicDump);
    return {
        {"reals1.fsdb", 1, kReals, kRealsDump},    {"logic1.fsdb", 1, logic, logicDump},
        {"reals2.fsdb", 2, kReals, kRealsDump},    {"logic2.fsdb", 2, logic, logicDump},
        {"reals3.fsdb", 3, kReals, kRealsDump},    {"logic3.fsdb", 3, logic, logicDump},
        {"import3.fsdb", 3, kVcd, kVcdDump, true}, {"import3.analog.fsdb", 3, "", kVcdAnalogDump}};
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
    out << "end " << Tag64(file.endTag) << " load " << r->LoadListedSignals() << "\n";
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
        const std::string made = dir_.File(g.name);
        if (g.import) {  // the companion follows, made by the same import
            const std::string vcd = dir_.File("in.vcd");
            std::ofstream(vcd) << g.description;
            std::vector<std::string> written;
            ASSERT_TRUE(fsdbgen::ConvertVcd(vcd, made, &diag, &written, 0, g.layout)) << diag.error;
        } else if (!g.description.empty()) {
            ASSERT_TRUE(fsdbgen::ReadDescription(in, &w, &diag)) << diag.error;
            w.SetLayout(g.layout);
            Write(w, made);
        }
        if (const char* update = std::getenv("NFFR_GOLDEN_UPDATE"))
            std::filesystem::copy_file(made, std::string(update) + "/" + g.name,
                                       std::filesystem::copy_options::overwrite_existing);
        EXPECT_EQ(ReadAll(GoldenPath(g.name)), ReadAll(made));
        EXPECT_EQ(g.dump, Dump(GoldenPath(g.name)));
    }
}

}  // namespace

namespace {

// Changes of signals a (1 bit, a clock-like run), b (16 bits with x), r (doubles) and gone (a
// variable removed after some of its changes were written), interleaved in time, given to
// change(idcode, tag, bytes).
template <typename Writer, typename Change>
void Interleaved(Writer& w, Change change)
{
    w.SetFileType(1);
    w.SetTimeUnit("1ps");
    w.BeginScope("top");
    const int a = w.AddVar("a", 0, 1), b = w.AddVar("b", 0, 16), r = w.AddVar("r", 'r', 64);
    const int gone = w.AddVar("gone", 0, 8);
    w.EndScope();
    uint32_t seed = 7;
    for (uint64_t t = 0; t < 1500; ++t) {
        change(a, 3 * t, std::vector<uint8_t>{uint8_t(t % 3 == 0)});
        if (t % 6 == 0) {
            std::vector<uint8_t> bits(16);
            for (uint8_t& bit : bits)
                bit = (seed = seed * 1103515245 + 12345) >> 29 & 3;
            change(b, 3 * t + 1, bits);
        }
        if (t % 10 == 0) {
            const double v = 0.1 * double(t) - 7.0;
            const uint8_t* p = reinterpret_cast<const uint8_t*>(&v);
            change(r, 3 * t, std::vector<uint8_t>(p, p + 8));
        }
        if (t < 500)
            change(gone, 3 * t + 10000, std::vector<uint8_t>(8, 1));  // the largest tags
        if (t == 500)
            w.RemoveVar(gone);
    }
}

TEST_F(GoldenFiles, StreamWriterRemakesItsFileWithinItsBudget)
{
    nffr::FileWriter held;
    Interleaved(held, [&](int id, uint64_t tag, const std::vector<uint8_t>& v) {
        held.AddChange(id, tag, v);
    });
    held.SetLayout(1);
    const std::string plain = Write(held, dir_.File("plain1.fsdb"));
    for (int layout : {2, 3}) {
        const std::string name = "stream" + std::to_string(layout) + ".fsdb";
        SCOPED_TRACE(name);
        const std::string made = dir_.File(name);
        size_t most = 0;
        {
            nffr::StreamWriter stream(made, 4096);
            stream.SetLayout(layout);
            Interleaved(stream, [&](int id, uint64_t tag, const std::vector<uint8_t>& v) {
                EXPECT_TRUE(stream.AddChange(id, tag, v.data(), v.size()));
                most = std::max(most, stream.BufferedBytes());
            });
            std::string error;
            ASSERT_TRUE(stream.Finish(&error)) << error;
        }
        EXPECT_LE(most, 4096u + 64);  // beyond the budget by one change's growth at the most
        EXPECT_EQ(Dump(plain), Dump(made));
        if (const char* update = std::getenv("NFFR_GOLDEN_UPDATE"))
            std::filesystem::copy_file(made, std::string(update) + "/" + name,
                                       std::filesystem::copy_options::overwrite_existing);
        EXPECT_EQ(ReadAll(GoldenPath(name)), ReadAll(made));
        EXPECT_FALSE(std::filesystem::exists(made + ".writing"));
    }
}

// A budget so small that the segment indexes are written one entry at a time, in many passes.
TEST_F(GoldenFiles, StreamWriterWritesItsIndexesInWindowsAndRemovesItsSpill)
{
    const std::string made = dir_.File("small2.fsdb");
    std::string error;
    nffr::StreamWriter stream(made, 200);
    Interleaved(stream, [&](int id, uint64_t tag, const std::vector<uint8_t>& v) {
        stream.AddChange(id, tag, v.data(), v.size());
    });
    ASSERT_TRUE(stream.Finish(&error)) << error;
    EXPECT_FALSE(std::filesystem::exists(made + ".writing.index"));
    EXPECT_EQ(Dump(GoldenPath("stream2.fsdb")), Dump(made));
}

// An idcode far beyond the variables' number keeps one buffer and one index list over all its
// segments, so that each of them is in its index.
TEST_F(GoldenFiles, StreamWriterKeepsEverySegmentOfASparseIdcode)
{
    const std::string made = dir_.File("sparse2.fsdb");
    const int sparse = 1000000;
    nffr::StreamWriter stream(made);
    nffr::FileWriter held;
    stream.AddVar("sparse", 0, 1, 3, sparse);
    held.AddVar("sparse", 0, 1, 3, sparse);
    for (uint64_t t = 0; t < 300000; ++t) {  // three segments
        const uint8_t v = t % 3 == 0;
        stream.AddChange(sparse, t, &v, 1);
        held.AddChange(sparse, t, {v});
    }
    std::string error;
    ASSERT_TRUE(stream.Finish(&error)) << error;
    held.SetLayout(1);
    EXPECT_EQ(Dump(Write(held, dir_.File("plain1.fsdb"))), Dump(made));
}

// Misuse and failures come back as the first error; the temporary file goes unless finished.
TEST_F(GoldenFiles, StreamWriterRefusesMisuseAndLeavesNoTemporaryFile)
{
    struct Case {
        const char* name;
        std::function<void(nffr::StreamWriter&, int bits, int real)> misuse;
        std::string error;
        // The temporary file a link to /dev/full, which refuses writes, and a budget so small
        // that each segment waits for the one before: the failure reaches a change for certain.
        bool full = false;
    };
    const uint8_t two[2] = {0, 1};
    const std::vector<Case> cases = {
        {"unknown idcode", [&](auto& w, int, int) { w.AddChange(9, 0, two, 1); },
         "unknown idcode 9"},
        {"value size", [&](auto& w, int bits, int) { w.AddChange(bits, 0, two, 1); },
         "idcode 1: a value of 1 bytes where 2 are expected"},
        {"tag back",
         [&](auto& w, int bits, int) {
             w.AddChange(bits, 5, two, 2);
             w.AddChange(bits, 4, two, 2);
         },
         "tag 4 before the previous change of idcode 1"},
        {"type after changes",
         [&](auto& w, int, int real) {
             w.AddReal(real, 0, 1.0);
             w.SetFileType(0);
         },
         "file type set after changes were given"},
        {"real of bits", [&](auto& w, int bits, int) { w.AddReal(bits, 0, 1.0); },
         "idcode 1 holds bits, not reals"},
        {"abandoned", [&](auto& w, int, int) { w.Abandon(); }, "the file was abandoned"},
        {"declaration", [&](auto& w, int, int) { w.EndScope(); }, "upscope without an open scope"},
        // Segments are written on a thread of their own: its failure reaches a later change.
        {"write failure",
         [&](auto& w, int bits, int) {
             uint32_t seed = 1;
             for (uint64_t t = 0; t < 1000000; ++t) {
                 const uint8_t v[2] = {uint8_t((seed = seed * 1103515245 + 12345) >> 30 & 1), 0};
                 if (!w.AddChange(bits, t, v, 2))
                     break;
             }
         },
         "cannot write \"" + dir_.File("misuse.fsdb") + "\": No space left on device", true},
    };
    for (const Case& c : cases) {
        const std::string path = dir_.File("misuse.fsdb");
#ifdef _WIN32
        if (c.full)  // no device that refuses writes
            continue;
#else
        if (c.full)
            std::filesystem::create_symlink("/dev/full", path + ".writing");
#endif
        nffr::StreamWriter w(path, c.full ? 4096 : nffr::StreamWriter::kDefaultMemoryBudget);
        w.SetFileType(1);
        const int bits = w.AddVar("bits", 0, 2), real = w.AddVar("real", 'r', 64);
        c.misuse(w, bits, real);
        EXPECT_EQ(c.error, w.Error()) << c.name;
        EXPECT_FALSE(w.AddChange(bits, 9, two, 2)) << c.name;
        std::string error;
        EXPECT_FALSE(w.Finish(&error)) << c.name;
        EXPECT_EQ(c.error, error) << c.name;
        EXPECT_FALSE(std::filesystem::exists(path + ".writing")) << c.name;
        EXPECT_FALSE(std::filesystem::exists(path)) << c.name;
    }
    {
        nffr::StreamWriter w(dir_.File("unfinished.fsdb"), 1 << 20, dir_.File("temp"));
        EXPECT_TRUE(std::filesystem::exists(dir_.File("temp")));
    }
    EXPECT_FALSE(std::filesystem::exists(dir_.File("temp")));
    nffr::StreamWriter w(dir_.File("no/such/dir.fsdb"));
    std::string error;
    EXPECT_FALSE(w.Finish(&error));
    EXPECT_EQ("cannot write \"" + dir_.File("no/such/dir.fsdb") + "\": No such file or directory",
              error);
}

}  // namespace

namespace {

// A long clock compresses to far less than the reader accepts for its decoded size: the writer
// pads its segments so that the reader, which refuses more, reads it.
TEST_F(GoldenFiles, LongClockIsPaddedToWhatTheReaderAccepts)
{
    nffr::FileWriter w;
    w.SetFileType(0);
    const int clk = w.AddVar("clk", 0, 1);
    for (uint64_t t = 0; t < 150000; ++t)
        w.AddChange(clk, 5 * t, {uint8_t(t % 2)});
    const std::string path = Write(w, dir_.File("clock.fsdb"));
    EXPECT_LT(std::filesystem::file_size(path), 4000u);
    ffrObject* r = ffrObject::ffrOpen2(path.c_str(), nullptr, nullptr, 0);
    ASSERT_NE(nullptr, r);
    r->AddToLoadList(clk, 0, 0);
    EXPECT_EQ(0, r->LoadListedSignals());
    EXPECT_EQ(150000, r->GetChangeCount(clk));
    r->Close();
    EXPECT_TRUE(Sinks::Errors().empty());
}

}  // namespace
