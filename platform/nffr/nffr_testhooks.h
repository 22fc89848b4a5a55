// nffr_testhooks.h: test hooks of the reader library: injected failures, call counts and the
// contract-violation handler. Every hook is process-wide; Reset() returns to normal behaviour.
// Built without contract checks (as shipped) the hooks start disarmed, costing one untaken
// branch per call; Reset, FailNthCall, ForceChangeCount and ReuseDeadAddressForNextObject arm
// them for the rest of the process. Violations exist only with the checks: without them misuse
// is an error message, and no address is kept for reuse.
#ifndef NFFR_TESTHOOKS_H
#define NFFR_TESTHOOKS_H

#include <optional>
#include <string>

#include "nffr.h"

namespace nffr {
namespace testhooks {

// Operations that can be made to fail or are counted.
enum class Op {
    Open,             // ffrOpen2 yields null
    CreateTraverser,  // null
    GetFirstTag,      // nonzero
    GetLastTag,       // nonzero
    GetTag,           // nonzero
    GetValue,         // nonzero
    GotoTag,          // nonzero
    GetChangeCount,   // -1
    NeedsReopen,      // nonzero ("the file changed")
    // Counted only (a failure request for these is ignored):
    AddToLoadList,
    IsInLoadList,
    LoadListedSignals,
    Close,
    GetVarInfo,
    HasStamp,
    GetStamp,
    ReadSignalTree,
    FreeTraverser,
    GotoNext,
    Count_  // number of operations, not an operation
};

using ViolationHandler = void (*)(const char* message);

// Clears failure requests, forced counts, call counts, violation count and last violation, and
// the address-reuse request. The violation handler stays as installed.
NFFR_API void Reset();

// The n-th call of op from now fails (1-based); 0 disables the request.
NFFR_API void FailNthCall(Op op, int n);

// While set, GetChangeCount answers this value (0: "cannot tell", or a chosen count) for
// every known idcode; std::nullopt answers the recorded count again.
NFFR_API void ForceChangeCount(std::optional<int> value);

// Calls of op since the last Reset(), failed ones included.
NFFR_API int CallCount(Op op);

// Contract violations since the last Reset(), and the text of the last one ("" when none).
NFFR_API int ViolationCount();
NFFR_API std::string LastViolation();

// Installs the handler called with each violation's text; null restores the default, which
// prints "nffr contract violation: TEXT" to stderr and aborts. Returns the previous handler.
NFFR_API ViolationHandler SetViolationHandler(ViolationHandler handler);

// The bound of each reader object's cache of decoded changes (those no traverser holds), in
// bytes; std::nullopt restores the default, 16 MiB. The most recently used block stays cached.
NFFR_API void SetCacheBytes(std::optional<size_t> bytes);
// When on, the next new reader object is placed at the address of the last dead one.
NFFR_API void ReuseDeadAddressForNextObject(bool on);

// True when the library was built with its contract checks.
NFFR_API bool ContractChecksEnabled();

}  // namespace testhooks
}  // namespace nffr

#endif
