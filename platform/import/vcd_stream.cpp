// vcd_stream.cpp: input blocks, tokenizer, chunked change storage and id-code table of the VCD
// import.
#include "vcd_stream.h"

#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#endif

#include <cerrno>
#include <cstdlib>

namespace fsdbgen {
namespace {

constexpr size_t kMinChunk = 48;
constexpr size_t kSmallChain = 4096;  // below it chunks grow by half of what is held
constexpr size_t kMaxChunk = 1 << 20;
constexpr size_t kPoolBlock = 1 << 20;

}  // namespace

VcdInput::~VcdInput()
{
    Close();
}

void VcdInput::Close()
{
    if (gz_)
        gzclose(gz_);
    if (file_ && file_ != stdin)
        std::fclose(file_);
    gz_ = nullptr;
    file_ = nullptr;
}

bool VcdInput::Open(const std::string& path, std::string* error)
{
    errno = 0;
    file_ = path == "-" ? stdin : std::fopen(path.c_str(), "rb");
#if defined(_WIN32)
    if (file_ == stdin)
        _setmode(_fileno(stdin), _O_BINARY);
#endif
    if (!file_) {
        *error = "cannot read \"" + path + "\": " + std::strerror(errno);
        return false;
    }
    unsigned char magic[2] = {};
    const size_t got = std::fread(magic, 1, 2, file_);
    const bool gzip = got == 2 && magic[0] == 0x1f && magic[1] == 0x8b;
    // A pipe cannot go back: its first bytes are handed out again by Read. Standard input is
    // taken for a pipe.
    const bool pipe = file_ == stdin || std::fseek(file_, 0, SEEK_SET) != 0;
    if (!gzip) {
        if (pipe)
            prefix_.assign(reinterpret_cast<char*>(magic), got);
        return true;
    }
    if (pipe) {
        *error =
            "cannot read \"" + path +
            "\": a gzip-compressed VCD must be a file, not a pipe (decompress it into the pipe)";
        return false;
    }
    std::fclose(file_);
    file_ = nullptr;
    gz_ = gzopen(path.c_str(), "rb");
    if (!gz_) {
        *error = "cannot read \"" + path + "\": " + std::strerror(errno);
        return false;
    }
    gzbuffer(gz_, 256 * 1024);
    return true;
}

long VcdInput::Read(char* buf, size_t size, std::string* error)
{
    if (file_) {
        const size_t first = prefix_.size() < size ? prefix_.size() : size;
        prefix_.copy(buf, first);
        prefix_.erase(0, first);
        const size_t got = std::fread(buf + first, 1, size - first, file_);
        if (got == 0 && first == 0 && std::ferror(file_)) {
            *error = std::string("read error: ") + std::strerror(errno);
            return -1;
        }
        return static_cast<long>(first + got);
    }
    const int got = gzread(gz_, buf, static_cast<unsigned>(size));
    int code = Z_OK;
    const char* message = gzerror(gz_, &code);
    if (got < 0) {
        *error = std::string("cannot decompress: ") + message;
        return -1;
    }
    if (got == 0 && code == Z_BUF_ERROR)
        cutOff_ = true;
    return got;
}

Tokenizer::Tokenizer(VcdInput* in, size_t block)
    : in_(in), buf_(block < 16 ? 16 : block), limit_(buf_.size())
{
}

// Moves the bytes from keepFrom on (or from the pinned token, when it starts earlier) to the
// front, then reads more after them. *shift is how far the kept bytes moved.
bool Tokenizer::Refill(size_t keepFrom, Token* pinned, size_t* shift)
{
    const size_t pinnedAt = pinned ? static_cast<size_t>(pinned->text - buf_.data()) : end_;
    if (pinnedAt < keepFrom)
        keepFrom = pinnedAt;
    const size_t kept = end_ - keepFrom;
    std::memmove(buf_.data(), buf_.data() + keepFrom, kept);
    if (kept == buf_.size()) {  // one token (or a value and its code) longer than the buffer
        if (kept >= limit_)
            error_ = "a word longer than " + std::to_string(limit_) + " bytes";
        else
            buf_.resize(buf_.size() * 2 < limit_ ? buf_.size() * 2 : limit_);
    }
    if (pinned)
        pinned->text = buf_.data() + (pinnedAt - keepFrom);
    *shift = keepFrom;
    pos_ = end_ = kept;
    if (!error_.empty())
        return false;
    const long got = in_->Read(buf_.data() + kept, buf_.size() - kept, &error_);
    if (got <= 0)
        return false;
    end_ += static_cast<size_t>(got);
    return true;
}

bool Tokenizer::NextSlow(Token* token, Token* pinned)
{
    size_t shift = 0;
    for (;;) {
        // Locals, so that the loop keeps them in registers (stores through char may alias).
        const char* p = buf_.data() + pos_;
        const char* const end = buf_.data() + end_;
        int lines = 0;
        while (p < end && IsSpace(*p))
            lines += *p++ == '\n';
        line_ += lines;
        pos_ = static_cast<size_t>(p - buf_.data());
        if (p < end)
            break;
        if (!Refill(end_, pinned, &shift))
            return false;
    }
    size_t start = pos_;
    for (;;) {
        const char* p = SkipWord(buf_.data() + pos_, buf_.data() + end_);
        const char* const end = buf_.data() + end_;
        pos_ = static_cast<size_t>(p - buf_.data());
        if (p < end)
            break;
        const bool more = Refill(start, pinned, &shift);
        start -= shift;
        if (!more) {
            cutOff_ = true;
            break;
        }
    }
    token->text = buf_.data() + start;
    token->size = pos_ - start;
    token->line = line_;
    return error_.empty();
}

ChunkPool::~ChunkPool()
{
    for (void* block : blocks_)
        std::free(block);
}

void* ChunkPool::Take(size_t size)
{
    size = (size + 7) & ~size_t(7);
    if (size <= static_cast<size_t>(end_ - cur_)) {
        void* taken = cur_;
        cur_ += size;
        return taken;
    }
    const bool own = size >= kPoolBlock / 16;  // what a fresh block would leave unused is small
    void* block = std::malloc(own ? size : kPoolBlock);
    if (!block)
        return nullptr;
    blocks_.push_back(block);
    if (own)
        return block;
    cur_ = static_cast<uint8_t*>(block) + size;
    end_ = static_cast<uint8_t*>(block) + kPoolBlock;
    return block;
}

void Chain::CloseTail()
{
    if (!tail_)
        return;
    tail_->used = static_cast<uint32_t>(cur_ - Data(tail_));
    closed_ += tail_->used;
}

// A new tail of at least size bytes: half of what a small chain holds (fewer chunk headers), a
// quarter of what a larger one holds (less unused room), within the bounds.
uint8_t* Chain::RoomSlow(size_t size)
{
    const uint64_t held = Bytes();
    const uint64_t grow = held < kSmallChain ? held / 2 : held / 4;
    size_t cap = static_cast<size_t>(grow < kMaxChunk ? grow : kMaxChunk);
    cap = cap < kMinChunk ? kMinChunk : cap;
    if (size > UINT32_MAX - 8)
        return nullptr;
    cap = ((cap < size ? size : cap) + 7) & ~size_t(7);
    Chunk* chunk = static_cast<Chunk*>(pool_->Take(sizeof(Chunk) + cap));
    if (!chunk)
        return nullptr;
    CloseTail();
    chunk->next = nullptr;
    chunk->cap = static_cast<uint32_t>(cap);
    chunk->used = 0;
    (tail_ ? tail_->next : head_) = chunk;
    tail_ = chunk;
    cur_ = Data(chunk);
    end_ = cur_ + cap;
    return cur_;
}

// Fills the tail's room, then puts the rest in a new tail.
bool Chain::AppendSlow(const uint8_t* data, size_t size)
{
    const size_t room = static_cast<size_t>(end_ - cur_);
    if (room > 0) {
        std::memcpy(cur_, data, room);
        cur_ += room;
        data += room;
        size -= room;
    }
    uint8_t* to = RoomSlow(size);
    if (!to)
        return false;
    std::memcpy(to, data, size);
    cur_ += size;
    return true;
}

void Chain::TruncateTo(uint64_t bytes)
{
    if (bytes >= Bytes())
        return;
    tail_->used = static_cast<uint32_t>(cur_ - Data(tail_));
    uint64_t before = 0;
    Chunk* c = head_;
    while (before + c->used < bytes) {
        before += c->used;
        c = c->next;
    }
    c->next = nullptr;  // the chunks after it stay with the pool
    tail_ = c;
    closed_ = before;
    cur_ = Data(c) + (bytes - before);
    end_ = Data(c) + c->cap;
}

int CodeTable::FindPacked(const char* code, size_t size) const
{
    if (size > kPackedMax) {
        auto it = long_.find(std::string(code, size));
        return it == long_.end() ? -1 : it->second;
    }
    const uint64_t key = Pack(code, size);
    const size_t mask = keys_.size() - 1;
    for (size_t i = Slot(key);; i = (i + 1) & mask) {
        if (keys_[i] == key)
            return values_[i];
        if (keys_[i] == 0)
            return -1;
    }
}

void CodeTable::Insert(const char* code, size_t size, int value)
{
    if (size > 0 && size <= 2) {
        direct_[DirectIndex(code, size)] = value;
        return;
    }
    size_t dense;
    if (size == 3 && DenseIndex(code, &dense)) {
        // calloc: the pages no code falls in are never touched.
        if (!dense_)
            dense_.reset(static_cast<uint32_t*>(std::calloc(kDense, sizeof(uint32_t))));
        if (dense_) {
            dense_[dense] = static_cast<uint32_t>(value) + 1;
            return;
        }
    }
    if (size > kPackedMax) {
        long_[std::string(code, size)] = value;
        return;
    }
    if (2 * (used_ + 1) > keys_.size())
        Grow();
    InsertKey(Pack(code, size), value);
}

void CodeTable::InsertKey(uint64_t key, int value)
{
    const size_t mask = keys_.size() - 1;
    size_t i = Slot(key);
    while (keys_[i] != 0 && keys_[i] != key)
        i = (i + 1) & mask;
    if (keys_[i] == 0)
        ++used_;
    keys_[i] = key;
    values_[i] = value;
}

void CodeTable::Grow()
{
    std::vector<uint64_t> keys(keys_.size() * 2, 0);
    std::vector<int> values(keys.size(), -1);
    keys.swap(keys_);
    values.swap(values_);
    --shift_;
    used_ = 0;
    for (size_t i = 0; i < keys.size(); ++i)
        if (keys[i] != 0)
            InsertKey(keys[i], values[i]);
}

}  // namespace fsdbgen
