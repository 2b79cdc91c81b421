#include "app/worker/ui_call_queue.h"

#include <algorithm>
#include <utility>

namespace fwup {

UiCallQueue::UiCallQueue(Wake wake) : wake_(std::move(wake)), ui_thread_(std::this_thread::get_id()) {}

bool UiCallQueue::invoke(const std::function<void()>& call) {
    if (on_ui_thread()) {
        call();
        return true;
    }
    Request request{&call};
    std::unique_lock lock(mutex_);
    if (closed_) return false;
    queue_.push_back(&request);
    lock.unlock();
    const bool woken = wake_();
    lock.lock();
    if (!woken && !request.done) {
        // Nobody will run it: take it back rather than wait for ever.
        queue_.erase(std::remove(queue_.begin(), queue_.end(), &request), queue_.end());
        return false;
    }
    finished_.wait(lock, [&] { return request.done; });
    return request.ran;
}

void UiCallQueue::run_pending() {
    for (;;) {
        Request* request = nullptr;
        {
            std::lock_guard lock(mutex_);
            if (queue_.empty()) return;
            request = queue_.front();
            queue_.pop_front();
        }
        // The call may run a nested modal loop (a message box) that comes
        // back here; the request is already off the queue, so it runs once.
        (*request->call)();
        {
            std::lock_guard lock(mutex_);
            request->ran = true;
            request->done = true;
        }
        finished_.notify_all();
    }
}

void UiCallQueue::close() {
    {
        std::lock_guard lock(mutex_);
        closed_ = true;
        for (Request* request : queue_) request->done = true;
        queue_.clear();
    }
    finished_.notify_all();
}

}  // namespace fwup
