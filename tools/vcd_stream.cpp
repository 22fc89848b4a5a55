// vcd_stream.cpp: input blocks, tokenizer, chunked change storage and id-code table of the VCD
// import.
#include "vcd_stream.h"

#include <cerrno>
#include <cstdlib>

namespace fsdbgen {
namespace {

constexpr size_t kReadBlock = 1 << 20;
constexpr size_t kMinChunk = 64;
constexpr size_t kMaxChunk = 1 << 20;

struct SpaceTable {
    bool is[256] = {};
    SpaceTable()
    {
        for (unsigned char c : {' ', '\t', '\n', '\r', '\v', '\f'})
            is[c] = true;
    }
};
const SpaceTable kSpace;

inline bool IsSpace(char c)
{
    return kSpace.is[static_cast<unsigned char>(c)];
}

}  // namespace

VcdInput::~VcdInput()
{
    if (gz_)
        gzclose(gz_);
    if (file_)
        std::fclose(file_);
}

bool VcdInput::Open(const std::string& path, std::string* error)
{
    errno = 0;
    file_ = std::fopen(path.c_str(), "rb");
    if (!file_) {
        *error = "cannot read \"" + path + "\": " + std::strerror(errno);
        return false;
    }
    unsigned char magic[2] = {};
    const bool gzip = std::fread(magic, 1, 2, file_) == 2 && magic[0] == 0x1f && magic[1] == 0x8b;
    if (!gzip) {
        std::rewind(file_);
        return true;
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
        const size_t got = std::fread(buf, 1, size, file_);
        if (got == 0 && std::ferror(file_)) {
            *error = std::string("read error: ") + std::strerror(errno);
            return -1;
        }
        return static_cast<long>(got);
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

Tokenizer::Tokenizer(VcdInput* in) : in_(in), buf_(kReadBlock) {}

// Moves the bytes from keepFrom on to the front, then reads more after them.
bool Tokenizer::Refill(size_t keepFrom)
{
    const size_t kept = end_ - keepFrom;
    std::memmove(buf_.data(), buf_.data() + keepFrom, kept);
    if (kept == buf_.size())
        buf_.resize(buf_.size() * 2);  // one token longer than the buffer
    pos_ = end_ = kept;
    if (!error_.empty())
        return false;
    const long got = in_->Read(buf_.data() + kept, buf_.size() - kept, &error_);
    if (got <= 0)
        return false;
    end_ += static_cast<size_t>(got);
    return true;
}

bool Tokenizer::Next(Token* token)
{
    for (;;) {
        while (pos_ < end_ && IsSpace(buf_[pos_])) {
            if (buf_[pos_] == '\n')
                ++line_;
            ++pos_;
        }
        if (pos_ < end_)
            break;
        if (!Refill(end_))
            return false;
    }
    size_t start = pos_;
    for (;;) {
        while (pos_ < end_ && !IsSpace(buf_[pos_]))
            ++pos_;
        if (pos_ < end_)
            break;
        const size_t size = pos_ - start;
        const bool more = Refill(start);
        start = 0;
        pos_ = size;
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

Chain::~Chain()
{
    for (Chunk* c = head_; c;) {
        Chunk* next = c->next;
        std::free(c);
        c = next;
    }
}

bool Chain::AppendSlow(const uint8_t* data, size_t size)
{
    if (tail_) {
        const size_t room = tail_->cap - tail_->used;
        std::memcpy(Data(tail_) + tail_->used, data, room);
        tail_->used += room;
        bytes_ += room;
        data += room;
        size -= room;
    }
    size_t cap = static_cast<size_t>(bytes_ / 4);
    cap = cap < kMinChunk ? kMinChunk : cap > kMaxChunk ? kMaxChunk : cap;
    cap = ((cap < size ? size : cap) + 7) & ~size_t(7);
    Chunk* chunk = static_cast<Chunk*>(std::malloc(sizeof(Chunk) + cap));
    if (!chunk)
        return false;
    chunk->next = nullptr;
    chunk->cap = cap;
    chunk->used = size;
    std::memcpy(Data(chunk), data, size);
    (tail_ ? tail_->next : head_) = chunk;
    tail_ = chunk;
    bytes_ += size;
    return true;
}

void Chain::TruncateTo(uint64_t bytes)
{
    if (bytes >= bytes_)
        return;
    uint64_t before = 0;
    for (Chunk* c = head_; c; c = c->next) {
        if (before + c->used < bytes) {
            before += c->used;
            continue;
        }
        c->used = static_cast<size_t>(bytes - before);
        for (Chunk* rest = c->next; rest;) {
            Chunk* next = rest->next;
            std::free(rest);
            rest = next;
        }
        c->next = nullptr;
        tail_ = c;
        break;
    }
    bytes_ = bytes;
}

int CodeTable::FindPacked(const char* code, size_t size) const
{
    if (size > 8) {
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
    if (size > 8) {
        long_[std::string(code, size)] = value;
        return;
    }
    if (2 * (used_ + 1) > keys_.size())
        Grow();
    const uint64_t key = Pack(code, size);
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
            Insert(reinterpret_cast<const char*>(&keys[i]), 8, values[i]);
}

}  // namespace fsdbgen
