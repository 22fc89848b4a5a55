// load_bench.cpp: loading speed of large signals: a numeric and a logic signal of 10 million
// changes, and a 32-member bus of a million time points next to its members loaded one by one.
// The files are written with our writer into a temporary folder when the program starts.
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <tcl.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "context/context.h"
#include "context/paths.h"
#include "host_core.h"
#include "load/handlers.h"
#include "load/loaders.h"
#include "nffr_writer.h"

namespace {

constexpr int kScalarChanges = 10'000'000;
constexpr int kBusPoints = 1'000'000;
constexpr int kBusWidth = 32;

struct Files {
    std::string dir;
    std::string numeric;
    std::string logic;
    std::string bus;
};

bool WriteOrReport(const nffr::FileWriter& writer, const std::string& path)
{
    std::string error;
    if (!writer.Write(path, &error)) {
        std::fprintf(stderr, "cannot write %s: %s\n", path.c_str(), error.c_str());
        return false;
    }
    return true;
}

bool WriteScalarFiles(const Files& files)
{
    nffr::FileWriter numeric;
    numeric.BeginScope("top");
    int v = numeric.AddVar("v", 'v', 64);
    for (int i = 0; i < kScalarChanges; i++) {
        numeric.AddReal(v, uint64_t(i) * 10, i * 0.25);
    }
    numeric.EndScope();
    if (!WriteOrReport(numeric, files.numeric)) {
        return false;
    }
    nffr::FileWriter logic;
    logic.BeginScope("top");
    int clk = logic.AddVar("clk", 0, 1);
    for (int i = 0; i < kScalarChanges; i++) {
        logic.AddChange(clk, uint64_t(i) * 10, {uint8_t(i % 2)});
    }
    logic.EndScope();
    return WriteOrReport(logic, files.logic);
}

bool WriteBusFile(const Files& files)
{
    nffr::FileWriter writer;
    writer.BeginScope("top");
    for (int m = kBusWidth - 1; m >= 0; m--) {
        int id = writer.AddVar("data[" + std::to_string(m) + "]", 0, 1);
        for (int i = 0; i < kBusPoints; i++) {
            // Member m changes at every point, its value flipping with period m + 1.
            writer.AddChange(id, uint64_t(i) * 10, {uint8_t((i / (m + 1)) % 2)});
        }
    }
    writer.EndScope();
    return WriteOrReport(writer, files.bus);
}

const Files& TheFiles()
{
    static Files files = [] {
        Files made;
        std::string pattern =
            (std::filesystem::temp_directory_path() / "quorvel-bench-XXXXXX").string();
        char* dir = mkdtemp(pattern.data());
        made.dir = dir != nullptr ? dir : ".";
        made.numeric = made.dir + "/numeric.fsdb";
        made.logic = made.dir + "/logic.fsdb";
        made.bus = made.dir + "/bus.fsdb";
        if (!WriteScalarFiles(made) || !WriteBusFile(made)) {
            std::exit(1);
        }
        return made;
    }();
    return files;
}

// An interpreter standing in for the host, and one open file.
class OpenFile {
public:
    explicit OpenFile(const std::string& path, int showBus)
    {
        interp_ = Tcl_CreateInterp();
        Tcl_Eval(interp_, "proc pf:info {what path} { return {} }");
        Tcl_SetVar2(interp_, "Scope", "fsdb,show_bus", showBus ? "1" : "0", TCL_GLOBAL_ONLY);
        if (Quorvel_Open(interp_, path.c_str(), &context_) != 0) {
            std::fprintf(stderr, "cannot open %s\n", path.c_str());
            std::exit(1);
        }
    }
    ~OpenFile()
    {
        Quorvel_Close(interp_, context_);
        Tcl_DeleteInterp(interp_);
    }
    Tcl_Interp* interp() const { return interp_; }
    ReaderContext* context() const { return context_; }

private:
    Tcl_Interp* interp_ = nullptr;
    ReaderContext* context_ = nullptr;
};

// The sample count of a loaded waveform, which is then released.
size_t CountAndDestroy(WfXWave* wave)
{
    vexahost::WaveHeader header;
    vexahost::ReadWaveHeader(wave, &header);
    vexahost::DestroyWave(wave);
    return header.count;
}

// The 32-member bus of the bus file; null (the benchmark skipped) when the tree has none.
ReaderTreeBus* FindBenchBus(OpenFile& file, benchmark::State& state)
{
    ReaderTreeNode* node = LookUpPath(file.context(), "top/data[31:0]");
    ReaderTreeBus* bus = node != nullptr ? node->GetNodeBus() : nullptr;
    if (bus == nullptr) {
        state.SkipWithError("no bus in the file");
    }
    return bus;
}

void LoadScalar(benchmark::State& state, const std::string& path, const char* signal)
{
    OpenFile file(path, 0);
    int idcode = PathToIdcode(signal, file.context());
    size_t samples = 0;
    for (auto _ : state) {
        WfXWave* wave = nullptr;
        if (LoadScalarWave(idcode, file.interp(), file.context(), signal, &wave) != 0) {
            state.SkipWithError("load failed");
            break;
        }
        samples = CountAndDestroy(wave);
    }
    state.counters["samples"] = double(samples);
}

void BM_NumericSignal(benchmark::State& state)
{
    LoadScalar(state, TheFiles().numeric, "top/v");
}

void BM_LogicSignal(benchmark::State& state)
{
    LoadScalar(state, TheFiles().logic, "top/clk");
}

void BM_Bus32(benchmark::State& state)
{
    OpenFile file(TheFiles().bus, 1);
    ReaderTreeBus* bus = FindBenchBus(file, state);
    if (bus == nullptr) {
        return;
    }
    size_t samples = 0;
    for (auto _ : state) {
        WfXWave* wave = nullptr;
        if (LoadBusWave(bus, file.interp(), file.context(), "top/data", &wave, 0) != 0) {
            state.SkipWithError("load failed");
            break;
        }
        samples = CountAndDestroy(wave);
    }
    state.counters["samples"] = double(samples);
}

void BM_Bus32MembersAsScalars(benchmark::State& state)
{
    OpenFile file(TheFiles().bus, 1);
    ReaderTreeBus* bus = FindBenchBus(file, state);
    if (bus == nullptr) {
        return;
    }
    int ids[kBusWidth];
    bus->GetBusIds(ids);
    for (auto _ : state) {
        for (int id : ids) {
            WfXWave* wave = nullptr;
            if (LoadScalarWave(id, file.interp(), file.context(), "member", &wave) != 0) {
                state.SkipWithError("load failed");
                return;
            }
            vexahost::DestroyWave(wave);
        }
    }
}

BENCHMARK(BM_NumericSignal)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_LogicSignal)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_Bus32)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_Bus32MembersAsScalars)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace

int main(int argc, char** argv)
{
    Tcl_FindExecutable(argv[0]);
    benchmark::Initialize(&argc, argv);
    TheFiles();
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::error_code ignored;
    std::filesystem::remove_all(TheFiles().dir, ignored);
    return 0;
}
