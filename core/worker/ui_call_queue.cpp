#include "core/worker/ui_call_queue.h"

#include <algorithm>
#include <mutex>
#include <utility>

namespace fwup {

UiCallQueue::UiCallQueue(Wake wake) : wake_(std::move(wake)), ui_thread_(ThreadId::current()) {}

bool UiCallQueue::invoke(const std::function<void()>& call) {
    if (on_ui_thread()) {
        call();
        return true;
    }
    Request request(call);
    if (!request.done.usable()) return false;
    {
        const std::lock_guard lock(mutex_);
        if (closed_) return false;
        queue_.push_back(&request);
    }
    if (!wake_()) {
        // Nobody may come to run it: take it back rather than wait for ever.
        // Unless the UI thread has taken it already (woken for an earlier
        // call); then it refers to this frame and must be waited for.
        const std::lock_guard lock(mutex_);
        const auto queued = std::find(queue_.begin(), queue_.end(), &request);
        if (queued != queue_.end()) {
            queue_.erase(queued);
            return false;
        }
    }
    request.done.wait();
    return request.ran;
}

void UiCallQueue::run_pending() {
    for (;;) {
        Request* request = nullptr;
        {
            const std::lock_guard lock(mutex_);
            if (queue_.empty()) return;
            request = queue_.front();
            queue_.pop_front();
        }
        // The call may run a nested modal loop (a message box) that comes
        // back here; the request is already off the queue, so it runs once.
        (*request->call)();
        request->ran = true;
        request->done.signal();  // the caller may now return and end `request`
    }
}

void UiCallQueue::close() {
    const std::lock_guard lock(mutex_);
    closed_ = true;
    for (Request* request : queue_) request->done.signal();
    queue_.clear();
}

}  // namespace fwup
