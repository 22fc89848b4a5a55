// plot_bench.cpp: drawing a waveform of 10 million changes: finding its time grid (once per
// waveform), and decimating it to 1000 pixel columns, for a logic and a real waveform held by
// the host's waveform library, as `vexa plot` and a viewer draw them; and walking it whole as
// `vexa diff`, `find` and `stats` do.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <vector>

#include "host_core.h"
#include "tcl/condition.h"
#include "tcl/wave_view.h"

namespace {

constexpr unsigned kChanges = 10'000'000;
constexpr int kColumns = 1000;

// A waveform of kChanges samples at 1ns ticks: logic texts alternating 0/1, or a real ramp.
// The host takes the x array (and a numeric y array); texts are copied.
WfXWave* MakeWave(bool logic)
{
    WfXWave* wave = WfX_CreateXTyp(nullptr, logic ? WFX_KIND_LOGIC : WFX_KIND_DOUBLE, "t", "s",
                                   "real", 0, logic ? "clk" : "v", "-", 1, 0);
    auto* x = static_cast<double*>(std::malloc(kChanges * sizeof(double)));
    std::vector<const char*> texts;
    double* y = logic ? nullptr : static_cast<double*>(std::malloc(kChanges * sizeof(double)));
    for (unsigned i = 0; i < kChanges; ++i) {
        x[i] = static_cast<double>(i) * (1.0 / 1e9);
        if (logic) {
            texts.push_back(i % 2 ? "1" : "0");
        } else {
            y[i] = static_cast<double>(i % 1000) * 0.001;
        }
    }
    WfX_AddValuesSimp(nullptr, wave, x, logic ? static_cast<void*>(texts.data()) : y, kChanges, 1);
    WfX_Done(nullptr, wave);
    return wave;
}

vexahost::WaveHeader Header(const WfXWave* wave)
{
    vexahost::WaveHeader header;
    vexahost::ReadWaveHeader(wave, &header);
    return header;
}

void BM_InferGrid(benchmark::State& state)
{
    static WfXWave* wave = MakeWave(true);
    vexa::draw::SampleView view = vexa::ViewOfWave(wave, Header(wave));
    for (auto _ : state) {
        bool exact = false;
        benchmark::DoNotOptimize(vexa::draw::InferGrid(view, &exact));
    }
}
BENCHMARK(BM_InferGrid)->Unit(benchmark::kMillisecond);

void BM_LogicColumns(benchmark::State& state)
{
    static WfXWave* wave = MakeWave(true);
    vexa::draw::SampleView view = vexa::ViewOfWave(wave, Header(wave));
    for (auto _ : state) {
        auto runs =
            vexa::draw::LogicRuns(view, 0, kChanges * 1e-9, kColumns, vexa::draw::Radix::kBin);
        benchmark::DoNotOptimize(runs.data());
    }
}
BENCHMARK(BM_LogicColumns)->Unit(benchmark::kMillisecond);

void BM_RealColumns(benchmark::State& state)
{
    static WfXWave* wave = MakeWave(false);
    vexa::draw::SampleView view = vexa::ViewOfWave(wave, Header(wave));
    for (auto _ : state) {
        auto trace = vexa::draw::RealTrace(view, 0, kChanges * 1e-9, kColumns);
        benchmark::DoNotOptimize(trace.xy.data());
    }
}
BENCHMARK(BM_RealColumns)->Unit(benchmark::kMillisecond);

// The clock against itself: no difference, every sample of both read.
void BM_Differences(benchmark::State& state)
{
    static WfXWave* wave = MakeWave(true);
    vexa::draw::SampleView view = vexa::ViewOfWave(wave, Header(wave));
    for (auto _ : state) {
        auto found = vexa::analysis::CompareLevels(view, view, view.grid, {}, 0);
        benchmark::DoNotOptimize(found.count);
    }
}
BENCHMARK(BM_Differences)->Unit(benchmark::kMillisecond);

void BM_Statistics(benchmark::State& state)
{
    static WfXWave* wave = MakeWave(true);
    vexa::draw::SampleView view = vexa::ViewOfWave(wave, Header(wave));
    for (auto _ : state) {
        auto s = vexa::analysis::Measure(view, false, view.grid, 0, kChanges);
        benchmark::DoNotOptimize(s.rises);
    }
}
BENCHMARK(BM_Statistics)->Unit(benchmark::kMillisecond);

// rise(clk) && !clk2, the clock twice: 5 million instants of an edge, none true.
void BM_Condition(benchmark::State& state)
{
    static WfXWave* wave = MakeWave(true);
    vexa::draw::SampleView view = vexa::ViewOfWave(wave, Header(wave));
    vexa::condition::Expression expression;
    vexa::condition::Error error;
    expression.Parse("rise(clk) && !clk2", &error);
    for (std::size_t r = 0; r < 2; ++r) {
        expression.Bind(r, vexa::condition::Signal{&view, vexa::condition::Kind::kLogic, 1, "", 0},
                        false, &error);
    }
    for (auto _ : state) {
        std::size_t count = 0;
        expression.Matches(view.grid, {}, false, [&count](vexa::analysis::Ticks) {
            ++count;
            return true;
        });
        benchmark::DoNotOptimize(count);
    }
}
BENCHMARK(BM_Condition)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
