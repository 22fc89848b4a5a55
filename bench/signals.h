// signals.h: the signals of the benchmark's files, described once so that our writer and the
// peer's writer store exactly the same changes.
#ifndef QUORVEL_BENCH_SIGNALS_H
#define QUORVEL_BENCH_SIGNALS_H

#include <cstdint>
#include <string>
#include <vector>

namespace bench {

// One signal: change i lies at tag i * tagStep. A real signal (bits 0) has the value i * 0.25;
// bit b of a logic signal is 0 or 1 by Bit().
struct SignalPlan {
    std::string name;
    uint32_t bits = 0;
    uint32_t changes = 0;
    uint32_t tagStep = 10;
    uint32_t period = 1;  // logic: the value pattern moves on every period changes
};

inline char Bit(const SignalPlan& s, uint32_t i, uint32_t b)
{
    uint32_t step = i / s.period;
    return ((step + b * 7 + (step >> (b % 5))) & 1u) ? '1' : '0';
}

inline double RealValue(uint32_t i)
{
    return i * 0.25;
}

// The signals of one file, all in scope "top", unit 1ns.
using FilePlan = std::vector<SignalPlan>;

}  // namespace bench

#endif
