// internal.h: what the reader library's source files share: message sinks, test hooks and
// contract checks, file access, and the parsed form of a file.
#ifndef NFFR_READER_INTERNAL_H
#define NFFR_READER_INTERNAL_H

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "nffr.h"
#include "nffr_layout.h"
#include "nffr_testhooks.h"

// Shipped builds leave the checks out; the test build turns them on (see CMakeLists.txt).
#ifndef NFFR_CONTRACT_CHECKS
#define NFFR_CONTRACT_CHECKS 0
#endif

namespace nffr {

// Message sinks (process-wide); unset sinks write to stderr. Every message is sent with
// exactly one trailing newline. Neither throws.
void ReportError(const std::string& text) noexcept;
void ReportWarning(const std::string& text) noexcept;
// "what: reason" as an error, without allocating (for failures such as exhausted memory).
void ReportFailure(const char* what, const char* reason) noexcept;

// Test hooks are armed for good by the first testhooks call (always, with the checks on), so
// that a shipped host pays one untaken branch per call for them.
extern bool g_hooksArmed;
bool EnterOpArmed(testhooks::Op op);
// Counts a call of op; true when an injected failure is due for it.
inline bool EnterOp(testhooks::Op op)
{
    return __builtin_expect(g_hooksArmed, 0) && EnterOpArmed(op);
}
// Sends the per-change calls of every live traverser through the library from now on, so that
// armed hooks see them.
void CoolLiveTraversers();
// The forced change count, when one is set.
bool ForcedChangeCount(int* value);
// The bound of each reader object's cache of decoded changes, in bytes.
size_t CacheBytes();
// Misuse of an object: a contract violation with the checks on, an error message without.
void Misuse(const std::string& text) noexcept;
bool TakeAddressReuseRequest();

// What tells whether a file is still the one that was read.
struct DiskState {
    uint64_t size = 0;
    int64_t mtimeNs = 0;
    int64_t ctimeNs = 0;
    uint64_t device = 0;
    uint64_t inode = 0;
    bool operator==(const DiskState& o) const
    {
        return size == o.size && mtimeNs == o.mtimeNs && ctimeNs == o.ctimeNs &&
               device == o.device && inode == o.inode;
    }
    bool operator!=(const DiskState& o) const { return !(*this == o); }
};

// The state of the file at path, its identity key ("device:inode") and its canonical path.
// False with *error set when it cannot be read.
bool QueryFile(const char* path, std::string* identity, std::string* canonical, DiskState* state,
               std::string* error);
std::string IdentityOf(const DiskState& state);

// An open, read-only file, read at 64-bit offsets. The handle is kept so that later reads
// come from the file that was parsed even if its path is renamed over meanwhile.
class FileHandle {
public:
    static std::unique_ptr<FileHandle> Open(const char* path, std::string* error);
    ~FileHandle();
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;
    // False unless all size bytes at offset were read (a file now shorter fails).
    bool ReadAt(uint64_t offset, void* buffer, size_t size) const;
    // The state of the open file now; false when it cannot be asked.
    bool Now(DiskState* state) const;
    // The state when the file was opened.
    const DiskState& state() const { return state_; }

private:
    FileHandle() = default;
#ifdef _WIN32
    void* handle_ = nullptr;
#else
    int fd_ = -1;
#endif
    DiskState state_;
};

// The fixed header, decoded and checked.
struct Header {
    uint32_t version = 0;  // layout::kVersion, kVersion2 or kVersion3
    int32_t fileType = 0;
    uint32_t flags = 0;
    uint64_t endTag = 0;
    uint64_t fileSize = 0;
    uint64_t hierOffset = 0, hierSize = 0;
    uint64_t varTableOffset = 0;
    uint32_t varCount = 0, scopeCount = 0, treeVarCount = 0;
    uint32_t stampLength = 0;
    uint64_t stampOffset = 0;
    // Layouts 2 and 3: the metadata block holding the stamp, hierarchy and variable table, whose
    // offsets above are then offsets in its decoded bytes.
    uint64_t metaOffset = 0;
    uint32_t metaStored = 0, metaDecoded = 0;
    uint8_t metaCodec = 0;
    char unit[128] = {0};
    bool HasStamp() const { return flags & 1u; }
};

// Decodes the header from the first bytes of a file of actualSize bytes.
bool ParseHeader(const uint8_t* bytes, size_t available, uint64_t actualSize, Header* header,
                 std::string* error);
// Reads the header of the file at path as it is now; false with *error set when refused.
bool ReadHeaderFromDisk(const char* path, Header* header, std::string* error);
// Reads the stamp from disk as the file is now: 1 with *stamp set, 0 without a stamp, -1 when
// the file is unreadable or not ours.
int ReadStampFromDisk(const char* path, std::string* stamp);

struct Signal {
    int32_t idcode = 0;
    uint8_t varType = 0;
    uint8_t valueDataType = 0;
    bool holdsBits = false;  // one byte per bit; otherwise reals
    bool damaged = false;    // its record claims more than the file holds: Model::damage says what
    uint32_t bitSize = 0;
    uint32_t valueSize = 0;
    uint32_t changeCount = 0;
    uint32_t recordedCount = 0;
    uint32_t firstEntry = UINT32_MAX;  // its first tree entry, which names it
    uint64_t blockOffset = 0;          // layouts 2 and 3: its segment index, or its one segment
    uint64_t indexSize = 0;            // layouts 2 and 3: bytes of its segment index
    // Layout 3: a signal of one segment has its index entry in the table (layout::kFormOneSegment).
    uint8_t form = 0;
    uint8_t segCodec = 0;
    uint32_t segStored = 0, segPacked = 0;
};

constexpr uint32_t kNoParent = UINT32_MAX;

// One hierarchy record; names live in Model::names, each NUL-terminated.
struct TreeEntry {
    uint8_t kind = 0;             // layout::kRecScopeBegin, kRecVar, kRecScopeEnd
    uint32_t depth = 0;           // of a scope
    uint32_t signal = 0;          // index into Model::signals of a variable
    uint32_t parent = kNoParent;  // the enclosing scope's entry
    uint64_t name = 0;            // offset into Model::names
};

struct Model {
    Header header;
    std::string stamp;
    std::vector<Signal> signals;
    std::vector<TreeEntry> tree;
    std::vector<char> names;
    // Why each damaged signal (by index) is refused. Such a signal's other fields are never
    // used to read or allocate: it is refused at its load, the rest of the file loads.
    std::unordered_map<uint32_t, std::string> damage;
};

// Checks and decodes everything but the value changes, reading only what the header says is
// there. Oddities that can be recovered from are appended to *warnings. May throw
// std::bad_alloc; callers catch it.
bool ParseModel(const FileHandle& file, Model* model, std::string* error,
                std::vector<std::string>* warnings);
// The signal's full name, its scopes joined with '.'; empty when it has none.
std::string FullName(const Model& model, const Signal& signal);
// How messages name a signal: "top.a (idcode 1)", or "idcode 1" when it has no name.
std::string SignalLabel(const Model& model, const Signal& signal);
// Checks that a change block's tags are non-decreasing.
bool CheckChangeBlock(const uint8_t* block, const Signal& signal, std::string* error);

// The layout's little-endian loads, under the reader's short names.
inline uint32_t Get32(const uint8_t* p)
{
    return layout::Load32(p);
}
inline uint64_t Get64(const uint8_t* p)
{
    return layout::Load64(p);
}

}  // namespace nffr

#endif
