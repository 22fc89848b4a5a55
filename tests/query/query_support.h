// query_support.h: fixtures of the query tests: FSDB files written into a temporary folder,
// files opened through the open handler, and one call of a query handler captured as an Answer.
#ifndef QUORVEL_TESTS_QUERY_SUPPORT_H
#define QUORVEL_TESTS_QUERY_SUPPORT_H

#include <gtest/gtest.h>
#include <stdlib.h>
#include <tcl.h>

#include <string>

#include "base/portability.h"
#include "context/context.h"
#include "host_interp.h"
#include "nffr_writer.h"
#include "pf_format.h"
#include "posix_shims.h"
#include "preset_result.h"
#include "query/queries.h"
#include "temp_dir.h"

namespace query_test {

using quorveltest::Answer;
using quorveltest::kUnsetKind;
using quorveltest::kUntouched;
using quorveltest::PresetResult;
using quorveltest::TempDir;
// The interpreter standing in for the host's; it holds no file open.
using Interp = quorveltest::HostInterp;

inline Answer AskFile(Tcl_Interp* interp, ReaderContext* context, const char* query)
{
    PresetResult result;
    return result.Take(Quorvel_FileInfo(interp, context, query, result.get()));
}

inline Answer AskWave(ReaderContext* context, const char* wave, const char* option)
{
    PresetResult result;
    return result.Take(Quorvel_WaveInfo(nullptr, context, wave, option, result.get()));
}

inline std::string Write(const nffr::FileWriter& writer, const std::string& path)
{
    std::string error;
    EXPECT_TRUE(writer.Write(path, &error)) << error;
    return path;
}

// Opens path through the open handler; closes it with the object.
class OpenFile {
public:
    OpenFile(Tcl_Interp* interp, const std::string& path) : interp_(interp)
    {
        EXPECT_EQ(Quorvel_Open(interp, path.c_str(), &context_), 0) << path;
    }
    ~OpenFile() { Quorvel_Close(interp_, context_); }
    OpenFile(const OpenFile&) = delete;
    OpenFile& operator=(const OpenFile&) = delete;
    ReaderContext* get() const { return context_; }

private:
    Tcl_Interp* interp_;
    ReaderContext* context_ = nullptr;
};

// A context filled by hand, without a file or a reader: for answers that need neither.
class HandContext {
public:
    explicit HandContext(const char* path)
    {
        context_ = static_cast<ReaderContext*>(malloc(sizeof(ReaderContext)));
        InitContext(context_);
        context_->path = path != nullptr ? _strdup(path) : nullptr;
        context_->xName = _strdup("t");
        context_->xUnit = _strdup("s");
        context_->fileType = 1;
    }
    ~HandContext() { Quorvel_Close(nullptr, context_); }
    HandContext(const HandContext&) = delete;
    HandContext& operator=(const HandContext&) = delete;
    ReaderContext* get() const { return context_; }
    ReaderContext* operator->() const { return context_; }

private:
    ReaderContext* context_;
};

}  // namespace query_test

#endif
