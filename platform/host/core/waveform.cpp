// waveform.cpp: the waveform library: waveforms made by format plug-ins, their samples stored
// compactly (x in chunks, logic texts packed), and read back by the host.
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

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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

// The characters of each byte value, one per bit, lowest bit first.
struct BitTexts {
    char texts[256][8];
    BitTexts()
    {
        for (int v = 0; v < 256; ++v) {
            for (int k = 0; k < 8; ++k) {
                texts[v][k] = (v >> k) & 1 ? '1' : '0';
            }
        }
    }
};

// Packs eight characters 0 and 1 into a byte, the first in the lowest bit; false when another
// character is among them.
bool PackEight(const char* text, unsigned char* out)
{
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    constexpr std::uint64_t kLowBits = 0x0101010101010101u;
    std::uint64_t v;
    std::memcpy(&v, text, sizeof v);
    if ((v & ~kLowBits) != 0x3030303030303030u) {
        return false;
    }
    // Each character's low bit moves to bit 56 + its position; no two products overlap.
    *out = static_cast<unsigned char>(((v & kLowBits) * 0x0102040810204080u) >> 56);
    return true;
#else
    unsigned byte = 0;
    for (int k = 0; k < 8; ++k) {
        unsigned c = static_cast<unsigned char>(text[k]);
        if ((c | 1u) != '1') {
            return false;
        }
        byte |= (c & 1u) << k;
    }
    *out = static_cast<unsigned char>(byte);
    return true;
#endif
}

#if defined(__SSE2__)
// PackEight for sixteen characters at once, into two bytes.
bool PackSixteen(const char* text, unsigned char* out)
{
    __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text));
    __m128i zeroOrOne = _mm_cmpeq_epi8(_mm_andnot_si128(_mm_set1_epi8(1), v), _mm_set1_epi8('0'));
    if (_mm_movemask_epi8(zeroOrOne) != 0xFFFF) {
        return false;
    }
    // Each character's low bit to the top of its byte, then one bit per byte, first lowest.
    int bits = _mm_movemask_epi8(_mm_slli_epi64(v, 7));
    out[0] = static_cast<unsigned char>(bits & 0xFF);
    out[1] = static_cast<unsigned char>(bits >> 8);
    return true;
}
#endif

// PackBits once the text is known to have width characters.
bool PackWhole(const char* text, std::size_t width, unsigned char* out)
{
    std::size_t from = 0;
#if defined(__SSE2__)
    for (; from + 16 <= width; from += 16) {
        if (!PackSixteen(text + from, out + from / 8)) {
            return false;
        }
    }
#endif
    for (; from + 8 <= width; from += 8) {
        if (!PackEight(text + from, out + from / 8)) {
            return false;
        }
    }
    if (from < width) {
        char tail[8] = {'0', '0', '0', '0', '0', '0', '0', '0'};
        std::memcpy(tail, text + from, width - from);
        return PackEight(tail, out + from / 8);
    }
    return true;
}

// Packs a text of exactly width characters 0 and 1 into out, one bit each, the first character
// in the lowest bit; false for any other text, which is read no further than its end. Inline,
// with the byte of eight characters done in place: that is the most common vector.
inline bool PackBits(const char* text, std::size_t width, unsigned char* out)
{
    // memchr stops at the first NUL, so a shorter text is not read past its end.
    if (std::memchr(text, '\0', width) != nullptr || text[width] != '\0') {
        return false;
    }
    return width == 8 ? PackEight(text, out) : PackWhole(text, width, out);
}

bool IsOneCharacter(const char* text)
{
    return text[0] != '\0' && text[1] == '\0';
}

// The value texts of a logic waveform. Every sample has a record of fixed size, in one of two
// modes chosen by the first text stored: a text of one character (width 1, or a file that
// gives vectors one character) is that character; a text of the waveform's width in 0 and 1 is
// packed one bit per character. Any other text (X, Z or U in a vector, another length) is
// kept whole in a pool and found by sample index; its record is 0. An odd text equal to the
// one before shares its copy, so a bus floating at Z again and again costs one copy.
class TextStore {
public:
    explicit TextStore(std::size_t width) : width_(width) {}

    // What undo returns to.
    struct Mark {
        std::size_t oddCount;
        std::size_t poolSize;
    };
    Mark mark() const { return Mark{odd_.size(), pool_.size()}; }
    // Forgets the texts added since the mark (records past the sample count are unused).
    void undo(const Mark& mark)
    {
        odd_.resize(mark.oddCount);
        pool_.resize(mark.poolSize);
    }

    // Stores texts[0..n) as samples first.. first+n; throws bad_alloc with nothing added.
    void add(const char* const* texts, std::size_t first, std::size_t n)
    {
        Mark before = mark();
        try {
            // One at a time until the first text that fits has made room for all of them.
            std::size_t i = 0;
            for (; i < n && capacity_ < first + n; ++i) {
                const char* text = OrEmpty(texts[i]);
                if (fits(text)) {
                    makeRoom(first + n, text);
                }
                if (capacity_ < first + n || !encode(text, record(first + i))) {
                    addOdd(first + i, text);
                }
            }
            addWithRoom(texts + i, first + i, n - i);
        } catch (...) {
            undo(before);
            throw;
        }
    }

    // Sample i's text; a decoded one stays valid until the next call of any store.
    const char* text(std::size_t i) const
    {
        if (mode_ == Mode::kCharacter && capacity_ > i && records_.get()[i] != 0) {
            return OneCharacterText(static_cast<char>(records_.get()[i]));
        }
        if (!odd_.empty()) {
            auto found = std::lower_bound(odd_.begin(), odd_.end(), i,
                                          [](const Odd& o, std::size_t at) { return o.at < at; });
            if (found != odd_.end() && found->at == i) {
                return pool_.data() + found->offset;
            }
        }
        return decode(record(i));
    }

    // Gives back spare room once no sample is added any more.
    void trim(std::size_t count)
    {
        if (capacity_ > count && Resize(records_, count, size_)) {
            capacity_ = count;
        }
        odd_.shrink_to_fit();
        pool_.shrink_to_fit();
    }

private:
    struct Odd {
        std::size_t at;      // sample index
        std::size_t offset;  // of its NUL-terminated text in pool_
    };

    unsigned char* record(std::size_t i) const { return records_.get() + i * size_; }

    // Whether encode will take the text (in either mode while none is chosen).
    bool fits(const char* text) const
    {
        if (mode_ != Mode::kBits && IsOneCharacter(text)) {
            return true;
        }
        if (mode_ == Mode::kCharacter) {
            return false;
        }
        std::size_t k = 0;
        while (k < width_ && (text[k] | 1) == '1') {
            ++k;
        }
        return k == width_ && text[k] == '\0';
    }

    // The loop of add once there is room for every text. One-character records get a loop of
    // their own with the fields copied, since the records' stores may alias them.
    void addWithRoom(const char* const* texts, std::size_t first, std::size_t n)
    {
        if (mode_ != Mode::kCharacter) {
            for (std::size_t i = 0; i < n; ++i) {
                const char* text = OrEmpty(texts[i]);
                if (!encode(text, record(first + i))) {
                    addOdd(first + i, text);
                }
            }
            return;
        }
        unsigned char* out = records_.get() + first;
        for (std::size_t i = 0; i < n; ++i) {
            const char* text = OrEmpty(texts[i]);
            const bool one = IsOneCharacter(text);
            out[i] = one ? static_cast<unsigned char>(text[0]) : 0;
            if (!one) {
                addOdd(first + i, text);
            }
        }
    }

    bool encode(const char* text, unsigned char* out) const
    {
        if (mode_ == Mode::kBits) {
            return PackBits(text, width_, out);
        }
        bool one = IsOneCharacter(text);
        *out = one ? static_cast<unsigned char>(text[0]) : 0;
        return one;
    }

    const char* decode(const unsigned char* in) const
    {
        static const BitTexts bits;
        static std::string decoded;
        decoded.resize(width_);
        for (std::size_t from = 0; from < width_; from += 8) {
            std::memcpy(&decoded[from], bits.texts[in[from / 8]],
                        std::min<std::size_t>(8, width_ - from));
        }
        return decoded.c_str();
    }

    // Room for count records, the new ones 0, in the mode that takes text; throws bad_alloc.
    void makeRoom(std::size_t count, const char* text)
    {
        if (mode_ == Mode::kNone) {
            bool one = IsOneCharacter(text);
            mode_ = one ? Mode::kCharacter : Mode::kBits;
            size_ = one ? 1 : (width_ + 7) / 8;
        }
        std::size_t wanted = std::max(capacity_ * 2, count);
        if (!Resize(records_, wanted, size_)) {
            throw std::bad_alloc();
        }
        if (size_ != 0) {
            std::memset(record(capacity_), 0, (wanted - capacity_) * size_);
        }
        capacity_ = wanted;
    }

    void addOdd(std::size_t at, const char* text)
    {
        if (!odd_.empty() && std::strcmp(pool_.data() + odd_.back().offset, text) == 0) {
            odd_.push_back(Odd{at, odd_.back().offset});
            return;
        }
        std::size_t offset = pool_.size();
        pool_.append(text, std::strlen(text) + 1);
        odd_.push_back(Odd{at, offset});
    }

    enum class Mode { kNone, kCharacter, kBits };

    std::size_t width_;
    Mode mode_ = Mode::kNone;  // until the first record
    std::size_t size_ = 0;     // bytes per record
    MallocPtr records_;
    std::size_t capacity_ = 0;  // records room was made for
    std::vector<Odd> odd_;      // in sample order
    std::string pool_;
};

}  // namespace

struct WfXWave {
    vexahost::WaveHeader header;  // header.count is the sample count
    std::vector<Chunk> chunks;
    std::vector<std::size_t> chunkStarts;  // index of each chunk's first sample
    std::unique_ptr<TextStore> texts;      // text kinds only

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
        // Room for a chunk first, then the texts (all or none), then x, which undoes the texts
        // when it fails: a failure leaves the waveform unchanged.
        ReserveMore(wave.chunks, 1);
        ReserveMore(wave.chunkStarts, 1);
        TextStore::Mark mark = wave.texts->mark();
        wave.texts->add(static_cast<const char* const*>(y), wave.header.count, n);
        if (adopt) {
            wave.pushChunk(
                Chunk{MallocPtr(reinterpret_cast<unsigned char*>(x)), nullptr, n, n, false});
        } else if (!wave.copyNumbers(x, nullptr, n)) {
            wave.texts->undo(mark);
            return false;
        }
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
        if (vexahost::IsTextKind(kind)) {
            wave->texts = std::make_unique<TextStore>(static_cast<std::size_t>(width));
        }
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
    if (!wave->header.done && wave->texts != nullptr) {
        try {
            wave->texts->trim(wave->header.count);
        } catch (...) {
            // Keeping the spare room is harmless.
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

std::size_t WaveXRun(const WfXWave* handle, std::size_t i, const double** xs)
{
    const WfXWave* wave = LiveWave(handle);
    if (wave == nullptr || i >= wave->header.count) {
        return 0;
    }
    std::size_t c = wave->chunkOf(i);
    std::size_t offset = i - wave->chunkStarts[c];
    // Chunks hold x as doubles in malloc'ed memory, so the bytes are aligned for them.
    *xs = reinterpret_cast<const double*>(wave->chunks[c].x.get()) + offset;
    return wave->chunks[c].count - offset;
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
    return wave->texts->text(i);
}

bool DestroyWave(WfXWave* wave)
{
    return Waves().erase(wave) > 0;
}

StoreCounts CountStore()
{
    StoreCounts counts;
    for (const auto& entry : Waves()) {
        ++counts.waves;
        counts.samples += entry.second->header.count;
    }
    return counts;
}

}  // namespace vexahost
