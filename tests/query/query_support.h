// query_support.h: fixtures of the query tests: a Tcl interpreter like the host's, FSDB files
// written into a temporary folder, and one call of a query handler captured as an Answer.
#ifndef QUORVEL_TESTS_QUERY_SUPPORT_H
#define QUORVEL_TESTS_QUERY_SUPPORT_H

#include <gtest/gtest.h>
#include <stdlib.h>
#include <tcl.h>

#include <filesystem>
#include <ostream>
#include <string>

#include "context/context.h"
#include "nffr_writer.h"
#include "pf_format.h"
#include "plugin/portability.h"
#include "posix_shims.h"
#include "query/queries.h"

namespace query_test {

// The answer kind a fresh result holds before a handler runs; handlers only ever write 7.
constexpr int kUnsetKind = -5;
constexpr const char* kUntouched = "untouched";

struct Answer {
    int code;
    std::string text;
    bool kindSet;  // the handler set the answer kind (to 7)
};

inline std::ostream& operator<<(std::ostream& out, const Answer& a)
{
    return out << "{code " << a.code << ", \"" << a.text << "\", kind "
               << (a.kindSet ? "set" : "unset") << "}";
}

inline bool operator==(const Answer& a, const Answer& b)
{
    return a.code == b.code && a.text == b.text && a.kindSet == b.kindSet;
}

// A result as the host hands it over, except that its text holds kUntouched so that a
// handler that leaves the record alone can be told from one that initialises it.
class PresetResult {
public:
    PresetResult()
    {
        Tcl_DStringInit(&result_.text);
        Tcl_DStringAppend(&result_.text, kUntouched, -1);
        result_.hostWord = 0;
        result_.answerKind = kUnsetKind;
    }
    ~PresetResult() { Tcl_DStringFree(&result_.text); }
    PresetResult(const PresetResult&) = delete;
    PresetResult& operator=(const PresetResult&) = delete;

    QueryResult* get() { return &result_; }
    Answer Take(int code)
    {
        EXPECT_TRUE(result_.answerKind == 7 || result_.answerKind == kUnsetKind)
            << "answer kind " << result_.answerKind;
        EXPECT_EQ(result_.hostWord, 0) << "the host's word was written";
        return Answer{code, Tcl_DStringValue(&result_.text), result_.answerKind == 7};
    }

private:
    QueryResult result_;
};

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

// A fresh interpreter with the host command the open handler consults.
class Interp {
public:
    Interp() : interp_(Tcl_CreateInterp()) { Tcl_Eval(interp_, "proc pf:info {args} {return {}}"); }
    ~Interp() { Tcl_DeleteInterp(interp_); }
    Interp(const Interp&) = delete;
    Interp& operator=(const Interp&) = delete;
    Tcl_Interp* get() const { return interp_; }
    std::string Eval(const std::string& script)
    {
        Tcl_Eval(interp_, script.c_str());
        return Tcl_GetStringResult(interp_);
    }

private:
    Tcl_Interp* interp_;
};

// A folder of its own below $QUORVEL_TEST_TMP (or the system's), removed with the object.
class TempDir {
public:
    TempDir()
    {
        namespace fs = std::filesystem;
        const char* base = getenv("QUORVEL_TEST_TMP");
        fs::path root = base != nullptr ? fs::path(base) : fs::temp_directory_path();
        fs::create_directories(root);
        std::string pattern = (root / "query-XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr) {
            ADD_FAILURE() << "cannot make a temporary folder below " << root;
        }
        path_ = pattern;
    }
    ~TempDir()
    {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    std::string File(const std::string& name) const { return (path_ / name).string(); }

private:
    std::filesystem::path path_;
};

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
