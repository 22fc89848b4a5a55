// init_test.cpp: Quorvel_Init registers the "FSDB" handler table once per process. The
// registry is replaced here by a recording one, so that every registration attempt counts.
#include <gtest/gtest.h>
#include <string.h>

#include <string>

#include "context/context.h"
#include "load/handlers.h"
#include "plugin/quorvel.h"
#include "query/queries.h"
#include "stderr_capture.h"

namespace {

struct Registration {
    Tcl_Interp* interp;
    FormatHandlers* table;  // still reachable while kept, as in the real registry
    std::string name;
    std::string pattern;
};

int registryCalls = 0;
int registryAnswer = 0;
Registration lastRegistration;
bool initCalledInProcess = false;

// Quorvel_Init keeps a process-wide flag, so each case needs a fresh process; CTest runs
// each case alone.
bool FirstInitOfProcess()
{
    bool first = !initCalledInProcess;
    initCalledInProcess = true;
    return first;
}

Tcl_Interp* FakeInterp(int n)
{
    return reinterpret_cast<Tcl_Interp*>(static_cast<uintptr_t>(0x1000 * n));
}

}  // namespace

namespace {

int RecordingRegistry(Tcl_Interp* interp, FormatHandlers* table)
{
    ++registryCalls;
    lastRegistration = {interp, table, table->formatName, table->filePattern};
    if (registryAnswer != 0) {
        lastRegistration.table = nullptr;  // a refused table is not the registry's to keep
    }
    return registryAnswer;
}

}  // namespace

// Takes the place of the host's registry in this program. On Windows the plug-in calls it
// through its import pointer, which this program defines itself, pointing here.
#if defined(_WIN32)
extern "C" int (*const recordingRegistryImport)(Tcl_Interp*, FormatHandlers*) __asm__(
    "__imp__PfFormat_CreateExternalFormat") = RecordingRegistry;
#else
extern "C" int PfFormat_CreateExternalFormat(Tcl_Interp* interp, FormatHandlers* table)
{
    return RecordingRegistry(interp, table);
}
#endif

namespace {

TEST(QuorvelInit, RegistersTheFsdbTableOnceWhateverTheInterpreter)
{
    if (!FirstInitOfProcess()) {
        GTEST_SKIP() << "needs a process of its own";
    }
    registryAnswer = 0;
    ASSERT_EQ(0, Quorvel_Init(FakeInterp(1)));
    ASSERT_EQ(1, registryCalls);
    EXPECT_EQ(FakeInterp(1), lastRegistration.interp);
    EXPECT_EQ("FSDB", lastRegistration.name);
    EXPECT_EQ("fsdb*", lastRegistration.pattern);
    const FormatHandlers* table = lastRegistration.table;
    ASSERT_NE(nullptr, table);
    EXPECT_EQ(&Quorvel_Info, table->info);
    EXPECT_EQ(&Quorvel_Open, table->open);
    EXPECT_EQ(&Quorvel_Close, table->close);
    EXPECT_EQ(&Quorvel_FileInfo, table->fileInfo);
    EXPECT_EQ(&Quorvel_WaveInfo, table->waveInfo);
    EXPECT_EQ(&Quorvel_LoadWave, table->loadWave);
    EXPECT_EQ(&Quorvel_LoadWaves, table->loadWaves);

    EXPECT_EQ(0, Quorvel_Init(FakeInterp(1)));
    EXPECT_EQ(0, Quorvel_Init(FakeInterp(2)));
    EXPECT_EQ(1, registryCalls);
    EXPECT_EQ(table, lastRegistration.table);
    EXPECT_STREQ("FSDB", table->formatName);
}

// A table the registry refuses is released (the leak checker of the sanitizer build sees to
// that), the result is still 0, and no later call tries again.
TEST(QuorvelInit, ReleasesARefusedTableAndStillRegistersOnlyOnce)
{
    if (!FirstInitOfProcess()) {
        GTEST_SKIP() << "needs a process of its own";
    }
    registryAnswer = 1;
    StderrCapture capture;
    EXPECT_EQ(0, Quorvel_Init(FakeInterp(1)));
    EXPECT_EQ(1, registryCalls);
    EXPECT_EQ("FSDB", lastRegistration.name);
    registryAnswer = 0;
    EXPECT_EQ(0, Quorvel_Init(FakeInterp(1)));
    EXPECT_EQ(1, registryCalls);
    EXPECT_EQ("", capture.Finish());
}

}  // namespace
