// gtest-port.h (GoogleTest's custom hook): the win32 thread model of mingw-w64 has no
// std::mutex, which GoogleTest's Notification needs; this one waits on an atomic flag instead.
#ifndef QUORVEL_GTEST_CUSTOM_PORT_H
#define QUORVEL_GTEST_CUSTOM_PORT_H

#if defined(_WIN32)
#include <atomic>

extern "C" __declspec(dllimport) void __stdcall Sleep(unsigned long milliseconds);

#define GTEST_HAS_NOTIFICATION_ 1

namespace testing {
namespace internal {

// Only GoogleTest's own thread helpers use it.
class Notification {
public:
    Notification() = default;
    Notification(const Notification&) = delete;
    Notification& operator=(const Notification&) = delete;
    void Notify() { notified_.store(true); }
    void WaitForNotification()
    {
        while (!notified_.load()) {
            Sleep(1);
        }
    }

private:
    std::atomic<bool> notified_{false};
};

}  // namespace internal
}  // namespace testing
#endif

#endif
