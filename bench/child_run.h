// child_run.h: runs a program as a child process and measures it (wall time, CPU time, peak
// resident set size); shared by the benchmarks that time whole programs.
#ifndef QUORVEL_BENCH_CHILD_RUN_H
#define QUORVEL_BENCH_CHILD_RUN_H

#include <string>
#include <vector>

namespace bench {

// One run of a child, or the best of several (Keep). seconds < 0: it failed.
struct ChildRun {
    double seconds = -1;
    double cpu = -1;  // user and system time: steadier than the wall clock on a busy machine
    long peakKb = 0;  // the child's maximum resident set size
};

// Runs ARGS[0] (searched on the PATH) with ARGS, its standard output sent to OUTPUT. A run that
// does not exit with status 0 has seconds and cpu -1.
ChildRun RunChild(const std::vector<std::string>& args, const std::string& output = "/dev/null");

// Keeps the fastest wall and CPU times and the largest peak.
void Keep(ChildRun* best, const ChildRun& run);

// True when PROGRAM is an executable file in a folder of the PATH.
bool OnPath(const char* program);

}  // namespace bench

#endif
