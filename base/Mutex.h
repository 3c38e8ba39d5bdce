// A mutex for the few objects that may be shared between threads. The 32-bit Windows build uses
// the compiler's win32 thread model, which has no std::mutex: there it is a critical section.
#pragma once

#include <mutex>  // std::lock_guard, and std::mutex where the thread model has it

#ifdef _WIN32
#include <windows.h>
#endif

namespace tarnwick {

#ifdef _WIN32
class Mutex {
public:
    Mutex() { InitializeCriticalSection(&section_); }
    ~Mutex() { DeleteCriticalSection(&section_); }
    Mutex(const Mutex&) = delete;
    Mutex& operator=(const Mutex&) = delete;

    void lock() { EnterCriticalSection(&section_); }
    void unlock() { LeaveCriticalSection(&section_); }

private:
    CRITICAL_SECTION section_;
};
#else
using Mutex = std::mutex;
#endif

}  // namespace tarnwick
