// nffr_threads.h: the mutex, condition and thread of the writer and the import, or stand-ins
// for a standard library without threads, on which work runs on the calling thread.
#ifndef NFFR_THREADS_H
#define NFFR_THREADS_H

#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>

namespace nffr {
namespace detail {

#if defined(__GLIBCXX__) && !defined(_GLIBCXX_HAS_GTHREADS)
// A standard library without threads (the default of Debian's mingw-w64 compilers, whose thread
// model is win32): starting a thread throws, so its work is done on the calling thread, and
// nothing waits or is woken.
struct Mutex {
    void lock() {}
    void unlock() {}
};
struct Condition {
    template <class Lock, class Ready>
    void wait(Lock&, Ready)
    {
    }
    void notify_one() {}
    void notify_all() {}
};
struct Thread {
    template <class Body>
    explicit Thread(Body&&)
    {
        throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
    }
    Thread() = default;
    bool joinable() const { return false; }
    void join() {}
};
#else
using Mutex = std::mutex;
using Condition = std::condition_variable;
using Thread = std::thread;
#endif

}  // namespace detail
}  // namespace nffr

#endif
