// internal.h: what the reader library's source files share: message sinks, test hooks and
// contract checks, file access, and the parsed form of a file.
#ifndef NFFR_READER_INTERNAL_H
#define NFFR_READER_INTERNAL_H

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "nffr.h"
#include "nffr_testhooks.h"

#ifndef NFFR_CONTRACT_CHECKS
#define NFFR_CONTRACT_CHECKS 1
#endif

namespace nffr {

// Message sinks (process-wide); unset sinks write to stderr.
void ReportError(const std::string& text);
void ReportWarning(const std::string& text);

// Counts a call of op; true when an injected failure is due for it.
bool EnterOp(testhooks::Op op);
// The forced change count, when one is set.
bool ForcedChangeCount(int* value);
// Reports a contract violation through the handler.
void Violation(const std::string& text);
bool TakeAddressReuseRequest();

// What tells whether the file on disk is still the one that was read.
struct DiskState {
    uint64_t size = 0;
    int64_t mtimeNs = 0;
    uint64_t device = 0;
    uint64_t inode = 0;
    bool operator==(const DiskState& o) const
    {
        return size == o.size && mtimeNs == o.mtimeNs && device == o.device && inode == o.inode;
    }
};

// The identity key of the file at path ("dev:ino" on Linux, the normalized full path on
// Windows), its canonical path and its state. False with *error set when it cannot be read.
bool QueryFile(const char* path, std::string* identity, std::string* canonical, DiskState* state,
               std::string* error);

// The identity key of a file of that state at that canonical path.
std::string IdentityOf(const DiskState& state, const std::string& canonical);

// A read-only view of a whole file (memory-mapped, or read on systems without mapping).
class Mapping {
public:
    static std::shared_ptr<Mapping> Open(const char* path, std::string* error);
    ~Mapping();
    Mapping(const Mapping&) = delete;
    Mapping& operator=(const Mapping&) = delete;
    const uint8_t* data() const { return data_; }
    size_t size() const { return size_; }
    // The state of the file that was mapped (not of whatever the path names later).
    const DiskState& state() const { return state_; }

private:
    Mapping() = default;
    const uint8_t* data_ = nullptr;
    size_t size_ = 0;
    void* handle_ = nullptr;  // platform state
    DiskState state_;
    std::vector<uint8_t> copy_;
};

// Reads the first bytes of a file (at most max) for the header-only questions.
bool ReadFilePrefix(const char* path, uint64_t offset, size_t max, std::vector<uint8_t>* out,
                    uint64_t* fileSize);

// The fixed header, decoded and checked.
struct Header {
    int32_t fileType = 0;
    uint32_t flags = 0;
    uint64_t endTag = 0;
    uint64_t fileSize = 0;
    uint64_t hierOffset = 0, hierSize = 0;
    uint64_t varTableOffset = 0;
    uint32_t varCount = 0, scopeCount = 0, treeVarCount = 0;
    uint32_t stampLength = 0;
    uint64_t stampOffset = 0;
    char unit[128] = {0};
    bool HasStamp() const { return flags & 1u; }
};

// Decodes the header from the first bytes of a file of actualSize bytes.
bool ParseHeader(const uint8_t* bytes, size_t available, uint64_t actualSize, Header* header,
                 std::string* error);
// Reads the stamp from disk as the file is now: 1 with *stamp set, 0 without a stamp, -1 when
// the file is unreadable or not ours.
int ReadStampFromDisk(const char* path, std::string* stamp);

struct Signal {
    int32_t idcode = 0;
    uint8_t varType = 0;
    uint8_t valueDataType = 0;
    uint32_t bitSize = 0;
    uint32_t valueSize = 0;
    uint32_t changeCount = 0;
    uint32_t recordedCount = 0;
    uint64_t blockOffset = 0;
    std::string fullName;
};

struct TreeEntry {
    uint8_t kind = 0;     // layout::kRecScopeBegin, kRecVar, kRecScopeEnd
    uint32_t depth = 0;   // of a scope
    uint32_t signal = 0;  // index into Model::signals of a variable
    std::string name;
};

struct Model {
    Header header;
    std::string stamp;
    std::vector<Signal> signals;
    std::vector<TreeEntry> tree;
};

// Checks and decodes everything but the value changes. Oddities that can be recovered from
// are appended to *warnings.
bool ParseModel(const uint8_t* bytes, size_t size, Model* model, std::string* error,
                std::vector<std::string>* warnings);
// Checks that a signal's change tags are non-decreasing.
bool CheckChangeBlock(const uint8_t* bytes, size_t size, const Signal& signal, std::string* error);

inline uint32_t Get32(const uint8_t* p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
inline uint64_t Get64(const uint8_t* p)
{
    return Get32(p) | uint64_t(Get32(p + 4)) << 32;
}

}  // namespace nffr

#endif
