// child_run.cpp: a child process timed by the wall clock and measured by wait4's usage.
#include "child_run.h"

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>

namespace bench {

ChildRun RunChild(const std::vector<std::string>& args, const std::string& output)
{
    std::fflush(stdout);  // else the child's freopen would print what is buffered again
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = fork();
    if (pid == 0) {
        if (!std::freopen(output.c_str(), "w", stdout))
            _exit(126);
        std::vector<char*> argv;
        for (const std::string& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    struct rusage usage = {};
    ChildRun run;
    if (pid < 0 || wait4(pid, &status, 0, &usage) != pid)
        return run;
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0) {
        run.seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        run.peakKb = usage.ru_maxrss;
        run.cpu = usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
                  (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    }
    return run;
}

void Keep(ChildRun* best, const ChildRun& run)
{
    if (run.seconds >= 0 && (best->seconds < 0 || run.seconds < best->seconds))
        best->seconds = run.seconds;
    if (run.cpu >= 0 && (best->cpu < 0 || run.cpu < best->cpu))
        best->cpu = run.cpu;
    best->peakKb = std::max(best->peakKb, run.peakKb);
}

bool OnPath(const char* program)
{
    const char* path = std::getenv("PATH");
    std::string dirs = path ? path : "";
    size_t from = 0;
    while (from <= dirs.size()) {
        const size_t to = std::min(dirs.find(':', from), dirs.size());
        if (access((dirs.substr(from, to - from) + "/" + program).c_str(), X_OK) == 0)
            return true;
        from = to + 1;
    }
    return false;
}

}  // namespace bench
