// vcd_stream.h: the streaming parts of the VCD import: plain or gzip input read in blocks, a
// tokenizer over that buffer, per-signal change storage in chunks, and the table of id codes.
#ifndef VCD_STREAM_H
#define VCD_STREAM_H

#include <zlib.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

namespace fsdbgen {

// A VCD file, plain or gzip-compressed (told apart by the gzip magic bytes), read in blocks.
class VcdInput {
public:
    VcdInput() = default;
    VcdInput(const VcdInput&) = delete;
    VcdInput& operator=(const VcdInput&) = delete;
    ~VcdInput();
    // path "-" reads standard input.
    bool Open(const std::string& path, std::string* error);
    // Bytes read into buf: 0 at the end of the input, -1 on a read error (*error set).
    long Read(char* buf, size_t size, std::string* error);
    // True when the compressed stream ended before its end mark.
    bool CutOff() const { return cutOff_; }
    void Close();

private:
    std::FILE* file_ = nullptr;
    std::string prefix_;  // bytes of a pipe read to tell gzip apart, still to be handed out
    gzFile gz_ = nullptr;
    bool cutOff_ = false;
};

struct Token {
    const char* text;  // valid until the next call of Next
    size_t size;
    int line;
};

// Blank-separated words of the input, straight from the read buffer.
class Tokenizer {
public:
    static constexpr size_t kReadBlock = 1 << 20;
    // block: the read buffer's first size (tests and the fuzzer make it small).
    explicit Tokenizer(VcdInput* in, size_t block = kReadBlock);
    // False at the end of the input or on a read error (ReadError() then not empty). A pinned
    // token (one returned before) stays valid through this call.
    bool Next(Token* token, Token* pinned = nullptr)
    {
        // A token with a blank after it inside the buffer, the common case, is found here; the
        // rest (a token cut by the buffer's end, the end of the input) by NextSlow.
        const char* p = buf_.data() + pos_;
        const char* const end = buf_.data() + end_;
        int lines = 0;
        while (p < end && IsSpace(*p))
            lines += *p++ == '\n';
        const char* const start = p;
        p = SkipWord(p, end);
        if (p == end)
            return NextSlow(token, pinned);
        line_ += lines;
        pos_ = static_cast<size_t>(p - buf_.data());
        *token = {start, static_cast<size_t>(p - start), line_};
        return true;
    }
    // True when the last token ran into the end of the input without a blank after it.
    bool LastTokenCutOff() const { return cutOff_; }
    const std::string& ReadError() const { return error_; }
    // The read buffer grows for a long word (or a value with the code after it) up to bytes;
    // one that needs more ends the input with a read error, so that no word of a hostile file
    // (a gzip bomb of zeros, say) takes memory without bound.
    void SetLimit(size_t bytes) { limit_ = bytes < buf_.size() ? buf_.size() : bytes; }
    // The line of the last token (or of the word that ran into the limit).
    int Line() const { return line_; }
    bool InputCutOff() const { return in_->CutOff(); }
    // Frees the read buffer once every token has been read (no call of Next may follow).
    void Release() { std::vector<char>().swap(buf_); }

private:
    // The blanks of VCD: space, tab, newline, vertical tab, form feed, carriage return.
    static bool IsSpace(char c)
    {
        const unsigned char u = static_cast<unsigned char>(c);
        return u <= ' ' && ((uint64_t(1) << u) & 0x100003E00ull) != 0;
    }
    // The end of the word at p, eight bytes at a time: a blank is a byte below '!', and the
    // first such byte of eight is found at once where the byte order allows.
    static const char* SkipWord(const char* p, const char* end)
    {
        constexpr uint64_t kOnes = 0x0101010101010101ull;
        for (uint64_t w; end - p >= 8;) {
            std::memcpy(&w, p, 8);
            const uint64_t below = (w - kOnes * '!') & ~w & (kOnes * 0x80);
            if (below == 0) {
                p += 8;
                continue;
            }
#if defined(__GNUC__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
            p += __builtin_ctzll(below) / 8;
            if (IsSpace(*p))
                return p;
            ++p;  // a control character inside the word
#else
            break;
#endif
        }
        while (p < end && !IsSpace(*p))
            ++p;
        return p;
    }
    bool NextSlow(Token* token, Token* pinned);
    bool Refill(size_t keepFrom, Token* pinned, size_t* shift);

    VcdInput* in_;
    std::vector<char> buf_;
    size_t pos_ = 0;
    size_t end_ = 0;
    size_t limit_;
    int line_ = 1;
    bool cutOff_ = false;
    std::string error_;
};

// Memory for the chunks of many chains, cut from 1 MiB blocks (a large chunk gets a block of
// its own), so that the many small chains of a large design cost no allocator overhead. Owns
// every block and frees them all at once.
class ChunkPool {
public:
    ChunkPool() = default;
    ChunkPool(const ChunkPool&) = delete;
    ChunkPool& operator=(const ChunkPool&) = delete;
    ~ChunkPool();
    // size bytes, 8-byte aligned; null when memory ran out.
    void* Take(size_t size);

private:
    std::vector<void*> blocks_;
    uint8_t* cur_ = nullptr;
    uint8_t* end_ = nullptr;
};

// Bytes appended in chunks that grow with what they hold (by half of it while small, then by a
// quarter, at most 1 MiB), so that neither copying nor unused room ever costs more than a
// fraction of the data. The write position lives in the chain itself: an append touches no
// chunk header. The chunks belong to the pool.
class Chain {
public:
    explicit Chain(ChunkPool* pool) : pool_(pool) {}
    Chain(const Chain&) = delete;
    Chain& operator=(const Chain&) = delete;
    // False when memory ran out.
    bool Append(const void* data, size_t size)
    {
        if (size > static_cast<size_t>(end_ - cur_))
            return AppendSlow(static_cast<const uint8_t*>(data), size);
        if (size > 0)
            std::memcpy(cur_, data, size);
        cur_ += size;
        return true;
    }
    // size contiguous bytes at the end for the caller to fill (null when memory ran out);
    // they become part of the chain by Commit(size).
    uint8_t* Room(size_t size)
    {
        return size <= static_cast<size_t>(end_ - cur_) ? cur_ : RoomSlow(size);
    }
    void Commit(size_t size) { cur_ += size; }
    void TruncateTo(uint64_t bytes);
    uint64_t Bytes() const
    {
        return closed_ + (tail_ ? static_cast<uint64_t>(cur_ - Data(tail_)) : 0);
    }
    template <class F>
    void ForEach(F visit) const
    {
        for (const Chunk* c = head_; c; c = c->next)
            visit(Data(c), c == tail_ ? static_cast<size_t>(cur_ - Data(c)) : c->used);
    }

private:
    struct alignas(8) Chunk {  // 16 bytes on 32- and 64-bit machines: its data stays aligned
        Chunk* next;
        uint32_t cap;
        uint32_t used;  // of every chunk but the tail, whose end is cur_
    };
    static uint8_t* Data(Chunk* c) { return reinterpret_cast<uint8_t*>(c + 1); }
    static const uint8_t* Data(const Chunk* c) { return reinterpret_cast<const uint8_t*>(c + 1); }
    bool AppendSlow(const uint8_t* data, size_t size);
    uint8_t* RoomSlow(size_t size);
    void CloseTail();

    uint8_t* cur_ = nullptr;  // where the next byte goes, in the tail
    uint8_t* end_ = nullptr;  // the end of the tail's room
    Chunk* head_ = nullptr;
    Chunk* tail_ = nullptr;
    ChunkPool* pool_;
    uint64_t closed_ = 0;  // bytes before the tail
};

// VCD id codes to signal numbers. Codes of one or two bytes (those of the first 8836 signals)
// index a table directly, and so do codes of three printable characters (those of the next
// 822,000), whose table is allocated at the first such code and takes memory only where codes
// fall; the other codes of up to 7 bytes are packed with their size into one word and found by
// open addressing; still longer ones by their text.
class CodeTable {
public:
    int Find(const char* code, size_t size) const  // -1 when unknown
    {
        if (size <= 2 && size > 0)
            return direct_[DirectIndex(code, size)];
        size_t i;
        if (size == 3 && dense_ && DenseIndex(code, &i) && dense_[i] != 0)
            return static_cast<int>(dense_[i]) - 1;
        return FindPacked(code, size);
    }
    void Insert(const char* code, size_t size, int value);

private:
    // The printable characters ! to ~ that codes are made of.
    static constexpr unsigned kFirst = '!', kRadix = '~' - '!' + 1;
    static constexpr size_t kDense = size_t(kRadix) * kRadix * kRadix;
    static constexpr size_t kPackedMax = 7;
    struct Free {
        void operator()(uint32_t* p) const { std::free(p); }
    };

    static size_t DirectIndex(const char* code, size_t size)
    {
        return static_cast<unsigned char>(code[0]) |
               (size == 2 ? static_cast<size_t>(static_cast<unsigned char>(code[1])) << 8 : 0);
    }
    // Read as a number in base 94, the first character the lowest digit, as simulators count:
    // the codes of consecutive signals are neighbours in the table.
    static bool DenseIndex(const char* code, size_t* index)
    {
        const unsigned a = static_cast<unsigned char>(code[0]) - kFirst;
        const unsigned b = static_cast<unsigned char>(code[1]) - kFirst;
        const unsigned c = static_cast<unsigned char>(code[2]) - kFirst;
        *index = a + kRadix * (b + size_t(kRadix) * c);
        return (a < kRadix) & (b < kRadix) & (c < kRadix);
    }
    // The bytes and the size: never 0 (an empty slot), and a code differs from itself with a NUL
    // after it.
    static uint64_t Pack(const char* code, size_t size)
    {
        uint64_t key = static_cast<uint64_t>(size) << 56;
        for (size_t i = 0; i < size; ++i)
            key |= static_cast<uint64_t>(static_cast<unsigned char>(code[i])) << (8 * i);
        return key;
    }
    int FindPacked(const char* code, size_t size) const;
    void InsertKey(uint64_t key, int value);
    size_t Slot(uint64_t key) const
    {
        return static_cast<size_t>((key * 0x9E3779B97F4A7C15ull) >> shift_);
    }
    void Grow();

    std::vector<int> direct_ = std::vector<int>(65536, -1);
    std::unique_ptr<uint32_t[], Free> dense_;  // the number plus one; 0 for no signal
    std::vector<uint64_t> keys_ = std::vector<uint64_t>(64, 0);
    std::vector<int> values_ = std::vector<int>(64, -1);
    int shift_ = 58;
    size_t used_ = 0;
    std::unordered_map<std::string, int> long_;
};

}  // namespace fsdbgen

#endif
