// design_load.cpp: loading every signal of a file into the host and the memory it takes; a
// generated design of 1- to 64-bit signals to load.
#include "design_load.h"

#include <malloc.h>
#include <tcl.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <vector>

#include "context/context.h"
#include "context/paths.h"
#include "host_core.h"
#include "load/handlers.h"
#include "nffr.h"
#include "nffr_writer.h"
#include "query/queries.h"

namespace bench {
namespace {

constexpr std::size_t kPathsPerCall = 1000;

// Every leaf path the plug-in lists, split into one-bit signals and the others.
bool ListPaths(Tcl_Interp* interp, ReaderContext* context, std::vector<std::string>* oneBit,
               std::vector<std::string>* others)
{
    QueryResult result;
    Tcl_DStringInit(&result.text);
    bool ok = Quorvel_FileInfo(interp, context, "-waveforms", &result) == 0;
    int count = 0;
    const char** words = nullptr;
    ok = ok && Tcl_SplitList(nullptr, Tcl_DStringValue(&result.text), &count, &words) == TCL_OK;
    ffrObject* reader = LiveReader(context);
    for (int i = 0; ok && i < count; ++i) {
        ffrVarInfo* info = nullptr;
        int idcode = PathToIdcode(words[i], context);
        if (reader != nullptr && idcode != -1) {
            reader->GetVarInfo(idcode, &info);
        }
        (info != nullptr && info->bitSize == 1 ? oneBit : others)->push_back(words[i]);
    }
    if (words != nullptr) {
        Tcl_Free(reinterpret_cast<char*>(words));
    }
    Tcl_DStringFree(&result.text);
    return ok;
}

// Loads paths kPathsPerCall at a time; adds the waveforms made to waves and their samples.
void LoadAll(Tcl_Interp* interp, ReaderContext* context, const std::vector<std::string>& paths,
             std::vector<WfXWave*>* waves, std::size_t* samples)
{
    for (std::size_t start = 0; start < paths.size(); start += kPathsPerCall) {
        std::size_t end = std::min(paths.size(), start + kPathsPerCall);
        Tcl_Obj* list = Tcl_NewListObj(0, nullptr);
        Tcl_IncrRefCount(list);
        for (std::size_t i = start; i < end; ++i) {
            Tcl_ListObjAppendElement(nullptr, list, Tcl_NewStringObj(paths[i].c_str(), -1));
        }
        std::vector<WfXWave*> out(end - start, nullptr);
        Quorvel_LoadWaves(interp, context, Tcl_GetString(list), "", out.data());
        Tcl_DecrRefCount(list);
        for (WfXWave* wave : out) {
            vexahost::WaveHeader header;
            if (vexahost::ReadWaveHeader(wave, &header)) {
                waves->push_back(wave);
                *samples += header.count;
            }
        }
    }
}

// Processor time of this process: on a shared machine wall time says more about the others.
double ProcessSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

double PerSample(long long bytes, std::size_t samples)
{
    return samples > 0 ? double(bytes) / double(samples) : 0.0;
}

}  // namespace

long long ResidentBytes()
{
    long long pages = 0, resident = 0;
    std::ifstream statm("/proc/self/statm");
    statm >> pages >> resident;
    return resident * sysconf(_SC_PAGESIZE);
}

namespace {

// One open of the file, the one-bit paths loaded, then the others: resident sizes with the
// file open before, between and after the loads, and after closing it (the reader's memory
// given back, the waveforms held).
struct Phase {
    long long open = 0, oneBit = 0, loaded = 0, closed = 0;
};

bool LoadPhase(const std::string& path, const std::vector<std::string>& oneBit,
               const std::vector<std::string>& others, DesignLoad* load,
               std::vector<WfXWave*>* waves, Phase* phase)
{
    Tcl_Interp* interp = Tcl_CreateInterp();
    Tcl_Eval(interp, "proc pf:info {what path} { return {} }");
    ReaderContext* context = nullptr;
    bool opened = Quorvel_Open(interp, path.c_str(), &context) == 0;
    if (opened) {
        malloc_trim(0);
        phase->open = ResidentBytes();
        double start = ProcessSeconds();
        load->oneBitSamples = 0;
        LoadAll(interp, context, oneBit, waves, &load->oneBitSamples);
        load->oneBitSignals = waves->size();
        phase->oneBit = ResidentBytes();
        load->samples = load->oneBitSamples;
        LoadAll(interp, context, others, waves, &load->samples);
        load->seconds = ProcessSeconds() - start;
        phase->loaded = ResidentBytes();
        Quorvel_Close(interp, context);
    }
    Tcl_DeleteInterp(interp);
    malloc_trim(0);
    phase->closed = ResidentBytes();
    load->signals = waves->size();
    return opened;
}

void DestroyAll(std::vector<WfXWave*>* waves)
{
    for (WfXWave* wave : *waves) {
        vexahost::DestroyWave(wave);
    }
    waves->clear();
    malloc_trim(0);
}

}  // namespace

DesignLoad LoadWholeDesign(const std::string& path)
{
    DesignLoad load;
    std::vector<std::string> oneBit, others;
    {
        Tcl_Interp* interp = Tcl_CreateInterp();
        Tcl_Eval(interp, "proc pf:info {what path} { return {} }");
        ReaderContext* context = nullptr;
        if (Quorvel_Open(interp, path.c_str(), &context) != 0 ||
            !ListPaths(interp, context, &oneBit, &others)) {
            load.error = "cannot open and list " + path;
        }
        Quorvel_Close(interp, context);
        Tcl_DeleteInterp(interp);
    }
    std::vector<WfXWave*> waves;
    Phase idle, all, oneBitAlone;
    // A first open warms what every open costs; the second loads everything; the third the
    // one-bit signals alone, for their share of the held waveforms.
    bool ok = load.error.empty() && LoadPhase(path, {}, {}, &load, &waves, &idle) &&
              LoadPhase(path, oneBit, others, &load, &waves, &all);
    DesignLoad whole = load;
    DestroyAll(&waves);
    ok = ok && LoadPhase(path, oneBit, {}, &load, &waves, &oneBitAlone);
    DestroyAll(&waves);
    load = whole;
    load.rssIdle = idle.closed;
    load.rssBefore = all.open;
    load.rssOneBit = all.oneBit;
    load.rssLoaded = all.loaded;
    load.rssClosed = all.closed;
    load.rssOneBitHeld = oneBitAlone.closed - oneBitAlone.open + idle.closed;
    load.ok = ok && load.signals == oneBit.size() + others.size();
    if (load.error.empty() && !load.ok) {
        load.error =
            std::to_string(oneBit.size() + others.size() - load.signals) + " signals did not load";
    }
    return load;
}

void PrintDesignLoad(const DesignLoad& load)
{
    if (!load.error.empty()) {
        std::printf("whole-design load failed: %s\n", load.error.c_str());
    }
    std::size_t vectorSamples = load.samples - load.oneBitSamples;
    std::printf(
        "whole-design load: %zu signals (%zu one-bit), %zu samples (%zu one-bit), "
        "%.2f processor s\n",
        load.signals, load.oneBitSignals, load.samples, load.oneBitSamples, load.seconds);
    std::printf(
        "  bytes per sample, growth during the loads (file open):  all %6.2f   one-bit "
        "%6.2f   vectors %6.2f\n",
        PerSample(load.rssLoaded - load.rssBefore, load.samples),
        PerSample(load.rssOneBit - load.rssBefore, load.oneBitSamples),
        PerSample(load.rssLoaded - load.rssOneBit, vectorSamples));
    std::printf("  bytes per sample, whole process after them (file open): all %6.2f\n",
                PerSample(load.rssLoaded, load.samples));
    std::printf(
        "  bytes per sample, the waveforms alone (file closed):    all %6.2f   one-bit "
        "%6.2f   vectors %6.2f   whole process %.2f\n",
        PerSample(load.rssClosed - load.rssIdle, load.samples),
        PerSample(load.rssOneBitHeld - load.rssIdle, load.oneBitSamples),
        PerSample(load.rssClosed - load.rssOneBitHeld, vectorSamples),
        PerSample(load.rssClosed, load.samples));
    std::printf(
        "  resident MiB: idle %.1f, file open %.1f, one-bit loaded %.1f, all loaded %.1f, "
        "closed %.1f\n",
        load.rssIdle / 1048576.0, load.rssBefore / 1048576.0, load.rssOneBit / 1048576.0,
        load.rssLoaded / 1048576.0, load.rssClosed / 1048576.0);
}

bool WriteMixedDesign(const std::string& path, int signals, int changes, std::string* error)
{
    nffr::FileWriter writer;
    writer.SetFileType(0);
    writer.SetTimeUnit("1ps");
    std::vector<uint8_t> bytes;
    for (int s = 0; s < signals; ++s) {
        if (s % 100 == 0) {
            if (s > 0) {
                writer.EndScope();
            }
            writer.BeginScope("block" + std::to_string(s / 100));
        }
        uint32_t bits = s % 2 == 0 ? 1 : 2 + uint32_t(s / 2 * 13) % 63;
        int id = writer.AddVar("s" + std::to_string(s), 0, bits);
        uint32_t state = 0x9E3779B9u * uint32_t(s + 1);
        for (int i = 0; i < changes; ++i) {
            bytes.assign(bits, 2);  // X
            for (uint32_t b = 0; i > 0 && b < bits; ++b) {
                state ^= state << 13;
                state ^= state >> 17;
                state ^= state << 5;
                bytes[b] = uint8_t(state & 1u);
            }
            if (bits == 1 && i > 0) {
                bytes[0] = uint8_t(i & 1);  // a clock-like toggle
            }
            writer.AddChange(id, uint64_t(i) * 1000 + uint64_t(s % 7), bytes);
        }
    }
    if (signals > 0) {
        writer.EndScope();
    }
    return writer.Write(path, error);
}

}  // namespace bench
