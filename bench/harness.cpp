// harness.cpp: interleaved timing rounds, the table of ratios, and the heap counter that
// replaces the process's malloc family with counting wrappers around glibc's own.
#include "harness.h"

#include <malloc.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>

extern "C" {
void* __libc_malloc(size_t size);
void* __libc_calloc(size_t count, size_t size);
void* __libc_realloc(void* block, size_t size);
void __libc_free(void* block);
}

namespace {

long long inUse = 0;
long long peak = 0;

void Count(void* block, long long sign)
{
    if (block != nullptr) {
        inUse += sign * static_cast<long long>(malloc_usable_size(block));
        if (inUse > peak) {
            peak = inUse;
        }
    }
}

}  // namespace

extern "C" {
void* malloc(size_t size)
{
    void* block = __libc_malloc(size);
    Count(block, 1);
    return block;
}
void* calloc(size_t count, size_t size)
{
    void* block = __libc_calloc(count, size);
    Count(block, 1);
    return block;
}
void* realloc(void* block, size_t size)
{
    Count(block, -1);
    void* moved = __libc_realloc(block, size);
    Count(moved != nullptr ? moved : (size == 0 ? nullptr : block), 1);
    return moved;
}
void free(void* block)
{
    Count(block, -1);
    __libc_free(block);
}
}

namespace bench {

long long HeapInUse()
{
    return inUse;
}
long long HeapPeak()
{
    return peak;
}
void ResetHeapPeak()
{
    peak = inUse;
}

namespace {

void Time(Contender& contender)
{
    if (!contender.run || contender.failed) {
        return;
    }
    auto start = std::chrono::steady_clock::now();
    bool ok = contender.run();
    double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (!ok) {
        contender.failed = true;
        return;
    }
    if (contender.best == 0 || seconds < contender.best) {
        contender.best = seconds;
    }
}

std::string Millis(const Contender& c)
{
    if (!c.run) {
        return "-";
    }
    if (c.failed) {
        return "failed";
    }
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", c.best * 1e3);
    return text;
}

std::string Ratio(const Contender& a, const Contender& b)
{
    if (!a.run || !b.run || a.failed || b.failed || b.best == 0) {
        return "-";
    }
    char text[32];
    std::snprintf(text, sizeof text, "%.2fx", a.best / b.best);
    return text;
}

}  // namespace

void RunRounds(std::vector<TimedCase>& cases, int rounds)
{
    for (int round = 0; round < rounds; round++) {
        for (TimedCase& c : cases) {
            Time(c.quorvel);
            Time(c.bare);
            Time(c.peer);
        }
        std::fprintf(stderr, "round %d of %d done\n", round + 1, rounds);
    }
}

void PrintTable(const std::vector<TimedCase>& cases, const std::vector<FigureRow>& figures)
{
    std::printf(
        "| Case | Quorvel ms | bare ms | FST ms | Quorvel / bare | Quorvel / FST | Goal |\n");
    std::printf("|---|---:|---:|---:|---:|---:|---|\n");
    for (const TimedCase& c : cases) {
        std::printf("| %s | %s | %s | %s | %s | %s | %s |\n", c.name.c_str(),
                    Millis(c.quorvel).c_str(), Millis(c.bare).c_str(), Millis(c.peer).c_str(),
                    Ratio(c.quorvel, c.bare).c_str(), Ratio(c.quorvel, c.peer).c_str(),
                    c.goal.c_str());
    }
    if (!figures.empty()) {
        std::printf("\n| Figure | Value | Goal |\n|---|---|---|\n");
        for (const FigureRow& f : figures) {
            std::printf("| %s | %s | %s |\n", f.name.c_str(), f.figure.c_str(), f.goal.c_str());
        }
    }
}

}  // namespace bench
