// vcd_import_fuzz.cpp: libFuzzer target for the whole VCD import: each input becomes a VCD file
// (plain, gzip-compressed, or a compressed stream cut short), is converted with a small read
// buffer into a temporary folder, and what it wrote is read back with the reader: loaded,
// traversed and closed. A refusal must be one printable line; a file the import wrote and the
// reader refuses, a crash, a hang or a sanitizer report is a bug.
#include <unistd.h>
#include <zlib.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "import.h"
#include "nffr.h"

namespace {

void Check(bool ok, const std::string& what)
{
    if (!ok) {
        std::fprintf(stderr, "vcd_import_fuzz: %s\n", what.c_str());
        std::abort();
    }
}

int Quiet(const char*)
{
    return 0;
}

// Collects the idcodes of the written variables: a variable the import left out leaves a gap.
bool Walk(uint32_t event, void* ids, void* record)
{
    if (event == FFR_TREE_VAR)
        static_cast<std::set<int>*>(ids)->insert(static_cast<ffrVarRecord*>(record)->idcode);
    return true;
}

// The input's text: decompressed (at most 1 MiB) when it begins with gzip's magic bytes.
std::string Plain(const std::string& bytes)
{
    if (bytes.compare(0, 2, "\x1f\x8b") != 0)
        return bytes;
    std::string out(1 << 20, '\0');
    z_stream z = {};
    if (inflateInit2(&z, 15 + 32) != Z_OK)
        return "";
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes.data()));
    z.avail_in = static_cast<uInt>(bytes.size());
    z.next_out = reinterpret_cast<Bytef*>(&out[0]);
    z.avail_out = static_cast<uInt>(out.size());
    inflate(&z, Z_FINISH);
    out.resize(out.size() - z.avail_out);
    inflateEnd(&z);
    return out;
}

// A declared width beyond 65536 bits: each short value of such a variable stores its whole
// width, so a few kilobytes of input can ask for gigabytes by design. The fuzzer skips those.
bool WideVar(const std::string& text)
{
    for (size_t at = text.find("$var"); at != std::string::npos; at = text.find("$var", at + 4)) {
        size_t p = text.find_first_not_of(" \t\n\v\f\r", at + 4);
        p = p == std::string::npos ? p : text.find_first_of(" \t\n\v\f\r", p);
        p = p == std::string::npos ? p : text.find_first_not_of(" \t\n\v\f\r", p);
        const size_t end = p == std::string::npos ? p : text.find_first_not_of("0123456789", p);
        if (p != std::string::npos && (end == std::string::npos ? text.size() : end) - p > 5)
            return true;
        if (p != std::string::npos && std::atol(text.c_str() + p) > 65536)
            return true;
    }
    return false;
}

bool WriteInput(const std::string& path, const std::string& text, bool gzip, size_t cut)
{
    std::string bytes = text;
    if (gzip) {
        uLongf size = compressBound(text.size()) + 32;
        bytes.assign(size, '\0');
        z_stream z = {};
        if (deflateInit2(&z, 6, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY) != Z_OK)
            return false;
        z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
        z.avail_in = static_cast<uInt>(text.size());
        z.next_out = reinterpret_cast<Bytef*>(&bytes[0]);
        z.avail_out = static_cast<uInt>(bytes.size());
        const int status = deflate(&z, Z_FINISH);
        bytes.resize(z.total_out);
        deflateEnd(&z);
        if (status != Z_STREAM_END)
            return false;
        bytes.resize(bytes.size() - (cut < bytes.size() ? cut : 0));
    }
    std::FILE* f = std::fopen(path.c_str(), "wb");
    const bool ok = f && std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return f && std::fclose(f) == 0 && ok;
}

void CheckLine(const std::string& text)
{
    Check(!text.empty(), "an empty message");
    for (char c : text)
        Check(c >= 0x20 && c < 0x7f, "a message that is not one printable line: " + text);
}

// Everything the reader offers over one written file.
void ReadBack(const std::string& path)
{
    ffrFileInfo info;
    Check(GetFileInfo(path.c_str(), &info) == 0, "no file information of " + path);
    std::set<int> ids;
    ffrObject* r = ffrObject::ffrOpen2(path.c_str(), &Walk, &ids, 0);
    Check(r != nullptr, "the reader refuses " + path);
    r->ReadSignalTree();
    for (int id : ids)
        r->AddToLoadList(id, 0, 0);
    r->LoadListedSignals();
    for (int id : ids) {
        ffrVCTraverser* t = r->CreateTraverser(id);
        Check(t != nullptr, "no traverser of a written variable");
        if (!t->HasChanges()) {
            t->FreeTraverser();
            continue;
        }
        volatile unsigned sum = 0;
        do {
            TimeTag tag;
            unsigned char* value = nullptr;
            t->GetTag(&tag);
            if (t->GetValue(&value) == 0 && t->ValueBitSize() > 0)
                sum = sum + value[0];
        } while (t->GotoNext() == 0);
        t->FreeTraverser();
    }
    r->Close();
}

}  // namespace

// Input: an options byte (bits 0-2: the read buffer, 16 bytes to 1 MiB; bit 3: gzip; bits 4-7:
// bytes cut from the end of the compressed stream), then the VCD text.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    static const size_t kBlocks[] = {16, 23, 64, 100, 512, 4096, 65536, 1 << 20};
    const size_t block = kBlocks[data[0] & 7];
    const bool gzip = data[0] & 8;
    const size_t cut = data[0] >> 4;
    const std::string text(reinterpret_cast<const char*>(data) + 1, size - 1);
    if (WideVar(gzip ? text : Plain(text)))
        return 0;
    SetErrorHandler(&Quiet);
    SetWarningHandler(&Quiet);
    SetInfoHandler(&Quiet);
    static const std::string dir = [] {
        const std::string d = "/tmp/vcd_import_fuzz_" + std::to_string(getpid());
        std::filesystem::create_directories(d);
        return d;
    }();
    const std::string input = dir + "/in.vcd", output = dir + "/out.fsdb";
    const std::string analog = fsdbgen::AnalogCompanionName(output);
    std::remove(output.c_str());
    std::remove(analog.c_str());
    Check(WriteInput(input, text, gzip, cut), "cannot write the input");

    fsdbgen::Diagnostics diag;
    std::vector<std::string> written;
    const bool ok = fsdbgen::ConvertVcd(input, output, &diag, &written, block);
    for (const std::string& w : diag.warnings)
        CheckLine(w);
    for (const std::string& n : diag.notes)
        CheckLine(n);
    if (!ok) {
        CheckLine(diag.error);
        return 0;
    }
    Check(diag.error.empty(), "an error reported with success");
    Check(!written.empty(), "success without a file written");
    ReadBack(output);
    if (written.size() > 1)
        ReadBack(analog);
    return 0;
}
