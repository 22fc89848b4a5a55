// traverser.cpp: ffrVCTraverser, a cursor over one loaded signal's changes in the mapping.
#include <cstring>

#include "objects.h"

using nffr::testhooks::Op;

namespace {

std::vector<ffrVCTraverser*>& Quarantine()
{
    // Never destroyed: quarantined memory stays reachable until the process ends.
    static auto* freed = new std::vector<ffrVCTraverser*>();
    return *freed;
}

ffrTraverserImpl* LiveImpl(ffrVCTraverser* self, const char* what)
{
    ffrTraverserImpl* impl = self ? ffrAccess::Impl(self) : nullptr;
#if NFFR_CONTRACT_CHECKS
    if (!self || ffrAccess::Magic(self) != kLiveTraverserMagic || !impl) {
        nffr::Violation(std::string(what) + " on a traverser after FreeTraverser");
        return nullptr;
    }
#else
    (void)what;
#endif
    return impl;
}

uint64_t TagAt(const ffrTraverserImpl* t, uint32_t i)
{
    return nffr::Get64(t->tags + 8 * uint64_t(i));
}

void StoreTag(uint64_t value, TimeTag* tag)
{
    tag->high = static_cast<uint32_t>(value >> 32);
    tag->low = static_cast<uint32_t>(value);
}

// Writes the tag of change i; nonzero when the call fails or there is no such change.
int WriteTag(ffrTraverserImpl* t, bool fail, uint32_t i, TimeTag* tag)
{
    if (fail || !t || !tag || i >= t->count)
        return 1;
    StoreTag(TagAt(t, i), tag);
    return 0;
}

}  // namespace

int ffrVCTraverser::ValueDataType()
{
    ffrTraverserImpl* t = LiveImpl(this, "ValueDataType");
    return t ? t->valueDataType : 0;
}

uint32_t ffrVCTraverser::ValueBitSize()
{
    ffrTraverserImpl* t = LiveImpl(this, "ValueBitSize");
    return t ? t->bitSize : 0;
}

bool ffrVCTraverser::HasChanges()
{
    ffrTraverserImpl* t = LiveImpl(this, "HasChanges");
    return t && t->count > 0;
}

int ffrVCTraverser::GetFirstTag(TimeTag* tag)
{
    const bool fail = nffr::EnterOp(Op::GetFirstTag);
    return WriteTag(LiveImpl(this, "GetFirstTag"), fail, 0, tag);
}

int ffrVCTraverser::GetLastTag(TimeTag* tag)
{
    const bool fail = nffr::EnterOp(Op::GetLastTag);
    ffrTraverserImpl* t = LiveImpl(this, "GetLastTag");
    return WriteTag(t, fail || !t || t->count == 0, t && t->count ? t->count - 1 : 0, tag);
}

int ffrVCTraverser::GetTag(TimeTag* tag)
{
    const bool fail = nffr::EnterOp(Op::GetTag);
    ffrTraverserImpl* t = LiveImpl(this, "GetTag");
    return WriteTag(t, fail, t ? t->pos : 0, tag);
}

int ffrVCTraverser::GetValue(unsigned char** value)
{
    const bool fail = nffr::EnterOp(Op::GetValue);
    ffrTraverserImpl* t = LiveImpl(this, "GetValue");
    if (fail || !t || !value || t->pos >= t->count)
        return 1;
    const uint8_t* bytes = t->values + uint64_t(t->pos) * t->valueSize;
    if (t->copyValues) {
        std::memcpy(t->buffer, bytes, t->valueSize);
        *value = t->buffer;
    } else if (t->valueSize == 0) {
        *value = t->empty;
    } else {
        *value = const_cast<unsigned char*>(bytes);
    }
    return 0;
}

int ffrVCTraverser::GotoNext()
{
    const bool fail = nffr::EnterOp(Op::GotoNext);
    ffrTraverserImpl* t = LiveImpl(this, "GotoNext");
    if (fail || !t || t->pos + 1 >= t->count)
        return 1;
    ++t->pos;
    return 0;
}

int ffrVCTraverser::GotoTag(const TimeTag* tag, int /*flags*/)
{
    const bool fail = nffr::EnterOp(Op::GotoTag);
    ffrTraverserImpl* t = LiveImpl(this, "GotoTag");
    if (fail || !t || !tag || t->count == 0)
        return 1;
    const uint64_t want = uint64_t(tag->high) << 32 | tag->low;
    // The last change with a tag <= want; the first change when want lies before it.
    uint32_t lo = 0, hi = t->count;  // first index with a tag > want lies in [lo, hi]
    while (lo < hi) {
        const uint32_t mid = lo + (hi - lo) / 2;
        if (TagAt(t, mid) <= want)
            lo = mid + 1;
        else
            hi = mid;
    }
    t->pos = lo == 0 ? 0 : lo - 1;
    return 0;
}

void ffrVCTraverser::FreeTraverser()
{
    nffr::EnterOp(Op::FreeTraverser);
    ffrTraverserImpl* t = LiveImpl(this, "FreeTraverser");
    if (!t)
        return;
    delete t;
    ffrAccess::Impl(this) = nullptr;
    ffrAccess::Magic(this) = kDeadTraverserMagic;
#if NFFR_CONTRACT_CHECKS
    Quarantine().push_back(this);
#else
    ffrAccess::DeleteTraverser(this);
#endif
}
