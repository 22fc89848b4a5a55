// waveform.cpp: the waveform library: waveforms made by format plug-ins, their samples stored
// compactly in chunks, and read back by the host.
//
// Ownership: every waveform belongs to this library until DestroyWave. With take = 1 the x array
// (and a numeric y array) passes to the library on every call, refused ones included, and is
// freed with free(); text values and take = 0 arrays are copied.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <unordered_map>

#include "host_core.h"

namespace {

// Adopted arrays smaller than this are copied into the growable tail instead, so that many small
// appends do not cost one chunk each.
constexpr std::size_t kAdoptMinimum = 4096;
constexpr std::size_t kFirstTailCapacity = 256;

// Texts of one character are kept as that character alone and read back from this table.
struct OneCharacterTexts {
    char texts[256][2];
    OneCharacterTexts()
    {
        for (int c = 0; c < 256; ++c) {
            texts[c][0] = static_cast<char>(c);
            texts[c][1] = '\0';
        }
    }
};

const char* OneCharacterText(char c)
{
    static const OneCharacterTexts table;
    return table.texts[static_cast<unsigned char>(c)];
}

struct FreeDeleter {
    void operator()(void* p) const { std::free(p); }
};
using MallocPtr = std::unique_ptr<unsigned char, FreeDeleter>;

// A run of samples: x values and, for numeric kinds, y values of the kind's element size.
struct Chunk {
    MallocPtr x;
    MallocPtr y;
    std::size_t count = 0;
    std::size_t capacity = 0;
    bool growable = false;  // our own buffer, enlarged by later copies
};

std::size_t YElementSize(int kind)
{
    switch (kind) {
    case WFX_KIND_FLOAT: return sizeof(float);
    case WFX_KIND_DOUBLE:
    case WFX_KIND_EVENT: return sizeof(double);
    default: return 0;
    }
}

bool IsKnownKind(int kind)
{
    return kind == WFX_KIND_DOUBLE || kind == WFX_KIND_FLOAT || kind == WFX_KIND_EVENT ||
           kind == WFX_KIND_LOGIC || kind == WFX_KIND_LOGIC_VEC;
}

// Room for n more elements, growing geometrically so that repeated appends stay amortised O(1).
template <typename T>
void ReserveMore(std::vector<T>& v, std::size_t n)
{
    if (v.capacity() - v.size() < n) {
        v.reserve(std::max(v.capacity() * 2, v.size() + n));
    }
}

const char* OrEmpty(const char* text)
{
    return text != nullptr ? text : "";
}

// Whether text has exactly length characters, looking no further than its end.
bool HasLength(const char* text, std::size_t length)
{
    // memchr stops at the first NUL, so a shorter text is not read past its end.
    return std::memchr(text, '\0', length) == nullptr && text[length] == '\0';
}

// Room for bytes more characters, growing geometrically.
void ReserveRoom(std::string& text, std::size_t bytes)
{
    if (text.capacity() - text.size() < bytes) {
        text.reserve(std::max(text.capacity() * 2, text.size() + bytes));
    }
}

// Grows a malloc'd buffer to newCount elements of size bytes; false (buffer unchanged) on failure.
bool Resize(MallocPtr& buffer, std::size_t newCount, std::size_t size)
{
    if (size == 0) {
        return true;
    }
    if (newCount > SIZE_MAX / size) {
        return false;
    }
    void* grown = std::realloc(buffer.get(), newCount * size);
    if (grown == nullptr) {
        return false;
    }
    buffer.release();
    buffer.reset(static_cast<unsigned char*>(grown));
    return true;
}

}  // namespace

struct WfXWave {
    vexahost::WaveHeader header;  // header.count is the sample count
    std::vector<Chunk> chunks;
    std::vector<std::size_t> chunkStarts;  // index of each chunk's first sample
    // Texts. While every text has exactly the waveform's width in characters they are stored at
    // a fixed stride: the character alone for width 1, else the text and its NUL. The first
    // text of another length moves them to the pool, NUL-terminated and found by offset.
    bool fixedTexts = true;
    std::string textPool;
    std::vector<std::size_t> textOffsets;

    std::size_t ySize() const { return YElementSize(header.kind); }
    bool isText() const { return vexahost::IsTextKind(header.kind); }

    void pushChunk(Chunk chunk)
    {
        chunkStarts.push_back(header.count);
        chunks.push_back(std::move(chunk));
    }

    // A tail chunk of our own with room for n more samples, or null.
    Chunk* tailWithRoom(std::size_t n)
    {
        if (chunks.empty() || !chunks.back().growable) {
            ReserveMore(chunks, 1);
            ReserveMore(chunkStarts, 1);
            pushChunk(Chunk{nullptr, nullptr, 0, 0, true});
        }
        Chunk& tail = chunks.back();
        if (tail.capacity - tail.count >= n) {
            return &tail;
        }
        std::size_t wanted = std::max({tail.capacity * 2, tail.count + n, kFirstTailCapacity});
        if (!Resize(tail.x, wanted, sizeof(double)) || !Resize(tail.y, wanted, ySize())) {
            return nullptr;
        }
        tail.capacity = wanted;
        return &tail;
    }

    bool copyNumbers(const double* x, const void* y, std::size_t n)
    {
        Chunk* tail = tailWithRoom(n);
        if (tail == nullptr) {
            return false;
        }
        std::memcpy(tail->x.get() + tail->count * sizeof(double), x, n * sizeof(double));
        if (ySize() != 0 && y != nullptr) {
            std::memcpy(tail->y.get() + tail->count * ySize(), y, n * ySize());
        }
        tail->count += n;
        return true;
    }

    std::size_t textWidth() const { return static_cast<std::size_t>(header.width); }
    std::size_t textStride() const { return textWidth() == 1 ? 1 : textWidth() + 1; }

    const char* text(std::size_t i) const
    {
        if (!fixedTexts) {
            return textPool.data() + textOffsets[i];
        }
        const char* at = textPool.data() + i * textStride();
        return textWidth() == 1 ? OneCharacterText(*at) : at;
    }

    // Moves the stored texts from the fixed stride to NUL-terminated texts found by offset.
    void unfixTexts()
    {
        std::string pool;
        std::vector<std::size_t> offsets;
        std::size_t count = header.count;
        offsets.reserve(count);
        if (textWidth() == 1) {
            pool.reserve(count * 2);
            for (std::size_t i = 0; i < count; ++i) {
                offsets.push_back(pool.size());
                pool.append(text(i), 2);
            }
        } else {
            for (std::size_t i = 0; i < count; ++i) {
                offsets.push_back(i * textStride());
            }
            pool = std::move(textPool);
        }
        textPool = std::move(pool);
        textOffsets = std::move(offsets);
        fixedTexts = false;
    }

    // Measures each text once and reserves room for all of them, so that storing them cannot
    // fail; throws bad_alloc before anything is added. lengths stays empty while the texts keep
    // the fixed stride.
    void prepareTexts(const char* const* texts, std::size_t n, std::vector<std::size_t>& lengths)
    {
        std::size_t width = textWidth();
        std::size_t fitting = 0;
        while (fixedTexts && fitting < n && HasLength(OrEmpty(texts[fitting]), width)) {
            ++fitting;
        }
        if (fixedTexts && fitting == n) {
            if (n > SIZE_MAX / textStride()) {
                throw std::bad_alloc();
            }
            ReserveRoom(textPool, n * textStride());
            return;
        }
        lengths.resize(n);
        std::size_t bytes = 0;
        for (std::size_t i = 0; i < n; ++i) {
            lengths[i] = i < fitting ? width : std::strlen(OrEmpty(texts[i]));
            if (lengths[i] >= SIZE_MAX - bytes) {
                throw std::bad_alloc();
            }
            bytes += lengths[i] + 1;
        }
        if (fixedTexts) {
            unfixTexts();
        }
        ReserveRoom(textPool, bytes);
        ReserveMore(textOffsets, n);
    }

    void storeTexts(const char* const* texts, std::size_t n,
                    const std::vector<std::size_t>& lengths)
    {
        if (fixedTexts) {
            // Room was reserved, so this does not allocate.
            std::size_t stride = textStride();
            std::size_t start = textPool.size();
            textPool.resize(start + n * stride);
            char* out = &textPool[start];
            for (std::size_t i = 0; i < n; ++i) {
                if (stride == 1) {
                    out[i] = *OrEmpty(texts[i]);
                } else {
                    // Every text here has the waveform's width (checked above), so none is null.
                    std::memcpy(out + i * stride, texts[i], stride);
                }
            }
            return;
        }
        for (std::size_t i = 0; i < n; ++i) {
            textOffsets.push_back(textPool.size());
            textPool.append(OrEmpty(texts[i]), lengths[i] + 1);
        }
    }

    std::size_t chunkOf(std::size_t i) const
    {
        auto after = std::upper_bound(chunkStarts.begin(), chunkStarts.end(), i);
        return static_cast<std::size_t>(after - chunkStarts.begin()) - 1;
    }
};

namespace {

using WaveMap = std::unordered_map<const WfXWave*, std::unique_ptr<WfXWave>>;

// Never destroyed, so waveforms stay readable while the process exits.
WaveMap& Waves()
{
    static auto* waves = new WaveMap();
    return *waves;
}

WfXWave* LiveWave(const WfXWave* wave)
{
    auto found = Waves().find(wave);
    return found == Waves().end() ? nullptr : found->second.get();
}

// Adds the samples of one call; false when memory ran out (nothing added then).
bool AddSamples(WfXWave& wave, double* x, void* y, std::size_t n, bool take)
{
    bool adopt = take && n >= kAdoptMinimum;
    if (wave.isText()) {
        // Reserve first so that a failure leaves the waveform unchanged.
        const char* const* texts = static_cast<const char* const*>(y);
        std::vector<std::size_t> lengths;
        wave.prepareTexts(texts, n, lengths);
        if (adopt) {
            ReserveMore(wave.chunks, 1);
            ReserveMore(wave.chunkStarts, 1);
            wave.pushChunk(
                Chunk{MallocPtr(reinterpret_cast<unsigned char*>(x)), nullptr, n, n, false});
        } else if (!wave.copyNumbers(x, nullptr, n)) {
            return false;
        }
        wave.storeTexts(texts, n, lengths);
    } else if (adopt) {
        ReserveMore(wave.chunks, 1);
        ReserveMore(wave.chunkStarts, 1);
        wave.pushChunk(Chunk{MallocPtr(reinterpret_cast<unsigned char*>(x)),
                             MallocPtr(static_cast<unsigned char*>(y)), n, n, false});
    } else if (!wave.copyNumbers(x, y, n)) {
        return false;
    }
    if (take && !adopt) {
        std::free(x);
        if (!wave.isText()) {
            std::free(y);
        }
    }
    wave.header.count += n;
    return true;
}

}  // namespace

extern "C" {

HOST_API WfXWave* WfX_CreateXTyp(Tcl_Interp* /*interp*/, int kind, const char* xName,
                                 const char* xUnit, const char* dataType, int /*reserved1*/,
                                 const char* name, const char* yUnit, int width, int /*reserved2*/)
{
    if (!IsKnownKind(kind) || xName == nullptr || name == nullptr || width < 0) {
        return nullptr;
    }
    try {
        auto wave = std::make_unique<WfXWave>();
        wave->header.kind = kind;
        wave->header.xName = xName;
        wave->header.xUnit = OrEmpty(xUnit);
        wave->header.dataType = OrEmpty(dataType);
        wave->header.name = name;
        wave->header.yUnit = OrEmpty(yUnit);
        wave->header.width = width;
        WfXWave* handle = wave.get();
        Waves().emplace(handle, std::move(wave));
        return handle;
    } catch (...) {
        return nullptr;
    }
}

HOST_API int WfX_AddValuesSimp(Tcl_Interp* /*interp*/, WfXWave* handle, double* x, void* y,
                               unsigned int count, int take)
{
    WfXWave* wave = LiveWave(handle);
    bool ok =
        wave != nullptr && !wave->header.done && (count == 0 || (x != nullptr && y != nullptr));
    bool added = false;
    if (ok && count > 0) {
        try {
            added = AddSamples(*wave, x, y, count, take != 0);
        } catch (...) {
            added = false;
        }
    }
    if (ok && count > 0 && added) {
        return 0;
    }
    // Arrays handed over with take = 1 are ours even when the call is refused.
    if (take != 0) {
        std::free(x);
        if (wave != nullptr && !wave->isText()) {
            std::free(y);
        }
    }
    return ok && count == 0 ? 0 : 1;
}

HOST_API int WfX_Done(Tcl_Interp* /*interp*/, WfXWave* handle)
{
    WfXWave* wave = LiveWave(handle);
    if (wave == nullptr) {
        return 1;
    }
    if (!wave->header.done && !wave->chunks.empty() && wave->chunks.back().growable) {
        // Give back the spare room of the tail; keeping it is harmless if realloc fails.
        Chunk& tail = wave->chunks.back();
        if (Resize(tail.x, tail.count, sizeof(double)) &&
            Resize(tail.y, tail.count, wave->ySize())) {
            tail.capacity = tail.count;
        }
    }
    wave->header.done = true;
    return 0;
}

}  // extern "C"

namespace vexahost {

bool IsTextKind(int kind)
{
    return kind == WFX_KIND_LOGIC || kind == WFX_KIND_LOGIC_VEC;
}

bool IsLiveWave(const WfXWave* wave)
{
    return LiveWave(wave) != nullptr;
}

bool ReadWaveHeader(const WfXWave* handle, WaveHeader* header)
{
    const WfXWave* wave = LiveWave(handle);
    if (wave == nullptr || header == nullptr) {
        return false;
    }
    *header = wave->header;
    return true;
}

double WaveX(const WfXWave* handle, std::size_t i)
{
    const WfXWave* wave = LiveWave(handle);
    if (wave == nullptr || i >= wave->header.count) {
        return 0.0;
    }
    std::size_t c = wave->chunkOf(i);
    double x;
    std::memcpy(&x, wave->chunks[c].x.get() + (i - wave->chunkStarts[c]) * sizeof(double),
                sizeof x);
    return x;
}

double WaveY(const WfXWave* handle, std::size_t i)
{
    const WfXWave* wave = LiveWave(handle);
    if (wave == nullptr || i >= wave->header.count || wave->isText()) {
        return 0.0;
    }
    std::size_t c = wave->chunkOf(i);
    const unsigned char* at = wave->chunks[c].y.get() + (i - wave->chunkStarts[c]) * wave->ySize();
    if (wave->header.kind == WFX_KIND_FLOAT) {
        float y;
        std::memcpy(&y, at, sizeof y);
        return y;
    }
    double y;
    std::memcpy(&y, at, sizeof y);
    return y;
}

const char* WaveText(const WfXWave* handle, std::size_t i)
{
    const WfXWave* wave = LiveWave(handle);
    if (wave == nullptr || i >= wave->header.count || !wave->isText()) {
        return nullptr;
    }
    return wave->text(i);
}

bool DestroyWave(WfXWave* wave)
{
    return Waves().erase(wave) > 0;
}

}  // namespace vexahost
