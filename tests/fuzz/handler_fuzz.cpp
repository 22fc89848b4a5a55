// handler_fuzz.cpp: libFuzzer target that drives the plug-in's seven handlers through the host's
// format registry over a few valid files and split chains: host settings, paths, query texts,
// load lists and id lists come from the input, and so do damaged copies of the files and changes
// made on disk while a file is open. Any crash, hang or sanitizer report is a bug.
#include <fuzzer/FuzzedDataProvider.h>
#include <stdlib.h>
#include <tcl.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "host_core.h"
#include "nffr_writer.h"
#include "plugin/quorvel.h"
#include "tcl/vexa_package.h"

namespace {

// One file of a chain: an analog, a float, a logic and a vector signal and a four-member bus,
// all changing from tag first on.
nffr::FileWriter ChainFile(uint64_t first, uint32_t type)
{
    nffr::FileWriter w;
    w.SetFileType(type);
    w.SetTimeUnit("10ps");
    w.SetEndTag(first + 500);
    w.SetStamp("stamp " + std::to_string(first));
    w.BeginScope("top");
    int v = w.AddVar("v", 'v', 64, 3, 1);
    int f = w.AddVar("f", 'I', 32, 2, 2);
    int clk = w.AddVar("clk", 0, 1, 3, 3);
    int vec = w.AddVar("vec", 0, 4, 3, 4);
    for (int i = 0; i < 8; i++) {
        w.AddReal(v, first + 20 * i, i * 0.5);
        w.AddReal(f, first + 30 * i, -i * 0.25);
        w.AddBits(clk, first + 10 * i, i % 2 ? "1" : "0");
        w.AddBits(vec, first + 40 * i, i % 3 ? "01xz" : "1100");
    }
    w.BeginScope("sub/unit");
    for (int m = 3; m >= 0; m--) {
        int id = w.AddVar("bus[" + std::to_string(m) + "]", 0, 1, 3, 10 + m);
        for (int i = 0; i < 3; i++) {
            w.AddBits(id, first + 7 * m + 50 * i, (i + m) % 2 ? "1" : "0");
        }
    }
    w.EndScope();
    w.EndScope();
    return w;
}

struct World {
    Tcl_Interp* interp = nullptr;
    const FormatHandlers* fsdb = nullptr;
    std::string dir;
    std::vector<std::string> files;            // valid files, chains included
    std::vector<std::vector<uint8_t>> images;  // their bytes, for damaged copies
    std::vector<bool> changed;                 // changed on disk by an input
};

World& TheWorld()
{
    static World* world = [] {
        auto* w = new World();
        Tcl_FindExecutable(nullptr);
        w->interp = Tcl_CreateInterp();
        Vexa_Init(w->interp);
        Quorvel_Init(w->interp);
        w->fsdb = vexahost::FindFormat("FSDB");
        std::string pattern = (std::filesystem::temp_directory_path() / "hfuzz-XXXXXX").string();
        w->dir = mkdtemp(&pattern[0]);
        const char* names[] = {"run.fsdb", "run_1.fsdb", "run.fsdb.2", "run_3.fsdb", "zero.fsdb"};
        for (int i = 0; i < 5; i++) {
            nffr::FileWriter writer = ChainFile(1000u * i, i == 4 ? 0 : 1);
            std::vector<uint8_t> bytes;
            writer.Bytes(&bytes);
            std::string path = w->dir + "/" + names[i];
            nffr::FileWriter::WriteBytes(path, bytes);
            w->files.push_back(path);
            w->images.push_back(bytes);
            w->changed.push_back(false);
        }
        return w;
    }();
    return *world;
}

// A text from a list of meaningful ones, or one made of input bytes.
std::string Pick(FuzzedDataProvider& in, const std::vector<std::string>& known)
{
    if (in.ConsumeBool()) {
        return known[in.ConsumeIntegralInRange<size_t>(0, known.size() - 1)];
    }
    return in.ConsumeRandomLengthString(48);
}

const std::vector<std::string> kPaths = {
    "top/v", "/top/f",   "top/clk", "top/vec", "top/sub_unit/bus[3:0]", "top/sub_unit/bus[2]",
    "top",   "top/none", "",        "/"};
const std::vector<std::string> kQueries = {"-design",
                                           "-waveforms",
                                           "-waveids",
                                           "-waveforms -withtype digital",
                                           "-childNodes -parentPath top",
                                           "-created",
                                           "-nwaveforms",
                                           "-nsegments",
                                           "-wftypes",
                                           "-filenames",
                                           "-separator",
                                           "-pfname",
                                           "-waveforms -pattern *s* -withtype bus",
                                           "-waveforms -pattern top/*/bus* -withtype digital"};
const std::vector<std::string> kOptions = {"-datatype", "-got_xaxis", "-nsegments", "-wftype",
                                           "-xname",    "-xunit",     "-xscale",    "-yname",
                                           "-yscale",   "-yunit",     "-author",    "-"};
const std::vector<std::string> kLists = {"top/v top/clk",
                                         "{top/sub_unit/bus[3:0]} top/f",
                                         "top/v top/v top",
                                         "{",
                                         "1 2 3",
                                         "abc -5 10",
                                         ""};

// A copy of valid file k with a few bytes changed, written as mut.fsdb (and its first split).
std::string DamagedCopy(FuzzedDataProvider& in, World& w)
{
    std::vector<uint8_t> bytes = w.images[in.ConsumeIntegralInRange<size_t>(0, 4)];
    int changes = in.ConsumeIntegralInRange(0, 8);
    for (int i = 0; i < changes && !bytes.empty(); i++) {
        bytes[in.ConsumeIntegralInRange<size_t>(0, bytes.size() - 1)] =
            in.ConsumeIntegral<uint8_t>();
    }
    if (in.ConsumeBool()) {
        bytes.resize(in.ConsumeIntegralInRange<size_t>(0, bytes.size()));
    }
    std::string path = w.dir + "/mut.fsdb";
    nffr::FileWriter::WriteBytes(path, bytes);
    nffr::FileWriter::WriteBytes(w.dir + "/mut_1.fsdb", w.images[in.ConsumeIntegralInRange(0, 4)]);
    return path;
}

// Changes the open file on disk in place: some bytes overwritten, or the file cut short.
void ChangeOnDisk(FuzzedDataProvider& in, const std::string& path)
{
    std::FILE* f = std::fopen(path.c_str(), "r+b");
    if (f == nullptr) {
        return;
    }
    std::fseek(f, 0, SEEK_END);
    long size = std::ftell(f);
    if (in.ConsumeBool() && size > 0) {
        std::fflush(f);
        if (ftruncate(fileno(f), in.ConsumeIntegralInRange<long>(0, size)) != 0) {
            size = 0;
        }
    } else if (size > 0) {
        std::fseek(f, in.ConsumeIntegralInRange<long>(0, size - 1), SEEK_SET);
        std::fputc(in.ConsumeIntegral<uint8_t>(), f);
    }
    std::fclose(f);
}

struct Session {
    World& w;
    std::vector<ReaderContext*> contexts;
    std::vector<WfXWave*> waves;

    void Keep(WfXWave* wave)
    {
        if (wave != nullptr && vexahost::IsLiveWave(wave)) {
            waves.push_back(wave);
        }
    }
    void Query(FuzzedDataProvider& in, ReaderContext* context, int which)
    {
        QueryResult result;
        Tcl_DStringInit(&result.text);
        result.hostWord = 0;
        result.answerKind = 0;
        if (which == 0) {
            w.fsdb->info(nullptr, Pick(in, kOptions).c_str(), &result);
        } else if (which == 1) {
            w.fsdb->fileInfo(w.interp, context, Pick(in, kQueries).c_str(), &result);
        } else {
            std::string name = Pick(in, kPaths);
            w.fsdb->waveInfo(nullptr, context, name.c_str(), Pick(in, kOptions).c_str(), &result);
        }
        Tcl_DStringFree(&result.text);
    }
    void LoadMany(FuzzedDataProvider& in, ReaderContext* context)
    {
        std::string paths = Pick(in, kLists);
        std::string ids = in.ConsumeBool() ? "" : Pick(in, kLists);
        int count = 0;
        const char** words = nullptr;
        if (Tcl_SplitList(nullptr, paths.c_str(), &count, &words) != TCL_OK) {
            count = 0;
        }
        Tcl_Free(reinterpret_cast<char*>(words));
        std::vector<WfXWave*> slots(static_cast<size_t>(count) + 1, nullptr);
        w.fsdb->loadWaves(w.interp, context, paths.c_str(), ids.c_str(), slots.data());
        for (WfXWave* slot : slots) {
            Keep(slot);
        }
    }
    void Step(FuzzedDataProvider& in, const std::string& path)
    {
        ReaderContext* context = contexts.empty() ? nullptr : contexts.back();
        int op = in.ConsumeIntegralInRange(0, 7);
        if (op <= 2) {
            Query(in, context, op);
        } else if (op == 3 && context != nullptr) {
            std::string name = Pick(in, kPaths);
            WfXWave* wave = nullptr;
            w.fsdb->loadWave(w.interp, context, &name[0], &wave);
            Keep(wave);
        } else if (op == 4 && context != nullptr) {
            LoadMany(in, context);
        } else if (op == 5) {
            ChangeOnDisk(in, path);
            for (size_t i = 0; i < w.files.size(); i++) {
                w.changed[i] = w.changed[i] || w.files[i] == path;
            }
        } else if (op == 6) {
            Open(path);
        } else if (op == 7 && !contexts.empty()) {
            w.fsdb->close(w.interp, contexts.back());
            contexts.pop_back();
        }
    }
    void Open(const std::string& path)
    {
        ReaderContext* context = nullptr;
        if (w.fsdb->open(w.interp, path.c_str(), &context) == 0 && context != nullptr) {
            contexts.push_back(context);
        }
    }
    ~Session()
    {
        for (auto it = contexts.rbegin(); it != contexts.rend(); ++it) {
            w.fsdb->close(w.interp, *it);
        }
        for (WfXWave* wave : waves) {
            vexahost::DestroyWave(wave);
        }
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    World& w = TheWorld();
    if (w.fsdb == nullptr) {
        return 0;
    }
    FuzzedDataProvider in(data, size);
    Tcl_SetVar2(w.interp, "Scope", "fsdb,show_bus", in.ConsumeBool() ? "1" : "0", TCL_GLOBAL_ONLY);
    Tcl_SetVar2(w.interp, "Scope", "fsdb,cat_split", Pick(in, {"0", "1", "x"}).c_str(),
                TCL_GLOBAL_ONLY);
    int source = in.ConsumeIntegralInRange(0, 6);
    std::string path;
    if (source < 5) {
        // Files changed on disk are written afresh, so that each input starts from valid ones.
        size_t i = static_cast<size_t>(source);
        path = w.files[i];
        if (w.changed[i]) {
            nffr::FileWriter::WriteBytes(path, w.images[i]);
            w.changed[i] = false;
        }
    } else if (source == 5) {
        path = DamagedCopy(in, w);
    } else {
        path = in.ConsumeRandomLengthString(64);
    }
    Session session{w, {}, {}};
    session.Open(path);
    int steps = in.ConsumeIntegralInRange(0, 16);
    for (int i = 0; i < steps; i++) {
        session.Step(in, path);
    }
    Tcl_ResetResult(w.interp);
    return 0;
}
