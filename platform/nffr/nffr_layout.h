// nffr_layout.h: the on-disk layout of our FSDB files (little-endian), shared by the reader,
// the writer and the tests that build damaged files. docs/file-format.md describes it in full.
#ifndef NFFR_LAYOUT_H
#define NFFR_LAYOUT_H

#include <stdint.h>

namespace nffr {
namespace layout {

// Little-endian stores and loads of the layout's u32 and u64 fields, whatever the host's byte
// order.
inline void Store32(uint8_t* at, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        at[i] = static_cast<uint8_t>(v >> (8 * i));
}

inline void Store64(uint8_t* at, uint64_t v)
{
    for (int i = 0; i < 8; ++i)
        at[i] = static_cast<uint8_t>(v >> (8 * i));
}

inline uint32_t Load32(const uint8_t* at)
{
    return uint32_t(at[0]) | uint32_t(at[1]) << 8 | uint32_t(at[2]) << 16 | uint32_t(at[3]) << 24;
}

inline uint64_t Load64(const uint8_t* at)
{
    return Load32(at) | uint64_t(Load32(at + 4)) << 32;
}

constexpr unsigned char kMagic[8] = {'Q', 'R', 'V', 'L', 'W', 'A', 'V', 0x1a};
constexpr uint32_t kVersion = 1;   // change blocks stored as they are
constexpr uint32_t kVersion2 = 2;  // compressed segments, found through a segment index
constexpr uint32_t kVersion3 = 3;  // layout 2 with a short header and one-segment entries inline

// Fixed header at offset 0.
constexpr uint32_t kHeaderSize = 256;
constexpr uint32_t kOffMagic = 0;            // 8 bytes
constexpr uint32_t kOffVersion = 8;          // u32
constexpr uint32_t kOffHeaderSize = 12;      // u32, kHeaderSize
constexpr uint32_t kOffFileType = 16;        // i32
constexpr uint32_t kOffFlags = 20;           // u32, kFlagStamp
constexpr uint32_t kOffEndTag = 24;          // u64
constexpr uint32_t kOffFileSize = 32;        // u64, the whole file
constexpr uint32_t kOffHierOffset = 40;      // u64
constexpr uint32_t kOffHierSize = 48;        // u64
constexpr uint32_t kOffVarTableOffset = 56;  // u64
constexpr uint32_t kOffVarCount = 64;        // u32, signals in the variable table
constexpr uint32_t kOffScopeCount = 68;      // u32, scope-begin records in the hierarchy
constexpr uint32_t kOffTreeVarCount = 72;    // u32, variable records (aliases included)
constexpr uint32_t kOffStampLength = 76;     // u32, without the NUL
constexpr uint32_t kOffStampOffset = 80;     // u64
constexpr uint32_t kOffUnit = 88;            // char[128], NUL-terminated
constexpr uint32_t kUnitSize = 128;
// Layout 2 keeps the stamp, the hierarchy and the variable table in one metadata block, whose
// decoded bytes the stamp, hierarchy and variable table offsets above then refer to.
constexpr uint32_t kOffMetaOffset = 216;   // u64, where its stored bytes begin in the file
constexpr uint32_t kOffMetaStored = 224;   // u32, bytes stored (codec output and padding)
constexpr uint32_t kOffMetaDecoded = 228;  // u32, bytes the codec gives back
constexpr uint32_t kOffMetaCodec = 232;    // u8, kCodecNone or kCodecZstd; 0 up to byte 256

// Layout 3's header is short: the fields up to the flags as above, then the file size and the
// metadata block. The other fields of the header above (from the end tag to the unit) open the
// decoded metadata block as a record of kMetaRecordSize bytes, at their offsets less
// kMetaRecordFrom; the stamp, hierarchy and table offsets are offsets in the decoded block.
constexpr uint32_t kHeaderSize3 = 49;
constexpr uint32_t kOff3FileSize = 24;     // u64, the whole file
constexpr uint32_t kOff3MetaOffset = 32;   // u64
constexpr uint32_t kOff3MetaStored = 40;   // u32
constexpr uint32_t kOff3MetaDecoded = 44;  // u32
constexpr uint32_t kOff3MetaCodec = 48;    // u8
constexpr uint32_t kMetaRecordFrom = kOffEndTag;
constexpr uint32_t kMetaRecordSize = kOffMetaOffset - kOffEndTag;

// The bytes before the segments, the change blocks and the metadata.
inline uint32_t HeaderSize(uint32_t version)
{
    return version == kVersion3 ? kHeaderSize3 : kHeaderSize;
}

constexpr uint32_t kFlagStamp = 1;
constexpr uint32_t kMaxStampLength = 2047;

// Hierarchy records.
constexpr uint8_t kRecScopeBegin = 1;  // u32 name length, name bytes, NUL
constexpr uint8_t kRecVar = 2;         // u32 variable-table index, u32 name length, name, NUL
constexpr uint8_t kRecScopeEnd = 3;

// Variable table entry.
constexpr uint32_t kVarEntrySize = 48;
constexpr uint32_t kVarOffIdcode = 0;          // i32, > 0, unique
constexpr uint32_t kVarOffVarType = 4;         // u8
constexpr uint32_t kVarOffValueDataType = 5;   // u8: 2 floats, 3 doubles
constexpr uint32_t kVarOffBitSize = 8;         // u32
constexpr uint32_t kVarOffValueSize = 12;      // u32, bytes per value
constexpr uint32_t kVarOffChangeCount = 16;    // u32, changes stored in the block
constexpr uint32_t kVarOffRecordedCount = 20;  // u32, the count the file tells (0: unknown)
constexpr uint32_t kVarOffBlockOffset = 24;    // u64
constexpr uint32_t kVarOffBlockSize = 32;      // u64: changeCount * (8 + valueSize)

// A change block: changeCount u64 tags (non-decreasing), then changeCount values.

// Layout 2 keeps the header, hierarchy and variable table of layout 1; a variable-table entry's
// block fields name the signal's segment index instead, which is read only at its load.
constexpr uint32_t kVarOffIndexOffset = 24;  // u64
constexpr uint32_t kVarOffIndexSize = 32;    // u64: segments * kSegEntrySize

// In layout 3 a signal of one segment carries its index entry in its variable-table entry, as
// the form byte says; the count is the entry's change count.
constexpr uint32_t kVarOffForm = 40;       // u8: kFormIndex or kFormOneSegment
constexpr uint32_t kVarOffSegStored = 32;  // u32, of the one segment (its offset at 24)
constexpr uint32_t kVarOffSegPacked = 36;  // u32
constexpr uint32_t kVarOffSegCodec = 41;   // u8
constexpr uint8_t kFormIndex = 0;          // a segment index, as in layout 2
constexpr uint8_t kFormOneSegment = 1;     // one segment, described here

// A segment index entry: one run of a signal's changes, in tag order.
constexpr uint32_t kSegEntrySize = 24;
constexpr uint32_t kSegOffOffset = 0;       // u64, where its stored bytes begin
constexpr uint32_t kSegOffStoredSize = 8;   // u32, bytes stored (codec output and padding)
constexpr uint32_t kSegOffCount = 12;       // u32, changes, at least 1
constexpr uint32_t kSegOffPackedSize = 16;  // u32, bytes of the packed stream the codec gives
constexpr uint32_t kSegOffCodec = 20;       // u8, kCodecNone or kCodecZstd; 3 bytes of 0 follow
constexpr uint8_t kCodecNone = 0;           // the packed stream as it is
constexpr uint8_t kCodecZstd = 1;           // one zstd frame, then zeros up to the stored size

// The packed stream: a packing byte, count tags as LEB128 varints (the first as it is, then
// each one's difference to the one before), then the values: as bytes (kPackBytes), or every
// value byte as 1 or 2 bits (kPackBits1, kPackBits2), LSB first, the last byte padded with 0.
constexpr uint8_t kPackBytes = 0;
constexpr uint8_t kPackBits1 = 1;  // only bytes 0 and 1
constexpr uint8_t kPackBits2 = 2;  // only bytes 0 to 3

// The decoded changes of a segment (count * (8 + value size)) and its packed stream are at most
// kMaxExpansion times its stored size: the writer pads a segment that compresses better, and
// the reader refuses a segment that claims more, before allocating for it.
constexpr uint64_t kMaxExpansion = 1024;

}  // namespace layout
}  // namespace nffr

#endif
