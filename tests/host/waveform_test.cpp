// waveform_test.cpp: the waveform library: kinds, headers, sample ownership, refusals, and the
// chunked store read back in order.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "host_core.h"

namespace {

using vexahost::WaveX;

WfXWave* NewWave(int kind, int width = 1)
{
    return WfX_CreateXTyp(nullptr, kind, "time", "s", "real", 0, "top/sig", "V", width, 0);
}

template <typename T>
T* MallocCopy(const std::vector<T>& values)
{
    T* out = static_cast<T*>(std::malloc(values.size() * sizeof(T) + 1));
    if (!values.empty()) {
        std::memcpy(out, values.data(), values.size() * sizeof(T));
    }
    return out;
}

// Matches the waveform's samples against x and numeric y values.
::testing::AssertionResult HoldsSamples(WfXWave* wave, const std::vector<double>& x,
                                        const std::vector<double>& y)
{
    vexahost::WaveHeader header;
    if (!vexahost::ReadWaveHeader(wave, &header)) {
        return ::testing::AssertionFailure() << "not a live waveform";
    }
    if (header.count != x.size()) {
        return ::testing::AssertionFailure() << "count " << header.count << ", want " << x.size();
    }
    for (std::size_t i = 0; i < x.size(); ++i) {
        if (WaveX(wave, i) != x[i] || vexahost::WaveY(wave, i) != y[i]) {
            return ::testing::AssertionFailure() << "sample " << i << " is (" << WaveX(wave, i)
                                                 << ", " << vexahost::WaveY(wave, i) << ")";
        }
    }
    return ::testing::AssertionSuccess();
}

// Creation: the five kinds, the header kept, bad kinds and names refused.
TEST(HostWaveCreate, KeepsKindNamesUnitsAndWidth)
{
    for (int kind : {1, 2, 22, 23, 25}) {
        WfXWave* wave = NewWave(kind, 8);
        ASSERT_NE(wave, nullptr) << kind;
        vexahost::WaveHeader header;
        ASSERT_TRUE(vexahost::ReadWaveHeader(wave, &header));
        EXPECT_EQ(header.kind, kind);
        EXPECT_EQ(header.xName, "time");
        EXPECT_EQ(header.xUnit, "s");
        EXPECT_EQ(header.dataType, "real");
        EXPECT_EQ(header.name, "top/sig");
        EXPECT_EQ(header.yUnit, "V");
        EXPECT_EQ(header.width, 8);
        EXPECT_FALSE(header.done);
        EXPECT_EQ(header.count, 0u);
        EXPECT_TRUE(vexahost::DestroyWave(wave));
    }
}

TEST(HostWaveCreate, RefusesUnknownKindsAndNullNames)
{
    for (int kind : {0, 3, 21, 24, 26, -1}) {
        EXPECT_EQ(NewWave(kind), nullptr) << kind;
    }
    EXPECT_EQ(WfX_CreateXTyp(nullptr, 1, nullptr, "s", "real", 0, "n", "V", 1, 0), nullptr);
    EXPECT_EQ(WfX_CreateXTyp(nullptr, 1, "t", "s", "real", 0, nullptr, "V", 1, 0), nullptr);
    EXPECT_EQ(WfX_CreateXTyp(nullptr, 1, "t", "s", "real", 0, "n", "V", -1, 0), nullptr);
    WfXWave* wave = WfX_CreateXTyp(nullptr, 1, "t", nullptr, nullptr, 0, "n", nullptr, 1, 0);
    ASSERT_NE(wave, nullptr);
    vexahost::DestroyWave(wave);
}

// Ownership: take = 1 keeps the caller's arrays (freed by the library), take = 0 copies.
TEST(HostWaveSamples, TakeAndCopyBothKeepTheValues)
{
    WfXWave* wave = NewWave(WFX_KIND_DOUBLE);
    std::vector<double> x = {0.0, 1e-9}, y = {1.5, -2.5};
    ASSERT_EQ(WfX_AddValuesSimp(nullptr, wave, MallocCopy(x), MallocCopy(y), 2, 1), 0);
    std::vector<double> x2 = {2e-9}, y2 = {3.0};
    ASSERT_EQ(WfX_AddValuesSimp(nullptr, wave, x2.data(), y2.data(), 1, 0), 0);
    x2[0] = 99;  // the copy is not affected
    y2[0] = 99;
    EXPECT_TRUE(HoldsSamples(wave, {0.0, 1e-9, 2e-9}, {1.5, -2.5, 3.0}));
    EXPECT_EQ(WfX_Done(nullptr, wave), 0);
    vexahost::DestroyWave(wave);
}

TEST(HostWaveSamples, FloatKindStoresFloats)
{
    WfXWave* wave = NewWave(WFX_KIND_FLOAT);
    std::vector<double> x = {1, 2};
    std::vector<float> y = {0.25f, 1.0f / 3};
    ASSERT_EQ(WfX_AddValuesSimp(nullptr, wave, MallocCopy(x), MallocCopy(y), 2, 1), 0);
    EXPECT_TRUE(HoldsSamples(wave, {1, 2}, {0.25, static_cast<double>(1.0f / 3)}));
    vexahost::DestroyWave(wave);
}

TEST(HostWaveSamples, TextsAreAlwaysCopiedAndTheTextArrayStaysTheCallers)
{
    WfXWave* wave = NewWave(WFX_KIND_LOGIC_VEC, 4);
    std::vector<double> x = {0, 1, 2};
    char* texts[3] = {strdup("01XZ"), strdup("1111"), nullptr};
    // take = 1 passes the x array only; the pointer array and its texts stay ours.
    ASSERT_EQ(WfX_AddValuesSimp(nullptr, wave, MallocCopy(x), texts, 3, 1), 0);
    std::strcpy(texts[0], "zzzz");
    std::free(texts[0]);
    std::free(texts[1]);
    EXPECT_STREQ(vexahost::WaveText(wave, 0), "01XZ");
    EXPECT_STREQ(vexahost::WaveText(wave, 1), "1111");
    EXPECT_STREQ(vexahost::WaveText(wave, 2), "");
    EXPECT_EQ(WaveX(wave, 2), 2);
    EXPECT_EQ(vexahost::WaveY(wave, 0), 0);
    EXPECT_EQ(vexahost::WaveText(wave, 3), nullptr);
    vexahost::DestroyWave(wave);
}

// Texts whose length is the waveform's width are kept compactly; the first text of another
// length (a short one, a null one, a longer one) moves them all to the general store. Every
// text reads back whole, before and after, in one call or across several.
TEST(HostWaveSamples, TextsOfTheWidthAndOfOtherLengthsReadBack)
{
    struct Case {
        int width;
        std::vector<std::vector<const char*>> calls;
    };
    const Case cases[] = {
        {1, {{"0", "1", "X"}, {"Z", "U"}}},
        {1, {{"0", "1"}, {"Z", "", "10"}, {"U"}}},
        {1, {{"1", nullptr, "0"}}},
        {4, {{"01XZ", "1111"}, {"0000"}}},
        {4, {{"01XZ"}, {"111", "00000", "ZZZZ"}}},
        {0, {{"", nullptr}, {"1", ""}}},
    };
    for (const Case& c : cases) {
        WfXWave* wave = NewWave(c.width > 1 ? WFX_KIND_LOGIC_VEC : WFX_KIND_LOGIC, c.width);
        std::vector<std::string> expected;
        for (const auto& call : c.calls) {
            std::vector<double> x(call.size(), 0.0);
            std::vector<char*> texts;
            for (const char* text : call) {
                texts.push_back(text != nullptr ? strdup(text) : nullptr);
                expected.push_back(text != nullptr ? text : "");
            }
            ASSERT_EQ(WfX_AddValuesSimp(nullptr, wave, x.data(), texts.data(),
                                        static_cast<unsigned>(texts.size()), 0),
                      0);
            for (char* text : texts) {
                std::free(text);
            }
        }
        std::vector<std::string> stored;
        for (std::size_t i = 0; i < expected.size(); i++) {
            stored.push_back(vexahost::WaveText(wave, i));
        }
        EXPECT_EQ(stored, expected) << "width " << c.width;
        vexahost::DestroyWave(wave);
    }
}

// Refusals: null, unknown and finished waveforms, null arrays; taken arrays are still freed
// (the leak checker of the sanitizer build watches this).
TEST(HostWaveSamples, RefusedAppendsFailAndFreeTakenArrays)
{
    std::vector<double> x = {1}, y = {2};
    EXPECT_EQ(WfX_AddValuesSimp(nullptr, nullptr, x.data(), y.data(), 1, 0), 1);
    EXPECT_EQ(WfX_AddValuesSimp(nullptr, nullptr, MallocCopy(x), y.data(), 1, 1), 1);
    EXPECT_EQ(WfX_Done(nullptr, nullptr), 1);

    WfXWave* wave = NewWave(WFX_KIND_EVENT);
    EXPECT_EQ(WfX_AddValuesSimp(nullptr, wave, nullptr, y.data(), 1, 0), 1);
    EXPECT_EQ(WfX_AddValuesSimp(nullptr, wave, nullptr, nullptr, 0, 0), 0);
    EXPECT_EQ(WfX_Done(nullptr, wave), 0);
    EXPECT_EQ(WfX_Done(nullptr, wave), 0);
    EXPECT_EQ(WfX_AddValuesSimp(nullptr, wave, x.data(), y.data(), 1, 0), 1);
    EXPECT_EQ(WfX_AddValuesSimp(nullptr, wave, MallocCopy(x), MallocCopy(y), 1, 1), 1);
    vexahost::WaveHeader header;
    ASSERT_TRUE(vexahost::ReadWaveHeader(wave, &header));
    EXPECT_TRUE(header.done);
    EXPECT_EQ(header.count, 0u);

    EXPECT_TRUE(vexahost::DestroyWave(wave));
    EXPECT_FALSE(vexahost::IsLiveWave(wave));
    EXPECT_EQ(WfX_AddValuesSimp(nullptr, wave, x.data(), y.data(), 1, 0), 1);
    EXPECT_EQ(WfX_Done(nullptr, wave), 1);
    EXPECT_FALSE(vexahost::DestroyWave(wave));
}

// Many appends of every size, taken and copied, read back in order.
TEST(HostWaveSamples, ManyChunksOfMixedSizesReadBackInOrder)
{
    WfXWave* wave = NewWave(WFX_KIND_DOUBLE);
    std::vector<double> wantX, wantY;
    double t = 0;
    for (int round = 0; round < 3000; ++round) {
        std::size_t n = round % 100 == 0 ? 5000 : round % 7;
        std::vector<double> x(n), y(n);
        for (std::size_t i = 0; i < n; ++i) {
            x[i] = t;
            y[i] = -t;
            t += 1;
        }
        wantX.insert(wantX.end(), x.begin(), x.end());
        wantY.insert(wantY.end(), y.begin(), y.end());
        int rc = round % 2 == 0 ? WfX_AddValuesSimp(nullptr, wave, MallocCopy(x), MallocCopy(y),
                                                    static_cast<unsigned>(n), 1)
                                : WfX_AddValuesSimp(nullptr, wave, x.data(), y.data(),
                                                    static_cast<unsigned>(n), 0);
        ASSERT_EQ(rc, 0);
    }
    EXPECT_TRUE(HoldsSamples(wave, wantX, wantY));
    ASSERT_EQ(WfX_Done(nullptr, wave), 0);
    EXPECT_TRUE(HoldsSamples(wave, wantX, wantY));
    EXPECT_EQ(WaveX(wave, wantX.size()), 0.0);  // out of range reads 0
    vexahost::DestroyWave(wave);
}

}  // namespace
