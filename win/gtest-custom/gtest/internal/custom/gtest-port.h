// gtest-port.h (GoogleTest's custom hook): GoogleTest without its thread support on Windows.
// Thread-safe, it starts a thread of its own the first time a test reports a result on the main
// thread (a skip, a failure, a trace), which in a skipped test is moments before the process
// ends; Wine 8 crashes with SIGSEGV when a process ends while one of its threads is still
// starting. The test programs use GoogleTest from their main thread only.
#ifndef QUORVEL_GTEST_CUSTOM_PORT_H
#define QUORVEL_GTEST_CUSTOM_PORT_H

#if defined(_WIN32)
#define GTEST_IS_THREADSAFE 0

extern "C" __declspec(dllimport) int __stdcall CloseHandle(void* handle);

namespace testing {
namespace internal {

// Owner of a kernel handle, which GoogleTest declares only with its thread support although its
// death tests need it.
class AutoHandle {
public:
    typedef void* Handle;
    AutoHandle() = default;
    explicit AutoHandle(Handle handle) : handle_(handle) {}
    ~AutoHandle() { Reset(); }
    AutoHandle(const AutoHandle&) = delete;
    AutoHandle& operator=(const AutoHandle&) = delete;

    Handle Get() const { return handle_; }
    void Reset() { Reset(Invalid()); }
    void Reset(Handle handle)
    {
        if (handle_ != handle && IsCloseable())
            CloseHandle(handle_);
        handle_ = handle;
    }

private:
    static Handle Invalid() { return reinterpret_cast<Handle>(-1); }  // INVALID_HANDLE_VALUE
    bool IsCloseable() const { return handle_ != nullptr && handle_ != Invalid(); }

    Handle handle_ = Invalid();
};

}  // namespace internal
}  // namespace testing
#endif

#endif
