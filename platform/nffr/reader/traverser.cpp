// traverser.cpp: ffrVCTraverser, a cursor over one loaded signal's changes held in memory.
// The per-change calls (GetTag, GetValue, GotoNext, GotoTag) check nothing in shipped builds;
// the first three mostly run inline in the caller (nffr.h), over the cursor kept here.
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

uint64_t TagAt(const uint8_t* tags, uint32_t i)
{
    return nffr::Get64(tags + 8 * uint64_t(i));
}

// Writes the tag of change i of count; nonzero when the call fails or there is no such change.
int WriteTag(const uint8_t* tags, uint32_t count, bool fail, uint32_t i, TimeTag* tag)
{
    if (fail || !tag || i >= count)
        return 1;
    const uint64_t value = TagAt(tags, i);
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

void ffrAccess::StartCursor(ffrVCTraverser* self, const uint8_t* tags, uint32_t count,
                            uint32_t valueSize)
{
    self->tags_ = tags;
    self->values_ = tags + 8 * uint64_t(count);
    self->count_ = count;
    self->pos_ = 0;
    self->valueSize_ = valueSize;
    self->beforeFirst_ = 0;
    const uint16_t probe = 1;
    uint8_t littleEndian = 0;
    std::memcpy(&littleEndian, &probe, 1);
    self->hot_ =
        !NFFR_CONTRACT_CHECKS && !nffr::g_hooksArmed && littleEndian && count > 0 && valueSize > 0;
}

void nffr::CoolLiveTraversers()
{
    for (const ffrVCTraverser* live : LiveTraversers())
        ffrAccess::Cool(const_cast<ffrVCTraverser*>(live));
}

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
    if (!CheckedImpl(this, "HasChanges"))
        return false;
    return count_ > 0;
}

int ffrVCTraverser::GetFirstTag(TimeTag* tag)
{
    const bool fail = nffr::EnterOp(Op::GetFirstTag);
    if (!CheckedImpl(this, "GetFirstTag"))
        return 1;
    return WriteTag(tags_, count_, fail, 0, tag);
}

int ffrVCTraverser::GetLastTag(TimeTag* tag)
{
    const bool fail = nffr::EnterOp(Op::GetLastTag);
    if (!CheckedImpl(this, "GetLastTag"))
        return 1;
    return WriteTag(tags_, count_, fail || count_ == 0, count_ ? count_ - 1 : 0, tag);
}

int ffrVCTraverser::GetTagInLibrary(TimeTag* tag)
{
    const bool fail = nffr::EnterOp(Op::GetTag);
    if (!HotImpl(this, "GetTag"))
        return 1;
    // Before the first change there is no change, and so no tag, in force.
    return WriteTag(tags_, count_, fail || beforeFirst_, pos_, tag);
}

int ffrVCTraverser::GetValueInLibrary(unsigned char** value)
{
    const bool fail = nffr::EnterOp(Op::GetValue);
    ffrTraverserImpl* t = HotImpl(this, "GetValue");
    if (fail || !t || !value || pos_ >= count_)
        return 1;
    if (__builtin_expect(beforeFirst_, 0)) {
        const unsigned char* unknown = UnknownValue(t);
        *value = const_cast<unsigned char*>(unknown);
        return unknown ? 0 : 1;
    }
    // Blocks are 8-byte aligned and values follow 8-byte tags, so reals are aligned in place.
    const uint8_t* bytes = values_ + uint64_t(pos_) * valueSize_;
    *value = valueSize_ ? const_cast<unsigned char*>(bytes) : t->empty;
    return 0;
}

int ffrVCTraverser::GotoNextInLibrary()
{
    const bool fail = nffr::EnterOp(Op::GotoNext);
    if (fail || !HotImpl(this, "GotoNext"))
        return 1;
    if (beforeFirst_) {
        beforeFirst_ = 0;
        return 0;  // onto the first change
    }
    if (pos_ + 1 >= count_)
        return 1;
    ++pos_;
    return 0;
}

int ffrVCTraverser::GotoTag(const TimeTag* tag, int /*flags*/)
{
    const bool fail = nffr::EnterOp(Op::GotoTag);
    if (fail || !HotImpl(this, "GotoTag") || !tag || count_ == 0)
        return 1;
    const uint64_t want = uint64_t(tag->high) << 32 | tag->low;
    // The last change with a tag <= want; before the first change when want lies before it.
    uint32_t lo = 0, hi = count_;  // first index with a tag > want lies in [lo, hi]
    while (lo < hi) {
        const uint32_t mid = lo + (hi - lo) / 2;
        if (TagAt(tags_, mid) <= want)
            lo = mid + 1;
        else
            hi = mid;
    }
    beforeFirst_ = lo == 0;
    pos_ = lo == 0 ? 0 : lo - 1;
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
        hot_ = 0;
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
