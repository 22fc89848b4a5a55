// context_support.h: fixtures of the reader-context tests: FSDB files made with our writer, the
// host's stand-in interpreter that lists the files it opens, and the reader hooks' fixture.
#ifndef QUORVEL_TEST_CONTEXT_SUPPORT_H
#define QUORVEL_TEST_CONTEXT_SUPPORT_H

#include <gtest/gtest.h>
#include <stdlib.h>
#include <tcl.h>

#include <string>

#include "context/context.h"
#include "host_interp.h"
#include "nffr_testhooks.h"
#include "nffr_writer.h"
#include "posix_shims.h"
#include "temp_dir.h"

namespace contexttest {

using quorveltest::TempDir;

// A small file of type 1 with one analog and one digital signal, and the given stamp.
inline nffr::FileWriter SmallFile(const std::string& stamp)
{
    nffr::FileWriter writer;
    writer.SetFileType(1);
    writer.SetTimeUnit("1ns");
    if (!stamp.empty()) {
        writer.SetStamp(stamp);
    }
    writer.BeginScope("top");
    int v = writer.AddVar("v1", 'v', 64);
    writer.AddReal(v, 0, 1.5);
    writer.AddReal(v, 10, 2.5);
    int d = writer.AddVar("clk", 0, 1);
    writer.AddChange(d, 0, {0});
    writer.AddChange(d, 5, {1});
    writer.EndScope();
    return writer;
}

inline void Write(const nffr::FileWriter& writer, const std::string& path)
{
    std::string error;
    ASSERT_TRUE(writer.Write(path, &error)) << error;
}

// The reader's contract violations are counted instead of aborting, so a test can assert none.
inline void CountViolations(const char*) {}

// The interpreter standing in for the host's, which also lists the files it opens as open.
class HostInterp : public quorveltest::HostInterp {
public:
    // Opens path as the host does and, on success, lists the handle as open.
    ReaderContext* Open(const std::string& path)
    {
        ReaderContext* context = nullptr;
        EXPECT_EQ(Quorvel_Open(get(), path.c_str(), &context), 0) << path;
        if (context != nullptr) {
            ListOpen(Handle(context), path);
        }
        return context;
    }
    void Close(ReaderContext* context)
    {
        Unlist(Handle(context));
        Quorvel_Close(get(), context);
    }

private:
    static std::string Handle(ReaderContext* context)
    {
        return "h" + std::to_string(reinterpret_cast<uintptr_t>(context));
    }
};

// Every test starts with the reader library's hooks cleared and violations counted, not fatal.
class ReaderTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        nffr::testhooks::SetViolationHandler(CountViolations);
        nffr::testhooks::Reset();
    }
    void TearDown() override
    {
        EXPECT_EQ(nffr::testhooks::ViolationCount(), 0) << nffr::testhooks::LastViolation();
        nffr::testhooks::Reset();
        nffr::testhooks::SetViolationHandler(nullptr);
    }
    int Calls(nffr::testhooks::Op op) const { return nffr::testhooks::CallCount(op); }
    TempDir dir_;
};

}  // namespace contexttest

#endif
