// harness.h: the benchmark's frame: cases timed side by side against a bare loop and a peer
// library in interleaved rounds, the minima compared as ratios and printed as one table, and
// the heap's peak as this program sees it (every malloc of the process is counted).
#ifndef QUORVEL_BENCH_HARNESS_H
#define QUORVEL_BENCH_HARNESS_H

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

namespace bench {

// One way of doing a case's work; run returns false when it failed (the row then says so).
struct Contender {
    std::function<bool()> run;
    double best = 0;  // seconds, the minimum over the rounds; 0 until it ran
    bool failed = false;
};

// A row of the table: Quorvel against the bare loop (the limit) and against the peer library.
// A contender without a run function is shown as "-" (e.g. no peer for this case).
struct TimedCase {
    std::string name;
    std::string goal;
    Contender quorvel;
    Contender bare;
    Contender peer;
};

// A row that is not a timing, e.g. a memory figure; printed below the timings.
struct FigureRow {
    std::string name;
    std::string figure;
    std::string goal;
};

// Runs every contender of every case once per round, case after case, so that a slow phase of
// the machine hits all of them alike; keeps each one's fastest run.
void RunRounds(std::vector<TimedCase>& cases, int rounds);
void PrintTable(const std::vector<TimedCase>& cases, const std::vector<FigureRow>& figures);

// Heap bytes in use now, and the most in use since the last ResetHeapPeak.
long long HeapInUse();
long long HeapPeak();
void ResetHeapPeak();

}  // namespace bench

#endif
