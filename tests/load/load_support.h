// load_support.h: fixtures of the loading tests: files written with our writer into a temporary
// folder, an interpreter standing in for the host, and waveforms read back as sample lists.
#ifndef QUORVEL_TESTS_LOAD_SUPPORT_H
#define QUORVEL_TESTS_LOAD_SUPPORT_H

#include <gtest/gtest.h>
#include <stdlib.h>
#include <tcl.h>

#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

#include "context/context.h"
#include "host_core.h"
#include "load/handlers.h"
#include "load/loaders.h"
#include "nffr_testhooks.h"
#include "nffr_writer.h"
#include "posix_shims.h"

namespace loadtest {

using nffr::testhooks::Op;

// One sample read back from a host waveform; texts for text kinds, numbers otherwise.
struct Sample {
    double x;
    std::string y;
    bool operator==(const Sample& other) const { return x == other.x && y == other.y; }
};

inline std::ostream& operator<<(std::ostream& out, const Sample& s)
{
    return out << "(" << s.x << ", " << s.y << ")";
}

inline std::vector<Sample> Samples(const WfXWave* wave)
{
    std::vector<Sample> samples;
    vexahost::WaveHeader header;
    if (!vexahost::ReadWaveHeader(wave, &header)) {
        return samples;
    }
    for (size_t i = 0; i < header.count; i++) {
        const char* text = vexahost::WaveText(wave, i);
        std::string y = text != nullptr ? text : std::to_string(vexahost::WaveY(wave, i));
        samples.push_back({vexahost::WaveX(wave, i), y});
    }
    return samples;
}

inline vexahost::WaveHeader Header(const WfXWave* wave)
{
    vexahost::WaveHeader header;
    EXPECT_TRUE(vexahost::ReadWaveHeader(wave, &header));
    return header;
}

// A number as Samples() renders the y of a numeric waveform.
inline std::string Num(double value)
{
    return std::to_string(value);
}

// Tags in nanoseconds as the x values of a file whose unit is 1ns.
inline double Ns(double tag)
{
    return tag * 1e-9;
}

// Every test starts with the reader's hooks cleared and its contract violations counted; at
// the end it closes its contexts, destroys its waveforms and removes its folder.
class LoadTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        nffr::testhooks::SetViolationHandler(&LoadTest::CountViolation);
        nffr::testhooks::Reset();
        Tcl_FindExecutable(nullptr);
        interp_ = Tcl_CreateInterp();
        // The host's command for its open files: it answers the handles listed in ::held.
        Eval("set ::held {}; proc pf:info {what path} { return $::held }");
        const char* base = getenv("QUORVEL_TEST_TMP");
        std::filesystem::path root =
            base != nullptr ? base : std::filesystem::temp_directory_path();
        std::filesystem::create_directories(root);
        std::string pattern = (root / "load-XXXXXX").string();
        char* made = mkdtemp(pattern.data());
        dir_ = made != nullptr ? made : "";
    }
    void TearDown() override
    {
        for (ReaderContext* context : contexts_) {
            Quorvel_Close(interp_, context);
        }
        for (WfXWave* wave : waves_) {
            vexahost::DestroyWave(wave);
        }
        EXPECT_EQ(nffr::testhooks::ViolationCount(), 0) << nffr::testhooks::LastViolation();
        nffr::testhooks::Reset();
        nffr::testhooks::SetViolationHandler(nullptr);
        Tcl_DeleteInterp(interp_);
        std::error_code ignored;
        std::filesystem::remove_all(dir_, ignored);
    }

    static void CountViolation(const char*) {}

    std::string File(const std::string& name) const
    {
        return (std::filesystem::path(dir_) / name).string();
    }
    std::string Write(const nffr::FileWriter& writer, const std::string& name)
    {
        std::string path = File(name);
        std::string error;
        EXPECT_TRUE(writer.Write(path, &error)) << error;
        return path;
    }
    std::string Eval(const std::string& script)
    {
        int code = Tcl_Eval(interp_, script.c_str());
        EXPECT_EQ(code, TCL_OK) << script << ": " << Tcl_GetStringResult(interp_);
        return Tcl_GetStringResult(interp_);
    }
    // Opens a file as the host does, with the split and bus settings given.
    ReaderContext* Open(const std::string& path, int catSplit = 0, int showBus = 0)
    {
        Eval("global Scope; set Scope(fsdb,cat_split) " + std::to_string(catSplit) +
             "; set Scope(fsdb,show_bus) " + std::to_string(showBus));
        ReaderContext* context = nullptr;
        EXPECT_EQ(Quorvel_Open(interp_, path.c_str(), &context), 0) << path;
        if (context != nullptr) {
            contexts_.push_back(context);
        }
        return context;
    }
    // Keeps a waveform to be destroyed at the end of the test.
    WfXWave* Keep(WfXWave* wave)
    {
        if (wave != nullptr) {
            waves_.push_back(wave);
        }
        return wave;
    }
    WfXWave* NewWave(int kind, int width)
    {
        return Keep(WfX_CreateXTyp(interp_, kind, "t", "s", "real", 0, "given", "-", width, 0));
    }
    int Calls(Op op) const { return nffr::testhooks::CallCount(op); }
    void ResetCounts() { nffr::testhooks::Reset(); }

    Tcl_Interp* interp_ = nullptr;
    std::string dir_;
    std::vector<ReaderContext*> contexts_;
    std::vector<WfXWave*> waves_;
};

}  // namespace loadtest

#endif
