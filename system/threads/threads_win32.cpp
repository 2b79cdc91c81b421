#include <process.h>

#include <memory>
#include <new>
#include <utility>

#include "system/threads/threads.h"

namespace fwup {

// Every call used here is there on Windows 98 and 2000.
Mutex::Mutex() { InitializeCriticalSection(&section_); }
Mutex::~Mutex() { DeleteCriticalSection(&section_); }
void Mutex::lock() { EnterCriticalSection(&section_); }
void Mutex::unlock() { LeaveCriticalSection(&section_); }

// A manual-reset event stays signalled, so a wait that starts after the
// signal returns at once.
Completion::Completion() : event_(CreateEventA(nullptr, TRUE, FALSE, nullptr)) {}

Completion::~Completion() {
    if (event_ != nullptr) CloseHandle(event_);
}

bool Completion::usable() const { return event_ != nullptr; }

void Completion::signal() {
    if (event_ != nullptr) SetEvent(event_);
}

void Completion::wait() {
    if (event_ != nullptr) WaitForSingleObject(event_, INFINITE);
}

ThreadId ThreadId::current() {
    ThreadId id;
    id.id_ = GetCurrentThreadId();
    return id;
}

namespace {

// _beginthreadex rather than CreateThread: the C runtime then sets up and
// frees its per-thread data for the new thread, on every version of it.
unsigned __stdcall thread_main(void* argument) {
    const std::unique_ptr<std::function<void()>> body(static_cast<std::function<void()>*>(argument));
    (*body)();
    return 0;
}

}  // namespace

WorkerThread::~WorkerThread() { join(); }

bool WorkerThread::start(std::function<void()> body) {
    if (joinable()) return false;
    auto* owned = new (std::nothrow) std::function<void()>(std::move(body));
    if (owned == nullptr) return false;
    const std::uintptr_t handle = _beginthreadex(nullptr, 0, &thread_main, owned, 0, nullptr);
    if (handle == 0) {
        delete owned;
        return false;
    }
    thread_ = reinterpret_cast<HANDLE>(handle);
    return true;
}

bool WorkerThread::joinable() const { return thread_ != nullptr; }

void WorkerThread::join() {
    if (thread_ == nullptr) return;
    WaitForSingleObject(thread_, INFINITE);
    CloseHandle(thread_);
    thread_ = nullptr;
}

}  // namespace fwup
