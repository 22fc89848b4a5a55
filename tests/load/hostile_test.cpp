// hostile_test.cpp: loads from damaged files and files changed on disk while open: every such
// load fails with 1 (the reader's refusal on standard error), and no refused signal is ever
// traversed.
#include <filesystem>
#include <fstream>

#include "load_support.h"
#include "nffr_layout.h"
#include "stderr_capture.h"

namespace loadtest {
namespace {

namespace L = nffr::layout;

class HostileTest : public LoadTest {
protected:
    // top/v (id 1) and top/w (id 2), analog, and the bus top/data[1:0] (ids 3, 4), each with
    // changes at tags 0, 10 and 20; the signals at the given table positions get tags that go
    // back in time (0, 100, 20), which the reader refuses to load.
    std::string WriteWithTagsGoingBack(const std::vector<size_t>& damaged)
    {
        nffr::FileWriter writer;
        writer.SetTimeUnit("1s");
        writer.BeginScope("top");
        for (const char* name : {"v", "w"}) {
            int id = writer.AddVar(name, 'v', 64);
            for (int i = 0; i < 3; i++) {
                writer.AddReal(id, 10 * i, i);
            }
        }
        for (const char* name : {"data[1]", "data[0]"}) {
            int id = writer.AddVar(name, 0, 1);
            for (int i = 0; i < 3; i++) {
                writer.AddChange(id, 10 * i, {uint8_t(i % 2)});
            }
        }
        writer.EndScope();
        writer.SetLayout(1);  // damaged at the offsets of layout 1
        std::vector<uint8_t> bytes;
        EXPECT_TRUE(writer.Bytes(&bytes));
        for (size_t signal : damaged) {
            size_t entry =
                size_t(L::Load64(&bytes[L::kOffVarTableOffset])) + signal * L::kVarEntrySize;
            L::Store64(&bytes[size_t(L::Load64(&bytes[entry + L::kVarOffBlockOffset])) + 8], 100);
        }
        std::string path = File("back.fsdb");
        EXPECT_TRUE(nffr::FileWriter::WriteBytes(path, bytes));
        return path;
    }
    int LoadOne(ReaderContext* context, const char* path, WfXWave** wave)
    {
        std::string copy = path;
        int result = Quorvel_LoadWave(interp_, context, &copy[0], wave);
        Keep(*wave);
        return result;
    }
};

// A refused signal fails as one, as one of many and as a bus member; the reader says why.
TEST_F(HostileTest, RefusedSignalsFailEveryKindOfLoad)
{
    ReaderContext* context = Open(WriteWithTagsGoingBack({1, 3}), 0, 1);
    ASSERT_NE(context, nullptr);
    StderrCapture capture;
    WfXWave* wave = reinterpret_cast<WfXWave*>(1);
    EXPECT_EQ(LoadOne(context, "top/w", &wave), 1);
    EXPECT_EQ(wave, nullptr);
    WfXWave* bus = nullptr;
    EXPECT_EQ(LoadOne(context, "top/data[1:0]", &bus), 1);
    EXPECT_EQ(bus, nullptr);
    WfXWave* slots[2] = {reinterpret_cast<WfXWave*>(1), reinterpret_cast<WfXWave*>(1)};
    EXPECT_EQ(Quorvel_LoadWaves(interp_, context, "top/w top/data[1:0]", "", slots), 1);
    EXPECT_EQ(slots[0], nullptr);
    EXPECT_EQ(slots[1], nullptr);
    EXPECT_EQ(Calls(Op::CreateTraverser), 0);
    std::string messages = capture.Finish();
    EXPECT_EQ(messages.rfind("\"ERROR:\" ", 0), 0u) << messages;
}

// A damaged variable record (w's reals said to be 3 bytes wide) opens; w alone is refused,
// with one message naming it, and the other signals of the same load-many call load exactly.
TEST_F(HostileTest, DamagedRecordCostsOnlyItsSignal)
{
    std::string path = WriteWithTagsGoingBack({});
    std::ifstream in(path, std::ios::binary);
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), {});
    in.close();
    size_t entry = size_t(L::Load64(&bytes[L::kOffVarTableOffset])) + 1 * L::kVarEntrySize;
    bytes[entry + L::kVarOffValueSize] = 3;
    ASSERT_TRUE(nffr::FileWriter::WriteBytes(path, bytes));
    StderrCapture capture;
    ReaderContext* context = Open(path, 0, 1);
    ASSERT_NE(context, nullptr);
    WfXWave* slots[3] = {nullptr, nullptr, nullptr};
    EXPECT_EQ(Quorvel_LoadWaves(interp_, context, "top/v top/w top/data[1:0]", "", slots), 0);
    Keep(slots[0]);
    Keep(slots[2]);
    EXPECT_EQ(Samples(slots[0]),
              (std::vector<Sample>{{0, Num(0.0)}, {10, Num(1.0)}, {20, Num(2.0)}}));
    EXPECT_EQ(slots[1], nullptr);
    EXPECT_EQ(Samples(slots[2]), (std::vector<Sample>{{0, "00"}, {10, "11"}, {20, "00"}}));
    std::string messages = capture.Finish();
    EXPECT_EQ(messages.substr(0, messages.find('\n') + 1),
              "\"ERROR:\" \"" + path +
                  "\": top.w (idcode 2): value size 3 does not hold a real of value data type 3\n");
}

// The signals of an undamaged file next to nothing refused load as always.
TEST_F(HostileTest, UndamagedSignalsLoad)
{
    ReaderContext* context = Open(WriteWithTagsGoingBack({}), 0, 1);
    ASSERT_NE(context, nullptr);
    WfXWave* wave = nullptr;
    ASSERT_EQ(LoadOne(context, "top/w", &wave), 0);
    EXPECT_EQ(Samples(wave), (std::vector<Sample>{{0, Num(0.0)}, {10, Num(1.0)}, {20, Num(2.0)}}));
    WfXWave* bus = nullptr;
    ASSERT_EQ(LoadOne(context, "top/data[1:0]", &bus), 0);
    EXPECT_EQ(Samples(bus), (std::vector<Sample>{{0, "00"}, {10, "11"}, {20, "00"}}));
}

// A file truncated or rewritten in place while open: every load is refused, with the rewrite
// message, before any value is read.
TEST_F(HostileTest, FileChangedOnDiskIsRefusedBeforeReading)
{
    std::string path = WriteWithTagsGoingBack({});
    ReaderContext* context = Open(path);
    ASSERT_NE(context, nullptr);
    std::filesystem::resize_file(path, 300);
    ResetCounts();
    WfXWave* wave = reinterpret_cast<WfXWave*>(1);
    EXPECT_EQ(LoadOne(context, "top/v", &wave), 1);
    EXPECT_EQ(wave, reinterpret_cast<WfXWave*>(1));
    EXPECT_EQ(std::string(Tcl_GetStringResult(interp_)),
              "Data file was rewritten. Please reload.\n");
    Tcl_ResetResult(interp_);
    WfXWave* slots[1] = {reinterpret_cast<WfXWave*>(1)};
    EXPECT_EQ(Quorvel_LoadWaves(interp_, context, "top/v", "", slots), 1);
    EXPECT_EQ(slots[0], reinterpret_cast<WfXWave*>(1));
    EXPECT_EQ(std::string(Tcl_GetStringResult(interp_)),
              "Data file was rewritten. Please reload.\n");
    EXPECT_EQ(Calls(Op::CreateTraverser), 0);
}

}  // namespace
}  // namespace loadtest
