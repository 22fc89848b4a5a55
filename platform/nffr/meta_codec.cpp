// meta_codec.cpp: packs and unpacks the metadata block of layouts 2 and 3 with zstd.
#include "meta_codec.h"

#include <zstd.h>

#include <algorithm>
#include <memory>

#include "nffr_layout.h"

namespace nffr {
namespace meta {

namespace L = layout;

namespace {

// Keeps n bytes of zstd's frame in *out when they are fewer than the decoded bytes, padded to
// the expansion bound; otherwise stores the decoded bytes as they are.
uint8_t Keep(const std::vector<uint8_t>& decoded, size_t n, std::vector<uint8_t>* out)
{
    if (ZSTD_isError(n) || n >= decoded.size()) {
        out->assign(decoded.begin(), decoded.end());
        return L::kCodecNone;
    }
    // Metadata that compresses better than the reader accepts is padded with zeros.
    const size_t least = (decoded.size() + L::kMaxExpansion - 1) / L::kMaxExpansion;
    out->resize(n > least ? n : least, 0);
    return L::kCodecZstd;
}

// Compresses in into *to with the given end directive; the size written so far, or an error.
size_t Stream(ZSTD_CCtx* cctx, ZSTD_outBuffer* to, ZSTD_inBuffer in, ZSTD_EndDirective end)
{
    size_t left;
    do {
        left = ZSTD_compressStream2(cctx, to, &in, end);
        if (ZSTD_isError(left) || (left != 0 && to->pos == to->size))
            return ZSTD_isError(left) ? left : size_t(-1);
    } while (left != 0 || in.pos < in.size);
    return to->pos;
}

}  // namespace

uint8_t Pack(const std::vector<uint8_t>& decoded, std::vector<uint8_t>* out)
{
    out->resize(ZSTD_compressBound(decoded.size()));
    const size_t n = ZSTD_compress(out->data(), out->size(), decoded.data(), decoded.size(),
                                   ZSTD_CLEVEL_DEFAULT);
    return Keep(decoded, n, out);
}

uint8_t PackWithHead(const std::vector<uint8_t>& decoded, size_t head, std::vector<uint8_t>* out)
{
    // Within one zstd block the head is decoded with the rest: ending a block there would only
    // cost the bytes of a second one.
    if (decoded.size() <= ZSTD_BLOCKSIZE_MAX)
        return Pack(decoded, out);
    std::unique_ptr<ZSTD_CCtx, size_t (*)(ZSTD_CCtx*)> cctx(ZSTD_createCCtx(), ZSTD_freeCCtx);
    head = std::min(head, decoded.size());
    // Room for the frame and the one more block header the flush makes.
    out->resize(ZSTD_compressBound(decoded.size()) + 16);
    ZSTD_outBuffer to{out->data(), out->size(), 0};
    size_t n = size_t(-1);  // a zstd error, should the context not be made
    if (cctx && !ZSTD_isError(ZSTD_CCtx_setPledgedSrcSize(cctx.get(), decoded.size())) &&
        !ZSTD_isError(Stream(cctx.get(), &to, {decoded.data(), head, 0}, ZSTD_e_flush)))
        n = Stream(cctx.get(), &to, {decoded.data() + head, decoded.size() - head, 0}, ZSTD_e_end);
    return Keep(decoded, n, out);
}

std::string Check(uint64_t stored, uint64_t decoded, uint8_t codec)
{
    if (codec != L::kCodecNone && codec != L::kCodecZstd)
        return "metadata: unknown codec " + std::to_string(codec);
    if (codec == L::kCodecNone && decoded != stored)
        return "metadata: stored uncompressed but its sizes differ";
    if (decoded > stored * L::kMaxExpansion)
        return "metadata: " + std::to_string(stored) + " stored bytes claim " +
               std::to_string(decoded) + " decoded (more than " + std::to_string(L::kMaxExpansion) +
               " times as many)";
    return std::string();
}

std::string Unpack(const uint8_t* stored, size_t storedSize, uint8_t codec, size_t decoded,
                   std::vector<uint8_t>* out)
{
    if (codec == L::kCodecNone) {
        out->assign(stored, stored + storedSize);
        return std::string();
    }
    const size_t frame = ZSTD_findFrameCompressedSize(stored, storedSize);
    if (ZSTD_isError(frame))
        return "metadata: its compressed bytes are damaged";
    out->resize(decoded);
    const size_t n = ZSTD_decompress(out->data(), decoded, stored, frame);
    if (ZSTD_isError(n) || n != decoded)
        return "metadata: its compressed bytes are damaged or do not give its decoded size";
    return std::string();
}

Prefix::Prefix(ReadStored read, uint64_t storedSize, uint8_t codec)
    : read_(std::move(read)), storedSize_(storedSize), codec_(codec)
{
}

Prefix::~Prefix()
{
    ZSTD_freeDStream(static_cast<ZSTD_DStream*>(stream_));
}

std::string Prefix::Extend(size_t want)
{
    const size_t have = out_.size();
    if (want <= have)
        return std::string();
    out_.resize(want);
    if (codec_ == L::kCodecNone) {
        if (want <= storedSize_ && read_(have, out_.data() + have, want - have))
            return std::string();
        out_.resize(have);
        return "metadata: cannot read it";
    }
    if (!stream_ && !(stream_ = ZSTD_createDStream())) {
        out_.resize(have);
        return "metadata: out of memory";
    }
    auto* stream = static_cast<ZSTD_DStream*>(stream_);
    ZSTD_outBuffer to{out_.data(), want, have};
    std::string wrong;
    while (to.pos < want && !ended_) {
        if (chunkPos_ == chunkSize_ && at_ < storedSize_) {
            chunkSize_ = static_cast<size_t>(std::min<uint64_t>(sizeof chunk_, storedSize_ - at_));
            chunkPos_ = 0;
            if (!read_(at_, chunk_, chunkSize_)) {
                wrong = "metadata: cannot read it";
                break;
            }
            at_ += chunkSize_;
        }
        // Without more input the decoder still gives what it holds of a block it has read.
        const size_t before = to.pos;
        ZSTD_inBuffer from{chunk_, chunkSize_, chunkPos_};
        const size_t r = ZSTD_decompressStream(stream, &to, &from);
        const bool moved = from.pos != chunkPos_ || to.pos != before;
        chunkPos_ = from.pos;
        if (ZSTD_isError(r)) {
            wrong = "metadata: its compressed bytes are damaged";
            break;
        }
        ended_ = r == 0;
        if (!moved)
            break;
    }
    out_.resize(to.pos);  // what was decoded, so that a later Extend goes on from there
    if (wrong.empty() && to.pos != want)
        wrong = "metadata: its decoded bytes end early";
    return wrong;
}

std::string UnpackPrefix(const ReadStored& read, uint64_t storedSize, uint8_t codec, size_t want,
                         std::vector<uint8_t>* out)
{
    Prefix prefix(read, storedSize, codec);
    const std::string wrong = prefix.Extend(want);
    *out = prefix.Bytes();
    return wrong;
}

}  // namespace meta
}  // namespace nffr
