// design_load.h: the whole-design load, as a user loads every signal of a file into the host:
// the process's memory before and after, per sample, one-bit signals apart. Reusable by any
// benchmark that has an FSDB file (store_bench.cpp is its command).
#ifndef QUORVEL_BENCH_DESIGN_LOAD_H
#define QUORVEL_BENCH_DESIGN_LOAD_H

#include <cstddef>
#include <string>

namespace bench {

// Resident set sizes in bytes, in one open of the file: its one-bit signals loaded first, then
// the others; the one-bit waveforms' share of the held ones from a second open loading them alone.
struct DesignLoad {
    bool ok = false;
    std::string error;
    std::size_t signals = 0;  // waveforms loaded
    std::size_t samples = 0;
    std::size_t oneBitSignals = 0;
    std::size_t oneBitSamples = 0;
    double seconds = 0;           // the loads alone, processor time
    long long rssIdle = 0;        // the file opened and closed, nothing loaded
    long long rssBefore = 0;      // the file open, nothing loaded
    long long rssOneBit = 0;      // the one-bit signals loaded
    long long rssLoaded = 0;      // every signal loaded, the file open
    long long rssClosed = 0;      // the file closed (the reader's memory freed), waveforms held
    long long rssOneBitHeld = 0;  // idle plus what the one-bit waveforms alone hold
};

// Opens path through the plug-in and loads every waveform it lists with the load-many handler
// (1000 paths a call); frees everything it made.
DesignLoad LoadWholeDesign(const std::string& path);
// One line per figure: bytes per sample by growth and by whole size.
void PrintDesignLoad(const DesignLoad& load);

// A design of `signals` logic signals in scopes of 100, every other one one bit wide and the
// others of 2 to 64 bits, each with `changes` changes; every signal starts all X as simulators
// begin. False with a message on failure.
bool WriteMixedDesign(const std::string& path, int signals, int changes, std::string* error);

// The process's resident set size in bytes.
long long ResidentBytes();

}  // namespace bench

#endif
