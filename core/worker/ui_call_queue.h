#pragma once
#include <deque>
#include <functional>

#include "system/threads/threads.h"

namespace fwup {

// Carries calls from a worker thread to the thread that owns the window, and
// waits for each to finish there. Windows may only be touched by the thread
// that created them, so everything a procedure does to the dialog passes
// through here. Portable: the window system only supplies `wake`, which must
// make the UI thread call run_pending() soon (a posted window message).
class UiCallQueue {
public:
    // Asks the UI thread to run the queue; false when it can no longer be asked.
    using Wake = std::function<bool()>;

    // The calling thread becomes the UI thread.
    explicit UiCallQueue(Wake wake);
    UiCallQueue(const UiCallQueue&) = delete;
    UiCallQueue& operator=(const UiCallQueue&) = delete;

    // Runs `call` on the UI thread and returns when it has finished; on the UI
    // thread itself it runs at once. After close() the call is dropped.
    // Returns whether the call ran.
    bool invoke(const std::function<void()>& call);

    // UI thread: runs every queued call, in order.
    void run_pending();

    // UI thread, once the window is gone: drops queued calls, releases their
    // callers, and makes every later invoke() from another thread a no-op.
    void close();

    bool on_ui_thread() const { return ThreadId::current() == ui_thread_; }

private:
    struct Request {
        explicit Request(const std::function<void()>& c) : call(&c) {}
        const std::function<void()>* call;
        Completion done;   // signalled by the UI thread, last thing it touches
        bool ran = false;  // written before `done` is signalled
    };

    Wake wake_;
    const ThreadId ui_thread_;
    Mutex mutex_;
    std::deque<Request*> queue_;
    bool closed_ = false;
};

}  // namespace fwup
