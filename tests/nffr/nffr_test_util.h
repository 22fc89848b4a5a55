// nffr_test_util.h: helpers of the reader library's tests: temporary folders, files written
// by the writer, captured message sinks and a recording violation handler.
#ifndef NFFR_TEST_UTIL_H
#define NFFR_TEST_UTIL_H

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "meta_codec.h"
#include "nffr.h"
#include "nffr_layout.h"
#include "nffr_testhooks.h"
#include "nffr_writer.h"
#include "posix_shims.h"
#include "temp_dir.h"

#if defined(_WIN32)
#include <windows.h>
#endif

namespace nffrtest {

using quorveltest::TempDir;

inline std::string Write(const nffr::FileWriter& w, const std::string& path)
{
    std::string error;
    EXPECT_TRUE(w.Write(path, &error)) << error;
    return path;
}

// Another spelling of PATH that names the same file: a symbolic link NAME in DIR, or on Windows,
// where links need privileges, the drive-relative spelling (PATH must begin with a drive letter).
inline std::string OtherSpelling(const TempDir& dir, const std::string& path,
                                 const std::string& name)
{
#if defined(_WIN32)
    (void)dir;
    (void)name;
    EXPECT_EQ(':', path.at(1)) << "QUORVEL_TEST_TMP must begin with a drive letter";
    return path.substr(2);
#else
    std::string link = dir.File(name);
    std::error_code error;
    std::filesystem::create_symlink(path, link, error);
    EXPECT_FALSE(error) << link << ": " << error.message();
    return link;
#endif
}

// True when the program runs under Wine, which differs from Windows in a few file operations.
inline bool UnderWine()
{
#if defined(_WIN32)
    HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
#else
    return false;
#endif
}

// w, made to write layout 1 (for tests that damage files at that layout's offsets).
inline nffr::FileWriter Layout1(nffr::FileWriter w)
{
    w.SetLayout(1);
    return w;
}

inline std::vector<uint8_t> Image(const nffr::FileWriter& w)
{
    std::vector<uint8_t> bytes;
    std::string error;
    EXPECT_TRUE(w.Bytes(&bytes, &error)) << error;
    return bytes;
}

// w, made to write the layout given (for tests that damage files at that layout's offsets).
inline nffr::FileWriter WithLayout(nffr::FileWriter w, int layout)
{
    w.SetLayout(layout);
    return w;
}

// A layout-2 or layout-3 image with its metadata block (the file's last bytes) stored
// uncompressed, so that a test can damage the variable table in place.
inline std::vector<uint8_t> PlainMetadata(std::vector<uint8_t> b)
{
    namespace L = nffr::layout;
    const bool three = L::Load32(&b[L::kOffVersion]) == L::kVersion3;
    const uint32_t offset = three ? L::kOff3MetaOffset : L::kOffMetaOffset;
    const uint32_t stored = three ? L::kOff3MetaStored : L::kOffMetaStored;
    const uint32_t decodedAt = three ? L::kOff3MetaDecoded : L::kOffMetaDecoded;
    const uint32_t codec = three ? L::kOff3MetaCodec : L::kOffMetaCodec;
    const size_t at = static_cast<size_t>(L::Load64(&b[offset]));
    const uint32_t decoded = L::Load32(&b[decodedAt]);
    std::vector<uint8_t> meta;
    EXPECT_EQ("", nffr::meta::Unpack(&b[at], b.size() - at, b[codec], decoded, &meta));
    b.resize(at);
    b.insert(b.end(), meta.begin(), meta.end());
    L::Store32(&b[stored], decoded);
    b[codec] = L::kCodecNone;
    L::Store64(&b[three ? L::kOff3FileSize : L::kOffFileSize], b.size());
    return b;
}

// Messages sent through the library's sinks while the fixture lives.
struct Sinks {
    static std::vector<std::string>& Errors()
    {
        static std::vector<std::string> v;
        return v;
    }
    static std::vector<std::string>& Warnings()
    {
        static std::vector<std::string> v;
        return v;
    }
    static int Error(const char* t)
    {
        Errors().push_back(t);
        return 0;
    }
    static int Warning(const char* t)
    {
        Warnings().push_back(t);
        return 0;
    }
    static void Install()
    {
        Errors().clear();
        Warnings().clear();
        SetErrorHandler(&Error);
        SetWarningHandler(&Warning);
    }
};

// Contract violations recorded instead of aborting.
struct Violations {
    static std::vector<std::string>& Seen()
    {
        static std::vector<std::string> v;
        return v;
    }
    static void Record(const char* text) { Seen().push_back(text); }
};

// Base fixture: hooks reset, sinks captured, violations recorded.
class ReaderTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        nffr::testhooks::Reset();
        Sinks::Install();
        Violations::Seen().clear();
        previous_ = nffr::testhooks::SetViolationHandler(&Violations::Record);
    }
    void TearDown() override
    {
        nffr::testhooks::SetViolationHandler(previous_);
        nffr::testhooks::Reset();
    }
    TempDir dir_;
    nffr::testhooks::ViolationHandler previous_ = nullptr;
};

inline uint64_t Tag64(const TimeTag& t)
{
    return uint64_t(t.high) << 32 | t.low;
}
inline TimeTag MakeTag(uint64_t v)
{
    return TimeTag{uint32_t(v >> 32), uint32_t(v)};
}

// A small file of type 1: a double, a float and a 4-bit digital variable, with a stamp.
inline nffr::FileWriter SmallFile()
{
    nffr::FileWriter w;
    w.SetFileType(1);
    w.SetTimeUnit("10ps");
    w.SetStamp("run 1");
    w.BeginScope("top");
    int v = w.AddVar("v", 'v', 1);
    w.AddReal(v, 0, 0.5);
    w.AddReal(v, 10, 1.5);
    w.AddReal(v, 20, 2.5);
    int i = w.AddVar("i", 'i', 1, 2);
    w.AddReal(i, 5, 0.25);
    int d = w.AddVar("d", 0, 4);
    w.AddBits(d, 0, "01xz");
    w.AddBits(d, 7, "1111");
    w.EndScope();
    return w;
}

}  // namespace nffrtest

#endif
