// nffr_memory.h: memory on transparent huge pages, for the records and buffers of thousands of
// signals that a writer or an import touches in no order.
#ifndef NFFR_MEMORY_H
#define NFFR_MEMORY_H

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <new>
#include <vector>

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace nffr {

constexpr size_t kHugePage = size_t(2) << 20;

// Memory of `bytes` (a multiple of kHugePage) on transparent huge pages where the system gives
// them on request (Linux): structures of thousands of signals, each touched once in thousands of
// changes, then cost one TLB entry per 2 MiB instead of a page walk per change. Null without
// memory; small pages where the system refuses the hint or has no such request. Freed by free.
inline void* HugeAlloc(size_t bytes)
{
#if defined(__linux__) && defined(MADV_HUGEPAGE)
    void* p = std::aligned_alloc(kHugePage, bytes);
    if (p)
        madvise(p, bytes, MADV_HUGEPAGE);  // only a hint: its failure leaves small pages
    return p;
#else
    return std::malloc(bytes);
#endif
}

// Memory for records of many signals, cut from blocks on huge pages after a first block of
// 64 KiB on small pages, all that a small design needs (a piece of more than half a huge page
// gets a block of its own from the heap), and freed all at once.
class RecordArena {
public:
    RecordArena() = default;
    RecordArena(const RecordArena&) = delete;
    RecordArena& operator=(const RecordArena&) = delete;
    ~RecordArena()
    {
        for (void* block : blocks_)
            std::free(block);
    }
    // size bytes aligned to align; null without memory. A piece of more than half a block is
    // aligned as malloc aligns.
    void* Take(size_t size, size_t align)
    {
        uint8_t* at =
            cur_ ? cur_ + (align - reinterpret_cast<uintptr_t>(cur_) % align) % align : nullptr;
        if (!at || at > end_ || size > size_t(end_ - at))
            return TakeNew(size);
        cur_ = at + size;
        return at;
    }

private:
    void* TakeNew(size_t size)
    {
        const bool own = size > kHugePage / 2;  // a deque's map of a huge design, say
        const bool first = blocks_.empty() && size <= kFirstBlock;
        const size_t bytes = own ? size : first ? kFirstBlock : kHugePage;
        void* block = own || first ? std::malloc(bytes) : HugeAlloc(bytes);
        if (!block)
            return nullptr;
        blocks_.push_back(block);
        if (own)
            return block;
        cur_ = static_cast<uint8_t*>(block) + size;
        end_ = static_cast<uint8_t*>(block) + bytes;
        return block;
    }

    static constexpr size_t kFirstBlock = size_t(64) << 10;
    std::vector<void*> blocks_;
    uint8_t* cur_ = nullptr;
    uint8_t* end_ = nullptr;
};

// An allocator from an arena, for a container of records; what it frees stays until the end.
template <class T>
struct ArenaAllocator {
    using value_type = T;
    explicit ArenaAllocator(RecordArena* a) : arena(a) {}
    template <class U>
    ArenaAllocator(const ArenaAllocator<U>& other) : arena(other.arena)
    {
    }
    T* allocate(size_t n)
    {
        void* p = arena->Take(n * sizeof(T), alignof(T));
        if (!p)
            throw std::bad_alloc();
        return static_cast<T*>(p);
    }
    void deallocate(T*, size_t) {}
    template <class U>
    bool operator==(const ArenaAllocator<U>& other) const
    {
        return arena == other.arena;
    }
    template <class U>
    bool operator!=(const ArenaAllocator<U>& other) const
    {
        return arena != other.arena;
    }
    RecordArena* arena;
};

}  // namespace nffr

#endif
