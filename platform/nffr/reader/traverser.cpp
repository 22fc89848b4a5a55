// traverser.cpp: ffrVCTraverser, a cursor over one loaded signal's changes held in memory.
// The per-change calls (GetTag, GetValue, GotoNext, GotoTag) check nothing in shipped builds.
#include <cmath>
#include <cstring>

#include "objects.h"

using nffr::testhooks::Op;

std::unordered_set<const ffrVCTraverser*>& LiveTraversers()
{
    static auto* live = new std::unordered_set<const ffrVCTraverser*>();
    return *live;
}

namespace {

#if NFFR_CONTRACT_CHECKS
Quarantine<ffrVCTraverser>& Freed()
{
    static Quarantine<ffrVCTraverser> freed;
    return freed;
}
#endif

// A traverser that was handed out and not freed; misuse is reported otherwise.
ffrTraverserImpl* CheckedImpl(ffrVCTraverser* self, const char* what)
{
    if (!self || !LiveTraversers().count(self)) {
        nffr::Misuse(std::string(what) + " on a traverser after FreeTraverser");
        return nullptr;
    }
    return ffrAccess::Impl(self);
}

// The calls made once per change are checked only in the checked build.
inline ffrTraverserImpl* HotImpl(ffrVCTraverser* self, const char* what)
{
#if NFFR_CONTRACT_CHECKS
    return CheckedImpl(self, what);
#else
    (void)what;
    return ffrAccess::Impl(self);
#endif
}

uint64_t TagAt(const ffrTraverserImpl* t, uint32_t i)
{
    return nffr::Get64(t->tags + 8 * uint64_t(i));
}

// Writes the tag of change i; nonzero when the call fails or there is no such change.
int WriteTag(ffrTraverserImpl* t, bool fail, uint32_t i, TimeTag* tag)
{
    if (fail || !t || !tag || i >= t->count)
        return 1;
    const uint64_t value = TagAt(t, i);
    tag->high = static_cast<uint32_t>(value >> 32);
    tag->low = static_cast<uint32_t>(value);
    return 0;
}

// The value in force before the first change: X in every bit, or a quiet NaN for reals. Null
// when there is no memory for it.
const unsigned char* UnknownValue(ffrTraverserImpl* t) noexcept
{
    if (t->unknown.empty() && t->valueSize > 0) {
        try {
            t->unknown.assign(t->valueSize, 2);
        } catch (...) {
            return nullptr;
        }
        if (!t->holdsBits && t->valueSize == sizeof(double)) {
            const double nan = std::nan("");
            std::memcpy(t->unknown.data(), &nan, sizeof nan);
        } else if (!t->holdsBits && t->valueSize == sizeof(float)) {
            const float nan = std::nanf("");
            std::memcpy(t->unknown.data(), &nan, sizeof nan);
        }
    }
    return t->valueSize > 0 ? t->unknown.data() : t->empty;
}

}  // namespace

int ffrVCTraverser::ValueDataType()
{
    ffrTraverserImpl* t = HotImpl(this, "ValueDataType");
    return t ? t->valueDataType : 0;
}

uint32_t ffrVCTraverser::ValueBitSize()
{
    ffrTraverserImpl* t = HotImpl(this, "ValueBitSize");
    return t ? t->bitSize : 0;
}

bool ffrVCTraverser::HasChanges()
{
    ffrTraverserImpl* t = CheckedImpl(this, "HasChanges");
    return t && t->count > 0;
}

int ffrVCTraverser::GetFirstTag(TimeTag* tag)
{
    const bool fail = nffr::EnterOp(Op::GetFirstTag);
    return WriteTag(CheckedImpl(this, "GetFirstTag"), fail, 0, tag);
}

int ffrVCTraverser::GetLastTag(TimeTag* tag)
{
    const bool fail = nffr::EnterOp(Op::GetLastTag);
    ffrTraverserImpl* t = CheckedImpl(this, "GetLastTag");
    return WriteTag(t, fail || !t || t->count == 0, t && t->count ? t->count - 1 : 0, tag);
}

int ffrVCTraverser::GetTag(TimeTag* tag)
{
    const bool fail = nffr::EnterOp(Op::GetTag);
    ffrTraverserImpl* t = HotImpl(this, "GetTag");
    // Before the first change there is no change, and so no tag, in force.
    return WriteTag(t, fail || (t && t->beforeFirst), t ? t->pos : 0, tag);
}

int ffrVCTraverser::GetValue(unsigned char** value)
{
    const bool fail = nffr::EnterOp(Op::GetValue);
    ffrTraverserImpl* t = HotImpl(this, "GetValue");
    if (fail || !t || !value || t->pos >= t->count)
        return 1;
    if (__builtin_expect(t->beforeFirst, 0)) {
        const unsigned char* unknown = UnknownValue(t);
        *value = const_cast<unsigned char*>(unknown);
        return unknown ? 0 : 1;
    }
    // Blocks are 8-byte aligned and values follow 8-byte tags, so reals are aligned in place.
    const uint8_t* bytes = t->values + uint64_t(t->pos) * t->valueSize;
    *value = t->valueSize ? const_cast<unsigned char*>(bytes) : t->empty;
    return 0;
}

int ffrVCTraverser::GotoNext()
{
    const bool fail = nffr::EnterOp(Op::GotoNext);
    ffrTraverserImpl* t = HotImpl(this, "GotoNext");
    if (fail || !t)
        return 1;
    if (t->beforeFirst) {
        t->beforeFirst = false;
        return 0;  // onto the first change
    }
    if (t->pos + 1 >= t->count)
        return 1;
    ++t->pos;
    return 0;
}

int ffrVCTraverser::GotoTag(const TimeTag* tag, int /*flags*/)
{
    const bool fail = nffr::EnterOp(Op::GotoTag);
    ffrTraverserImpl* t = HotImpl(this, "GotoTag");
    if (fail || !t || !tag || t->count == 0)
        return 1;
    const uint64_t want = uint64_t(tag->high) << 32 | tag->low;
    // The last change with a tag <= want; before the first change when want lies before it.
    uint32_t lo = 0, hi = t->count;  // first index with a tag > want lies in [lo, hi]
    while (lo < hi) {
        const uint32_t mid = lo + (hi - lo) / 2;
        if (TagAt(t, mid) <= want)
            lo = mid + 1;
        else
            hi = mid;
    }
    t->beforeFirst = lo == 0;
    t->pos = lo == 0 ? 0 : lo - 1;
    return 0;
}

void ffrVCTraverser::FreeTraverser()
{
    Guarded("FreeTraverser", 0, [&] {
        nffr::EnterOp(Op::FreeTraverser);
        ffrTraverserImpl* t = CheckedImpl(this, "FreeTraverser");
        if (!t)
            return 0;
        LiveTraversers().erase(this);
        delete t;
        ffrAccess::Impl(this) = nullptr;
        ffrAccess::Magic(this) = kDeadTraverserMagic;
        ffrVCTraverser* gone = this;
#if NFFR_CONTRACT_CHECKS
        gone = Freed().Keep(gone);
#endif
        ffrAccess::DeleteTraverser(gone);
        return 0;
    });
}
