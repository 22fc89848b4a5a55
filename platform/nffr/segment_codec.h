// segment_codec.h: the segments of layout 2 (nffr_layout.h): one run of a signal's changes
// packed and compressed by the writers, and checked and decoded by the reader.
#ifndef NFFR_SEGMENT_CODEC_H
#define NFFR_SEGMENT_CODEC_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace nffr {
namespace segment {

// What encoding and decoding reuse from one segment to the next: a buffer and zstd's contexts.
class Workspace {
public:
    Workspace() = default;
    ~Workspace();
    Workspace(const Workspace&) = delete;
    Workspace& operator=(const Workspace&) = delete;

private:
    friend struct Codec;
    std::vector<uint8_t> bytes_;
    void* compress_ = nullptr;
    void* decompress_ = nullptr;
};

// A segment's index entry, without its offset.
struct Entry {
    uint32_t stored = 0;
    uint32_t count = 0;
    uint32_t packed = 0;
    uint8_t codec = 0;
};

// The raw changes a writer buffers before it cuts a segment: about this many bytes of tags and
// values (and at least one change).
constexpr size_t kSegmentBytes = size_t(1) << 20;

// Packs and compresses count changes (count tags; count values of valueSize bytes, one after
// the other), replacing *out with the bytes to store; bit packing is tried when holdsBits. Tags
// must not decrease.
Entry Encode(const uint64_t* tags, const uint8_t* values, uint32_t count, uint32_t valueSize,
             bool holdsBits, std::vector<uint8_t>* out, Workspace* work);

// Encode for tags given as the varints Encode stores: the first tag, then each one's difference
// to the one before (stepBytes bytes in all), which saves writers that keep them so a decoding.
Entry EncodeSteps(const uint8_t* steps, size_t stepBytes, const uint8_t* values, uint32_t count,
                  uint32_t valueSize, bool holdsBits, std::vector<uint8_t>* out, Workspace* work);

// Stores entry (with its offset) as an index entry at at (kSegEntrySize bytes).
void StoreEntry(uint8_t* at, uint64_t offset, const Entry& entry);
// Reads an index entry.
Entry LoadEntry(const uint8_t* at, uint64_t* offset);

// Empty when entry's claims fit what stored bytes can give for values of valueSize bytes;
// otherwise what is wrong. Checked before anything is allocated for the segment.
std::string CheckEntry(const Entry& entry, uint32_t valueSize);

// Decodes a segment whose entry passed CheckEntry from its stored bytes: tags into tags[0,
// count), values into values (count * valueSize bytes). Empty on success, otherwise what is
// damaged.
std::string Decode(const uint8_t* stored, const Entry& entry, uint32_t valueSize, uint8_t* tags,
                   uint8_t* values, Workspace* work);

}  // namespace segment
}  // namespace nffr

#endif
