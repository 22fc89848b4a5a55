// convert_bench.cpp: speed and peak memory of fsdbgen --vcd on a generated 15 MB VCD, next to a
// bare converter of the same file (the limit) and gtkwave's vcd2fst when it is installed.
// Each contender runs as a child process; times are minima over interleaved rounds, peak memory
// is the child's maximum resident set size.
//   convert_bench [ROUNDS]            run the comparison
//   convert_bench --bare VCD OUT      the bare converter (run by the comparison as a child)
//   convert_bench --write-vcd FILE    only write the generated VCD (to profile with it)
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <filesystem>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "child_run.h"

namespace {

namespace fs = std::filesystem;
using bench::ChildRun;
using bench::Keep;
using bench::OnPath;
using bench::RunChild;

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

// A wide design: 20000 signals, one- and eight-bit by turns, each changing about 40 times, to
// show what peak memory the number of signals costs (3-character codes).
void WriteWideVcd(const std::string& path)
{
    constexpr int kSignals = 20000;
    std::FILE* f = std::fopen(path.c_str(), "wb");
    std::fprintf(f, "$timescale 1ns $end\n$scope module top $end\n");
    for (int n = 0; n < kSignals; ++n)
        std::fprintf(f, "$var wire %d %s w%d $end\n", n % 2 ? 8 : 1, Code(n).c_str(), n);
    std::fprintf(f, "$upscope $end\n$enddefinitions $end\n");
    Lcg rng;
    for (int step = 0; step < 1600; ++step) {
        std::fprintf(f, "#%d\n", step * 5);
        for (int c = 0; c < 500; ++c) {
            const int n = static_cast<int>(rng.Next() % kSignals);
            if (n % 2 == 0)
                std::fprintf(f, "%c%s\n", "01"[rng.Next() % 2], Code(n).c_str());
            else
                std::fprintf(f, "b%d%d%d%d%d%d%d%d %s\n", rng.Next() % 2, rng.Next() % 2,
                             rng.Next() % 2, rng.Next() % 2, rng.Next() % 2, rng.Next() % 2,
                             rng.Next() % 2, rng.Next() % 2, Code(n).c_str());
        }
    }
    std::fclose(f);
}

// The limit: the least a converter must do. It reads the file in 1 MiB blocks, splits it into
// blank-separated tokens, takes each $var's width and code (short codes index a flat table),
// then for each change appends its time and its value, one byte per bit (or the parsed double),
// to flat per-signal buffers, and writes every signal's times and values to OUT. No checks, no
// truncation handling, no file header: fsdbgen cannot beat this.
class BareConverter {
public:
    int Run(const char* in, const char* out)
    {
        std::FILE* f = std::fopen(in, "rb");
        if (!f)
            return 1;
        std::vector<char> buf(1 << 20);
        size_t kept = 0, got;
        while ((got = std::fread(buf.data() + kept, 1, buf.size() - kept, f)) > 0) {
            const size_t end = kept + got;
            size_t last = end;  // tokens after the last blank may continue in the next block
            while (last > 0 && !Space(buf[last - 1]))
                --last;
            Tokens(buf.data(), last);
            kept = end - last;
            std::memmove(buf.data(), buf.data() + last, kept);
        }
        Tokens(buf.data(), kept);
        std::fclose(f);
        return Write(out);
    }

private:
    // Bytes appended to one flat buffer that doubles, without filling what it adds.
    struct Buffer {
        std::unique_ptr<uint8_t[]> data;
        size_t size = 0, cap = 0;
        uint8_t* Grow(size_t n)
        {
            if (size + n > cap) {
                cap = std::max(2 * cap, size + n + 64);
                std::unique_ptr<uint8_t[]> bigger(new uint8_t[cap]);
                if (size > 0)
                    std::memcpy(bigger.get(), data.get(), size);
                data = std::move(bigger);
            }
            size += n;
            return data.get() + size - n;
        }
    };
    struct Signal {
        uint32_t width = 0;  // 0 for a real
        Buffer tags;
        Buffer values;
    };

    static bool Space(char c)
    {
        const unsigned char u = static_cast<unsigned char>(c);
        return u <= ' ' && ((uint64_t(1) << u) & 0x100002600ull) != 0;  // space, \t, \n, \r
    }
    // One- and two-byte codes index a flat table, and so do three printable ones (designs of up
    // to 839514 signals); longer ones go through a hash map.
    int& Slot(const char* code, size_t size)
    {
        if (size == 3 && Printable(code[0]) && Printable(code[1]) && Printable(code[2]))
            return code3_[(code[0] - '!') + 94 * ((code[1] - '!') + 94 * (code[2] - '!'))];
        if (size > 2)
            return longCode_[std::string(code, size)];
        return code_[static_cast<unsigned char>(code[0]) |
                     (size > 1 ? static_cast<size_t>(static_cast<unsigned char>(code[1])) << 8
                               : 0)];
    }

    static bool Printable(char c) { return c >= '!' && c <= '~'; }

    void Tokens(const char* p, size_t size)
    {
        const char* end = p + size;
        for (;;) {
            while (p < end && Space(*p))
                ++p;
            if (p == end)
                return;
            const char* start = p;
            while (p < end && !Space(*p))
                ++p;
            Token(start, static_cast<size_t>(p - start));
        }
    }

    void Token(const char* t, size_t size)
    {
        if (!dump_)
            return Declaration(std::string(t, size));
        if (pendingValue_) {
            pendingValue_ = false;
            return Change(&signals_[Slot(t, size)], value_.data(), value_.size());
        }
        switch (t[0]) {
        case '#': time_ = std::strtoull(t + 1, nullptr, 10); return;
        case '$': return;
        case 'b':
        case 'r':
            value_.assign(t, size);
            pendingValue_ = true;
            return;
        default: return Change(&signals_[Slot(t + 1, size - 1)], t, 1);
        }
    }

    void Declaration(const std::string& word)
    {
        if (word == "$enddefinitions")
            dump_ = true;
        if (word == "$var")
            words_.clear();
        words_.push_back(word);
        if (word != "$end" || words_[0] != "$var")
            return;
        Signal& s = signals_.emplace_back();
        s.width = words_[1] == "real" ? 0 : static_cast<uint32_t>(std::stoul(words_[2]));
        Slot(words_[3].data(), words_[3].size()) = static_cast<int>(signals_.size() - 1);
        words_.clear();
    }

    void Change(Signal* s, const char* value, size_t size)
    {
        std::memcpy(s->tags.Grow(8), &time_, 8);
        if (s->width == 0) {
            const double v = std::strtod(std::string(value + 1, size - 1).c_str(), nullptr);
            std::memcpy(s->values.Grow(8), &v, 8);
            return;
        }
        if (size > 1) {  // a vector: skip its b, extend it on the left
            ++value;
            --size;
        }
        uint8_t* to = s->values.Grow(s->width);
        uint8_t* out = to + s->width - size;
        for (size_t i = 0; i < size; ++i)
            out[i] = value[i] == '0' ? 0 : value[i] == '1' ? 1 : value[i] == 'z' ? 3 : 2;
        std::memset(to, out[0] <= 1 ? 0 : out[0], s->width - size);
    }

    int Write(const char* path)
    {
        std::FILE* f = std::fopen(path, "wb");
        if (!f)
            return 1;
        std::vector<char> buffer(1 << 20);
        std::setvbuf(f, buffer.data(), _IOFBF, buffer.size());
        for (const Signal& s : signals_) {
            std::fwrite(s.tags.data.get(), 1, s.tags.size, f);
            std::fwrite(s.values.data.get(), 1, s.values.size, f);
        }
        return std::fclose(f) == 0 ? 0 : 1;
    }

    std::deque<Signal> signals_;
    std::vector<int> code_ = std::vector<int>(65536, 0);
    std::vector<int> code3_ = std::vector<int>(94 * 94 * 94, 0);
    std::unordered_map<std::string, int> longCode_;
    std::vector<std::string> words_;
    std::string value_;
    uint64_t time_ = 0;
    bool dump_ = false;
    bool pendingValue_ = false;
};

}  // namespace

int main(int argc, char** argv)
{
    if (argc == 4 && std::strcmp(argv[1], "--bare") == 0)
        return BareConverter().Run(argv[2], argv[3]);
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
    ChildRun bare, ours, theirs;
    for (int r = 0; r < rounds; ++r) {
        Keep(&bare, RunChild({argv[0], "--bare", vcd, (dir / "bare.out").string()}));
        Keep(&ours, RunChild({FSDBGEN_PATH, "--vcd", vcd, out}));
        if (peer)
            Keep(&theirs, RunChild({"vcd2fst", vcd, (dir / "bench.fst").string()}));
    }
    std::error_code ec;
    const uint64_t outBytes = fs::file_size(out, ec) + fs::file_size(dir / "bench.analog.fsdb", ec);
    std::printf("VCD %.1f MB, FSDB output %.1f MB, %d rounds\n", fs::file_size(vcd) / 1048576.0,
                outBytes / 1048576.0, rounds);
    std::printf("                      wall      cpu   (minima)\n");
    std::printf("bare converter       %6.3f s  %6.3f s  peak %.1f MB\n", bare.seconds, bare.cpu,
                bare.peakKb / 1024.0);
    std::printf(
        "fsdbgen --vcd        %6.3f s  %6.3f s  %.2fx the bare converter (cpu %.2fx), peak %.1f MB "
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

    const std::string wide = (dir / "wide.vcd").string();
    WriteWideVcd(wide);
    const ChildRun wideRun = RunChild({FSDBGEN_PATH, "--vcd", wide, out});
    const uint64_t wideBytes = fs::file_size(out, ec);
    std::printf(
        "wide design, 20000 signals: VCD %.1f MB, output %.1f MB, fsdbgen peak %.1f MB = %.2fx "
        "the output\n",
        fs::file_size(wide, ec) / 1048576.0, wideBytes / 1048576.0, wideRun.peakKb / 1024.0,
        wideRun.peakKb * 1024.0 / static_cast<double>(wideBytes));
    fs::remove_all(dir, ec);
    return ours.seconds < 0 ? 1 : 0;
}
