// hooks.cpp: message sinks, the test hooks (injected failures, call counts) and the
// contract-violation handler.
#include <cstdio>
#include <cstdlib>

#include "internal.h"

namespace nffr {
namespace {

using testhooks::Op;
constexpr int kOps = static_cast<int>(Op::Count_);

struct HookState {
    int calls[kOps] = {};
    int failIn[kOps] = {};  // calls left until the injected failure; 0: none
    bool forced = false;
    int forcedCount = 0;
    int violations = 0;
    std::string lastViolation;
    bool reuseAddress = false;
    testhooks::ViolationHandler handler = nullptr;
};

HookState& State()
{
    static HookState state;
    return state;
}

ffrMessageSink g_warningSink = nullptr;
ffrMessageSink g_errorSink = nullptr;
ffrMessageSink g_infoSink = nullptr;

void Send(ffrMessageSink sink, const char* prefix, const std::string& text)
{
    if (sink)
        sink(text.c_str());
    else
        std::fprintf(stderr, "nffr %s: %s\n", prefix, text.c_str());
}

void DefaultViolationHandler(const char* message)
{
    std::fprintf(stderr, "nffr contract violation: %s\n", message);
    std::abort();
}

}  // namespace

void ReportError(const std::string& text)
{
    Send(g_errorSink, "error", text);
}
void ReportWarning(const std::string& text)
{
    Send(g_warningSink, "warning", text);
}

bool EnterOp(Op op)
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

void Violation(const std::string& text)
{
    HookState& s = State();
    ++s.violations;
    s.lastViolation = text;
    (s.handler ? s.handler : DefaultViolationHandler)(text.c_str());
}

bool TakeAddressReuseRequest()
{
    bool on = State().reuseAddress;
    State().reuseAddress = false;
    return on;
}

namespace testhooks {

void Reset()
{
    ViolationHandler handler = State().handler;
    State() = HookState();
    State().handler = handler;
}

void FailNthCall(Op op, int n)
{
    const int i = static_cast<int>(op);
    if (i >= 0 && i < kOps)
        State().failIn[i] = n > 0 ? n : 0;
}

void ForceChangeCount(std::optional<int> value)
{
    State().forced = value.has_value();
    State().forcedCount = value.value_or(0);
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
void SetInfoHandler(ffrMessageSink sink)
{
    nffr::g_infoSink = sink;
}
}
