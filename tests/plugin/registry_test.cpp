// registry_test.cpp: Quorvel_Init against the host's real format registry: the "FSDB" table
// is kept there, once, however many interpreters load the plug-in.
#include <gtest/gtest.h>
#include <tcl.h>

#include "host_core.h"
#include "plugin/quorvel.h"

namespace {

TEST(QuorvelInitWithHostRegistry, RegistersOneFsdbTableForAllInterpreters)
{
    Tcl_Interp* first = Tcl_CreateInterp();
    Tcl_Interp* second = Tcl_CreateInterp();
    size_t before = vexahost::RegisteredFormats().size();

    EXPECT_EQ(0, Quorvel_Init(first));
    const FormatHandlers* table = vexahost::FindFormat("FSDB");
    ASSERT_NE(nullptr, table);
    EXPECT_STREQ("fsdb*", table->filePattern);
    EXPECT_EQ(&Quorvel_Info, table->info);
    EXPECT_EQ(before + 1, vexahost::RegisteredFormats().size());

    EXPECT_EQ(0, Quorvel_Init(first));
    EXPECT_EQ(0, Quorvel_Init(second));
    EXPECT_EQ(table, vexahost::FindFormat("FSDB"));
    EXPECT_EQ(before + 1, vexahost::RegisteredFormats().size());

    // The registry keeps the first table: another one under the same name is refused.
    FormatHandlers other = *table;
    EXPECT_EQ(1, PfFormat_CreateExternalFormat(first, &other));
    EXPECT_EQ(table, vexahost::FindFormat("FSDB"));

    Tcl_DeleteInterp(second);
    Tcl_DeleteInterp(first);
}

}  // namespace
