// load_bench.cpp: how fast Quorvel loads large signals, next to a bare loop over the same file
// (the limit: it reads the change records of the mapped file and writes the host's final
// arrays) and next to the FST library reading the same signals into the same arrays; and the
// peak heap of a logic load against the bytes handed to the host. One run prints one table.
//   quorvel_bench [--quick] [--rounds N] [--only TEXT] [--quorvel-only]
// --only keeps the cases whose name holds TEXT; --quorvel-only times Quorvel alone (profiling).
#include <fcntl.h>
#include <stdlib.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <tcl.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "context/context.h"
#include "context/paths.h"
#include "fst_peer.h"
#include "harness.h"
#include "host_core.h"
#include "load/handlers.h"
#include "load/loaders.h"
#include "nffr_layout.h"
#include "nffr_writer.h"
#include "signals.h"

namespace {

using bench::FilePlan;
using bench::SignalPlan;

std::string tempDir;

bool WriteFsdb(const std::string& path, const FilePlan& plan, int layout)
{
    nffr::FileWriter writer;
    writer.SetLayout(layout);
    // Reals need file type 1; logic values of several bits need type 0 (one byte per bit).
    writer.SetFileType(!plan.empty() && plan[0].bits == 0 ? 1 : 0);
    writer.SetTimeUnit("1ns");
    writer.BeginScope("top");
    std::vector<uint8_t> bytes;
    for (const SignalPlan& s : plan) {
        int id = writer.AddVar(s.name, s.bits == 0 ? 'v' : 0, s.bits == 0 ? 64 : s.bits);
        for (uint32_t i = 0; i < s.changes; i++) {
            if (s.bits == 0) {
                writer.AddReal(id, uint64_t(i) * s.tagStep, bench::RealValue(i));
                continue;
            }
            bytes.resize(s.bits);
            for (uint32_t b = 0; b < s.bits; b++) {
                bytes[b] = bench::Bit(s, i, b) == '1' ? 1 : 0;
            }
            writer.AddChange(id, uint64_t(i) * s.tagStep, bytes);
        }
    }
    writer.EndScope();
    std::string error;
    if (!writer.Write(path, &error)) {
        std::fprintf(stderr, "cannot write %s: %s\n", path.c_str(), error.c_str());
        return false;
    }
    return true;
}

// An interpreter standing in for the host, and one open file.
class OpenFile {
public:
    explicit OpenFile(const std::string& path)
    {
        interp_ = Tcl_CreateInterp();
        Tcl_Eval(interp_, "proc pf:info {what path} { return {} }");
        Tcl_SetVar2(interp_, "Scope", "fsdb,show_bus", "1", TCL_GLOBAL_ONLY);
        if (Quorvel_Open(interp_, path.c_str(), &context_) != 0) {
            context_ = nullptr;
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

// The file mapped read-only, as the bare loop reads it.
class MappedFile {
public:
    explicit MappedFile(const std::string& path)
    {
        int fd = open(path.c_str(), O_RDONLY);
        struct stat st;
        if (fd >= 0 && fstat(fd, &st) == 0) {
            size_ = size_t(st.st_size);
            void* at = mmap(nullptr, size_, PROT_READ, MAP_PRIVATE, fd, 0);
            bytes_ = at == MAP_FAILED ? nullptr : static_cast<const unsigned char*>(at);
        }
        if (fd >= 0) {
            close(fd);
        }
    }
    ~MappedFile()
    {
        if (bytes_ != nullptr) {
            munmap(const_cast<unsigned char*>(bytes_), size_);
        }
    }
    template <typename T>
    T At(uint64_t offset) const
    {
        T value;
        std::memcpy(&value, bytes_ + offset, sizeof value);
        return value;
    }
    const unsigned char* bytes() const { return bytes_; }

private:
    const unsigned char* bytes_ = nullptr;
    size_t size_ = 0;
};

// The change records of variable-table entry k: count tags, then count values of valueSize.
struct Block {
    const unsigned char* tags;
    const unsigned char* values;
    uint32_t count;
    uint32_t valueSize;
};

Block BlockOf(const MappedFile& file, uint32_t k)
{
    namespace L = nffr::layout;
    uint64_t entry = file.At<uint64_t>(L::kOffVarTableOffset) + uint64_t(k) * L::kVarEntrySize;
    Block block;
    block.count = file.At<uint32_t>(entry + L::kVarOffChangeCount);
    block.valueSize = file.At<uint32_t>(entry + L::kVarOffValueSize);
    block.tags = file.bytes() + file.At<uint64_t>(entry + L::kVarOffBlockOffset);
    block.values = block.tags + uint64_t(block.count) * 8;
    return block;
}

uint64_t TagAt(const Block& b, uint32_t i)
{
    uint64_t tag;
    std::memcpy(&tag, b.tags + uint64_t(i) * 8, 8);
    return tag;
}

// Bare loop, one signal: x in seconds and y as the host finally keeps it (doubles, one byte
// for one bit, or the text and its NUL).
bool BareSignal(const std::string& path, uint32_t k, uint32_t bits)
{
    MappedFile file(path);
    Block b = BlockOf(file, k);
    size_t stride = bits == 0 ? sizeof(double) : (bits == 1 ? 1 : bits + 1);
    double* x = static_cast<double*>(malloc(b.count * sizeof(double)));
    unsigned char* y = static_cast<unsigned char*>(malloc(b.count * stride));
    for (uint32_t i = 0; i < b.count; i++) {
        x[i] = double(TagAt(b, i)) * 1e-9;
        const unsigned char* value = b.values + uint64_t(i) * b.valueSize;
        unsigned char* at = y + size_t(i) * stride;
        if (bits == 0) {
            std::memcpy(at, value, sizeof(double));
            continue;
        }
        for (uint32_t j = 0; j < bits; j++) {
            at[j] = "01XZ"[value[j] & 3];
        }
        if (bits > 1) {
            at[bits] = 0;
        }
    }
    bool ok = b.count > 0 && x[b.count - 1] >= 0;
    free(x);
    free(y);
    return ok;
}

// Bare loop, a bus of one-bit members: one row per distinct change time, members walked
// forward together.
bool BareBus(const std::string& path, uint32_t width)
{
    MappedFile file(path);
    std::vector<Block> members;
    std::vector<uint32_t> next(width, 0);
    size_t total = 0;
    std::string row(width, '0');
    for (uint32_t m = 0; m < width; m++) {
        members.push_back(BlockOf(file, m));
        total += members[m].count;
        row[m] = "01XZ"[members[m].values[0] & 3];
    }
    double* x = static_cast<double*>(malloc(total * sizeof(double)));
    char* y = static_cast<char*>(malloc(total * (width + 1)));
    size_t points = 0;
    for (;;) {
        uint64_t now = UINT64_MAX;
        for (uint32_t m = 0; m < width; m++) {
            if (next[m] < members[m].count && TagAt(members[m], next[m]) < now) {
                now = TagAt(members[m], next[m]);
            }
        }
        if (now == UINT64_MAX) {
            break;
        }
        for (uint32_t m = 0; m < width; m++) {
            const Block& b = members[m];
            while (next[m] < b.count && TagAt(b, next[m]) == now) {
                row[m] = "01XZ"[b.values[next[m]] & 3];
                next[m]++;
            }
        }
        x[points] = double(now) * 1e-9;
        std::memcpy(y + points * (width + 1), row.c_str(), width + 1);
        points++;
    }
    free(x);
    free(y);
    return points == members[0].count;
}

// Loads one signal through the plug-in's loader and lets the host drop it.
bool QuorvelSignal(OpenFile& file, const char* path)
{
    int idcode = PathToIdcode(path, file.context());
    WfXWave* wave = nullptr;
    int result = LoadScalarWave(idcode, file.interp(), file.context(), path, &wave);
    vexahost::DestroyWave(wave);
    return result == 0;
}

bool QuorvelBus(OpenFile& file, const char* path)
{
    ReaderTreeNode* node = LookUpPath(file.context(), path);
    ReaderTreeBus* bus = node != nullptr ? node->GetNodeBus() : nullptr;
    WfXWave* wave = nullptr;
    int result =
        bus != nullptr ? LoadBusWave(bus, file.interp(), file.context(), "bus", &wave, 0) : 1;
    vexahost::DestroyWave(wave);
    return result == 0;
}

struct Sizes {
    uint32_t scalarChanges;
    uint32_t vectorChanges;
    uint32_t busPoints;
};

// Quorvel loads fsdb (layout 2, compressed, as our writers write by default); the bare loop
// reads the change records of bare (layout 1, stored as they are).
struct Prepared {
    std::string fsdb;
    std::string fst;
    FilePlan plan;
    std::string bare;
};

Prepared Prepare(const std::string& name, const FilePlan& plan)
{
    std::string file = tempDir + "/" + name.substr(0, name.find(','));
    for (char& c : file) {
        c = c == ' ' ? '-' : c;
    }
    Prepared p{file + ".fsdb", file + ".fst", plan, file + ".layout1.fsdb"};
    if (!WriteFsdb(p.fsdb, plan, 2) || !WriteFsdb(p.bare, plan, 1)) {
        std::exit(1);
    }
    if (bench::FstAvailable() && !bench::WriteFst(p.fst, plan)) {
        std::fprintf(stderr, "cannot write %s\n", p.fst.c_str());
        std::exit(1);
    }
    return p;
}

std::vector<std::unique_ptr<OpenFile>> openFiles;

OpenFile& Opened(const std::string& path)
{
    openFiles.push_back(std::make_unique<OpenFile>(path));
    if (openFiles.back()->context() == nullptr) {
        std::fprintf(stderr, "cannot open %s\n", path.c_str());
        std::exit(1);
    }
    return *openFiles.back();
}

// The one signal top/s written in both formats; the FSDB file opened.
Prepared PrepareSignal(const std::string& name, uint32_t bits, uint32_t changes, OpenFile** file)
{
    SignalPlan s;
    s.name = "s";
    s.bits = bits;
    s.changes = changes;
    Prepared p = Prepare(name, {s});
    *file = &Opened(p.fsdb);
    return p;
}

bench::TimedCase SignalCase(const std::string& name, const std::string& goal, uint32_t bits,
                            uint32_t changes)
{
    OpenFile* opened = nullptr;
    Prepared p = PrepareSignal(name, bits, changes, &opened);
    OpenFile& file = *opened;
    bench::TimedCase c;
    c.name = name;
    c.goal = goal;
    c.quorvel.run = [&file] { return QuorvelSignal(file, "top/s"); };
    c.bare.run = [p, bits] { return BareSignal(p.bare, 0, bits); };
    if (bench::FstAvailable()) {
        c.peer.run = [p] { return bench::ReadFstSignal(p.fst, p.plan, 0); };
    }
    return c;
}

bench::TimedCase BusCase(uint32_t width, uint32_t points)
{
    FilePlan plan;
    for (uint32_t m = 0; m < width; m++) {
        SignalPlan s;
        s.name = "data[" + std::to_string(width - 1 - m) + "]";
        s.bits = 1;
        s.changes = points;
        s.period = m + 1;
        plan.push_back(s);
    }
    Prepared p = Prepare("bus", plan);
    OpenFile& file = Opened(p.fsdb);
    bench::TimedCase c;
    c.name = "bus of " + std::to_string(width) + " one-bit members, " + std::to_string(points) +
             " points";
    c.goal = "within 2.5x of bare, faster than FST";
    std::string path = "top/data[" + std::to_string(width - 1) + ":0]";
    c.quorvel.run = [&file, path] { return QuorvelBus(file, path.c_str()); };
    c.bare.run = [p, width] { return BareBus(p.bare, width); };
    if (bench::FstAvailable()) {
        c.peer.run = [p] { return bench::ReadFstBus(p.fst, p.plan); };
    }
    return c;
}

// Peak heap while loading a logic signal, against what the loader hands to the host: the x
// array, the y array of text pointers and the texts with their NULs.
bench::FigureRow MemoryRow(uint32_t bits, uint32_t changes)
{
    OpenFile* opened = nullptr;
    PrepareSignal("memory-" + std::to_string(bits), bits, changes, &opened);
    OpenFile& file = *opened;
    int idcode = PathToIdcode("top/s", file.context());
    long long before = bench::HeapInUse();
    bench::ResetHeapPeak();
    WfXWave* wave = nullptr;
    int result = LoadScalarWave(idcode, file.interp(), file.context(), "top/s", &wave);
    long long peak = bench::HeapPeak() - before;
    long long kept = bench::HeapInUse() - before;
    vexahost::WaveHeader header;
    vexahost::ReadWaveHeader(wave, &header);
    long long handed = 0;
    for (size_t i = 0; i < header.count; i++) {
        handed +=
            (long long)(sizeof(double) + sizeof(char*) + strlen(vexahost::WaveText(wave, i)) + 1);
    }
    vexahost::DestroyWave(wave);
    char text[200];
    std::snprintf(text, sizeof text, "%.2fx (peak %.1f MB, handed %.1f MB, host keeps %.1f MB)%s",
                  handed > 0 ? double(peak) / double(handed) : 0.0, peak / 1e6, handed / 1e6,
                  kept / 1e6, result == 0 ? "" : " load failed");
    return {"peak heap of a " + std::to_string(bits) + "-bit logic load, " +
                std::to_string(changes) + " changes / bytes handed to the host",
            text, "at most 3x"};
}

}  // namespace

int main(int argc, char** argv)
{
    Tcl_FindExecutable(argv[0]);
    bool quick = false;
    int rounds = 0;
    std::string only;
    bool quorvelOnly = false;
    for (int i = 1; i < argc; i++) {
        if (std::strcmp(argv[i], "--quick") == 0) {
            quick = true;
        } else if (std::strcmp(argv[i], "--only") == 0 && i + 1 < argc) {
            only = argv[++i];
        } else if (std::strcmp(argv[i], "--quorvel-only") == 0) {
            quorvelOnly = true;
        } else if (std::strcmp(argv[i], "--rounds") == 0 && i + 1 < argc) {
            rounds = std::atoi(argv[++i]);
        } else {
            std::fprintf(stderr,
                         "usage: %s [--quick] [--rounds N] [--only TEXT] [--quorvel-only]\n",
                         argv[0]);
            return 2;
        }
    }
    Sizes sizes = quick ? Sizes{200'000, 100'000, 20'000} : Sizes{2'000'000, 1'000'000, 200'000};
    rounds = rounds > 0 ? rounds : (quick ? 3 : 5);
    std::string pattern =
        (std::filesystem::temp_directory_path() / "quorvel-bench-XXXXXX").string();
    char* dir = mkdtemp(pattern.data());
    if (dir == nullptr) {
        std::perror("mkdtemp");
        return 1;
    }
    tempDir = dir;
    if (!bench::FstAvailable()) {
        std::fprintf(stderr, "FST library not built in (install verilator): FST columns skipped\n");
    }
    std::vector<bench::TimedCase> cases;
    std::string n = std::to_string(sizes.scalarChanges);
    std::string v = std::to_string(sizes.vectorChanges);
    cases.push_back(SignalCase("double signal, " + n + " changes", "within 1.5x of bare", 0,
                               sizes.scalarChanges));
    cases.push_back(SignalCase("1-bit logic, " + n + " changes",
                               "within 6x of bare, faster than FST", 1, sizes.scalarChanges));
    for (uint32_t bits : {8u, 32u, 64u}) {
        cases.push_back(SignalCase(std::to_string(bits) + "-bit logic, " + v + " changes",
                                   "within 4x of bare", bits, sizes.vectorChanges));
    }
    cases.push_back(BusCase(32, sizes.busPoints));
    std::vector<bench::FigureRow> figures;
    figures.push_back(MemoryRow(1, sizes.scalarChanges));
    figures.push_back(MemoryRow(32, sizes.vectorChanges));
    std::vector<bench::TimedCase> chosen;
    for (bench::TimedCase& c : cases) {
        if (quorvelOnly) {
            c.bare.run = nullptr;
            c.peer.run = nullptr;
        }
        if (c.name.find(only) != std::string::npos) {
            chosen.push_back(c);
        }
    }
    cases = chosen;
    bench::RunRounds(cases, rounds);
    std::printf("Times are minima over %d interleaved rounds.\n\n", rounds);
    bench::PrintTable(cases, figures);
    openFiles.clear();
    std::error_code ignored;
    std::filesystem::remove_all(tempDir, ignored);
    return 0;
}
