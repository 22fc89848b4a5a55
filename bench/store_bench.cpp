// store_bench.cpp: the host's memory for a whole design loaded through the plug-in, in bytes per
// sample (one-bit signals apart), for a generated design of 1- to 64-bit signals or a given file.
//   store_bench [--signals N] [--changes M]   generated design (default 4000 x 2500)
//   store_bench FILE.fsdb                     every signal of FILE
#include <sys/wait.h>
#include <tcl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "design_load.h"

namespace {

// Writes the design in a child process, so that the writer's memory never counts in ours.
bool WriteInChild(const std::string& path, int signals, int changes)
{
    pid_t child = fork();
    if (child == 0) {
        std::string error;
        bool ok = bench::WriteMixedDesign(path, signals, changes, &error);
        if (!ok) {
            std::fprintf(stderr, "%s\n", error.c_str());
        }
        _exit(ok ? 0 : 1);
    }
    int status = 0;
    return child > 0 && waitpid(child, &status, 0) == child && WIFEXITED(status) &&
           WEXITSTATUS(status) == 0;
}

}  // namespace

int main(int argc, char** argv)
{
    Tcl_FindExecutable(argv[0]);
    int signals = 4000, changes = 2500;
    std::string file;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--signals") == 0 && i + 1 < argc) {
            signals = std::atoi(argv[++i]);
        } else if (std::strcmp(argv[i], "--changes") == 0 && i + 1 < argc) {
            changes = std::atoi(argv[++i]);
        } else if (argv[i][0] != '-' && file.empty()) {
            file = argv[i];
        } else {
            std::fprintf(stderr, "usage: %s [--signals N] [--changes M] | FILE.fsdb\n", argv[0]);
            return 2;
        }
    }
    std::string dir;
    if (file.empty()) {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "quorvel-store-XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr) {
            std::perror("mkdtemp");
            return 1;
        }
        dir = pattern;
        file = dir + "/design.fsdb";
        std::printf(
            "design: %d signals of 1 to 64 bits (every other one one-bit), %d changes "
            "each\n",
            signals, changes);
        if (!WriteInChild(file, signals, changes)) {
            return 1;
        }
    }
    bench::DesignLoad load = bench::LoadWholeDesign(file);
    bench::PrintDesignLoad(load);
    if (!dir.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(dir, ignored);
    }
    return load.ok ? 0 : 1;
}
