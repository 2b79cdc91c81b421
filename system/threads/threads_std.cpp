#include <system_error>
#include <utility>

#include "system/threads/threads.h"

namespace fwup {

Mutex::Mutex() = default;
Mutex::~Mutex() = default;
void Mutex::lock() { mutex_.lock(); }
void Mutex::unlock() { mutex_.unlock(); }

Completion::Completion() = default;
Completion::~Completion() = default;
bool Completion::usable() const { return true; }

void Completion::signal() {
    {
        const std::lock_guard lock(mutex_);
        done_ = true;
    }
    signalled_.notify_all();
}

void Completion::wait() {
    std::unique_lock lock(mutex_);
    signalled_.wait(lock, [this] { return done_; });
}

ThreadId ThreadId::current() {
    ThreadId id;
    id.id_ = std::this_thread::get_id();
    return id;
}

WorkerThread::~WorkerThread() { join(); }

bool WorkerThread::start(std::function<void()> body) {
    if (joinable()) return false;
    try {
        thread_ = std::thread(std::move(body));
    } catch (const std::system_error&) {
        return false;
    }
    return true;
}

bool WorkerThread::joinable() const { return thread_.joinable(); }

void WorkerThread::join() {
    if (thread_.joinable()) thread_.join();
}

}  // namespace fwup
