// segment_codec.cpp: packs, compresses, checks and decodes the segments of layout 2; the one
// copy of the encoding, shared by both writers and the reader.
#include "segment_codec.h"

#include <zstd.h>

#include <cstring>

#include "nffr_layout.h"

namespace nffr {
namespace segment {
namespace {

namespace L = layout;

// zstd's level 3 (its default): measured on simulator dumps, higher levels gain little (see
// docs/file-format.md) and cost the import time.
constexpr int kZstdLevel = 3;

void PutVarint(std::vector<uint8_t>* out, uint64_t v)
{
    while (v >= 0x80) {
        out->push_back(static_cast<uint8_t>(v | 0x80));
        v >>= 7;
    }
    out->push_back(static_cast<uint8_t>(v));
}

// Reads a varint of at most 64 bits from [*p, end); false when it runs past end or overflows.
bool GetVarint(const uint8_t** p, const uint8_t* end, uint64_t* v)
{
    uint64_t value = 0;
    for (int shift = 0; shift < 64 && *p < end; shift += 7) {
        const uint8_t byte = *(*p)++;
        if (shift == 63 && byte > 1)
            return false;
        value |= uint64_t(byte & 0x7f) << shift;
        if (!(byte & 0x80)) {
            *v = value;
            return true;
        }
    }
    return false;
}

// Bits per value byte of a packing; 8 for bytes.
unsigned BitsPer(uint8_t pack)
{
    return pack == L::kPackBits1 ? 1 : pack == L::kPackBits2 ? 2 : 8;
}

uint64_t PackedValueBytes(uint8_t pack, uint64_t valueBytes)
{
    return (valueBytes * BitsPer(pack) + 7) / 8;
}

// Every packed byte's values: 8 of packing 1, 4 of packing 2, so that unpacking copies them
// rather than shifting bit by bit.
struct UnpackTables {
    uint8_t one[256][8];
    uint8_t two[256][4];
    UnpackTables()
    {
        for (int b = 0; b < 256; ++b) {
            for (int k = 0; k < 8; ++k)
                one[b][k] = (b >> k) & 1;
            for (int k = 0; k < 4; ++k)
                two[b][k] = (b >> (2 * k)) & 3;
        }
    }
};

// Unpacks n value bytes of packing pack from in.
void Unpack(uint8_t pack, const uint8_t* in, uint8_t* out, size_t n)
{
    static const UnpackTables tables;
    const size_t per = pack == L::kPackBits1 ? 8 : 4;
    const size_t whole = n / per;
    if (pack == L::kPackBits1) {
        for (size_t i = 0; i < whole; ++i)
            std::memcpy(out + 8 * i, tables.one[in[i]], 8);
    } else {
        for (size_t i = 0; i < whole; ++i)
            std::memcpy(out + 4 * i, tables.two[in[i]], 4);
    }
    if (n % per)
        std::memcpy(out + whole * per,
                    pack == L::kPackBits1 ? tables.one[in[whole]] : tables.two[in[whole]], n % per);
}

}  // namespace

// Workspace's privates, for the functions below.
struct Codec {
    static std::vector<uint8_t>& Bytes(Workspace* w) { return w->bytes_; }
    static ZSTD_CCtx* Compressor(Workspace* w)
    {
        if (!w->compress_)
            w->compress_ = ZSTD_createCCtx();
        return static_cast<ZSTD_CCtx*>(w->compress_);
    }
    static ZSTD_DCtx* Decompressor(Workspace* w)
    {
        if (!w->decompress_)
            w->decompress_ = ZSTD_createDCtx();
        return static_cast<ZSTD_DCtx*>(w->decompress_);
    }
};

Workspace::~Workspace()
{
    ZSTD_freeCCtx(static_cast<ZSTD_CCtx*>(compress_));
    ZSTD_freeDCtx(static_cast<ZSTD_DCtx*>(decompress_));
}

namespace {

// Packs each value byte (at most 1, or 3) into bits per value of the packed byte at out, LSB
// first; the 8 / bits values of a whole packed byte are read as one word and gathered into it.
void PackBits(const uint8_t* values, size_t n, unsigned bits, uint8_t* out)
{
    const size_t per = 8 / bits, whole = n / per;
    if (bits == 1) {
        for (size_t i = 0; i < whole; ++i, values += 8) {
            const uint64_t x = L::Load64(values);                            // value k at bit 8k
            out[i] = static_cast<uint8_t>((x * 0x0102040810204080u) >> 56);  // to bit 56 + k
        }
    } else {
        for (size_t i = 0; i < whole; ++i, values += 4) {
            uint32_t x = L::Load32(values);
            x = (x | x >> 6) & 0x000f000fu;  // bits 8-9 to 2-3, 24-25 to 18-19
            out[i] = static_cast<uint8_t>(x | x >> 12);
        }
    }
    unsigned byte = 0;
    for (size_t k = 0; k < n % per; ++k)
        byte |= unsigned(values[k]) << (k * bits);
    if (n % per)
        out[whole] = static_cast<uint8_t>(byte);
}

// The values' bytes or'ed together, a word at a time.
uint8_t AnyBits(const uint8_t* values, size_t n)
{
    uint64_t any = 0;
    size_t i = 0;
    for (uint64_t x; i + 8 <= n; i += 8) {
        std::memcpy(&x, values + i, 8);
        any |= x;
    }
    for (; i < n; ++i)
        any |= values[i];
    for (int shift = 32; shift >= 8; shift /= 2)
        any |= any >> shift;
    return static_cast<uint8_t>(any);
}

// Appends the values to p, which holds a byte for the packing and the tag steps, packed as
// holdsBits allows, then compresses p into *out.
Entry Seal(std::vector<uint8_t>& p, const uint8_t* values, uint32_t count, uint32_t valueSize,
           bool holdsBits, std::vector<uint8_t>* out, Workspace* work)
{
    const size_t valueBytes = size_t(count) * valueSize;
    uint8_t pack = L::kPackBytes;
    if (holdsBits) {
        const uint8_t any = AnyBits(values, valueBytes);
        pack = any <= 1 ? L::kPackBits1 : any <= 3 ? L::kPackBits2 : L::kPackBytes;
    }
    p[0] = pack;
    const size_t start = p.size();
    if (pack == L::kPackBytes) {
        p.insert(p.end(), values, values + valueBytes);
    } else {
        p.resize(start + PackedValueBytes(pack, valueBytes));
        PackBits(values, valueBytes, BitsPer(pack), p.data() + start);
    }

    Entry entry;
    entry.count = count;
    entry.packed = static_cast<uint32_t>(p.size());
    out->resize(ZSTD_compressBound(p.size()));
    ZSTD_CCtx* cctx = Codec::Compressor(work);
    const size_t n =
        cctx ? ZSTD_compressCCtx(cctx, out->data(), out->size(), p.data(), p.size(), kZstdLevel)
             : ZSTD_compress(out->data(), out->size(), p.data(), p.size(), kZstdLevel);
    if (ZSTD_isError(n) || n >= p.size()) {
        out->assign(p.begin(), p.end());
        entry.codec = L::kCodecNone;
    } else {
        out->resize(n);
        entry.codec = L::kCodecZstd;
        // A segment that compresses better than the reader accepts is padded with zeros.
        const uint64_t decoded = uint64_t(count) * (8 + uint64_t(valueSize));
        const uint64_t claim = decoded > p.size() ? decoded : p.size();
        const uint64_t least = (claim + L::kMaxExpansion - 1) / L::kMaxExpansion;
        if (out->size() < least)
            out->resize(static_cast<size_t>(least), 0);
    }
    entry.stored = static_cast<uint32_t>(out->size());
    return entry;
}

}  // namespace

Entry Encode(const uint64_t* tags, const uint8_t* values, uint32_t count, uint32_t valueSize,
             bool holdsBits, std::vector<uint8_t>* out, Workspace* work)
{
    std::vector<uint8_t>& p = Codec::Bytes(work);
    p.assign(1, 0);
    for (uint32_t i = 0; i < count; ++i)
        PutVarint(&p, i == 0 ? tags[0] : tags[i] - tags[i - 1]);
    return Seal(p, values, count, valueSize, holdsBits, out, work);
}

Entry EncodeSteps(const uint8_t* steps, size_t stepBytes, const uint8_t* values, uint32_t count,
                  uint32_t valueSize, bool holdsBits, std::vector<uint8_t>* out, Workspace* work)
{
    std::vector<uint8_t>& p = Codec::Bytes(work);
    p.assign(1, 0);
    p.insert(p.end(), steps, steps + stepBytes);
    return Seal(p, values, count, valueSize, holdsBits, out, work);
}

void StoreEntry(uint8_t* at, uint64_t offset, const Entry& entry)
{
    std::memset(at, 0, L::kSegEntrySize);
    L::Store64(at + L::kSegOffOffset, offset);
    L::Store32(at + L::kSegOffStoredSize, entry.stored);
    L::Store32(at + L::kSegOffCount, entry.count);
    L::Store32(at + L::kSegOffPackedSize, entry.packed);
    at[L::kSegOffCodec] = entry.codec;
}

Entry LoadEntry(const uint8_t* at, uint64_t* offset)
{
    Entry entry;
    *offset = L::Load64(at + L::kSegOffOffset);
    entry.stored = L::Load32(at + L::kSegOffStoredSize);
    entry.count = L::Load32(at + L::kSegOffCount);
    entry.packed = L::Load32(at + L::kSegOffPackedSize);
    entry.codec = at[L::kSegOffCodec];
    return entry;
}

std::string CheckEntry(const Entry& e, uint32_t valueSize)
{
    if (e.codec != L::kCodecNone && e.codec != L::kCodecZstd)
        return "unknown codec " + std::to_string(e.codec);
    if (e.count == 0 || e.packed < 1 + uint64_t(e.count))
        return "a count of " + std::to_string(e.count) + " changes in " + std::to_string(e.packed) +
               " packed bytes";
    if (e.codec == L::kCodecNone && e.packed != e.stored)
        return "packed size differs from the stored size";
    const uint64_t decoded = uint64_t(e.count) * (8 + uint64_t(valueSize));
    const uint64_t most = L::kMaxExpansion * e.stored;
    if (decoded > most || e.packed > most)
        return std::to_string(e.stored) + " stored bytes claim " +
               std::to_string(decoded > e.packed ? decoded : e.packed) + " decoded (more than " +
               std::to_string(L::kMaxExpansion) + " times as many)";
    return std::string();
}

std::string Decode(const uint8_t* stored, const Entry& e, uint32_t valueSize, uint8_t* tags,
                   uint8_t* values, Workspace* work)
{
    const uint8_t* p = stored;
    if (e.codec == L::kCodecZstd) {
        const size_t frame = ZSTD_findFrameCompressedSize(stored, e.stored);
        if (ZSTD_isError(frame))
            return "its compressed bytes are damaged";
        std::vector<uint8_t>& packed = Codec::Bytes(work);
        packed.resize(e.packed);
        ZSTD_DCtx* dctx = Codec::Decompressor(work);
        const size_t n = dctx ? ZSTD_decompressDCtx(dctx, packed.data(), e.packed, stored, frame)
                              : ZSTD_decompress(packed.data(), e.packed, stored, frame);
        if (ZSTD_isError(n) || n != e.packed)
            return "its compressed bytes are damaged or do not give its packed size";
        p = packed.data();
    }
    const uint8_t* end = p + e.packed;
    const uint8_t pack = *p++;
    if (pack > L::kPackBits2)
        return "unknown packing " + std::to_string(pack);
    // The first tag is a step from 0, so every tag is the previous one plus its step.
    uint64_t tag = 0;
    for (uint32_t i = 0; i < e.count; ++i) {
        uint64_t v = 0;
        if (p < end && *p < 0x80)
            v = *p++;  // a step below 128 in one byte, the usual case, read inline
        else if (!GetVarint(&p, end, &v))
            return "its tags are damaged";
        if (tag + v < tag)
            return "its tags are damaged";
        tag += v;
        L::Store64(tags + 8 * uint64_t(i), tag);
    }
    const uint64_t valueBytes = uint64_t(e.count) * valueSize;
    if (uint64_t(end - p) != PackedValueBytes(pack, valueBytes))
        return "its values take " + std::to_string(end - p) + " bytes, not " +
               std::to_string(PackedValueBytes(pack, valueBytes));
    if (pack == L::kPackBytes) {
        std::memcpy(values, p, static_cast<size_t>(valueBytes));
    } else {
        Unpack(pack, p, values, static_cast<size_t>(valueBytes));
    }
    return std::string();
}

}  // namespace segment
}  // namespace nffr
