// nffr.h: interface of the FSDB reader library (free functions, reader object, traverser).
// Records that callers read by byte position keep those positions on 32-bit targets.
#ifndef NFFR_H
#define NFFR_H

#include <stddef.h>
#include <stdint.h>
#include <string.h>

#if defined(_WIN32)
#if defined(NFFR_BUILDING)
#define NFFR_API __declspec(dllexport)
#else
#define NFFR_API __declspec(dllimport)
#endif
#else
#define NFFR_API __attribute__((visibility("default")))
#endif

// A 64-bit time tag as two words, high word first: value = high * 2^32 + low ticks.
struct TimeTag {
    uint32_t high;
    uint32_t low;
};

// Filled by GetFileInfo. Callers read the type, the unit text and the end tag.
struct ffrFileInfo {
    int32_t fileType;       // byte 0: 0 and 1 are the supported types
    uint32_t reserved0[3];  // bytes 4..15
    char timeUnit[128];     // byte 16: NUL-terminated unit text, e.g. "1ns"
    TimeTag endTag;         // byte 144 (high) and 148 (low)
    uint32_t varCount;      // byte 152: number of variables in the file
    uint32_t scopeCount;    // byte 156
    uint32_t reserved1[4];  // bytes 160..175
};

// Tree callback record of event 1 (a scope begins). The name may be changed in place.
struct ffrScopeRecord {
    char* name;
    uint32_t depth;
};

// Tree callback record of event 2 (a variable). The name may be changed in place.
struct ffrVarRecord {
    char* name;             // byte 0 (32-bit targets)
    int32_t idcode;         // byte 4
    uint32_t bitSize;       // byte 8
    uint8_t valueDataType;  // byte 12: 2 floats, 3 doubles
    uint8_t reserved[6];    // bytes 13..18
    uint8_t varType;        // byte 19: the variable type code
};

// Record that GetVarInfo hands out: its first byte is the variable type.
struct ffrVarInfo {
    uint8_t varType;
    uint8_t valueDataType;
    uint8_t reserved[2];
    int32_t idcode;
    uint32_t bitSize;
    const char* name;  // full hierarchical name, '.'-separated
};

#if defined(_WIN32) && !defined(_WIN64)
static_assert(offsetof(ffrFileInfo, timeUnit) == 16, "unit text at byte 16");
static_assert(offsetof(ffrFileInfo, endTag) == 144, "end tag at byte 144");
static_assert(offsetof(ffrVarRecord, idcode) == 4, "idcode at byte 4");
static_assert(offsetof(ffrVarRecord, varType) == 19, "variable type at byte 19");
#endif
// The record holds no pointers, so its size is the same in every build.
static_assert(sizeof(ffrFileInfo) == 176, "file-information record is 176 bytes");

// Tree walk events given to the tree callback.
enum {
    FFR_TREE_SCOPE_BEGIN = 1,
    FFR_TREE_VAR = 2,
    FFR_TREE_SCOPE_END = 3,
    FFR_TREE_TOP = 4,
};

typedef bool (*ffrTreeCallback)(uint32_t eventType, void* clientData, void* record);
typedef int (*ffrMessageSink)(const char* text);

// Free functions.
extern "C" {
NFFR_API int CheckFile(const char* path);                       // 0: the file can be opened
NFFR_API bool IsFsdbFile(const char* path);                     // true: a file of ours
NFFR_API int GetFileInfo(const char* path, ffrFileInfo* info);  // 0 when filled
NFFR_API void SetWarningHandler(ffrMessageSink sink);
NFFR_API void SetErrorHandler(ffrMessageSink sink);
NFFR_API void SetInfoHandler(ffrMessageSink sink);
}

// Value-change traverser of one loaded signal. Int results are 0 on success. It starts on the
// first change, holds its signal's changes in memory, and its value data type and bit size
// never change. A value pointer stays valid until the traverser moves or is freed.
// GotoTag to a time before the first change leaves no value in force: GetValue then gives
// the unknown value (byte 2, X, for every bit of a logic value; a quiet NaN for a real),
// GetTag fails, and GotoNext moves onto the first change.
// Misuse (a call after FreeTraverser) is a contract violation in the checked build; otherwise
// only the calls made once per load check for it (the per-change ones check nothing).
//
// The per-change calls (GetTag, GetValue, GotoNext) run inline in the caller over a cursor
// that the traverser keeps: the signal's tags (8 bytes each, little-endian), its values
// (valueSize bytes each), their count and the current index. The library writes the cursor;
// callers never touch it. The inline path is taken only while the traverser is marked hot:
// never in the checked build, never once test hooks are armed (their counters and injected
// failures must see every call), never for values of no bytes or on a big-endian host. Off
// that path, and before the first change, the same calls run in the library. The layout
// holds no assumption about the size of a pointer.
class NFFR_API ffrVCTraverser {
public:
    int ValueDataType();  // 3: doubles; otherwise floats
    uint32_t ValueBitSize();
    bool HasChanges();
    int GetFirstTag(TimeTag* tag);
    int GetLastTag(TimeTag* tag);
    int GetTag(TimeTag* tag)  // tag of the current change
    {
        if (!hot_ || beforeFirst_ || tag == nullptr)
            return GetTagInLibrary(tag);
        uint64_t value;
        memcpy(&value, tags_ + 8 * size_t(pos_), sizeof value);
        tag->high = static_cast<uint32_t>(value >> 32);
        tag->low = static_cast<uint32_t>(value);
        return 0;
    }
    int GetValue(unsigned char** value)  // bytes of the current value
    {
        if (!hot_ || beforeFirst_ || value == nullptr)
            return GetValueInLibrary(value);
        *value = const_cast<unsigned char*>(values_ + size_t(pos_) * valueSize_);
        return 0;
    }
    int GotoNext()  // nonzero: no next change
    {
        if (!hot_ || beforeFirst_)
            return GotoNextInLibrary();
        if (pos_ + 1 >= count_)
            return 1;
        ++pos_;
#if defined(__GNUC__)
        // 256 bytes ahead in both streams: a walk over many signals at once reads more streams
        // than the processor follows by itself. A prefetch never faults, even past the end.
        __builtin_prefetch(tags_ + 8 * size_t(pos_) + 256);
        __builtin_prefetch(values_ + size_t(pos_) * valueSize_ + 256);
#endif
        return 0;
    }
    int GotoTag(const TimeTag* tag, int flags);  // change in force at tag (see above)
    void FreeTraverser();

private:
    friend struct ffrAccess;
    ffrVCTraverser() = default;
    int GetTagInLibrary(TimeTag* tag);
    int GetValueInLibrary(unsigned char** value);
    int GotoNextInLibrary();

    uint32_t magic_ = 0;
    struct ffrTraverserImpl* impl_ = nullptr;
    // The cursor. While hot_, pos_ < count_ and valueSize_ > 0.
    const uint8_t* tags_ = nullptr;
    const uint8_t* values_ = nullptr;
    uint32_t count_ = 0;
    uint32_t pos_ = 0;
    uint32_t valueSize_ = 0;
    uint8_t beforeFirst_ = 0;  // positioned before the first change: no value in force
    uint8_t hot_ = 0;          // 1: the per-change calls may run inline
};

// One reader object per file, shared by all opens of that file and counted by uses. Every
// failure comes with one message line through the error sink; no exception leaves a call.
// A file that changed on disk since it was parsed is never read from: loads are refused, and
// an open under a spelling the object was never opened by reads the file afresh.
class NFFR_API ffrObject {
public:
    // Returns the live object of the file with one more use, or a new one; null on failure.
    static ffrObject* ffrOpen2(const char* path, ffrTreeCallback callback, void* clientData,
                               int flags);
    void Close();                          // drops one use
    int ReadSignalTree();                  // walks the hierarchy through the callback
    int NeedsReopen(unsigned char* flag);  // nonzero: the file on disk changed
    void ReleaseForReopen();
    int HasStamp();                                 // 1: the file on disk has a creation stamp
    int GetStamp(char* buffer);                     // buffer of 2048 bytes
    int GetVarInfo(int idcode, ffrVarInfo** info);  // stores null for an unknown idcode
    bool IsInLoadList(int idcode);
    int AddToLoadList(int idcode, int from, int to);  // -1 is accepted and ignored
    int LoadListedSignals();         // nonzero: a listed signal is refused (it stays refused)
    int GetChangeCount(int idcode);  // 0: cannot tell; -1: error
    ffrVCTraverser* CreateTraverser(int idcode);  // null: unknown, refused or not loaded

private:
    friend struct ffrAccess;
    ffrObject() = default;
    uint32_t magic_ = 0;
    struct ffrObjectImpl* impl_ = nullptr;
};

#endif
