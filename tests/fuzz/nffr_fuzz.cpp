// nffr_fuzz.cpp: libFuzzer target: writes each input as a file and drives the reader over it
// (open, tree walk, load and traverse every signal, of either layout). It uses the reader as its
// contract asks, so a contract violation (which aborts) is a bug like any crash or sanitizer
// report.
#include <unistd.h>

#include <cstdio>
#include <string>

#include "nffr.h"
#include "nffr_testhooks.h"

namespace {

int Quiet(const char*)
{
    return 0;
}
bool Walk(uint32_t, void*, void* record)
{
    (void)record;
    return true;
}

const std::string& Path()
{
    static const std::string path = "/tmp/nffr_fuzz_" + std::to_string(getpid()) + ".fsdb";
    return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    SetErrorHandler(&Quiet);
    SetWarningHandler(&Quiet);
    // Only the last signal used stays decoded: every traverser decodes its changes again.
    nffr::testhooks::SetCacheBytes(0);
    std::FILE* f = std::fopen(Path().c_str(), "wb");
    if (!f)
        return 0;
    std::fwrite(data, 1, size, f);
    std::fclose(f);
    ffrFileInfo info;
    GetFileInfo(Path().c_str(), &info);
    IsFsdbFile(Path().c_str());
    ffrObject* r = ffrObject::ffrOpen2(Path().c_str(), &Walk, nullptr, 0);
    if (!r)
        return 0;
    r->ReadSignalTree();
    char stamp[2048];
    if (r->HasStamp())
        r->GetStamp(stamp);
    for (uint32_t id = 1; id <= info.varCount + 1 && id < 64; ++id)
        r->AddToLoadList(static_cast<int>(id), 0, 0);
    r->LoadListedSignals();
    for (uint32_t id = 1; id <= info.varCount + 1 && id < 64; ++id) {
        ffrVarInfo* var = nullptr;
        r->GetVarInfo(static_cast<int>(id), &var);
        r->GetChangeCount(static_cast<int>(id));
        ffrVCTraverser* t = r->CreateTraverser(static_cast<int>(id));
        if (!t)
            continue;
        TimeTag tag;
        unsigned char* value = nullptr;
        volatile unsigned sum = 0;
        if (t->GetLastTag(&tag) == 0)
            t->GotoTag(&tag, 0);
        t->GetFirstTag(&tag);
        t->GotoTag(&tag, 0);
        do {
            if (t->GetValue(&value) == 0 && t->ValueBitSize() > 0)
                sum = sum + value[0];
            t->GetTag(&tag);
        } while (t->GotoNext() == 0);
        t->FreeTraverser();
    }
    r->NeedsReopen(nullptr);
    r->Close();
    return 0;
}
