// load_support.h: the fixture of the loading tests: files written with our writer into a
// temporary folder, contexts opened as the host opens them, and waveforms kept until the end.
#ifndef QUORVEL_TESTS_LOAD_SUPPORT_H
#define QUORVEL_TESTS_LOAD_SUPPORT_H

#include <gtest/gtest.h>
#include <stdlib.h>
#include <tcl.h>

#include <string>
#include <vector>

#include "context/context.h"
#include "context/paths.h"
#include "host_core.h"
#include "host_interp.h"
#include "load/handlers.h"
#include "load/loaders.h"
#include "nffr_testhooks.h"
#include "nffr_writer.h"
#include "posix_shims.h"
#include "temp_dir.h"
#include "wave_samples.h"

namespace loadtest {

using nffr::testhooks::Op;

using quorveltest::HoldsExactly;
using quorveltest::Num;
using quorveltest::Sample;
using quorveltest::Samples;

inline vexahost::WaveHeader Header(const WfXWave* wave)
{
    vexahost::WaveHeader header;
    EXPECT_TRUE(vexahost::ReadWaveHeader(wave, &header));
    return header;
}

// Tags in nanoseconds as the x values of a file whose unit is 1ns.
inline double Ns(double tag)
{
    return tag * 1e-9;
}

// Every test starts with the reader's hooks cleared and its contract violations counted, and
// has a folder of its own and an interpreter standing in for the host's; at the end it closes
// its contexts and destroys its waveforms.
class LoadTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        nffr::testhooks::SetViolationHandler(&LoadTest::CountViolation);
        nffr::testhooks::Reset();
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
    }

    static void CountViolation(const char*) {}

    std::string File(const std::string& name) const { return dir_.File(name); }
    std::string Write(const nffr::FileWriter& writer, const std::string& name)
    {
        std::string path = File(name);
        std::string error;
        EXPECT_TRUE(writer.Write(path, &error)) << error;
        return path;
    }
    std::string Eval(const std::string& script) { return host_.Eval(script); }
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

    quorveltest::HostInterp host_;
    Tcl_Interp* interp_ = host_.get();
    quorveltest::TempDir dir_{"load"};
    std::vector<ReaderContext*> contexts_;
    std::vector<WfXWave*> waves_;
};

}  // namespace loadtest

#endif
