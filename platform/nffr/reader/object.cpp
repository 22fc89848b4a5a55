// object.cpp: the free functions and the reader object ffrObject: one object per file,
// shared by all opens of it and counted by uses. Bad files are refused through the error sink;
// misuse of objects is a contract violation in the checked build and an error message
// otherwise. No exception leaves these functions.
#include <algorithm>
#include <cstring>
#include <filesystem>
#include <map>

#include "nffr_layout.h"
#include "objects.h"

using nffr::testhooks::Op;

std::unordered_set<const ffrObject*>& LiveObjects()
{
    static auto* live = new std::unordered_set<const ffrObject*>();
    return *live;
}

namespace {

// Live objects, by file identity and by paths. A released object is no longer listed.
std::map<std::string, ffrObject*>& Registry()
{
    static auto* registry = new std::map<std::string, ffrObject*>();
    return *registry;
}

Quarantine<ffrObject>& DeadObjects()
{
    static Quarantine<ffrObject> dead;
    return dead;
}

ffrObjectImpl* LiveImpl(ffrObject* self, const char* what)
{
    if (!self || !LiveObjects().count(self)) {
        nffr::Misuse(std::string(what) + " on a reader object whose uses have all been closed");
        return nullptr;
    }
    return ffrAccess::Impl(self);
}

// The name of the method that enters op, for messages.
const char* MethodName(Op op)
{
    switch (op) {
    case Op::Close: return "Close";
    case Op::ReadSignalTree: return "ReadSignalTree";
    case Op::NeedsReopen: return "NeedsReopen";
    case Op::HasStamp: return "HasStamp";
    case Op::GetStamp: return "GetStamp";
    case Op::GetVarInfo: return "GetVarInfo";
    case Op::IsInLoadList: return "IsInLoadList";
    case Op::AddToLoadList: return "AddToLoadList";
    case Op::LoadListedSignals: return "LoadListedSignals";
    case Op::GetChangeCount: return "GetChangeCount";
    case Op::CreateTraverser: return "CreateTraverser";
    default: return "an object method";
    }
}

// The prologue of an object method, written once: body(impl, fail) runs guarded under the
// method's name after the test hook of op, with the object's state (null, the misuse reported,
// after its last Close) and whether the hook asks the call to fail.
template <typename Result, typename Body>
Result ObjectCall(ffrObject* self, Op op, Result fallback, Body body) noexcept
{
    const char* what = MethodName(op);
    return Guarded(what, fallback, [&]() -> Result {
        const bool fail = nffr::EnterOp(op);
        return body(LiveImpl(self, what), fail);
    });
}

const nffr::Signal* FindSignal(ffrObjectImpl* impl, int idcode, size_t* index = nullptr)
{
    const std::pair<int32_t, uint32_t> key(idcode, 0);
    auto it = std::lower_bound(impl->byIdcode.begin(), impl->byIdcode.end(), key);
    if (it == impl->byIdcode.end() || it->first != idcode)
        return nullptr;
    if (index)
        *index = it->second;
    return &impl->model.signals[it->second];
}

void Unregister(ffrObject* object)
{
    auto& registry = Registry();
    for (auto it = registry.begin(); it != registry.end();)
        it = it->second == object ? registry.erase(it) : std::next(it);
}

ffrObject* FindLive(const std::string& identity, const std::string& canonical)
{
    auto& registry = Registry();
    auto it = registry.find("id:" + identity);
    if (it == registry.end())
        it = registry.find("path:" + canonical);
    return it == registry.end() ? nullptr : it->second;
}

// The path as spelled, made absolute and normal without asking the file system, so that an
// object can still be found after its file was removed.
std::string LexicalKey(const char* path)
{
    std::error_code ec;
    std::filesystem::path absolute = std::filesystem::absolute(path, ec);
    return "path:" + (ec ? std::string(path) : absolute.lexically_normal().string());
}

std::string Quoted(const std::string& path)
{
    return "\"" + path + "\"";
}

// Empty when the file at the object's path is still, byte for byte as far as size, times and
// identity tell, the one that was parsed; otherwise why not.
std::string ChangeOnDisk(const ffrObjectImpl* impl)
{
    nffr::DiskState held, named;
    std::string identity, canonical;
    if (!nffr::QueryFile(impl->path.c_str(), &identity, &canonical, &named, nullptr) ||
        named.device != impl->disk.device || named.inode != impl->disk.inode)
        return "the file was replaced or removed since it was opened";
    if (!impl->file->Now(&held) || held != impl->disk)
        return "the file was changed on disk since it was opened";
    return std::string();
}

// Builds the per-signal records handed out by GetVarInfo and the load state.
void BuildRecords(ffrObjectImpl* impl)
{
    nffr::Model& m = impl->model;
    impl->infos.resize(m.signals.size());
    impl->byIdcode.reserve(m.signals.size());
    for (size_t i = 0; i < m.signals.size(); ++i) {
        const nffr::Signal& s = m.signals[i];
        ffrVarInfo& info = impl->infos[i];
        info.varType = s.varType;
        info.valueDataType = s.valueDataType;
        info.idcode = s.idcode;
        info.bitSize = s.bitSize;
        info.name = nullptr;  // built when first asked for
        impl->byIdcode.emplace_back(s.idcode, static_cast<uint32_t>(i));
    }
    // Writers number the signals in order, so the sort is mostly a check; idcodes are unique.
    if (!std::is_sorted(impl->byIdcode.begin(), impl->byIdcode.end()))
        std::sort(impl->byIdcode.begin(), impl->byIdcode.end());
    impl->listed.assign(m.signals.size(), 0);
    impl->loads.assign(m.signals.size(), LoadState::Unloaded);
}

// The model of the file that the last IsFsdbFile accepted. A host asks IsFsdbFile just before
// ffrOpen2, which takes the model from here instead of reading and decoding the file again.
struct CheckedFile {
    std::string path;
    nffr::DiskState disk;  // of the handle the model was parsed from
    nffr::Model model;
    std::vector<std::string> warnings;
};

std::unique_ptr<CheckedFile>& LastChecked()
{
    static auto* last = new std::unique_ptr<CheckedFile>();
    return *last;
}

// Parses the file behind the handle, or takes the model the last IsFsdbFile parsed when it was
// of the same path and the handle's file is the same, unchanged. Either way nothing stays kept.
bool ParseOnce(const char* path, const nffr::FileHandle& file, nffr::Model* model,
               std::string* error, std::vector<std::string>* warnings)
{
    std::unique_ptr<CheckedFile> last = std::move(LastChecked());
    if (last && last->path == path && last->disk == file.state()) {
        *model = std::move(last->model);
        *warnings = std::move(last->warnings);
        return true;
    }
    return nffr::ParseModel(file, model, error, warnings);
}

// Opens and checks the file; null (with the reason sent to the error sink) when refused.
std::unique_ptr<ffrObjectImpl> ReadFile(const char* path)
{
    auto impl = std::make_unique<ffrObjectImpl>();
    std::string error;
    std::vector<std::string> warnings;
    nffr::DiskState named;
    if (!nffr::QueryFile(path, &impl->identity, &impl->canonical, &named, &error) ||
        !(impl->file = nffr::FileHandle::Open(path, &error)) ||
        !ParseOnce(path, *impl->file, &impl->model, &error, &warnings)) {
        nffr::ReportError(Quoted(path) + ": " + error);
        return nullptr;
    }
    for (const std::string& w : warnings)
        nffr::ReportWarning(Quoted(path) + ": " + w);
    impl->path = path;
    impl->disk = impl->file->state();  // the file actually read, even if replaced meanwhile
    impl->identity = nffr::IdentityOf(impl->disk);
    impl->diskHadStamp = impl->model.header.HasStamp();
    impl->diskStamp = impl->model.stamp;
    BuildRecords(impl.get());
    return impl;
}

}  // namespace

std::shared_ptr<const Block> BlockCache::Take(size_t index)
{
    auto it = where_.find(index);
    if (it == where_.end())
        return nullptr;
    recent_.splice(recent_.begin(), recent_, it->second);
    return it->second->second;
}

void BlockCache::Put(size_t index, std::shared_ptr<const Block> block)
{
    if (Take(index))
        return;
    bytes_ += block->size();
    recent_.emplace_front(index, std::move(block));
    where_[index] = recent_.begin();
    while (bytes_ > nffr::CacheBytes() && recent_.size() > 1) {
        bytes_ -= recent_.back().second->size();
        where_.erase(recent_.back().first);
        recent_.pop_back();
    }
}

namespace {

ffrObject* NewObject(std::unique_ptr<ffrObjectImpl> impl)
{
    // A quarantined object's memory is still allocated, so a new object can be built there.
    void* at = nffr::TakeAddressReuseRequest() ? DeadObjects().TakeNewest() : nullptr;
    ffrObject* object = ffrAccess::NewObject(at);
    ffrAccess::Magic(object) = kLiveObjectMagic;
    ffrAccess::Impl(object) = impl.release();
    LiveObjects().insert(object);
    return object;
}

void Kill(ffrObject* object)
{
    Unregister(object);
    LiveObjects().erase(object);
    delete ffrAccess::Impl(object);
    ffrAccess::Impl(object) = nullptr;
    ffrAccess::Magic(object) = kDeadObjectMagic;
#if NFFR_CONTRACT_CHECKS
    object = DeadObjects().Keep(object);
#endif
    ffrAccess::DeleteObject(object);
}

bool FileIsOurs(const char* path, bool report)
{
    std::string error;
    LastChecked().reset();
    auto checked = std::make_unique<CheckedFile>();
    std::unique_ptr<nffr::FileHandle> file = nffr::FileHandle::Open(path, &error);
    if (!file || !nffr::ParseModel(*file, &checked->model, &error, &checked->warnings)) {
        if (report)
            nffr::ReportError(Quoted(path) + ": " + error);
        return false;
    }
    checked->path = path;
    checked->disk = file->state();
    LastChecked() = std::move(checked);
    return true;
}

// True when the block [offset, offset + size) shares a byte with the header, the stamp, the
// variable table or the hierarchy (in layouts 2 and 3, the metadata block that holds them).
bool OverlapsOtherData(const nffr::Header& h, uint64_t offset, uint64_t size)
{
    auto meets = [&](uint64_t start, uint64_t length) {
        return size > 0 && length > 0 && offset < start + length && start < offset + size;
    };
    if (h.version != nffr::layout::kVersion)  // the stamp, table and hierarchy are in there
        return meets(0, nffr::layout::HeaderSize(h.version)) || meets(h.metaOffset, h.metaStored);
    return meets(0, nffr::layout::kHeaderSize) ||
           (h.HasStamp() && meets(h.stampOffset, uint64_t(h.stampLength) + 1)) ||
           meets(h.varTableOffset, uint64_t(h.varCount) * nffr::layout::kVarEntrySize) ||
           meets(h.hierOffset, h.hierSize);
}

// Why a signal whose record was found damaged at open is refused, naming it.
std::string DamageOf(const nffr::Model& model, size_t index)
{
    return nffr::SignalLabel(model, model.signals[index]) + ": " +
           model.damage.at(static_cast<uint32_t>(index));
}

// Reads a layout-1 signal's change block into *out; false with *error set when refused.
bool ReadBlock(ffrObjectImpl* impl, size_t index, std::shared_ptr<Block>* out, std::string* error)
{
    const nffr::Signal& s = impl->model.signals[index];
    const uint64_t size = uint64_t(s.changeCount) * (8 + uint64_t(s.valueSize));
    if (OverlapsOtherData(impl->model.header, s.blockOffset, size)) {
        *error = "idcode " + std::to_string(s.idcode) + ": its change block overlaps other data";
        return false;
    }
    if (size > SIZE_MAX / 2) {
        *error = "idcode " + std::to_string(s.idcode) + ": its changes are too large to load here";
        return false;
    }
    auto block = std::make_shared<Block>(static_cast<size_t>(size), index);
    if (!impl->file->ReadAt(s.blockOffset, block->data(), block->size())) {
        *error = "idcode " + std::to_string(s.idcode) +
                 ": its changes cannot be read (the file is shorter than when it was opened)";
        return false;
    }
    *out = std::move(block);
    return true;
}

// Reads a signal's segment index from the file into *entries; false with *why set when refused.
bool ReadIndex(ffrObjectImpl* impl, const nffr::Signal& s, std::vector<uint8_t>* entries,
               std::string* why)
{
    if (OverlapsOtherData(impl->model.header, s.blockOffset, s.indexSize))
        *why = "its segment index overlaps other data";
    else if (s.indexSize > SIZE_MAX / 2)
        *why = "its segment index is too large to load here";
    else if (entries->resize(static_cast<size_t>(s.indexSize)),
             !impl->file->ReadAt(s.blockOffset, entries->data(), entries->size()))
        *why = "its segment index cannot be read (the file is shorter than when it was opened)";
    else
        return true;
    return false;
}

// Reads and decodes a layout-2 or layout-3 signal's segments into *out. Every index entry is
// checked against the file and against what its stored bytes can give before anything is allocated
// for the changes; false with *error set, naming the signal, when refused. A segment's tags are
// steps from its first, so they never go back within it; *inOrder tells whether they do at no
// join of two segments either.
bool ReadSegments(ffrObjectImpl* impl, size_t index, std::shared_ptr<Block>* out, bool* inOrder,
                  std::string* error)
{
    namespace L = nffr::layout;
    const nffr::Model& m = impl->model;
    const nffr::Signal& s = m.signals[index];
    auto refuse = [&](const std::string& what) {
        *error = nffr::SignalLabel(m, s) + ": " + what;
        return false;
    };
    std::string why;
    const char* shorter = " cannot be read (the file is shorter than when it was opened)";
    std::vector<uint8_t> entries;
    if (s.form == L::kFormOneSegment) {
        entries.resize(L::kSegEntrySize);
        nffr::segment::StoreEntry(entries.data(), s.blockOffset,
                                  {s.segStored, s.changeCount, s.segPacked, s.segCodec});
    } else if (!ReadIndex(impl, s, &entries, &why)) {
        return refuse(why);
    }
    const size_t segments = entries.size() / L::kSegEntrySize;
    std::vector<uint64_t> offsets(segments);
    uint64_t total = 0;
    for (size_t i = 0; i < segments; ++i) {
        const std::string name = "segment " + std::to_string(i) + ": ";
        const nffr::segment::Entry e =
            nffr::segment::LoadEntry(&entries[i * L::kSegEntrySize], &offsets[i]);
        why = nffr::segment::CheckEntry(e, s.valueSize);
        if (!why.empty())
            return refuse(name + why);
        if (offsets[i] > m.header.fileSize || e.stored > m.header.fileSize - offsets[i] ||
            OverlapsOtherData(m.header, offsets[i], e.stored))
            return refuse(name + "lies outside the file or overlaps other data");
        total += e.count;
    }
    if (total != s.changeCount)
        return refuse("its segments hold " + std::to_string(total) + " changes, its entry " +
                      std::to_string(s.changeCount));
    const uint64_t size = total * (8 + uint64_t(s.valueSize));
    if (size > SIZE_MAX / 2)
        return refuse("its changes are too large to load here");
    auto block = std::make_shared<Block>(static_cast<size_t>(size), index);
    uint8_t* values = block->data() + 8 * total;
    std::vector<uint8_t> stored;
    uint64_t done = 0;
    for (size_t i = 0; i < segments; ++i) {
        uint64_t offset = 0;
        const nffr::segment::Entry e =
            nffr::segment::LoadEntry(&entries[i * L::kSegEntrySize], &offset);
        stored.resize(e.stored);
        if (!impl->file->ReadAt(offset, stored.data(), stored.size()))
            return refuse("segment " + std::to_string(i) + shorter);
        why = nffr::segment::Decode(stored.data(), e, s.valueSize, block->data() + 8 * done,
                                    values + done * s.valueSize, &impl->work);
        if (!why.empty())
            return refuse("segment " + std::to_string(i) + ": " + why);
        const uint8_t* tags = block->data();
        if (done > 0 && nffr::Get64(tags + 8 * done) < nffr::Get64(tags + 8 * (done - 1)))
            *inOrder = false;
        done += e.count;
    }
    *out = std::move(block);
    return true;
}

// Reads, decodes and checks one signal's changes; false with *error set when refused.
bool DecodeSignal(ffrObjectImpl* impl, size_t index, std::shared_ptr<const Block>* out,
                  std::string* error)
{
    const nffr::Signal& s = impl->model.signals[index];
    if (s.damaged) {
        *error = DamageOf(impl->model, index);
        return false;
    }
    std::shared_ptr<Block> block;
    // Layout 1 stores the tags as they are, so each of them is checked.
    bool inOrder = impl->model.header.version != nffr::layout::kVersion;
    const bool read = inOrder ? ReadSegments(impl, index, &block, &inOrder, error)
                              : ReadBlock(impl, index, &block, error);
    if (!read || (!inOrder && !nffr::CheckChangeBlock(block->data(), s, error)))
        return false;
    *out = std::move(block);
    return true;
}

// Reads and checks one listed signal's changes, keeping them for its traverser while there is
// room, else in the cache.
bool LoadBlock(ffrObjectImpl* impl, size_t index, std::string* error)
{
    std::shared_ptr<const Block> block;
    if (!DecodeSignal(impl, index, &block, error))
        return false;
    if (impl->awaitingBytes + block->size() <= 4 * nffr::CacheBytes() &&
        impl->awaiting.count(index) == 0) {
        impl->awaitingBytes += block->size();
        impl->awaiting.emplace(index, std::move(block));
    } else {
        impl->cache.Put(index, std::move(block));
    }
    return true;
}

// The block LoadListedSignals kept for index's first traverser, taken out; null when none.
std::shared_ptr<const Block> TakeAwaiting(ffrObjectImpl* impl, size_t index)
{
    auto it = impl->awaiting.find(index);
    if (it == impl->awaiting.end())
        return nullptr;
    std::shared_ptr<const Block> block = std::move(it->second);
    impl->awaitingBytes -= block->size();
    impl->awaiting.erase(it);
    return block;
}

// A loaded signal's changes: held by a traverser, cached, or decoded again (from the file
// that was parsed, unchanged). Null with *error set when that fails.
std::shared_ptr<const Block> LoadedBlock(ffrObjectImpl* impl, size_t index, std::string* error)
{
    std::shared_ptr<const Block> block = impl->held[index].lock();
    if (!block)
        block = TakeAwaiting(impl, index);
    if (!block)
        block = impl->cache.Take(index);
    if (!block) {
        nffr::DiskState now;
        if (!impl->file->Now(&now) || now != impl->disk)
            *error = "the file was changed on disk since it was opened";
        else
            DecodeSignal(impl, index, &block, error);
        if (!block)
            return nullptr;
    }
    impl->cache.Put(index, block);
    impl->held[index] = block;
    return block;
}

}  // namespace

extern "C" {

int CheckFile(const char* path)
{
    return Guarded("CheckFile", 1,
                   [&] { return path && nffr::FileHandle::Open(path, nullptr) ? 0 : 1; });
}

bool IsFsdbFile(const char* path)
{
    return Guarded("IsFsdbFile", false, [&] { return path && FileIsOurs(path, true); });
}

int GetFileInfo(const char* path, ffrFileInfo* info)
{
    if (!info)
        return 1;
    std::memset(info, 0, sizeof *info);
    info->fileType = -1;  // never mistaken for a supported type when the file is refused
    return Guarded("GetFileInfo", 1, [&] {
        nffr::Header h;
        std::string error;
        if (!path || !nffr::ReadHeaderFromDisk(path, &h, &error)) {
            nffr::ReportError(Quoted(path ? path : "(null)") + ": " +
                              (error.empty() ? "cannot be read" : error));
            return 1;
        }
        info->fileType = h.fileType;
        std::memcpy(info->timeUnit, h.unit, sizeof info->timeUnit);
        info->endTag.high = static_cast<uint32_t>(h.endTag >> 32);
        info->endTag.low = static_cast<uint32_t>(h.endTag);
        info->varCount = h.varCount;
        info->scopeCount = h.scopeCount;
        return 0;
    });
}

}  // extern "C"

ffrObject* ffrObject::ffrOpen2(const char* path, ffrTreeCallback callback, void* clientData,
                               int /*flags*/)
{
    return Guarded("ffrOpen2", static_cast<ffrObject*>(nullptr), [&]() -> ffrObject* {
        if (nffr::EnterOp(Op::Open) || !path)
            return nullptr;
        std::string identity, canonical, error;
        nffr::DiskState state;
        ffrObject* object = nullptr;
        if (!nffr::QueryFile(path, &identity, &canonical, &state, &error)) {
            // A live object stays reachable by its path when the file has gone, so that its
            // holders can still balance their uses; it refuses to load anything more.
            auto it = Registry().find(LexicalKey(path));
            if (it == Registry().end()) {
                nffr::ReportError(error);
                return nullptr;
            }
            object = it->second;
        }
        if (!object) {
            object = FindLive(identity, canonical);
            if (object && !ChangeOnDisk(ffrAccess::Impl(object)).empty() &&
                !ffrAccess::Impl(object)->spellings.count(path)) {
                // Under a spelling its holders never used, a changed file is read afresh: they
                // cannot be asked to refresh it. Under their own spelling they get the old
                // object back to ask NeedsReopen; it refuses to load from the changed file.
                ffrAccess::Impl(object)->released = true;
                Unregister(object);
                object = nullptr;
            }
        }
        if (!object) {
            std::unique_ptr<ffrObjectImpl> impl = ReadFile(path);
            if (!impl)
                return nullptr;
            impl->uses = 0;
            object = NewObject(std::move(impl));
            ffrObjectImpl* fresh = ffrAccess::Impl(object);
            Registry()["id:" + fresh->identity] = object;
            Registry()["path:" + fresh->canonical] = object;
            Registry()[LexicalKey(path)] = object;
        }
        LastChecked().reset();  // a model checked for an object already open is not kept
        ffrObjectImpl* impl = ffrAccess::Impl(object);
        impl->spellings.insert(path);
        ++impl->uses;
        impl->callback = callback;
        impl->clientData = clientData;
        return object;
    });
}

void ffrObject::Close()
{
    ObjectCall(this, Op::Close, 0, [&](ffrObjectImpl* impl, bool) {
        if (impl && --impl->uses <= 0)
            Kill(this);
        return 0;
    });
}

int ffrObject::ReadSignalTree()
{
    return ObjectCall(this, Op::ReadSignalTree, 1, [&](ffrObjectImpl* impl, bool) {
        if (!impl)
            return 1;
        if (!impl->callback)
            return 0;
        const nffr::Model& m = impl->model;
        // Each walk hands out the names as stored, even if an earlier walk changed them.
        impl->walkNames = m.names;
        ffrScopeRecord scope;
        ffrVarRecord var;
        for (const nffr::TreeEntry& e : m.tree) {
            char* name = impl->walkNames.data() + e.name;
            void* record = nullptr;
            uint32_t event = FFR_TREE_SCOPE_END;
            if (e.kind == nffr::layout::kRecScopeBegin) {
                scope.name = name;
                scope.depth = e.depth;
                record = &scope;
                event = FFR_TREE_SCOPE_BEGIN;
            } else if (e.kind == nffr::layout::kRecVar) {
                const nffr::Signal& s = m.signals[e.signal];
                var = ffrVarRecord();
                var.name = name;
                var.idcode = s.idcode;
                var.bitSize = s.bitSize;
                var.valueDataType = s.valueDataType;
                var.varType = s.varType;
                record = &var;
                event = FFR_TREE_VAR;
            }
            if (!impl->callback(event, impl->clientData, record))
                return 0;
        }
        impl->callback(FFR_TREE_TOP, impl->clientData, nullptr);
        return 0;
    });
}

int ffrObject::NeedsReopen(unsigned char* flag)
{
    int changed = ObjectCall(this, Op::NeedsReopen, 1, [&](ffrObjectImpl* impl, bool fail) {
        if (!impl || fail || !ChangeOnDisk(impl).empty())
            return 1;
        std::string stamp;
        int has = nffr::ReadStampFromDisk(impl->path.c_str(), &stamp);
        return has < 0 || (has == 1) != impl->diskHadStamp || (has == 1 && stamp != impl->diskStamp)
                   ? 1
                   : 0;
    });
    if (flag)
        *flag = static_cast<unsigned char>(changed);
    return changed;
}

void ffrObject::ReleaseForReopen()
{
    Guarded("ReleaseForReopen", 0, [&] {
        if (ffrObjectImpl* impl = LiveImpl(this, "ReleaseForReopen")) {
            impl->released = true;
            Unregister(this);
        }
        return 0;
    });
}

int ffrObject::HasStamp()
{
    return ObjectCall(this, Op::HasStamp, 0, [&](ffrObjectImpl* impl, bool) {
        std::string stamp;
        return impl && nffr::ReadStampFromDisk(impl->path.c_str(), &stamp) == 1 ? 1 : 0;
    });
}

int ffrObject::GetStamp(char* buffer)
{
    return ObjectCall(this, Op::GetStamp, 1, [&](ffrObjectImpl* impl, bool) {
        if (!buffer)
            return 1;
        buffer[0] = '\0';
        std::string stamp;
        if (!impl || nffr::ReadStampFromDisk(impl->path.c_str(), &stamp) != 1)
            return 1;
        const size_t n = std::min<size_t>(stamp.size(), nffr::layout::kMaxStampLength);
        std::memcpy(buffer, stamp.data(), n);
        buffer[n] = '\0';
        return 0;
    });
}

int ffrObject::GetVarInfo(int idcode, ffrVarInfo** info)
{
    if (!info)
        return 1;
    *info = nullptr;
    return ObjectCall(this, Op::GetVarInfo, 1, [&](ffrObjectImpl* impl, bool) {
        size_t index = 0;
        const nffr::Signal* s = impl ? FindSignal(impl, idcode, &index) : nullptr;
        if (!s)
            return 1;
        ffrVarInfo& record = impl->infos[index];
        if (!record.name)
            record.name = impl->fullNames.emplace(index, nffr::FullName(impl->model, *s))
                              .first->second.c_str();
        *info = &record;
        return 0;
    });
}

bool ffrObject::IsInLoadList(int idcode)
{
    return ObjectCall(this, Op::IsInLoadList, false, [&](ffrObjectImpl* impl, bool) {
        size_t index = 0;
        return impl && FindSignal(impl, idcode, &index) && impl->listed[index];
    });
}

int ffrObject::AddToLoadList(int idcode, int /*from*/, int /*to*/)
{
    return ObjectCall(this, Op::AddToLoadList, 1, [&](ffrObjectImpl* impl, bool) {
        if (!impl)
            return 1;
        if (idcode == -1)
            return 0;  // a requested signal that resolved to none
        size_t index = 0;
        if (!FindSignal(impl, idcode, &index)) {
            nffr::ReportWarning("AddToLoadList: no variable has idcode " + std::to_string(idcode));
            return 1;
        }
        impl->listed[index] = 1;
        return 0;
    });
}

int ffrObject::LoadListedSignals()
{
    return ObjectCall(this, Op::LoadListedSignals, 1, [&](ffrObjectImpl* impl, bool) {
        if (!impl)
            return 1;
        const std::string changed = ChangeOnDisk(impl);
        int result = 0;
        bool reportedChange = false;
        for (size_t i = 0; i < impl->listed.size(); ++i) {
            // A refused signal stays refused, and so does the list that holds it; its reason
            // was reported when it was refused.
            if (impl->listed[i] && impl->loads[i] == LoadState::Refused)
                result = 1;
            if (!impl->listed[i] || impl->loads[i] != LoadState::Unloaded)
                continue;
            std::string error = changed;
            if (error.empty() && LoadBlock(impl, i, &error)) {
                impl->loads[i] = LoadState::Loaded;
                continue;
            }
            impl->loads[i] = LoadState::Refused;
            impl->refusals[i] = error;
            if (changed.empty() || !reportedChange)
                nffr::ReportError(Quoted(impl->path) + ": " + error);
            reportedChange = reportedChange || !changed.empty();
            result = 1;
        }
        return result;
    });
}

int ffrObject::GetChangeCount(int idcode)
{
    return ObjectCall(this, Op::GetChangeCount, -1, [&](ffrObjectImpl* impl, bool fail) {
        size_t index = 0;
        const nffr::Signal* s = impl ? FindSignal(impl, idcode, &index) : nullptr;
        if (fail || !s)
            return -1;
        if (impl->loads[index] == LoadState::Refused) {
            nffr::ReportError(Quoted(impl->path) + ": idcode " + std::to_string(idcode) +
                              " was refused: " + impl->refusals[index]);
            return -1;
        }
        if (s->damaged) {
            nffr::ReportError(Quoted(impl->path) + ": " + DamageOf(impl->model, index));
            return -1;
        }
        int forced = 0;
        if (nffr::ForcedChangeCount(&forced))
            return forced;
        return s->recordedCount > INT32_MAX ? INT32_MAX : static_cast<int>(s->recordedCount);
    });
}

ffrVCTraverser* ffrObject::CreateTraverser(int idcode)
{
    return ObjectCall(
        this, Op::CreateTraverser, static_cast<ffrVCTraverser*>(nullptr),
        [&](ffrObjectImpl* impl, bool fail) -> ffrVCTraverser* {
            size_t index = 0;
            const nffr::Signal* s = impl ? FindSignal(impl, idcode, &index) : nullptr;
            if (fail || !s)
                return nullptr;
            if (impl->loads[index] == LoadState::Refused) {
                nffr::ReportError(Quoted(impl->path) + ": idcode " + std::to_string(idcode) +
                                  " cannot be traversed: " + impl->refusals[index]);
                return nullptr;
            }
            if (impl->loads[index] != LoadState::Loaded) {
                nffr::Misuse("CreateTraverser of idcode " + std::to_string(idcode) +
                             ", which is not loaded");
                return nullptr;
            }
            std::string error;
            auto t = std::make_unique<ffrTraverserImpl>();
            t->block = LoadedBlock(impl, index, &error);
            if (!t->block) {
                impl->loads[index] = LoadState::Refused;
                impl->refusals[index] = error;
                nffr::ReportError(Quoted(impl->path) + ": idcode " + std::to_string(idcode) +
                                  " cannot be traversed: " + error);
                return nullptr;
            }
            t->valueSize = s->valueSize;
            t->bitSize = s->bitSize;
            t->valueDataType = s->valueDataType;
            t->holdsBits = s->holdsBits;
            ffrVCTraverser* traverser = ffrAccess::NewTraverser();
            ffrAccess::Magic(traverser) = kLiveTraverserMagic;
            ffrAccess::StartCursor(traverser, t->block->data(), s->changeCount, s->valueSize);
            ffrAccess::Impl(traverser) = t.release();
            try {
                LiveTraversers().insert(traverser);
            } catch (...) {
                delete ffrAccess::Impl(traverser);
                ffrAccess::DeleteTraverser(traverser);
                throw;
            }
            return traverser;
        });
}
