#pragma once
#include <functional>

#if defined(_WIN32)
#include <windows.h>
#else
#include <condition_variable>
#include <mutex>
#include <thread>
#endif

namespace fwup {

// The few thread facilities the worker needs, on each system's own terms.
// Windows gets its own: the MinGW-w64 runtime that links no winpthreads (and
// so keeps the program loadable on Windows 98 and 2000) has no std::thread,
// std::mutex or std::condition_variable, and Windows before Vista has no
// condition variables at all. Elsewhere they are the standard library's.

// A lock for std::lock_guard and std::unique_lock.
class Mutex {
public:
    Mutex();
    Mutex(const Mutex&) = delete;
    Mutex& operator=(const Mutex&) = delete;
    ~Mutex();

    void lock();
    void unlock();

private:
#if defined(_WIN32)
    CRITICAL_SECTION section_;
#else
    std::mutex mutex_;
#endif
};

// A one-time signal between two threads: wait() returns once signal() has
// been called, whichever comes first.
class Completion {
public:
    Completion();
    Completion(const Completion&) = delete;
    Completion& operator=(const Completion&) = delete;
    ~Completion();

    // False when the system could not give it what it needs; then wait() would
    // return at once, so a caller must not rely on it.
    bool usable() const;
    void signal();
    void wait();

private:
#if defined(_WIN32)
    HANDLE event_;
#else
    std::mutex mutex_;
    std::condition_variable signalled_;
    bool done_ = false;
#endif
};

// Identifies the calling thread.
class ThreadId {
public:
    static ThreadId current();
    bool operator==(const ThreadId& other) const = default;

private:
#if defined(_WIN32)
    DWORD id_ = 0;
#else
    std::thread::id id_;
#endif
};

// One thread running one function; join() waits for it to return.
class WorkerThread {
public:
    WorkerThread() = default;
    WorkerThread(const WorkerThread&) = delete;
    WorkerThread& operator=(const WorkerThread&) = delete;
    ~WorkerThread();  // joins

    // Starts `body` on a new thread; false (and `body` not run) when the
    // system gives no thread, or one is still to be joined.
    bool start(std::function<void()> body);
    bool joinable() const;
    void join();

private:
#if defined(_WIN32)
    HANDLE thread_ = nullptr;
#else
    std::thread thread_;
#endif
};

}  // namespace fwup
