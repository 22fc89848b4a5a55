// scale_bench.cpp: a whole simulator dump at real size: fsdbgen --vcd next to gtkwave's vcd2fst
// and the bare converter of convert_bench (interleaved rounds, minima), the files' sizes, and
// the converted design opened and loaded whole in the host (the vexa shell running
// scale/load.tcl). Prints one Markdown table. bench/scale/run.sh makes the VCD and runs this.
//   scale_bench VCD [--rounds N] [--dir DIR] [--no-bare] [--no-load]
#include <unistd.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "child_run.h"

namespace {

namespace fs = std::filesystem;
using bench::ChildRun;

struct Options {
    std::string vcd;
    std::string dir;
    int rounds = 3;
    bool bare = true;
    bool load = true;
};

bool Parse(int argc, char** argv, Options* o)
{
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const bool more = i + 1 < argc;
        if (a == "--rounds" && more)
            o->rounds = std::max(1, std::atoi(argv[++i]));
        else if (a == "--dir" && more)
            o->dir = argv[++i];
        else if (a == "--no-bare")
            o->bare = false;
        else if (a == "--no-load")
            o->load = false;
        else if (a[0] != '-' && o->vcd.empty())
            o->vcd = a;
        else
            return false;
    }
    return !o->vcd.empty();
}

// The declarations of a VCD: the $var count and the distinct codes (the signals).
struct Header {
    long vars = 0;
    long signals = 0;
};

Header ReadHeader(const std::string& path)
{
    std::ifstream in(path);
    Header h;
    std::set<std::string> codes;
    std::string word;
    while (in >> word && word != "$enddefinitions") {
        if (word != "$var")
            continue;
        std::string type, width, code;
        in >> type >> width >> code;
        ++h.vars;
        codes.insert(code);
    }
    h.signals = static_cast<long>(codes.size());
    return h;
}

// "key value" lines of the host script.
std::map<std::string, double> ReadFigures(const std::string& path)
{
    std::map<std::string, double> figures;
    std::ifstream in(path);
    std::string key;
    double value;
    while (in >> key >> value)
        figures[key] = value;
    return figures;
}

uint64_t SizeOf(const fs::path& path)
{
    std::error_code ec;
    const uint64_t size = fs::file_size(path, ec);
    return ec ? 0 : size;
}

std::string Text(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string Text(const char* format, ...)
{
    char buffer[256];
    va_list args;
    va_start(args, format);
    std::vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    return buffer;
}

std::string Time(const ChildRun& r)
{
    return r.seconds < 0 ? "failed" : Text("%.2f s (cpu %.2f s)", r.seconds, r.cpu);
}
std::string Ratio(double a, double b)
{
    return a > 0 && b > 0 ? Text("%.2fx", a / b) : "-";
}
std::string Ratios(const ChildRun& a, const ChildRun& b)
{
    return Ratio(a.seconds, b.seconds) + " (cpu " + Ratio(a.cpu, b.cpu) + ")";
}
std::string MiB(long kb)
{
    return Text("%.0f MiB", kb / 1024.0);
}
std::string MB(uint64_t bytes)
{
    return Text("%.1f MB", bytes / 1e6);
}

void Row(const std::string& name, const std::string& value)
{
    std::printf("| %s | %s |\n", name.c_str(), value.c_str());
}

}  // namespace

int main(int argc, char** argv)
{
    Options o;
    if (!Parse(argc, argv, &o)) {
        std::fprintf(stderr, "usage: %s VCD [--rounds N] [--dir DIR] [--no-bare] [--no-load]\n",
                     argv[0]);
        return 2;
    }
    const fs::path dir =
        o.dir.empty() ? fs::temp_directory_path() / ("quorvel-scale-" + std::to_string(getpid()))
                      : fs::path(o.dir);
    fs::create_directories(dir);
    const uint64_t vcdBytes = SizeOf(o.vcd);
    if (vcdBytes == 0) {
        std::fprintf(stderr, "scale_bench: no VCD \"%s\"\n", o.vcd.c_str());
        return 1;
    }
    const Header header = ReadHeader(o.vcd);
    const std::string ours = (dir / "scale.fsdb").string();
    const fs::path companion = dir / "scale.analog.fsdb";
    const std::string fst = (dir / "scale.fst").string();
    const std::string bareOut = (dir / "bare.out").string();
    const bool peer = bench::OnPath("vcd2fst");
    const bool bare = o.bare && access(CONVERT_BENCH_PATH, X_OK) == 0;

    ChildRun bareRun, ourRun, peerRun;
    for (int r = 0; r < o.rounds; ++r) {
        std::fprintf(stderr, "scale_bench: round %d of %d\n", r + 1, o.rounds);
        if (bare) {
            bench::Keep(&bareRun, bench::RunChild({CONVERT_BENCH_PATH, "--bare", o.vcd, bareOut}));
            fs::remove(bareOut);
        }
        bench::Keep(&ourRun, bench::RunChild({FSDBGEN_PATH, "--vcd", o.vcd, ours}));
        if (peer)
            bench::Keep(&peerRun, bench::RunChild({"vcd2fst", o.vcd, fst}));
    }
    const uint64_t ourBytes = SizeOf(ours) + SizeOf(companion);
    const uint64_t fstBytes = peer ? SizeOf(fst) : 0;

    std::map<std::string, double> open, whole;
    ChildRun wholeRun;
    const bool load = o.load && ourRun.seconds >= 0 && access(VEXA_PATH, X_OK) == 0;
    if (load) {
        std::fprintf(stderr, "scale_bench: loading in the host\n");
        const std::string out = (dir / "load.txt").string();
        bench::RunChild({VEXA_PATH, LOAD_SCRIPT, ours, "open"}, out);
        open = ReadFigures(out);
        wholeRun = bench::RunChild({VEXA_PATH, LOAD_SCRIPT, ours, "whole"}, out);
        whole = ReadFigures(out);
    }

    std::printf("\nScale benchmark: %s, %ld $vars, %ld signals; %s\n\n", o.vcd.c_str(), header.vars,
                header.signals,
                o.rounds == 1 ? "one round" : Text("minima of %d rounds", o.rounds).c_str());
    std::printf("| | %.0f MB VCD |\n|---|---|\n", vcdBytes / 1e6);
    Row("`fsdbgen --vcd` time", Time(ourRun));
    Row("`vcd2fst` time", peer ? Time(peerRun) : "not installed (Debian package gtkwave): skipped");
    Row("bare converter time", bare ? Time(bareRun) : "skipped");
    Row("`fsdbgen --vcd` time / `vcd2fst` time", peer ? Ratios(ourRun, peerRun) : "-");
    Row("`fsdbgen --vcd` time / bare converter time", bare ? Ratios(ourRun, bareRun) : "-");
    Row("`fsdbgen` peak RSS", MiB(ourRun.peakKb));
    Row("`vcd2fst` peak RSS", peer ? MiB(peerRun.peakKb) : "-");
    Row("bare converter peak RSS", bare ? MiB(bareRun.peakKb) : "-");
    Row("our file (main + companion)", MB(ourBytes));
    Row("FST file", peer ? MB(fstBytes) : "-");
    Row("our file / FST", peer ? Ratio(ourBytes, fstBytes) : "-");
    Row("our file / the VCD", Ratio(ourBytes, vcdBytes));
    if (!load) {
        Row("load in the host", o.load ? "skipped (no vexa or no converted file)" : "skipped");
    } else if (whole.count("failed") == 0 || open.count("open_seconds") == 0) {
        Row("load in the host", "failed (see " + (dir / "load.txt").string() + ")");
    } else {
        const double samples = whole["all_samples"], ones = whole["onebit_samples"];
        Row(Text("open the design (%ld $vars)", header.vars),
            Text("%.1f ms", open["open_seconds"] * 1e3));
        Row(Text("single-signal load (mean of %.0f)", open["single_signals"]),
            Text("%.3f ms (%.0f samples a signal)",
                 open["single_seconds"] * 1e3 / open["single_signals"],
                 open["single_samples"] / open["single_signals"]));
        Row("whole design: signals loaded, samples",
            Text("%.0f, %.0f (%.0f failed)", whole["all_signals"], samples, whole["failed"]));
        Row("whole design: load time", Text("%.2f s", whole["all_seconds"]));
        Row("whole design: bytes per sample, process growth / whole RSS",
            Text("%.1f / %.1f", whole["all_growth"] / samples, whole["all_rss"] / samples));
        Row("host peak RSS", MiB(wholeRun.peakKb));
        Row("one-bit signals: signals, samples, load time",
            Text("%.0f, %.0f, %.2f s", whole["onebit_signals"], ones, whole["onebit_seconds"]));
        Row("one-bit signals: bytes per sample, process growth",
            Text("%.1f", whole["onebit_growth"] / ones));
    }
    fs::remove(ours);
    fs::remove(companion);
    fs::remove(fst);
    const bool loadFailed = load && (whole.count("failed") == 0 || whole["failed"] > 0);
    if (loadFailed)
        return 1;  // load.txt kept: what the host script printed
    fs::remove(dir / "load.txt");
    if (o.dir.empty())
        fs::remove_all(dir);
    return ourRun.seconds < 0 ? 1 : 0;
}
