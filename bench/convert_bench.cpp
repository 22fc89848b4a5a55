// convert_bench.cpp: speed and peak memory of fsdbgen --vcd on a generated 15 MB VCD, next to a
// bare tokenizer loop over the same file (the limit) and gtkwave's vcd2fst when it is installed.
// Each contender runs as a child process; times are minima over interleaved rounds, peak memory
// is the child's maximum resident set size.
//   convert_bench [ROUNDS]            run the comparison
//   convert_bench --bare FILE         the bare loop (run by the comparison as a child)
//   convert_bench --write-vcd FILE    only write the generated VCD (to profile with it)
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

constexpr uint64_t kVcdBytes = 15u << 20;

struct Lcg {
    uint64_t state = 12345;
    uint32_t Next()
    {
        state = state * 6364136223846793005ull + 1442695040888963407ull;
        return static_cast<uint32_t>(state >> 33);
    }
};

std::string Code(int n)
{
    std::string code;
    do {
        code += static_cast<char>('!' + n % 94);
        n /= 94;
    } while (n > 0);
    return code;
}

// 64 one-bit signals, 32 bytes, 16 words and 4 reals, changing at random over time steps.
void WriteVcd(const std::string& path)
{
    std::FILE* f = std::fopen(path.c_str(), "wb");
    std::fprintf(f, "$date bench $end\n$timescale 1ps $end\n$scope module top $end\n");
    const int widths[] = {1, 8, 32};
    const int counts[] = {64, 32, 16};
    int n = 0;
    std::vector<int> width;
    for (int k = 0; k < 3; ++k)
        for (int i = 0; i < counts[k]; ++i, ++n) {
            std::fprintf(f, "$var wire %d %s s%d $end\n", widths[k], Code(n).c_str(), n);
            width.push_back(widths[k]);
        }
    const int logic = n;
    for (int i = 0; i < 4; ++i, ++n)
        std::fprintf(f, "$var real 64 %s r%d $end\n", Code(n).c_str(), i);
    std::fprintf(f, "$upscope $end\n$enddefinitions $end\n");
    Lcg rng;
    uint64_t time = 0;
    while (static_cast<uint64_t>(std::ftell(f)) < kVcdBytes) {
        std::fprintf(f, "#%llu\n", static_cast<unsigned long long>(time));
        time += 1 + rng.Next() % 7;
        for (int c = 0; c < 12; ++c) {
            const int s = static_cast<int>(rng.Next() % static_cast<uint32_t>(n));
            if (s >= logic) {
                std::fprintf(f, "r%.6g %s\n", rng.Next() / 1000.0, Code(s).c_str());
            } else if (width[s] == 1) {
                std::fprintf(f, "%c%s\n", "01xz"[rng.Next() % 16 == 0 ? 2 : rng.Next() % 2],
                             Code(s).c_str());
            } else {
                std::string bits = "b";
                const uint32_t v = rng.Next();
                for (int b = width[s] - 1; b >= 0; --b)
                    bits += (v >> (b % 32)) & 1 ? '1' : '0';
                std::fprintf(f, "%s %s\n", bits.c_str(), Code(s).c_str());
            }
        }
    }
    std::fclose(f);
}

// The limit: read the file in blocks and split it into blank-separated tokens.
int BareLoop(const char* path)
{
    std::FILE* f = std::fopen(path, "rb");
    if (!f)
        return 1;
    std::vector<char> buf(1 << 20);
    uint64_t tokens = 0, sum = 0;
    bool inToken = false;
    size_t got;
    while ((got = std::fread(buf.data(), 1, buf.size(), f)) > 0) {
        for (size_t i = 0; i < got; ++i) {
            const unsigned char c = static_cast<unsigned char>(buf[i]);
            const bool space = c == ' ' || c == '\n' || c == '\t' || c == '\r';
            tokens += !space && !inToken;
            sum += space ? 0 : c;
            inToken = !space;
        }
    }
    std::fclose(f);
    std::printf("%llu tokens, sum %llu\n", static_cast<unsigned long long>(tokens),
                static_cast<unsigned long long>(sum));
    return 0;
}

struct Run {
    double seconds = -1;
    double cpu = -1;  // user and system time: steadier than the wall clock on a busy machine
    long peakKb = 0;
};

Run RunChild(const std::vector<std::string>& args)
{
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = fork();
    if (pid == 0) {
        std::freopen("/dev/null", "w", stdout);
        std::vector<char*> argv;
        for (const std::string& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    struct rusage usage = {};
    wait4(pid, &status, 0, &usage);
    Run run;
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0) {
        run.seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        run.peakKb = usage.ru_maxrss;
        run.cpu = usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
                  (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    }
    return run;
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

void Keep(Run* best, const Run& run)
{
    if (run.seconds >= 0 && (best->seconds < 0 || run.seconds < best->seconds))
        best->seconds = run.seconds;
    if (run.cpu >= 0 && (best->cpu < 0 || run.cpu < best->cpu))
        best->cpu = run.cpu;
    best->peakKb = std::max(best->peakKb, run.peakKb);
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc == 3 && std::strcmp(argv[1], "--bare") == 0)
        return BareLoop(argv[2]);
    if (argc == 3 && std::strcmp(argv[1], "--write-vcd") == 0) {
        WriteVcd(argv[2]);
        return 0;
    }
    const int rounds = argc > 1 ? std::atoi(argv[1]) : 3;
    const fs::path dir =
        fs::temp_directory_path() / ("quorvel-convert-" + std::to_string(getpid()));
    fs::create_directories(dir);
    const std::string vcd = (dir / "bench.vcd").string();
    const std::string out = (dir / "bench.fsdb").string();
    WriteVcd(vcd);
    const bool peer = OnPath("vcd2fst");
    Run bare, ours, theirs;
    for (int r = 0; r < rounds; ++r) {
        Keep(&bare, RunChild({argv[0], "--bare", vcd}));
        Keep(&ours, RunChild({FSDBGEN_PATH, "--vcd", vcd, out}));
        if (peer)
            Keep(&theirs, RunChild({"vcd2fst", vcd, (dir / "bench.fst").string()}));
    }
    std::error_code ec;
    const uint64_t outBytes = fs::file_size(out, ec) + fs::file_size(dir / "bench.analog.fsdb", ec);
    std::printf("VCD %.1f MB, FSDB output %.1f MB, %d rounds\n", fs::file_size(vcd) / 1048576.0,
                outBytes / 1048576.0, rounds);
    std::printf("                      wall      cpu   (minima)\n");
    std::printf("bare tokenizer loop  %6.3f s  %6.3f s\n", bare.seconds, bare.cpu);
    std::printf(
        "fsdbgen --vcd        %6.3f s  %6.3f s  %.2fx the bare loop (cpu %.2fx), peak %.1f MB "
        "= %.2fx the output\n",
        ours.seconds, ours.cpu, ours.seconds / bare.seconds, ours.cpu / bare.cpu,
        ours.peakKb / 1024.0, ours.peakKb * 1024.0 / static_cast<double>(outBytes));
    if (peer && theirs.seconds > 0)
        std::printf(
            "vcd2fst              %6.3f s  %6.3f s  fsdbgen takes %.2fx its time (cpu %.2fx), "
            "peak %.1f MB\n",
            theirs.seconds, theirs.cpu, ours.seconds / theirs.seconds, ours.cpu / theirs.cpu,
            theirs.peakKb / 1024.0);
    else
        std::printf("vcd2fst              not installed (Debian package gtkwave): skipped\n");
    fs::remove_all(dir, ec);
    return ours.seconds < 0 ? 1 : 0;
}
