// meta_codec.cpp: packs and unpacks the metadata block of layout 2 with zstd.
#include "meta_codec.h"

#include <zstd.h>

#include <algorithm>
#include <memory>

#include "nffr_layout.h"

namespace nffr {
namespace meta {

namespace L = layout;

uint8_t Pack(const std::vector<uint8_t>& decoded, std::vector<uint8_t>* out)
{
    out->resize(ZSTD_compressBound(decoded.size()));
    const size_t n = ZSTD_compress(out->data(), out->size(), decoded.data(), decoded.size(),
                                   ZSTD_CLEVEL_DEFAULT);
    if (ZSTD_isError(n) || n >= decoded.size()) {
        out->assign(decoded.begin(), decoded.end());
        return L::kCodecNone;
    }
    // Metadata that compresses better than the reader accepts is padded with zeros.
    const size_t least = (decoded.size() + L::kMaxExpansion - 1) / L::kMaxExpansion;
    out->resize(n > least ? n : least, 0);
    return L::kCodecZstd;
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

std::string UnpackPrefix(const ReadStored& read, uint64_t storedSize, uint8_t codec, size_t want,
                         std::vector<uint8_t>* out)
{
    out->resize(want);
    if (codec == L::kCodecNone)
        return want <= storedSize && read(0, out->data(), want) ? std::string()
                                                                : "metadata: cannot read it";
    std::unique_ptr<ZSTD_DStream, size_t (*)(ZSTD_DStream*)> stream(ZSTD_createDStream(),
                                                                    ZSTD_freeDStream);
    if (!stream)
        return "metadata: out of memory";
    uint8_t chunk[4096];
    ZSTD_outBuffer to{out->data(), want, 0};
    for (uint64_t at = 0; to.pos < want && at < storedSize;) {
        const size_t n = static_cast<size_t>(std::min<uint64_t>(sizeof chunk, storedSize - at));
        if (!read(at, chunk, n))
            return "metadata: cannot read it";
        at += n;
        ZSTD_inBuffer from{chunk, n, 0};
        while (from.pos < from.size && to.pos < want) {
            const size_t r = ZSTD_decompressStream(stream.get(), &to, &from);
            if (ZSTD_isError(r))
                return "metadata: its compressed bytes are damaged";
            if (r == 0)  // the frame ended
                break;
        }
    }
    return to.pos == want ? std::string() : "metadata: its decoded bytes end early";
}

}  // namespace meta
}  // namespace nffr
