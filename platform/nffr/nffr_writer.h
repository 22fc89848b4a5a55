// nffr_writer.h: FileWriter builds an FSDB file of our layout in memory and writes it.
// Misuse (a change for an unknown idcode, values of the wrong size, ...) is recorded and makes
// Bytes()/Write() fail with a message; nothing throws.
#ifndef NFFR_WRITER_H
#define NFFR_WRITER_H

#include <cstdint>
#include <cstdio>
#include <deque>
#include <map>
#include <string>
#include <vector>

namespace nffr {

namespace detail {
class StreamState;
}
namespace segment {
struct Entry;
class Workspace;
}  // namespace segment

// Where a BlockSource writes one variable's change block: its tags, then its values.
class BlockOut {
public:
    // Tags must not decrease within a block.
    void Tags(const uint64_t* tags, size_t n);
    void Values(const void* bytes, size_t size);

private:
    friend class FileWriter;
    std::FILE* file_ = nullptr;
    uint64_t written_ = 0;
    uint64_t lastTag_ = 0;
    uint64_t maxTag_ = 0;
    bool unordered_ = false;
};

// Change blocks supplied at write time by the caller, for files too large to be held twice.
class BlockSource {
public:
    virtual ~BlockSource() = default;
    virtual uint32_t Count(int idcode) const = 0;  // changes the variable's block holds
    // Writes Count(idcode) tags and then as many values of the variable's value size.
    virtual void Write(int idcode, BlockOut* out) const = 0;
};

class FileWriter {
public:
    // The layout to write: 3 (compressed segments, short header, the default), 2 (compressed
    // segments) or 1 (change blocks as they are).
    void SetLayout(int layout);
    void SetFileType(uint32_t type);
    void SetTimeUnit(std::string unit);  // up to 127 characters
    void SetEndTag(uint64_t tag);        // default: the largest change tag, or 0
    void SetStamp(std::string stamp);    // up to 2047 characters
    void ClearStamp();

    void BeginScope(std::string name);
    void EndScope();

    // A variable in the current scope; idcode 0 takes the next free one. Returns the idcode,
    // or 0 when the idcode is already in use (recorded as an error).
    int AddVar(const std::string& name, uint8_t varType, uint32_t bitSize,
               uint8_t valueDataType = 3, int idcode = 0);
    // A second tree entry of an existing variable, sharing its changes.
    void AddAlias(const std::string& name, int idcode);
    // Takes a variable out again, with its aliases and the closed scopes left empty by it.
    void RemoveVar(int idcode);
    void SetCountUnknown(int idcode);               // recorded count 0
    void SetRecordedCount(int idcode, uint32_t n);  // a count that may differ from the truth

    // Value changes; tags must be non-decreasing per variable.
    void AddChange(int idcode, uint64_t tag, std::vector<uint8_t> bytes);
    void AddReal(int idcode, uint64_t tag, double v);                 // as float or double
    void AddBits(int idcode, uint64_t tag, const std::string& bits);  // "01xz", one byte per bit

    // True when the variable holds reals (file type 1 and variable type nonzero).
    bool HoldsReals(int idcode) const;
    bool HasVar(int idcode) const;

    // The whole file image; false (and *error set) when the description is inconsistent.
    bool Bytes(std::vector<uint8_t>* out, std::string* error = nullptr) const;
    // Writes the file, replacing any existing one through a rename so that readers that still
    // hold the old file keep reading it (on Windows, where a held file cannot be renamed over,
    // the held file is renamed aside and deleted).
    bool Write(const std::string& path, std::string* error = nullptr) const;
    // Writes the file the same way with every change block taken from source instead of from
    // changes added to this writer (which must hold none), streaming the blocks to disk.
    bool WriteStreamed(const std::string& path, const BlockSource& source,
                       std::string* error = nullptr) const;
    // Writes raw bytes the same way (for damaged files built by tests).
    static bool WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes,
                           std::string* error = nullptr);

private:
    friend class detail::StreamState;
    struct Var {
        int idcode = 0;
        uint8_t varType = 0;
        uint8_t valueDataType = 3;
        uint32_t bitSize = 0;
        bool countUnknown = false;
        bool countSet = false;
        uint32_t recordedCount = 0;
        std::vector<uint64_t> tags;
        std::vector<std::vector<uint8_t>> values;
    };
    struct TreeRecord {
        uint8_t kind;
        std::string name;
        int idcode;
    };

    // One signal's segments in layout 2: its change count, the number of its index entries and
    // the entries themselves, unless their writer keeps them elsewhere (the streaming writer
    // spills them to a file, so that its memory does not grow with the dump).
    struct SegmentList {
        std::vector<uint8_t> index;
        uint32_t count = 0;
        uint64_t entries = 0;
        void Add(uint64_t offset, const segment::Entry& entry);
    };

    uint32_t ValueSize(const Var& var) const;
    // False (and *error set) when the description is inconsistent.
    bool Check(std::string* error) const;
    // The header's fixed fields.
    void PutHeader(std::vector<uint8_t>& b, uint32_t version) const;
    // Appends the stamp and the hierarchy to b, which begins at offset base of the file, up to
    // where the variable table begins, and sets their fields in header.
    void AppendStampAndTree(std::vector<uint8_t>& b, uint64_t base,
                            std::vector<uint8_t>& header) const;
    // The variable-table entry of var at e, but for its block or index fields.
    void PutVarEntry(std::vector<uint8_t>& b, size_t e, const Var& var, uint32_t count) const;
    bool Layout1Bytes(std::vector<uint8_t>* out) const;
    bool Layout2Bytes(std::vector<uint8_t>* out, std::string* error) const;
    // Appends var's changes to b as segments, listing them in list.
    void AppendSegments(const Var& var, std::vector<uint8_t>& b, SegmentList* list,
                        segment::Workspace* work) const;
    // What follows the segments of a layout-2 or layout-3 file that end at offset at: the
    // segment indexes, each variable's entries in the order of the table (*indexBytes bytes in
    // all, written by the caller; in layout 3 none for a variable of one segment, whose entry
    // list.index must hold), then the metadata block of stamp, hierarchy and variable table
    // (*out), then zeros up to the file size of the header (*header, of the layout's size); the
    // changes are those of segments (by idcode), the largest tag lastTag.
    bool Layout2Tail(uint64_t at, const std::map<int, SegmentList>& segments, uint64_t lastTag,
                     std::vector<uint8_t>* out, uint64_t* indexBytes, std::vector<uint8_t>* header,
                     std::string* error) const;
    // The reader takes a signal holding bits only from a file at least its bit size long (so
    // that no declared size makes it allocate more than the file justifies): the widest such
    // signal's bit size, to which a file of wide signals without changes is padded with zeros.
    uint64_t MinFileSize() const;
    // Layout 3 keeps a signal's only segment entry (when list holds it) in its variable-table
    // entry, not in an index.
    bool Inline(const SegmentList& list) const;
    // The file size the header made by Layout2Tail gives.
    static uint64_t FileSizeOf(const std::vector<uint8_t>& header);
    size_t ImageSize() const;
    // "cannot write "PATH": reason" from errno.
    static std::string CannotWrite(const std::string& path);
    // Renames temp over path, removing temp when that fails.
    static bool ReplaceWith(const std::string& temp, const std::string& path, std::string* error);
    Var* Find(int idcode);
    void Fail(const std::string& message);

    int layout_ = 3;
    uint32_t fileType_ = 1;
    std::string unit_ = "1ns";
    bool endTagSet_ = false;
    uint64_t endTag_ = 0;
    bool hasStamp_ = false;
    std::string stamp_;
    int depth_ = 0;
    int nextId_ = 1;
    std::deque<TreeRecord> tree_;  // grows without copying a large design's tree
    std::map<int, Var> vars_;
    std::vector<int> order_;  // idcodes in creation order
    // Misuse noticed while building; value sizes are checked when the image is built.
    std::vector<std::string> errors_;
};

}  // namespace nffr

#endif
