// meta_codec.h: the metadata block of layouts 2 and 3 (nffr_layout.h): the stamp, hierarchy and
// variable table, compressed by the writers as one zstd frame and decoded by the reader at open.
#ifndef NFFR_META_CODEC_H
#define NFFR_META_CODEC_H

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace nffr {
namespace meta {

// Replaces *out with the bytes to store for the decoded metadata and returns their codec: one
// zstd frame (padded with zeros to the expansion bound) when it is smaller, else the bytes as
// they are.
uint8_t Pack(const std::vector<uint8_t>& decoded, std::vector<uint8_t>* out);

// Pack for layout 3, whose first head bytes (the header's fields and the stamp, which are read
// on every load) end zstd's first block when there are more blocks: reading them decodes no
// more than they.
uint8_t PackWithHead(const std::vector<uint8_t>& decoded, size_t head, std::vector<uint8_t>* out);

// Empty when a block of stored bytes can give decoded bytes with codec; otherwise what is
// wrong. Checked before anything is allocated for the block.
std::string Check(uint64_t stored, uint64_t decoded, uint8_t codec);

// Decodes a block that passed Check into *out (decoded bytes); empty on success, otherwise
// what is damaged.
std::string Unpack(const uint8_t* stored, size_t storedSize, uint8_t codec, size_t decoded,
                   std::vector<uint8_t>* out);

// Reads stored bytes [offset, offset + n) of the block into buf; false when it cannot.
using ReadStored = std::function<bool(uint64_t offset, uint8_t* buf, size_t n)>;

// Decodes the first bytes of a block that passed Check, reading its stored bytes in small
// steps: the header's fields and the stamp at the block's start are read on every load, and a
// large design's block is megabytes. Each Extend decodes on from where the last one stopped.
class Prefix {
public:
    Prefix(ReadStored read, uint64_t storedSize, uint8_t codec);
    ~Prefix();
    Prefix(const Prefix&) = delete;
    Prefix& operator=(const Prefix&) = delete;
    // Makes the first want bytes (at most the decoded size) available in Bytes(); empty on
    // success, otherwise what is damaged.
    std::string Extend(size_t want);
    const std::vector<uint8_t>& Bytes() const { return out_; }

private:
    ReadStored read_;
    uint64_t storedSize_;
    uint8_t codec_;
    void* stream_ = nullptr;
    std::vector<uint8_t> out_;
    uint8_t chunk_[4096];
    size_t chunkSize_ = 0, chunkPos_ = 0;
    uint64_t at_ = 0;
    bool ended_ = false;  // the frame ended
};

// The first `want` bytes (at most `decoded`) of a block that passed Check, into *out. Empty on
// success, otherwise what is damaged.
std::string UnpackPrefix(const ReadStored& read, uint64_t storedSize, uint8_t codec, size_t want,
                         std::vector<uint8_t>* out);

}  // namespace meta
}  // namespace nffr

#endif
