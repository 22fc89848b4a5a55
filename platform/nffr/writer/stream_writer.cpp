// stream_writer.cpp: StreamWriter, which appends each signal's segments to the file from a
// thread of its own as its buffer fills, and keeps the declarations in a FileWriter.
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>
#include <unordered_map>

#include "nffr_layout.h"
#include "nffr_memory.h"
#include "nffr_stream_writer.h"
#include "nffr_threads.h"
#include "nffr_writer.h"
#include "segment_codec.h"

namespace nffr {
namespace detail {

struct HugeFree {
    void operator()(void* p) const { std::free(p); }
};

// Fixed-size chunks for the signals' pending changes, cut from slabs that are kept and reused:
// buffers of every size come and go without fragmenting the heap, so memory stays flat.
class ChunkPool {
public:
    static constexpr size_t kBytes = 248;  // a chunk's bytes, 256 with its link
    struct Chunk {
        Chunk* next;
        uint8_t bytes[kBytes];
    };

    // A chunk off the free list; null without memory.
    Chunk* Take()
    {
        if (!free_ && !Refill())
            return nullptr;
        Chunk* chunk = free_;
        free_ = chunk->next;
        chunk->next = nullptr;
#if defined(__GNUC__)
        // The next Take reads the next chunk's link and the change after writes its first bytes:
        // a chunk given back by the writing thread is rarely still in this core's cache.
        if (free_)
            __builtin_prefetch(free_, 1);
#endif
        return chunk;
    }

    // Returns the list first..last.
    void Give(Chunk* first, Chunk* last)
    {
        last->next = free_;
        free_ = first;
    }

    // Frees every slab; only when no chunk is in use.
    void Clear()
    {
        slabs_.clear();
        free_ = nullptr;
        std::lock_guard<Mutex> hold(mutex_);
        returned_ = nullptr;
    }

    // Give from another thread: Take picks the lists so given up when its own run out.
    void GiveBack(Chunk* first, Chunk* last)
    {
        std::lock_guard<Mutex> hold(mutex_);
        last->next = returned_;
        returned_ = first;
    }

private:
    // Chunks per slab: 2 MiB, one huge page; the first slab, all that a small file needs, is
    // half that on small pages, so that a small import takes no more memory than it did.
    static constexpr size_t kSlab = kHugePage / sizeof(Chunk);

    [[gnu::noinline]] bool Refill()
    {
        {
            std::lock_guard<Mutex> hold(mutex_);
            free_ = returned_;
            returned_ = nullptr;
        }
        if (free_)
            return true;
        const bool first = slabs_.empty();
        const size_t n = first ? kSlab / 2 : kSlab;
        std::unique_ptr<Chunk[], HugeFree> slab(static_cast<Chunk*>(
            first ? std::malloc(n * sizeof(Chunk)) : HugeAlloc(n * sizeof(Chunk))));
        if (!slab)
            return false;
        for (size_t i = 0; i < n; ++i)
            slab[i].next = i + 1 < n ? &slab[i + 1] : free_;
        free_ = &slab[0];
        slabs_.push_back(std::move(slab));
        return true;
    }

    std::vector<std::unique_ptr<Chunk[], HugeFree>> slabs_;
    Chunk* free_ = nullptr;
    Mutex mutex_;  // guards returned_
    Chunk* returned_ = nullptr;
};

class StreamState {
public:
    // A variable's changes not yet written, the last tag it was given, and what a change needs
    // to know of its declaration, resolved once. The changes are kept as they come, each its
    // tag's difference to the one before (the first: the tag) as a varint and then its value, in
    // a list of chunks: a change touches one place, and a fraction of the tags' 8 bytes each.
    struct Pending {
        ChunkPool::Chunk *head = nullptr, *tail = nullptr;
        uint8_t* at = nullptr;  // the next free byte of tail
        size_t room = 0;        // free bytes of tail
        // Bytes used, and the capacity a buffer doubling as it fills would have: the budget
        // goes by it, which keeps the segments cut where they always were.
        size_t used = 0, capacity = 0;
        uint64_t last = 0;
        uint32_t count = 0;
        uint32_t cut = 1;  // the count of changes whose tags and values fill a segment
        uint32_t valueSize = 0;
        uint32_t list = 0;  // the number under which its index entries are spilled
        bool holdsBits = true;
        size_t Capacity() const { return capacity; }
    };

    // A segment to write: a buffer's chunks, handed over as they are, and its variable's.
    struct Job {
        ChunkPool::Chunk *head = nullptr, *tail = nullptr;
        size_t used = 0;
        uint32_t count = 0, valueSize = 0, list = 0;
        bool holdsBits = true;
        size_t Bytes() const
        {
            return (used + ChunkPool::kBytes - 1) / ChunkPool::kBytes * sizeof(ChunkPool::Chunk);
        }
    };

    StreamState(std::string finalPath, size_t memoryBudget, std::string tempPath)
        : path(std::move(finalPath)),
          temp(tempPath.empty() ? path + ".writing" : std::move(tempPath)),
          budget(memoryBudget)
    {
        errno = 0;
        file = std::fopen(temp.c_str(), "wb");
        if (!file) {
            Fail(FileWriter::CannotWrite(path));
            return;
        }
        PutHeaderRoom();
        spill = std::fopen(SpillPath().c_str(), "w+b");
        if (!spill)
            Fail(FileWriter::CannotWrite(path));
    }

    std::string SpillPath() const { return temp + ".index"; }

    // Zeros where the header of the file's layout goes at the end.
    void PutHeaderRoom()
    {
        const uint8_t zeros[layout::kHeaderSize] = {};
        Put(zeros, layout::HeaderSize(decl.layout_ == 3 ? layout::kVersion3 : layout::kVersion2));
    }

    // The file begins with the header's room, so the layout is chosen before the first change.
    void SetLayout(int layout)
    {
        if (layout == decl.layout_)
            return;
        if (changed || (layout != 2 && layout != 3)) {
            Fail(changed ? "layout set after changes were given"
                         : "unknown layout " + std::to_string(layout));
            return;
        }
        decl.layout_ = layout;
        errno = 0;
        if (file && !(file = std::freopen(temp.c_str(), "wb", file)))
            return Fail(FileWriter::CannotWrite(path));
        written = 0;
        PutHeaderRoom();
    }

    ~StreamState() { Abandon(); }

    void Fail(const std::string& message)
    {
        TakeWriteError();
        if (error.empty())
            error = message;
    }

    // The first error, the declarations' and the worker's included; true while there is none.
    bool Sound()
    {
        TakeWriteError();
        if (error.empty() && !decl.errors_.empty())
            error = decl.errors_.front();
        return error.empty();
    }

    void TakeWriteError()
    {
        if (error.empty() && writeFailed.load(std::memory_order_acquire)) {
            std::lock_guard<Mutex> hold(mutex);
            error = writeError;
        }
    }

    void Put(const void* bytes, size_t size)
    {
        if (!PutBytes(bytes, size))
            Fail(FileWriter::CannotWrite(path));
    }

    // False when the bytes could not be written (errno tells why).
    bool PutBytes(const void* bytes, size_t size)
    {
        if (!file || size == 0)
            return true;
        errno = 0;
        const bool ok = std::fwrite(bytes, 1, size, file) == size;
        written += size;
        return ok;
    }

    // The buffer of idcode, found without a lookup for the dense idcodes an import gives.
    Pending* Slot(int idcode)
    {
        if (idcode > 0 && size_t(idcode) < slots.size() && slots[size_t(idcode)])
            return slots[size_t(idcode)];
        return NewSlot(idcode);
    }

    // Brings what a change of idcode touches into the cache ahead of it: its record (stage 0) or,
    // once that is cached, the free byte of its last chunk. A change of a large design otherwise
    // waits for both, its buffer last touched many thousands of changes before.
    void Prefetch(int idcode, int stage) const
    {
        if (idcode <= 0 || size_t(idcode) >= slots.size() || !slots[size_t(idcode)])
            return;
        const Pending* p = slots[size_t(idcode)];
#if defined(__GNUC__)
        if (stage == 0) {
            __builtin_prefetch(p, 1);
            __builtin_prefetch(reinterpret_cast<const char*>(p + 1) - 1, 1);
        } else if (p->at) {
            __builtin_prefetch(p->at, 1);
        }
#else
        (void)p;
        (void)stage;
#endif
    }

    // Looks the variable up once; null (an error recorded) for an unknown idcode. The buffers
    // live in a deque, which keeps their address, so the slots may point at them.
    [[gnu::noinline]] Pending* NewSlot(int idcode)
    {
        auto known = pending.find(idcode);  // a sparse idcode's buffer, made before
        if (known != pending.end())
            return known->second;
        auto var = decl.vars_.find(idcode);
        if (var == decl.vars_.end()) {
            Fail("unknown idcode " + std::to_string(idcode));
            return nullptr;
        }
        Pending& p = *(pending[idcode] = &records.emplace_back());
        p.valueSize = decl.ValueSize(var->second);
        p.cut = static_cast<uint32_t>(std::max<size_t>(
            1, (segment::kSegmentBytes + 8 + p.valueSize - 1) / (8 + size_t(p.valueSize))));
        p.holdsBits = !decl.HoldsReals(idcode);
        p.list = lists++;
        // Idcodes far beyond the variables' number (a description's id=N) stay in the map.
        if (idcode > 0 && size_t(idcode) <= 2 * decl.vars_.size() + 1024) {
            if (slots.size() <= size_t(idcode))
                slots.resize(size_t(idcode) + 1, nullptr);
            slots[size_t(idcode)] = &p;
        }
        return &p;
    }

    bool Add(int idcode, uint64_t tag, const uint8_t* bytes, size_t size)
    {
        if (!Sound())
            return false;
        Pending* slot = Slot(idcode);
        if (!slot)
            return false;
        Pending& p = *slot;
        if (size != p.valueSize || tag < p.last)
            return Refuse(idcode, tag, size, p);
        changed = true;
        if (p.capacity - p.used < 10 + size)
            Grow(p, 10 + size);
        uint64_t v = p.count == 0 ? tag : tag - p.last;
        if (p.room >= 10 + size) {
            uint8_t* at = PutVarint(p.at, v);
            at = PutValue(at, bytes, size);
            p.used += size_t(at - p.at);
            p.room -= size_t(at - p.at);
            p.at = at;
        } else if (!AddAcross(p, v, bytes, size)) {
            return false;
        }
        p.last = tag;
        if (++p.count >= p.cut)
            Flush(idcode, p);
        if (buffered > budget)
            FlushLargest();
        return Sound();
    }

    // A change that does not fit the room left in p's last chunk: it continues in new ones.
    [[gnu::noinline]] bool AddAcross(Pending& p, uint64_t v, const uint8_t* bytes, size_t size)
    {
        uint8_t step[10];
        const size_t n = size_t(PutVarint(step, v) - step);
        return Append(p, step, n) && Append(p, bytes, size);
    }

    // Copies a value of size bytes to `at`; returns the byte after it. The common sizes (a bit,
    // a byte or word of bits) are two overlapping moves of fixed size, not a call.
    static uint8_t* PutValue(uint8_t* at, const uint8_t* bytes, size_t size)
    {
        if (size == 1) {
            *at = *bytes;
        } else if (size >= 8 && size <= 16) {
            std::memcpy(at, bytes, 8);
            std::memcpy(at + size - 8, bytes + size - 8, 8);
        } else if (size > 16 && size <= 32) {
            std::memcpy(at, bytes, 16);
            std::memcpy(at + size - 16, bytes + size - 16, 16);
        } else {
            std::memcpy(at, bytes, size);
        }
        return at + size;
    }

    // Writes v as a varint at `at` (at most 10 bytes); returns the byte after it.
    static uint8_t* PutVarint(uint8_t* at, uint64_t v)
    {
        for (; v >= 0x80; v >>= 7)
            *at++ = static_cast<uint8_t>(v | 0x80);
        *at++ = static_cast<uint8_t>(v);
        return at;
    }

    bool Append(Pending& p, const uint8_t* bytes, size_t n)
    {
        while (n > 0) {
            if (p.room == 0) {
                ChunkPool::Chunk* chunk = pool.Take();
                if (!chunk) {
                    Fail("out of memory");
                    return false;
                }
                (p.tail ? p.tail->next : p.head) = chunk;
                p.tail = chunk;
                p.at = chunk->bytes;
                p.room = ChunkPool::kBytes;
            }
            const size_t k = std::min(n, p.room);
            std::memcpy(p.at, bytes, k);
            p.at += k;
            p.room -= k;
            p.used += k;
            bytes += k;
            n -= k;
        }
        return true;
    }

    // The capacity p would have after doubling to fit more bytes; the budget counts it.
    [[gnu::noinline]] void Grow(Pending& p, size_t more)
    {
        const size_t capacity = std::max({size_t(64), 2 * p.capacity, p.used + more});
        buffered += capacity - p.capacity;
        p.capacity = capacity;
    }

    [[gnu::noinline, gnu::cold]] bool Refuse(int idcode, uint64_t tag, size_t size,
                                             const Pending& p)
    {
        if (size != p.valueSize)
            Fail("idcode " + std::to_string(idcode) + ": a value of " + std::to_string(size) +
                 " bytes where " + std::to_string(p.valueSize) + " are expected");
        else
            Fail("tag " + std::to_string(tag) + " before the previous change of idcode " +
                 std::to_string(idcode));
        return false;
    }

    // Hands the variable's pending changes, chunks and all, to the writing of one segment.
    void Flush(int idcode, Pending& p)
    {
        if (p.count == 0)
            return;
        const Job job{p.head, p.tail, p.used, p.count, p.valueSize, p.list, p.holdsBits};
        FileWriter::SegmentList& list = segments[idcode];
        list.count += p.count;
        ++list.entries;
        p.head = p.tail = nullptr;  // the job's now
        Release(p);
        Submit(job);
    }

    // The job's changes in steps and values, its chunks given back: the tag steps stay the
    // varints they are, only the values are parted from them.
    void Part(const Job& job)
    {
        const size_t valueBytes = size_t(job.count) * job.valueSize;
        flat.resize(job.used);
        size_t copied = 0;
        for (const ChunkPool::Chunk* c = job.head; c; c = c->next) {
            const size_t n = std::min(ChunkPool::kBytes, job.used - copied);
            std::memcpy(flat.data() + copied, c->bytes, n);
            copied += n;
        }
        pool.GiveBack(job.head, job.tail);
        steps.resize(job.used - valueBytes);
        values.resize(valueBytes);
        const uint8_t* at = flat.data();
        uint8_t* step = steps.data();
        uint8_t* value = values.data();
        for (uint32_t i = 0; i < job.count; ++i) {
            while (*at & 0x80)
                *step++ = *at++;
            *step++ = *at++;
            if (job.valueSize == 1) {
                *value++ = *at++;
            } else {
                std::memcpy(value, at, job.valueSize);
                value += job.valueSize;
                at += job.valueSize;
            }
        }
    }

    // Queues the job for the worker, started on the first, waiting while the jobs queued hold
    // half the budget; written here when no thread can be started.
    void Submit(const Job& job)
    {
        if (!worker.joinable() && !workerless) {
            try {
                worker = Thread([this] { Work(); });
            } catch (...) {
                workerless = true;
            }
        }
        if (workerless)
            return Write(job);
        std::unique_lock<Mutex> hold(mutex);
        const size_t most = QueueBytes(), bytes = job.Bytes();
        if (queued != 0 && queued + bytes > most)  // full: wait until half is written, not less,
            room.wait(hold, [&] {                  // so that the threads wake each other rarely
                return queued == 0 || (queued <= most / 2 && queued + bytes <= most);
            });
        const bool idle = queue.empty();
        queue.push_back(job);
        queued += bytes;
        if (idle)
            wake.notify_one();
    }

    // The most the jobs queued may hold: the budget decides when buffers are handed over, so
    // this is memory beyond it; a slow worker makes the changes wait. Half the budget takes the
    // whole of what FlushLargest hands over at once, so that the changes go on meanwhile (with
    // an eighth, a 2 GB import's giving waited for the worker, and its reading for the giving).
    size_t QueueBytes() const
    {
        return budget / 2;
    }

    // The worker: writes the queued jobs in their order until told to stop.
    void Work()
    {
        std::unique_lock<Mutex> hold(mutex);
        for (;;) {
            wake.wait(hold, [this] { return stopping || !queue.empty(); });
            if (queue.empty())
                return;
            const Job job = queue.front();
            queue.pop_front();
            busy = true;
            hold.unlock();
            Write(job);
            hold.lock();
            busy = false;
            queued -= job.Bytes();
            if (queue.empty() || queued <= QueueBytes() / 2)  // what Submit and Drain wait for
                room.notify_all();
        }
    }

    // Waits until every job given is written: then the file, the spill and their counts are
    // this thread's again.
    void Drain()
    {
        std::unique_lock<Mutex> hold(mutex);
        room.wait(hold, [this] { return queue.empty() && !busy; });
    }

    // Ends the worker; the jobs still queued are dropped (the file is abandoned).
    void Stop()
    {
        if (!worker.joinable())
            return;
        {
            std::lock_guard<Mutex> hold(mutex);
            stopping = true;
            queue.clear();
        }
        wake.notify_one();
        worker.join();
    }

    // Packs, compresses and writes one segment and spills its index entry (on the worker).
    // After a failure nothing more is written: the first one is kept for the callers.
    void Write(const Job& job)
    {
        if (writeFailed.load(std::memory_order_relaxed))
            return pool.GiveBack(job.head, job.tail);
        Part(job);
        const segment::Entry entry =
            segment::EncodeSteps(steps.data(), steps.size(), values.data(), job.count,
                                 job.valueSize, job.holdsBits, &stored, &work);
        uint8_t record[kSpillRecord];
        layout::Store32(record, job.list);
        segment::StoreEntry(record + 4, written, entry);
        errno = 0;
        bool ok = !spill || std::fwrite(record, 1, sizeof record, spill) == sizeof record;
        ++spilled;
        ok = ok && PutBytes(stored.data(), stored.size());
        if (!ok) {
            const std::string why = FileWriter::CannotWrite(path);  // errno is this thread's
            std::lock_guard<Mutex> hold(mutex);
            writeError = why;
            writeFailed.store(true, std::memory_order_release);
        }
    }

    void Release(Pending& p)
    {
        buffered -= p.capacity;
        if (p.head)
            pool.Give(p.head, p.tail);
        p.head = p.tail = nullptr;
        p.at = nullptr;
        p.room = 0;
        p.used = p.capacity = 0;
        p.count = 0;
    }

    // Hands over the largest buffers until half the budget is left.
    void FlushLargest()
    {
        std::vector<std::pair<size_t, int>> sizes;
        for (auto& entry : pending)
            if (entry.second->count != 0)
                sizes.emplace_back(entry.second->Capacity(), entry.first);
        std::sort(sizes.rbegin(), sizes.rend());
        for (const auto& size : sizes) {
            if (buffered <= budget / 2)
                break;
            Flush(size.second, *pending[size.second]);
        }
    }

    uint32_t ValueSizeOf(int idcode) const
    {
        auto it = decl.vars_.find(idcode);
        return it == decl.vars_.end() ? 0 : decl.ValueSize(it->second);
    }

    void SetFileType(uint32_t type)
    {
        // Refused without effect: the buffered changes were sized by the old type.
        if (changed && type != decl.fileType_) {
            Fail("file type set after changes were given");
            return;
        }
        decl.SetFileType(type);
    }

    void Remove(int idcode)
    {
        auto it = pending.find(idcode);
        if (it != pending.end()) {
            if (idcode > 0 && size_t(idcode) < slots.size())
                slots[size_t(idcode)] = nullptr;
            Release(*it->second);  // its record stays in the deque, unused
            pending.erase(it);
        }
        segments.erase(idcode);  // its written segments stay in the file, unreferenced
        decl.RemoveVar(idcode);
    }

    bool Finish(std::string* out)
    {
        uint64_t lastTag = 0;  // of the variables kept, as FileWriter has it
        for (int id : decl.order_) {
            auto it = pending.find(id);
            if (it != pending.end()) {
                Flush(id, *it->second);
                lastTag = std::max(lastTag, it->second->last);
            }
        }
        Drain();
        pool.Clear();  // every buffer is written: the indexes and the tail get the memory
        std::vector<uint8_t> tail, header;
        std::string why;
        uint64_t indexBytes = 0;
        if (Sound() && decl.layout_ == 3)
            TakeOneSegmentEntries();
        if (Sound() &&
            !decl.Layout2Tail(written, segments, lastTag, &tail, &indexBytes, &header, &why))
            Fail(why);
        if (Sound())
            PutIndexes(indexBytes);
        Put(tail.data(), tail.size());
        if (Sound()) {
            std::vector<uint8_t> zeros(4096, 0);
            const uint64_t size = FileWriter::FileSizeOf(header);
            while (Sound() && written < size)
                Put(zeros.data(), static_cast<size_t>(std::min<uint64_t>(4096, size - written)));
        }
        if (Sound()) {
            errno = 0;
            if (std::fseek(file, 0, SEEK_SET) != 0 ||
                std::fwrite(header.data(), 1, header.size(), file) != header.size() ||
                std::fflush(file) != 0)
                Fail(FileWriter::CannotWrite(path));
        }
        if (file) {
            errno = 0;
            if (std::fclose(file) != 0)
                Fail(FileWriter::CannotWrite(path));
            file = nullptr;
        }
        CloseSpill();
        if (Sound() && FileWriter::ReplaceWith(temp, path, &why)) {
            finished = true;
            return true;
        }
        Fail(why);
        Abandon();
        if (out)
            *out = error;
        return false;
    }

    // Writes the segment indexes, each variable's entries in the order of the table, from the
    // spill file: a window of the indexes at a time, each filled in one pass over the file.
    void PutIndexes(uint64_t indexBytes)
    {
        constexpr uint64_t none = UINT64_MAX;
        std::vector<uint64_t> start(lists, none), next;
        uint64_t at = 0;
        for (int id : decl.order_) {
            auto list = segments.find(id);
            auto buffer = pending.find(id);  // there is one for every list
            if (list == segments.end() || buffer == pending.end() || decl.Inline(list->second))
                continue;
            start[buffer->second->list] = at;
            at += list->second.entries * layout::kSegEntrySize;
        }
        std::vector<uint8_t> window, records(kSpillRecord * 4096);
        // An eighth of the budget, in whole entries.
        const uint64_t most = std::max<uint64_t>(1, budget / 8 / layout::kSegEntrySize);
        const uint64_t step = most * layout::kSegEntrySize;
        for (uint64_t from = 0; from < indexBytes && Sound(); from += step) {
            window.assign(static_cast<size_t>(std::min(step, indexBytes - from)), 0);
            next = start;
            errno = 0;
            if (std::fflush(spill) != 0 || std::fseek(spill, 0, SEEK_SET) != 0)
                return Fail(FileWriter::CannotWrite(path));
            size_t n;
            uint64_t read = 0;
            while ((n = std::fread(records.data(), kSpillRecord, 4096, spill)) > 0) {
                read += n;
                for (size_t i = 0; i < n; ++i) {
                    const uint8_t* record = records.data() + i * kSpillRecord;
                    const uint32_t list = layout::Load32(record);
                    if (start[list] == none)  // a variable removed since
                        continue;
                    const uint64_t to = next[list];
                    next[list] += layout::kSegEntrySize;
                    if (to >= from && to - from < window.size())
                        std::memcpy(window.data() + (to - from), record + 4, layout::kSegEntrySize);
                }
            }
            if (std::ferror(spill) || read != spilled)
                return Fail(FileWriter::CannotWrite(path));
            Put(window.data(), window.size());
        }
    }

    // Layout 3: the index entry of each variable of one segment, from the spill file, goes to
    // its variable-table entry.
    void TakeOneSegmentEntries()
    {
        std::vector<FileWriter::SegmentList*> one(lists, nullptr);
        for (auto& list : segments) {
            auto buffer = pending.find(list.first);
            if (buffer != pending.end() && list.second.entries == 1)
                one[buffer->second->list] = &list.second;
        }
        std::vector<uint8_t> records(kSpillRecord * 4096);
        errno = 0;
        if (!spill || std::fflush(spill) != 0 || std::fseek(spill, 0, SEEK_SET) != 0)
            return Fail(FileWriter::CannotWrite(path));
        size_t n;
        while ((n = std::fread(records.data(), kSpillRecord, 4096, spill)) > 0) {
            for (size_t i = 0; i < n; ++i) {
                const uint8_t* record = records.data() + i * kSpillRecord;
                if (FileWriter::SegmentList* list = one[layout::Load32(record)])
                    list->index.assign(record + 4, record + kSpillRecord);
            }
        }
        if (std::ferror(spill))
            Fail(FileWriter::CannotWrite(path));
    }

    void Abandon()
    {
        Stop();
        if (finished)
            return;
        if (file)
            std::fclose(file);
        file = nullptr;
        std::remove(temp.c_str());
        CloseSpill();
        finished = true;
        Fail("the file was abandoned");
    }

    void CloseSpill()
    {
        if (spill) {
            std::fclose(spill);
            std::remove(SpillPath().c_str());
        }
        spill = nullptr;
    }

    // A spilled index entry: the number of its variable's list, then the entry.
    static constexpr size_t kSpillRecord = 4 + layout::kSegEntrySize;

    FileWriter decl;  // the declarations; never holds changes
    std::string path, temp;
    size_t budget;
    std::FILE* file = nullptr;
    uint64_t written = 0;
    std::string error;
    bool finished = false;
    bool changed = false;  // a change was given: the file type is fixed
    ChunkPool pool;
    RecordArena arena;  // on huge pages: a change's first touch of its record costs no page walk
    std::deque<Pending, ArenaAllocator<Pending>> records{
        ArenaAllocator<Pending>(&arena)};       // every buffer made, in the order made
    std::unordered_map<int, Pending*> pending;  // the buffers of the variables kept
    std::vector<Pending*> slots;                // by idcode: pending's buffers of the dense idcodes
    std::map<int, FileWriter::SegmentList> segments;  // counts only: the entries are spilled
    std::FILE* spill = nullptr;  // the index entries, in the order the segments are written
    uint32_t lists = 0;
    uint64_t spilled = 0;
    size_t buffered = 0;
    // The worker's: the jobs are written on it in their order while the changes go on; the
    // file, the spill and their counts are its own until Drain.
    Thread worker;
    bool workerless = false;  // no thread could be started: the jobs are written at once
    Mutex mutex;              // guards what follows, to writeError
    Condition wake, room;
    std::deque<Job> queue;
    size_t queued = 0;  // the bytes of the chunks of the jobs queued or being written
    bool busy = false, stopping = false;
    std::string writeError;
    std::atomic<bool> writeFailed{false};
    segment::Workspace work;
    std::vector<uint8_t> stored;
    std::vector<uint8_t> flat;           // a job's chunks, one after the other
    std::vector<uint8_t> steps, values;  // a job's changes as EncodeSteps takes them
};

}  // namespace detail

StreamWriter::StreamWriter(std::string path, size_t memoryBudget, std::string tempPath)
    : state_(new detail::StreamState(std::move(path), memoryBudget, std::move(tempPath)))
{
}

StreamWriter::~StreamWriter() = default;

void StreamWriter::SetLayout(int layout)
{
    state_->SetLayout(layout);
}

void StreamWriter::SetFileType(uint32_t type)
{
    state_->SetFileType(type);
}

void StreamWriter::SetTimeUnit(std::string unit)
{
    state_->decl.SetTimeUnit(std::move(unit));
}

void StreamWriter::SetEndTag(uint64_t tag)
{
    state_->decl.SetEndTag(tag);
}

void StreamWriter::SetStamp(std::string stamp)
{
    state_->decl.SetStamp(std::move(stamp));
}

void StreamWriter::ClearStamp()
{
    state_->decl.ClearStamp();
}

void StreamWriter::BeginScope(std::string name)
{
    state_->decl.BeginScope(std::move(name));
}

void StreamWriter::EndScope()
{
    state_->decl.EndScope();
}

int StreamWriter::AddVar(const std::string& name, uint8_t varType, uint32_t bitSize,
                         uint8_t valueDataType, int idcode)
{
    return state_->decl.AddVar(name, varType, bitSize, valueDataType, idcode);
}

void StreamWriter::AddAlias(const std::string& name, int idcode)
{
    state_->decl.AddAlias(name, idcode);
}

void StreamWriter::RemoveVar(int idcode)
{
    state_->Remove(idcode);
}

void StreamWriter::SetCountUnknown(int idcode)
{
    state_->decl.SetCountUnknown(idcode);
}

void StreamWriter::SetRecordedCount(int idcode, uint32_t n)
{
    state_->decl.SetRecordedCount(idcode, n);
}

bool StreamWriter::HasVar(int idcode) const
{
    return state_->decl.HasVar(idcode);
}

bool StreamWriter::HoldsReals(int idcode) const
{
    return state_->decl.HoldsReals(idcode);
}

uint32_t StreamWriter::ValueSize(int idcode) const
{
    return state_->ValueSizeOf(idcode);
}

bool StreamWriter::AddChange(int idcode, uint64_t tag, const uint8_t* bytes, size_t size)
{
    return state_->Add(idcode, tag, bytes, size);
}

void StreamWriter::Prefetch(int idcode, int stage) const
{
    state_->Prefetch(idcode, stage);
}

bool StreamWriter::AddReal(int idcode, uint64_t tag, double v)
{
    uint8_t bytes[8];
    if (HasVar(idcode) && !HoldsReals(idcode)) {
        state_->Fail("idcode " + std::to_string(idcode) + " holds bits, not reals");
        return false;
    }
    if (ValueSize(idcode) == 4) {
        const float f = static_cast<float>(v);
        std::memcpy(bytes, &f, sizeof f);
        return AddChange(idcode, tag, bytes, sizeof f);
    }
    std::memcpy(bytes, &v, sizeof v);
    return AddChange(idcode, tag, bytes, sizeof v);
}

bool StreamWriter::Finish(std::string* error)
{
    if (state_->finished) {
        if (error)
            *error = state_->error.empty() ? "the file was already finished" : state_->error;
        return false;
    }
    return state_->Finish(error);
}

void StreamWriter::Abandon()
{
    state_->Abandon();
}

const std::string& StreamWriter::Error() const
{
    state_->Sound();
    return state_->error;
}

size_t StreamWriter::BufferedBytes() const
{
    return state_->buffered;
}

}  // namespace nffr
