// hooks.cpp: message sinks, the test hooks (injected failures, call counts) and the
// contract-violation handler.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "internal.h"

namespace nffr {
namespace {

using testhooks::Op;
constexpr int kOps = static_cast<int>(Op::Count_);

// 16 MiB: a whole-design load visits each signal once, so a larger cache only holds decoded
// changes nobody asks for again (at 64 MiB, 7 of a one-bit sample's 16 bytes in the host). The
// last block used stays whatever its size, so loading a signal again is served, and 16 MiB
// keeps besides it e.g. a million one-bit changes (9 bytes each) of recent loads.
constexpr size_t kDefaultCacheBytes = size_t(16) << 20;

struct HookState {
    int calls[kOps] = {};
    int failIn[kOps] = {};  // calls left until the injected failure; 0: none
    bool forced = false;
    int forcedCount = 0;
    int violations = 0;
    std::string lastViolation;
    bool reuseAddress = false;
    size_t cacheBytes = kDefaultCacheBytes;
    testhooks::ViolationHandler handler = nullptr;
};

HookState& State()
{
    static HookState state;
    return state;
}

ffrMessageSink g_warningSink = nullptr;
ffrMessageSink g_errorSink = nullptr;

// Sends text with exactly one trailing newline. Works in a fixed buffer (long texts are cut)
// so that reporting never allocates and never throws.
void Send(ffrMessageSink sink, const char* prefix, const char* text) noexcept
{
    static char line[4096];
    size_t n = std::strlen(text);
    while (n > 0 && (text[n - 1] == '\n' || text[n - 1] == '\r'))
        --n;
    if (n > sizeof line - 2)
        n = sizeof line - 2;
    std::memcpy(line, text, n);
    line[n] = '\n';
    line[n + 1] = '\0';
    if (sink)
        sink(line);
    else
        std::fprintf(stderr, "nffr %s: %s", prefix, line);
}

#if NFFR_CONTRACT_CHECKS
void DefaultViolationHandler(const char* message)
{
    std::fprintf(stderr, "nffr contract violation: %s\n", message);
    std::abort();
}
#endif

}  // namespace

bool g_hooksArmed = NFFR_CONTRACT_CHECKS != 0;

void ReportError(const std::string& text) noexcept
{
    Send(g_errorSink, "error", text.c_str());
}
void ReportFailure(const char* what, const char* reason) noexcept
{
    static char text[1024];
    std::snprintf(text, sizeof text, "%s: %s", what, reason);
    Send(g_errorSink, "error", text);
}
void ReportWarning(const std::string& text) noexcept
{
    Send(g_warningSink, "warning", text.c_str());
}

bool EnterOpArmed(Op op)
{
    HookState& s = State();
    const int i = static_cast<int>(op);
    ++s.calls[i];
    if (s.failIn[i] > 0 && --s.failIn[i] == 0)
        return true;
    return false;
}

bool ForcedChangeCount(int* value)
{
    if (!State().forced)
        return false;
    *value = State().forcedCount;
    return true;
}

size_t CacheBytes()
{
    return State().cacheBytes;
}

void Misuse(const std::string& text) noexcept
{
#if NFFR_CONTRACT_CHECKS
    HookState& s = State();
    ++s.violations;
    try {
        s.lastViolation = text;
    } catch (...) {
        s.lastViolation.clear();
    }
    (s.handler ? s.handler : DefaultViolationHandler)(text.c_str());
#else
    ReportError(text);
#endif
}

bool TakeAddressReuseRequest()
{
    bool on = State().reuseAddress;
    State().reuseAddress = false;
    return on;
}

namespace {

void ArmHooks()
{
    if (!g_hooksArmed)
        CoolLiveTraversers();
    g_hooksArmed = true;
}

}  // namespace

namespace testhooks {

void Reset()
{
    ArmHooks();
    ViolationHandler handler = State().handler;
    State() = HookState();
    State().handler = handler;
}

void FailNthCall(Op op, int n)
{
    ArmHooks();
    const int i = static_cast<int>(op);
    if (i >= 0 && i < kOps)
        State().failIn[i] = n > 0 ? n : 0;
}

void ForceChangeCount(std::optional<int> value)
{
    ArmHooks();
    State().forced = value.has_value();
    State().forcedCount = value.value_or(0);
}

void SetCacheBytes(std::optional<size_t> bytes)
{
    State().cacheBytes = bytes.value_or(kDefaultCacheBytes);
}

int CallCount(Op op)
{
    const int i = static_cast<int>(op);
    return i >= 0 && i < kOps ? State().calls[i] : 0;
}

int ViolationCount()
{
    return State().violations;
}
std::string LastViolation()
{
    return State().lastViolation;
}

ViolationHandler SetViolationHandler(ViolationHandler handler)
{
    ViolationHandler previous = State().handler;
    State().handler = handler;
    return previous;
}

void ReuseDeadAddressForNextObject(bool on)
{
    ArmHooks();
    State().reuseAddress = on;
}

bool ContractChecksEnabled()
{
    return NFFR_CONTRACT_CHECKS != 0;
}

}  // namespace testhooks
}  // namespace nffr

extern "C" {
void SetWarningHandler(ffrMessageSink sink)
{
    nffr::g_warningSink = sink;
}
void SetErrorHandler(ffrMessageSink sink)
{
    nffr::g_errorSink = sink;
}
// The reader has no notes to send: the handler is accepted and not kept.
void SetInfoHandler(ffrMessageSink /*sink*/) {}
}
