// tree_bench.cpp: opening large designs and following split chains: open + list of N signals
// (N = 100k and 1M) next to a bare parse by the reader (its tree walk with an empty callback),
// with the time per signal so that linearity shows; and a load-many call over a split chain of
// 4 files x 10k signals for 16 waveforms, next to 16 load-one calls that open every
// continuation file once per waveform; and a load of 400k changes whose count the file does
// not tell next to the same with the count. Times are processor seconds of this process.
// Run: build/bin/quorvel_tree_bench [--quick].
#include <stdlib.h>
#include <tcl.h>
#include <time.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "context/context.h"
#include "host_core.h"
#include "load/handlers.h"
#include "nffr_writer.h"
#include "query/queries.h"

namespace {

// Processor time of this process: on a machine shared with other work, wall time says more
// about the others than about us.
struct Clock {
    using time_point = double;
    static double now()
    {
        timespec t{};
        clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
        return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
    }
};

double SecondsSince(double start)
{
    return Clock::now() - start;
}

// N analog signals in scopes of 1000, each with one change at tag first.
bool WriteDesign(const std::string& path, int signals, uint64_t first)
{
    nffr::FileWriter writer;
    writer.SetEndTag(first + 100);
    for (int s = 0; s < signals; s += 1000) {
        writer.BeginScope("block" + std::to_string(s / 1000));
        for (int i = s; i < s + 1000 && i < signals; i++) {
            int id = writer.AddVar("sig" + std::to_string(i), 'v', 64, 3, i + 1);
            writer.AddReal(id, first + uint64_t(i % 50), i * 0.5);
        }
        writer.EndScope();
    }
    std::string error;
    if (!writer.Write(path, &error)) {
        std::fprintf(stderr, "cannot write %s: %s\n", path.c_str(), error.c_str());
        return false;
    }
    return true;
}

bool CountVar(uint32_t, void* count, void*)
{
    ++*static_cast<long*>(count);
    return true;
}

// The reader alone: open and walk the tree with a callback that only counts.
double BareParse(const std::string& path)
{
    long events = 0;
    Clock::time_point start = Clock::now();
    ffrObject* reader = ffrObject::ffrOpen2(path.c_str(), CountVar, &events, 0);
    if (reader == nullptr) {
        return -1;
    }
    reader->ReadSignalTree();
    reader->Close();
    return SecondsSince(start);
}

Tcl_Interp* NewHost(int catSplit)
{
    Tcl_Interp* interp = Tcl_CreateInterp();
    Tcl_Eval(interp, "proc pf:info {what path} { return {} }");
    Tcl_SetVar2(interp, "Scope", "fsdb,cat_split", catSplit ? "1" : "0", TCL_GLOBAL_ONLY);
    return interp;
}

// The plug-in: open the file (tree built), list every signal's path, close.
double OpenAndList(const std::string& path, size_t* listed, double* openSeconds)
{
    Tcl_Interp* interp = NewHost(0);
    Clock::time_point start = Clock::now();
    ReaderContext* context = nullptr;
    if (Quorvel_Open(interp, path.c_str(), &context) != 0) {
        Tcl_DeleteInterp(interp);
        return -1;
    }
    *openSeconds = SecondsSince(start);
    QueryResult result;
    Tcl_DStringInit(&result.text);
    Quorvel_FileInfo(interp, context, "-waveforms", &result);
    *listed = size_t(Tcl_DStringLength(&result.text));
    Tcl_DStringFree(&result.text);
    Quorvel_Close(interp, context);
    double seconds = SecondsSince(start);
    Tcl_DeleteInterp(interp);
    return seconds;
}

void TreeRows(const std::string& dir, bool quick)
{
    std::printf("%-26s %9s %9s %11s %11s %13s\n", "case", "signals", "seconds", "ns/signal",
                "open ns/sig", "bare parse ns");
    for (int n : {100000, 1000000}) {
        if (quick && n > 100000) {
            break;
        }
        std::string path = dir + "/design" + std::to_string(n) + ".fsdb";
        if (!WriteDesign(path, n, 0)) {
            std::exit(1);
        }
        double bare = BareParse(path);
        size_t bytes = 0;
        double open = 0;
        double seconds = OpenAndList(path, &bytes, &open);
        std::printf("%-26s %9d %9.3f %11.1f %11.1f %13.1f\n", "open + list (-waveforms)", n,
                    seconds, seconds * 1e9 / n, open * 1e9 / n, bare * 1e9 / n);
        std::filesystem::remove(path);
    }
}

double LoadChain(const std::string& base, const std::string& paths, bool many)
{
    Tcl_Interp* interp = NewHost(1);
    ReaderContext* context = nullptr;
    if (Quorvel_Open(interp, base.c_str(), &context) != 0) {
        std::exit(1);
    }
    std::vector<WfXWave*> slots(16, nullptr);
    Clock::time_point start = Clock::now();
    if (many) {
        Quorvel_LoadWaves(interp, context, paths.c_str(), "", slots.data());
    } else {
        int count = 0;
        const char** words = nullptr;
        Tcl_SplitList(nullptr, paths.c_str(), &count, &words);
        for (int i = 0; i < count && i < 16; i++) {
            std::string path = words[i];
            Quorvel_LoadWave(interp, context, &path[0], &slots[size_t(i)]);
        }
        Tcl_Free(reinterpret_cast<char*>(words));
    }
    double seconds = SecondsSince(start);
    size_t samples = 0;
    for (WfXWave* wave : slots) {
        vexahost::WaveHeader header;
        if (vexahost::ReadWaveHeader(wave, &header)) {
            samples += header.count;
        }
        vexahost::DestroyWave(wave);
    }
    if (samples != 16 * 4) {
        std::fprintf(stderr, "split chain: %zu samples instead of 64\n", samples);
    }
    Quorvel_Close(interp, context);
    Tcl_DeleteInterp(interp);
    return seconds;
}

void SplitRows(const std::string& dir)
{
    std::string base = dir + "/run.fsdb";
    for (int file = 0; file < 4; file++) {
        std::string path = file == 0 ? base : dir + "/run_" + std::to_string(file) + ".fsdb";
        if (!WriteDesign(path, 10000, 1000u * file)) {
            std::exit(1);
        }
    }
    std::string paths;
    for (int i = 0; i < 16; i++) {
        int signal = i * 600 + 7;
        paths += "block" + std::to_string(signal / 1000) + "/sig" + std::to_string(signal) + " ";
    }
    double many = LoadChain(base, paths, true);
    double one = LoadChain(base, paths, false);
    std::printf("%-26s %9s %9.3f   (4 files x 10k signals, 16 waveforms; goal < 0.100)\n",
                "split chain, load-many", "10000", many);
    std::printf("%-26s %9s %9.3f   (each waveform opens every continuation file)\n",
                "split chain, 16 load-one", "10000", one);
}

// A signal whose file does not tell its change count (the reader reports 0): the arrays grow as
// the changes come, doubling, so 400k changes cost about as much as with a known count.
void UnknownCountRows(const std::string& dir)
{
    for (bool unknown : {false, true}) {
        nffr::FileWriter writer;
        writer.BeginScope("top");
        int id = writer.AddVar("v", 'v', 64, 3, 1);
        for (int i = 0; i < 400000; i++) {
            writer.AddReal(id, uint64_t(i), i * 0.5);
        }
        if (unknown) {
            writer.SetCountUnknown(id);
        }
        writer.EndScope();
        std::string path = dir + "/count.fsdb";
        std::string error;
        if (!writer.Write(path, &error)) {
            std::exit(1);
        }
        Tcl_Interp* interp = NewHost(0);
        ReaderContext* context = nullptr;
        if (Quorvel_Open(interp, path.c_str(), &context) != 0) {
            std::exit(1);
        }
        char name[] = "top/v";
        WfXWave* wave = nullptr;
        double start = Clock::now();
        Quorvel_LoadWave(interp, context, name, &wave);
        double seconds = SecondsSince(start);
        vexahost::DestroyWave(wave);
        Quorvel_Close(interp, context);
        Tcl_DeleteInterp(interp);
        std::printf("%-26s %9d %9.3f\n", unknown ? "load, count unknown" : "load, count known",
                    400000, seconds);
    }
}

}  // namespace

int main(int argc, char** argv)
{
    bool quick = argc > 1 && std::strcmp(argv[1], "--quick") == 0;
    Tcl_FindExecutable(argv[0]);
    std::string pattern = (std::filesystem::temp_directory_path() / "quorvel-tree-XXXXXX").string();
    char* made = mkdtemp(pattern.data());
    if (made == nullptr) {
        return 1;
    }
    std::string dir = made;
    TreeRows(dir, quick);
    SplitRows(dir);
    UnknownCountRows(dir);
    std::error_code ignored;
    std::filesystem::remove_all(dir, ignored);
    return 0;
}
