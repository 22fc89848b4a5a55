// objects.h: the reader object's and traverser's inner state, the registries of live objects
// that every call is checked against, and access to the plug-in-facing classes' privates.
#ifndef NFFR_READER_OBJECTS_H
#define NFFR_READER_OBJECTS_H

#include <exception>
#include <list>
#include <memory>
#include <new>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "internal.h"
#include "segment_codec.h"

constexpr uint32_t kLiveObjectMagic = 0x4f52464eu;  // "NFRO"
constexpr uint32_t kDeadObjectMagic = 0xdeadbe0fu;
constexpr uint32_t kLiveTraverserMagic = 0x5652464eu;  // "NFRV"
constexpr uint32_t kDeadTraverserMagic = 0xdeadbe1fu;

// A loaded signal's change block as read from the file: tags, then values. Large blocks begin at
// a place of their own within their allocation: large allocations all start at the same offset
// of a page, so a walk over many signals at once would find every signal's current tag in the
// same cache set.
class Block {
public:
    Block(size_t size, size_t index)
        : start_(size >= kStaggeredSize ? index % 64 * 64 : 0),
          size_(size),
          bytes_(new uint8_t[size + start_])
    {
    }
    uint8_t* data() { return bytes_.get() + start_; }
    const uint8_t* data() const { return bytes_.get() + start_; }
    size_t size() const { return size_; }

private:
    static constexpr size_t kStaggeredSize = 65536;
    size_t start_;
    size_t size_;
    // Left uninitialised: the file's bytes or the decoded segments fill all of it before the
    // block is used, and zeroing it first cost a tenth of a load.
    std::unique_ptr<uint8_t[]> bytes_;
};

// Decoded change blocks that no traverser may hold, most recently used first, up to
// CacheBytes() in all (16 MiB; always the most recent one): a signal's block is freed when its last
// traverser is freed and the cache lets it go, and decoded again when a traverser asks for it after
// that.
class BlockCache {
public:
    // The block of signal index, made the most recent; null when not cached.
    std::shared_ptr<const Block> Take(size_t index);
    void Put(size_t index, std::shared_ptr<const Block> block);

private:
    using Entry = std::pair<size_t, std::shared_ptr<const Block>>;
    std::list<Entry> recent_;
    std::unordered_map<size_t, std::list<Entry>::iterator> where_;
    size_t bytes_ = 0;
};

enum class LoadState : uint8_t { Unloaded, Loaded, Refused };

struct ffrObjectImpl {
    std::string path;
    std::string identity;                       // file identity at open
    std::string canonical;                      // canonical path at open
    std::unordered_set<std::string> spellings;  // the paths it was opened by
    nffr::DiskState disk;                       // the file that was parsed
    bool diskHadStamp = false;
    std::string diskStamp;
    std::unique_ptr<nffr::FileHandle> file;
    nffr::Model model;
    // (idcode, signal index) sorted by idcode: one allocation, where a map took one per signal.
    std::vector<std::pair<int32_t, uint32_t>> byIdcode;
    std::vector<ffrVarInfo> infos;                      // one per signal, stable
    std::unordered_map<size_t, std::string> fullNames;  // built when GetVarInfo first asks
    std::vector<char> walkNames;   // the names handed to the tree callback, which may change them
    std::vector<uint8_t> listed;   // per signal
    std::vector<LoadState> loads;  // per signal
    std::unordered_map<size_t, std::weak_ptr<const Block>> held;  // blocks traversers may hold
    BlockCache cache;                                             // and recently decoded ones
    // Blocks decoded by LoadListedSignals whose signal has had no traverser since, up to
    // 4 x CacheBytes() in all: a bus's members are listed and loaded together before their
    // traversers are made, and would otherwise be decoded twice once they outgrow the cache.
    std::unordered_map<size_t, std::shared_ptr<const Block>> awaiting;
    size_t awaitingBytes = 0;
    nffr::segment::Workspace work;
    std::unordered_map<size_t, std::string> refusals;  // why a load was refused
    int uses = 1;
    bool released = false;
    ffrTreeCallback callback = nullptr;
    void* clientData = nullptr;
};

struct ffrTraverserImpl {
    std::shared_ptr<const Block> block;  // keeps the bytes alive after the object's last Close
    uint32_t valueSize = 0;              // the cursor over the bytes lives in the ffrVCTraverser
    uint32_t bitSize = 0;
    int valueDataType = 0;
    bool holdsBits = false;
    std::vector<unsigned char> unknown;  // the value before the first change, made when needed
    unsigned char empty[8] = {0};
};

// Objects handed out and not yet freed; a pointer not listed here is never dereferenced.
std::unordered_set<const ffrObject*>& LiveObjects();
std::unordered_set<const ffrVCTraverser*>& LiveTraversers();

struct ffrAccess {
    static uint32_t& Magic(ffrObject* o) { return o->magic_; }
    static ffrObjectImpl*& Impl(ffrObject* o) { return o->impl_; }
    static uint32_t& Magic(ffrVCTraverser* t) { return t->magic_; }
    static ffrTraverserImpl*& Impl(ffrVCTraverser* t) { return t->impl_; }
    static ffrObject* NewObject(void* at) { return at ? new (at) ffrObject() : new ffrObject(); }
    static ffrVCTraverser* NewTraverser() { return new ffrVCTraverser(); }
    static void DeleteObject(ffrObject* o) { delete o; }
    static void DeleteTraverser(ffrVCTraverser* t) { delete t; }
    // Puts the traverser on its first change of count, whose tags start the block at tags.
    static void StartCursor(ffrVCTraverser* t, const uint8_t* tags, uint32_t count,
                            uint32_t valueSize);
    // Sends every later per-change call of t through the library.
    static void Cool(ffrVCTraverser* t) { t->hot_ = 0; }
};

// Runs body, turning any exception into an error message and the fallback result, so that no
// exception leaves the library.
template <typename Result, typename Body>
Result Guarded(const char* what, Result fallback, Body body) noexcept
{
    try {
        return body();
    } catch (const std::bad_alloc&) {
        nffr::ReportFailure(what, "not enough memory");
    } catch (const std::exception& e) {
        nffr::ReportFailure(what, e.what());
    } catch (...) {
        nffr::ReportFailure(what, "unexpected failure");
    }
    return fallback;
}

// Freed objects of the checked build wait in a bounded ring before their memory is released,
// so that a stale pointer is not taken for a newer object at the same address.
template <typename T>
class Quarantine {
public:
    static constexpr size_t kSize = 1024;
    // Keeps dead; returns the object that leaves the ring to be deleted, or null.
    T* Keep(T* dead)
    {
        T* out = ring_[next_];
        ring_[next_] = dead;
        next_ = (next_ + 1) % kSize;
        return out;
    }
    // Takes the most recently kept object out of the ring; null when empty.
    T* TakeNewest()
    {
        const size_t last = (next_ + kSize - 1) % kSize;
        T* newest = ring_[last];
        if (newest) {
            ring_[last] = nullptr;
            next_ = last;
        }
        return newest;
    }

private:
    T* ring_[kSize] = {};
    size_t next_ = 0;
};

#endif
