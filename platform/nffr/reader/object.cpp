// object.cpp: the free functions and the reader object ffrObject: one object per file,
// shared by all opens of it and counted by uses. Bad files are refused through the error sink;
// misuse of objects is reported as a contract violation.
#include <cstring>
#include <filesystem>
#include <map>

#include "nffr_layout.h"
#include "objects.h"

using nffr::testhooks::Op;

namespace {

// Live objects, by file identity. A released object is no longer listed.
std::map<std::string, ffrObject*>& Registry()
{
    static std::map<std::string, ffrObject*> registry;
    return registry;
}

// Dead objects kept out of reuse while checks are on.
std::vector<ffrObject*>& Quarantine()
{
    // Never destroyed: quarantined memory stays reachable until the process ends.
    static auto* dead = new std::vector<ffrObject*>();
    return *dead;
}

ffrObjectImpl* LiveImpl(ffrObject* self, const char* what)
{
    ffrObjectImpl* impl = self ? ffrAccess::Impl(self) : nullptr;
#if NFFR_CONTRACT_CHECKS
    if (!self || ffrAccess::Magic(self) != kLiveObjectMagic || !impl) {
        nffr::Violation(std::string(what) + " on a reader object whose uses have all been closed");
        return nullptr;
    }
#else
    (void)what;
#endif
    return impl;
}

const nffr::Signal* FindSignal(ffrObjectImpl* impl, int idcode, size_t* index = nullptr)
{
    auto it = impl->byIdcode.find(idcode);
    if (it == impl->byIdcode.end())
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

// Builds the records handed to the tree callback and by GetVarInfo.
void BuildRecords(ffrObjectImpl* impl)
{
    nffr::Model& m = impl->model;
    impl->infos.resize(m.signals.size());
    for (size_t i = 0; i < m.signals.size(); ++i) {
        const nffr::Signal& s = m.signals[i];
        ffrVarInfo& info = impl->infos[i];
        info.varType = s.varType;
        info.valueDataType = s.valueDataType;
        info.idcode = s.idcode;
        info.bitSize = s.bitSize;
        info.name = s.fullName.c_str();
        impl->byIdcode[s.idcode] = i;
    }
    impl->treeNames.resize(m.tree.size());
    impl->scopeRecords.resize(m.tree.size());
    impl->varRecords.resize(m.tree.size());
    for (size_t i = 0; i < m.tree.size(); ++i) {
        const nffr::TreeEntry& e = m.tree[i];
        impl->treeNames[i].assign(e.name.begin(), e.name.end());
        impl->treeNames[i].push_back('\0');
        if (e.kind == nffr::layout::kRecVar) {
            const nffr::Signal& s = m.signals[e.signal];
            ffrVarRecord& r = impl->varRecords[i];
            r = ffrVarRecord();
            r.idcode = s.idcode;
            r.bitSize = s.bitSize;
            r.valueDataType = s.valueDataType;
            r.varType = s.varType;
        }
    }
    impl->listed.assign(m.signals.size(), 0);
    impl->loaded.assign(m.signals.size(), 0);
}

// Maps and checks the file; null (with the reason sent to the error sink) when refused.
std::unique_ptr<ffrObjectImpl> ReadFile(const char* path)
{
    auto impl = std::make_unique<ffrObjectImpl>();
    std::string error;
    std::vector<std::string> warnings;
    if (!nffr::QueryFile(path, &impl->identity, &impl->canonical, &impl->disk, &error) ||
        !(impl->map = nffr::Mapping::Open(path, &error)) ||
        !nffr::ParseModel(impl->map->data(), impl->map->size(), &impl->model, &error, &warnings)) {
        nffr::ReportError(std::string("\"") + path + "\": " + error);
        return nullptr;
    }
    for (const std::string& w : warnings)
        nffr::ReportWarning(std::string("\"") + path + "\": " + w);
    impl->path = path;
    impl->disk = impl->map->state();  // the file actually read, even if replaced meanwhile
    impl->identity = nffr::IdentityOf(impl->disk, impl->canonical);
    impl->diskHadStamp = impl->model.header.HasStamp();
    impl->diskStamp = impl->model.stamp;
    BuildRecords(impl.get());
    return impl;
}

ffrObject* NewObject(std::unique_ptr<ffrObjectImpl> impl)
{
    void* at = nullptr;
    if (nffr::TakeAddressReuseRequest() && !Quarantine().empty()) {
        at = Quarantine().back();
        Quarantine().pop_back();
    }
    ffrObject* object = ffrAccess::NewObject(at);
    ffrAccess::Magic(object) = kLiveObjectMagic;
    ffrAccess::Impl(object) = impl.release();
    return object;
}

void Kill(ffrObject* object)
{
    Unregister(object);
    delete ffrAccess::Impl(object);
    ffrAccess::Impl(object) = nullptr;
    ffrAccess::Magic(object) = kDeadObjectMagic;
#if NFFR_CONTRACT_CHECKS
    Quarantine().push_back(object);
#else
    ffrAccess::DeleteObject(object);
#endif
}

bool FileIsOurs(const char* path, bool report, nffr::Header* header)
{
    std::string error;
    std::vector<std::string> warnings;
    auto map = nffr::Mapping::Open(path, &error);
    nffr::Model model;
    if (!map || !nffr::ParseModel(map->data(), map->size(), &model, &error, &warnings)) {
        if (report)
            nffr::ReportError(std::string("\"") + path + "\": " + error);
        return false;
    }
    if (header)
        *header = model.header;
    return true;
}

}  // namespace

extern "C" {

int CheckFile(const char* path)
{
    if (!path)
        return 1;
    std::string identity, canonical, error;
    nffr::DiskState state;
    if (!nffr::QueryFile(path, &identity, &canonical, &state, &error))
        return 1;
    std::vector<uint8_t> head;
    uint64_t size = 0;
    return nffr::ReadFilePrefix(path, 0, 1, &head, &size) ? 0 : 1;
}

bool IsFsdbFile(const char* path)
{
    return path && FileIsOurs(path, true, nullptr);
}

int GetFileInfo(const char* path, ffrFileInfo* info)
{
    if (!info)
        return 1;
    std::memset(info, 0, sizeof *info);
    info->fileType = -1;  // never mistaken for a supported type when the file is refused
    std::vector<uint8_t> head;
    uint64_t size = 0;
    nffr::Header h;
    std::string error;
    if (!path || !nffr::ReadFilePrefix(path, 0, nffr::layout::kHeaderSize, &head, &size) ||
        !nffr::ParseHeader(head.data(), head.size(), size, &h, &error)) {
        nffr::ReportError(std::string("\"") + (path ? path : "(null)") +
                          "\": " + (error.empty() ? "cannot be read" : error));
        return 1;
    }
    info->fileType = h.fileType;
    std::memcpy(info->timeUnit, h.unit, sizeof info->timeUnit);
    info->endTag.high = static_cast<uint32_t>(h.endTag >> 32);
    info->endTag.low = static_cast<uint32_t>(h.endTag);
    info->varCount = h.varCount;
    info->scopeCount = h.scopeCount;
    return 0;
}

}  // extern "C"

ffrObject* ffrObject::ffrOpen2(const char* path, ffrTreeCallback callback, void* clientData,
                               int /*flags*/)
{
    if (nffr::EnterOp(Op::Open) || !path)
        return nullptr;
    std::string identity, canonical, error;
    nffr::DiskState state;
    ffrObject* object = nullptr;
    if (!nffr::QueryFile(path, &identity, &canonical, &state, &error)) {
        // A live object stays reachable by its path when the file has gone, so that its
        // holders can still balance their uses; NeedsReopen tells them the file changed.
        auto it = Registry().find(LexicalKey(path));
        if (it == Registry().end()) {
            nffr::ReportError(error);
            return nullptr;
        }
        object = it->second;
    }
    if (!object)
        object = FindLive(identity, canonical);
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
    ffrObjectImpl* impl = ffrAccess::Impl(object);
    ++impl->uses;
    impl->callback = callback;
    impl->clientData = clientData;
    return object;
}

void ffrObject::Close()
{
    nffr::EnterOp(Op::Close);
    ffrObjectImpl* impl = LiveImpl(this, "Close");
    if (impl && --impl->uses <= 0)
        Kill(this);
}

int ffrObject::ReadSignalTree()
{
    nffr::EnterOp(Op::ReadSignalTree);
    ffrObjectImpl* impl = LiveImpl(this, "ReadSignalTree");
    if (!impl)
        return 1;
    if (!impl->callback)
        return 0;
    const nffr::Model& m = impl->model;
    for (size_t i = 0; i < m.tree.size(); ++i) {
        const nffr::TreeEntry& e = m.tree[i];
        // Each walk hands out the names as stored, even if an earlier walk changed them.
        std::vector<char>& name = impl->treeNames[i];
        std::memcpy(name.data(), e.name.c_str(), e.name.size() + 1);
        void* record = nullptr;
        if (e.kind == nffr::layout::kRecScopeBegin) {
            impl->scopeRecords[i].name = name.data();
            impl->scopeRecords[i].depth = e.depth;
            record = &impl->scopeRecords[i];
        } else if (e.kind == nffr::layout::kRecVar) {
            impl->varRecords[i].name = name.data();
            record = &impl->varRecords[i];
        }
        uint32_t event = e.kind == nffr::layout::kRecScopeBegin ? FFR_TREE_SCOPE_BEGIN
                         : e.kind == nffr::layout::kRecVar      ? FFR_TREE_VAR
                                                                : FFR_TREE_SCOPE_END;
        if (!impl->callback(event, impl->clientData, record))
            return 0;
    }
    impl->callback(FFR_TREE_TOP, impl->clientData, nullptr);
    return 0;
}

int ffrObject::NeedsReopen(unsigned char* flag)
{
    const bool fail = nffr::EnterOp(Op::NeedsReopen);
    ffrObjectImpl* impl = LiveImpl(this, "NeedsReopen");
    int changed = 1;
    if (impl && !fail) {
        std::string identity, canonical, error, stamp;
        nffr::DiskState now;
        changed = !nffr::QueryFile(impl->path.c_str(), &identity, &canonical, &now, &error) ||
                  !(now == impl->disk);
        if (!changed) {
            int has = nffr::ReadStampFromDisk(impl->path.c_str(), &stamp);
            changed = has < 0 || (has == 1) != impl->diskHadStamp ||
                      (has == 1 && stamp != impl->diskStamp);
        }
    }
    if (flag)
        *flag = static_cast<unsigned char>(changed);
    return changed;
}

void ffrObject::ReleaseForReopen()
{
    if (ffrObjectImpl* impl = LiveImpl(this, "ReleaseForReopen")) {
        impl->released = true;
        Unregister(this);
    }
}

int ffrObject::HasStamp()
{
    nffr::EnterOp(Op::HasStamp);
    ffrObjectImpl* impl = LiveImpl(this, "HasStamp");
    std::string stamp;
    return impl && nffr::ReadStampFromDisk(impl->path.c_str(), &stamp) == 1 ? 1 : 0;
}

int ffrObject::GetStamp(char* buffer)
{
    nffr::EnterOp(Op::GetStamp);
    ffrObjectImpl* impl = LiveImpl(this, "GetStamp");
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
}

int ffrObject::GetVarInfo(int idcode, ffrVarInfo** info)
{
    nffr::EnterOp(Op::GetVarInfo);
    ffrObjectImpl* impl = LiveImpl(this, "GetVarInfo");
    if (!info)
        return 1;
    size_t index = 0;
    *info = impl && FindSignal(impl, idcode, &index) ? &impl->infos[index] : nullptr;
    return *info ? 0 : 1;
}

bool ffrObject::IsInLoadList(int idcode)
{
    nffr::EnterOp(Op::IsInLoadList);
    ffrObjectImpl* impl = LiveImpl(this, "IsInLoadList");
    size_t index = 0;
    return impl && FindSignal(impl, idcode, &index) && impl->listed[index];
}

int ffrObject::AddToLoadList(int idcode, int /*from*/, int /*to*/)
{
    nffr::EnterOp(Op::AddToLoadList);
    ffrObjectImpl* impl = LiveImpl(this, "AddToLoadList");
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
}

int ffrObject::LoadListedSignals()
{
    nffr::EnterOp(Op::LoadListedSignals);
    ffrObjectImpl* impl = LiveImpl(this, "LoadListedSignals");
    if (!impl)
        return 1;
    int result = 0;
    for (size_t i = 0; i < impl->listed.size(); ++i) {
        if (!impl->listed[i] || impl->loaded[i])
            continue;
        std::string error;
        if (nffr::CheckChangeBlock(impl->map->data(), impl->map->size(), impl->model.signals[i],
                                   &error)) {
            impl->loaded[i] = 1;
        } else {
            nffr::ReportError("\"" + impl->path + "\": " + error);
            result = 1;
        }
    }
    return result;
}

int ffrObject::GetChangeCount(int idcode)
{
    const bool fail = nffr::EnterOp(Op::GetChangeCount);
    ffrObjectImpl* impl = LiveImpl(this, "GetChangeCount");
    const nffr::Signal* s = impl ? FindSignal(impl, idcode) : nullptr;
    if (fail || !s)
        return -1;
    int forced = 0;
    if (nffr::ForcedChangeCount(&forced))
        return forced;
    return s->recordedCount > INT32_MAX ? INT32_MAX : static_cast<int>(s->recordedCount);
}

ffrVCTraverser* ffrObject::CreateTraverser(int idcode)
{
    const bool fail = nffr::EnterOp(Op::CreateTraverser);
    ffrObjectImpl* impl = LiveImpl(this, "CreateTraverser");
    size_t index = 0;
    const nffr::Signal* s = impl ? FindSignal(impl, idcode, &index) : nullptr;
    if (fail || !s)
        return nullptr;
    if (!impl->loaded[index]) {
#if NFFR_CONTRACT_CHECKS
        nffr::Violation("CreateTraverser of idcode " + std::to_string(idcode) +
                        ", which is not loaded");
#endif
        return nullptr;
    }
    auto t = std::make_unique<ffrTraverserImpl>();
    t->map = impl->map;
    t->tags = impl->map->data() + s->blockOffset;
    t->values = t->tags + 8 * uint64_t(s->changeCount);
    t->count = s->changeCount;
    t->valueSize = s->valueSize;
    t->bitSize = s->bitSize;
    t->valueDataType = s->valueDataType;
    t->copyValues =
        s->valueSize <= sizeof t->buffer && impl->model.header.fileType == 1 && s->varType != 0;
    ffrVCTraverser* traverser = ffrAccess::NewTraverser();
    ffrAccess::Magic(traverser) = kLiveTraverserMagic;
    ffrAccess::Impl(traverser) = t.release();
    return traverser;
}
