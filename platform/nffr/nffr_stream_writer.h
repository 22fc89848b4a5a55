// nffr_stream_writer.h: StreamWriter writes a file of layout 3 (or 2) while the changes arrive, so
// that its memory stays bounded whatever the size of the dump.
#ifndef NFFR_STREAM_WRITER_H
#define NFFR_STREAM_WRITER_H

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace nffr {

namespace detail {
class StreamState;
}

// Contract:
// - Declarations are those of FileWriter, with the same meaning and defaults: file type (set it
//   before the first change: it decides which variables hold reals), time unit, end tag
//   (default: the largest change tag, or 0), stamp, BeginScope/EndScope, AddVar/AddAlias,
//   RemoveVar, SetCountUnknown/SetRecordedCount. They may come at any time before Finish, also
//   after changes were written: the hierarchy and the variable table are written by Finish.
//   RemoveVar of a variable whose changes were already partly written leaves dead bytes in the
//   file, never a wrong signal.
// - Changes come interleaved across variables; per variable their tags must not decrease. A
//   value holds exactly the variable's value size (ValueSize): one byte per bit (0, 1, 2 = x,
//   3 = z, other bytes kept as written) for a variable holding bits, or a float (4 bytes) or
//   double (8) for a real; AddReal converts to the variable's value data type.
// - Each variable's pending changes are buffered in fixed-size chunks of a pool that is reused
//   (the heap does not fragment). A full buffer is handed to a second thread, which compresses
//   it and appends it to the output as one segment, in the order handed. When all buffers
//   together exceed memoryBudget bytes (counted as buffers doubling as they fill would take,
//   which keeps the segments where they were always cut), the largest are handed over. Buffers
//   handed over and not yet written hold at most memoryBudget / 8, so memory stays about 1.125
//   memoryBudget plus the declarations.
// - The segments' index entries are spilled to tempPath + ".index" as the segments are written
//   and copied into the file's indexes by Finish, a window of memoryBudget / 8 bytes at a time.
// - The file is written under tempPath (default PATH.writing). Finish writes the remaining
//   segments, the segment index, the variable table, the hierarchy and the header, and renames
//   the file over path the way FileWriter::Write does (a file that readers hold open is
//   replaced, not rewritten, on Windows too). Abandon, or destroying the writer without a
//   successful Finish, removes the temporary file.
// - Nothing throws. The first misuse or write failure is kept: the change calls then return
//   false and do nothing more, and Finish returns false with that message (write failures read
//   `cannot write "PATH": reason`; one on the second thread is told by a later change call
//   or by Finish). Error() gives it at any time.
class StreamWriter {
public:
    static constexpr size_t kDefaultMemoryBudget = size_t(96) << 20;

    explicit StreamWriter(std::string path, size_t memoryBudget = kDefaultMemoryBudget,
                          std::string tempPath = std::string());
    ~StreamWriter();
    StreamWriter(const StreamWriter&) = delete;
    StreamWriter& operator=(const StreamWriter&) = delete;

    // The layout to write, 3 (the default) or 2; before the first change.
    void SetLayout(int layout);
    void SetFileType(uint32_t type);
    void SetTimeUnit(std::string unit);  // up to 127 characters
    void SetEndTag(uint64_t tag);
    void SetStamp(std::string stamp);  // up to 2047 characters
    void ClearStamp();

    void BeginScope(std::string name);
    void EndScope();
    // A variable in the current scope; idcode 0 takes the next free one. Returns the idcode, or
    // 0 when the idcode is already in use (recorded as an error).
    int AddVar(const std::string& name, uint8_t varType, uint32_t bitSize,
               uint8_t valueDataType = 3, int idcode = 0);
    void AddAlias(const std::string& name, int idcode);
    void RemoveVar(int idcode);
    void SetCountUnknown(int idcode);
    void SetRecordedCount(int idcode, uint32_t n);

    bool HasVar(int idcode) const;
    bool HoldsReals(int idcode) const;     // file type 1 and variable type nonzero
    uint32_t ValueSize(int idcode) const;  // bytes per value; 0 for an unknown idcode

    // One change of a variable: size must be its value size. False once an error is recorded.
    bool AddChange(int idcode, uint64_t tag, const uint8_t* bytes, size_t size);
    bool AddReal(int idcode, uint64_t tag, double v);
    // A hint that a change of idcode comes soon, for a caller that knows its next changes: stage
    // 0 brings the variable's buffer record into the cache, stage 1 (given after stage 0, a few
    // changes later) the place its next change goes. Changes nothing.
    void Prefetch(int idcode, int stage) const;

    bool Finish(std::string* error = nullptr);
    void Abandon();
    // The first error recorded; empty while there is none.
    const std::string& Error() const;
    // Bytes of changes buffered now (for tests and progress reports).
    size_t BufferedBytes() const;

private:
    std::unique_ptr<detail::StreamState> state_;
};

}  // namespace nffr

#endif
