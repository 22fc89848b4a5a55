// wave_samples.h: host waveforms read back as sample lists, and the check "holds exactly these
// samples": times and numbers compared bit for bit, texts whole.
#ifndef QUORVEL_TEST_WAVE_SAMPLES_H
#define QUORVEL_TEST_WAVE_SAMPLES_H

#include <gtest/gtest.h>
#include <stdio.h>
#include <string.h>

#include <ostream>
#include <string>
#include <vector>

#include "host_core.h"

namespace quorveltest {

// A number as a text that reads back as the same double (17 significant digits), so that
// two numbers render alike exactly when they are the same double.
inline std::string Num(double value)
{
    char text[40];
    snprintf(text, sizeof text, "%.17g", value);
    return text;
}

// One sample of a waveform: its time and its text, or for a numeric kind its number as Num().
struct Sample {
    double x;
    std::string y;
};

inline bool operator==(const Sample& a, const Sample& b)
{
    return memcmp(&a.x, &b.x, sizeof a.x) == 0 && a.y == b.y;
}

inline std::ostream& operator<<(std::ostream& out, const Sample& s)
{
    return out << "(" << Num(s.x) << ", " << s.y << ")";
}

inline std::vector<Sample> Samples(const WfXWave* wave)
{
    std::vector<Sample> samples;
    vexahost::WaveHeader header;
    if (wave == nullptr || !vexahost::ReadWaveHeader(wave, &header)) {
        return samples;
    }
    for (size_t i = 0; i < header.count; i++) {
        const char* text = vexahost::WaveText(wave, i);
        std::string y = text != nullptr ? text : Num(vexahost::WaveY(wave, i));
        samples.push_back({vexahost::WaveX(wave, i), y});
    }
    return samples;
}

// The waveform holds exactly these samples, in this order:
// EXPECT_TRUE(HoldsExactly(wave, {{0, "1"}, {1e-9, Num(0.1)}})).
inline ::testing::AssertionResult HoldsExactly(const WfXWave* wave,
                                               const std::vector<Sample>& expected)
{
    std::vector<Sample> held = Samples(wave);
    if (held == expected) {
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure()
           << "the waveform holds " << ::testing::PrintToString(held) << "\n  expected exactly "
           << ::testing::PrintToString(expected);
}

}  // namespace quorveltest

#endif
