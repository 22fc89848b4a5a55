// context_support.h: fixtures of the reader-context tests: temporary folders, FSDB files made
// with our writer, and a Tcl interpreter standing in for the host's commands.
#ifndef QUORVEL_TEST_CONTEXT_SUPPORT_H
#define QUORVEL_TEST_CONTEXT_SUPPORT_H

#include <gtest/gtest.h>
#include <stdlib.h>
#include <tcl.h>

#include <filesystem>
#include <string>

#include "context/context.h"
#include "nffr_testhooks.h"
#include "nffr_writer.h"
#include "posix_shims.h"

namespace contexttest {

// A fresh folder below $QUORVEL_TEST_TMP (or the system's temporary folder), removed at the end.
class TempDir {
public:
    TempDir()
    {
        const char* base = getenv("QUORVEL_TEST_TMP");
        std::filesystem::path root =
            base != nullptr ? base : std::filesystem::temp_directory_path();
        std::filesystem::create_directories(root);
        std::string pattern = (root / "context-XXXXXX").string();
        char* made = mkdtemp(pattern.data());
        path_ = made != nullptr ? made : "";
    }
    ~TempDir()
    {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    std::string File(const std::string& name) const
    {
        return (std::filesystem::path(path_) / name).string();
    }
    const std::string& Path() const { return path_; }

private:
    std::string path_;
};

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

// A plain interpreter with the host's pf:info and VexaMessage commands stood in for: pf:info
// answers from ::openHandles (a dict of handle -> path) and records the paths it was asked for.
class HostInterp {
public:
    HostInterp()
    {
        Tcl_FindExecutable(nullptr);
        interp_ = Tcl_CreateInterp();
        Eval(
            "set ::openHandles {}; set ::asked {}; set ::lastMessage {}\n"
            "proc pf:info {what path} {\n"
            "  lappend ::asked $path\n"
            "  set found {}\n"
            "  dict for {h p} $::openHandles { if {$p eq $path} { lappend found $h } }\n"
            "  return $found\n"
            "}\n"
            "proc VexaMessage {text type title} { set ::lastMessage [list $text $type $title] }");
    }
    ~HostInterp() { Tcl_DeleteInterp(interp_); }
    HostInterp(const HostInterp&) = delete;
    HostInterp& operator=(const HostInterp&) = delete;

    Tcl_Interp* get() const { return interp_; }
    std::string Eval(const std::string& script)
    {
        int code = Tcl_Eval(interp_, script.c_str());
        EXPECT_EQ(code, TCL_OK) << script << ": " << Tcl_GetStringResult(interp_);
        return Tcl_GetStringResult(interp_);
    }
    std::string Result() const { return Tcl_GetStringResult(interp_); }
    // Opens path as the host does and, on success, lists the handle as open.
    ReaderContext* Open(const std::string& path)
    {
        ReaderContext* context = nullptr;
        EXPECT_EQ(Quorvel_Open(interp_, path.c_str(), &context), 0) << path;
        if (context != nullptr) {
            Tcl_Obj* args[2] = {Tcl_NewStringObj(Handle(context).c_str(), -1),
                                Tcl_NewStringObj(path.c_str(), -1)};
            Tcl_Obj* handles = Tcl_GetVar2Ex(interp_, "openHandles", nullptr, TCL_GLOBAL_ONLY);
            handles = Tcl_DuplicateObj(handles);
            Tcl_DictObjPut(interp_, handles, args[0], args[1]);
            Tcl_SetVar2Ex(interp_, "openHandles", nullptr, handles, TCL_GLOBAL_ONLY);
        }
        return context;
    }
    void Close(ReaderContext* context)
    {
        Eval("dict unset ::openHandles " + Handle(context));
        Quorvel_Close(interp_, context);
    }

private:
    static std::string Handle(ReaderContext* context)
    {
        return "h" + std::to_string(reinterpret_cast<uintptr_t>(context));
    }
    Tcl_Interp* interp_;
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
