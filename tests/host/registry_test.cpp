// registry_test.cpp: the format registry: one table per format name, kept and listed in order.
#include <gtest/gtest.h>

#include "host_core.h"

namespace {

int Info(void*, const char*, QueryResult*)
{
    return 1;
}
int Open(Tcl_Interp*, const char*, ReaderContext**)
{
    return 1;
}
int Close(Tcl_Interp*, ReaderContext*)
{
    return 0;
}
int FileInfo(Tcl_Interp*, ReaderContext*, const char*, QueryResult*)
{
    return 1;
}
int WaveInfo(void*, ReaderContext*, const char*, const char*, QueryResult*)
{
    return 1;
}
int LoadWave(Tcl_Interp*, ReaderContext*, char*, WfXWave**)
{
    return 1;
}
int LoadWaves(Tcl_Interp*, ReaderContext*, const char*, const char*, WfXWave**)
{
    return 1;
}

FormatHandlers Table(const char* name)
{
    return FormatHandlers{const_cast<char*>(name),
                          const_cast<char*>("reg*"),
                          Info,
                          Open,
                          Close,
                          FileInfo,
                          WaveInfo,
                          LoadWave,
                          LoadWaves};
}

TEST(HostRegistry, KeepsOneTablePerNameInRegistrationOrder)
{
    static FormatHandlers first = Table("REGA");
    static FormatHandlers second = Table("REGB");
    static FormatHandlers again = Table("REGA");
    ASSERT_EQ(PfFormat_CreateExternalFormat(nullptr, &first), 0);
    ASSERT_EQ(PfFormat_CreateExternalFormat(nullptr, &second), 0);
    EXPECT_EQ(PfFormat_CreateExternalFormat(nullptr, &again), 1);
    EXPECT_EQ(PfFormat_CreateExternalFormat(nullptr, &first), 1);
    EXPECT_EQ(vexahost::FindFormat("REGA"), &first);
    EXPECT_EQ(vexahost::FindFormat("REGB"), &second);
    EXPECT_EQ(vexahost::FindFormat("rega"), nullptr);
    std::vector<const FormatHandlers*> all = vexahost::RegisteredFormats();
    ASSERT_EQ(all.size(), 2u);
    EXPECT_EQ(all[0], &first);
    EXPECT_EQ(all[1], &second);
}

TEST(HostRegistry, RefusesNullAndIncompleteTables)
{
    EXPECT_EQ(PfFormat_CreateExternalFormat(nullptr, nullptr), 1);
    static FormatHandlers noName = Table(nullptr);
    EXPECT_EQ(PfFormat_CreateExternalFormat(nullptr, &noName), 1);
    static FormatHandlers noPattern = Table("REGC");
    noPattern.filePattern = nullptr;
    EXPECT_EQ(PfFormat_CreateExternalFormat(nullptr, &noPattern), 1);
    static FormatHandlers noLoader = Table("REGD");
    noLoader.loadWaves = nullptr;
    EXPECT_EQ(PfFormat_CreateExternalFormat(nullptr, &noLoader), 1);
    EXPECT_EQ(vexahost::FindFormat("REGC"), nullptr);
    EXPECT_EQ(vexahost::FindFormat("REGD"), nullptr);
}

}  // namespace
