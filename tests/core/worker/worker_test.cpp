#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "core/worker/procedure_runner.h"
#include "core/worker/ui_call_queue.h"

namespace fwup {
namespace {

// Stands in for the window system's message queue: post() is PostMessage,
// pump_until() the UI thread's message loop.
class MessageLoop {
public:
    bool post() {
        std::lock_guard lock(mutex_);
        if (!accepting_) return false;
        ++posted_;
        changed_.notify_all();
        return true;
    }
    // Wakes the loop to look at its `done` condition again.
    void nudge() {
        std::lock_guard lock(mutex_);
        changed_.notify_all();
    }
    void refuse_posts() {
        std::lock_guard lock(mutex_);
        accepting_ = false;
    }
    void pump_until(const std::function<bool()>& done, const std::function<void()>& dispatch) {
        std::unique_lock lock(mutex_);
        for (;;) {
            while (posted_ > 0) {
                --posted_;
                lock.unlock();
                dispatch();
                lock.lock();
            }
            if (done()) return;
            changed_.wait(lock, [&] { return posted_ > 0 || done(); });
        }
    }
    int posted() {
        std::lock_guard lock(mutex_);
        return posted_;
    }
    // Waits for a message without dispatching it: a window that no longer runs its loop.
    void wait_for_post() {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return posted_ > 0; });
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    int posted_ = 0;
    bool accepting_ = true;
};

struct UiCallQueueTest : ::testing::Test {
    MessageLoop loop;
    UiCallQueue queue{[this] { return loop.post(); }};
    std::atomic<int> workers_done{0};

    // Runs `body` on a worker while this thread pumps, until the worker ends.
    void on_worker(const std::function<void()>& body) {
        std::thread worker([&] {
            body();
            ++workers_done;
            loop.nudge();
        });
        const int target = workers_done.load() + 1;
        loop.pump_until([&] { return workers_done.load() >= target; }, [&] { queue.run_pending(); });
        worker.join();
    }
};

TEST_F(UiCallQueueTest, OnTheUiThreadACallRunsAtOnceWithoutAMessage) {
    int runs = 0;
    EXPECT_TRUE(queue.invoke([&] { ++runs; }));
    EXPECT_EQ(runs, 1);
    EXPECT_EQ(loop.posted(), 0);
}

TEST_F(UiCallQueueTest, WorkerCallsRunOnTheUiThreadInOrderAndEachIsWaitedFor) {
    const auto ui_thread = std::this_thread::get_id();
    std::vector<int> order;  // touched on the UI thread only
    int confirmed = 0;       // worker only
    on_worker([&] {
        for (int i = 0; i < 200; ++i) {
            bool on_ui = false;
            const bool ran = queue.invoke([&, i] {
                on_ui = std::this_thread::get_id() == ui_thread;
                order.push_back(i);
            });
            // Returned only once the call had finished over there.
            if (ran && on_ui && order.size() == static_cast<std::size_t>(i) + 1) ++confirmed;
        }
    });
    EXPECT_EQ(confirmed, 200);
    ASSERT_EQ(order.size(), 200u);
    EXPECT_TRUE(std::is_sorted(order.begin(), order.end()));
}

TEST_F(UiCallQueueTest, ANestedLoopInsideACallRunsAnotherThreadsCallExactlyOnce) {
    // A message box shown for one call runs its own message loop, which
    // dispatches calls that arrive meanwhile.
    std::vector<std::string> log;
    std::thread second;
    bool first_ran = false, second_ran = false;
    on_worker([&] {
        first_ran = queue.invoke([&] {
            log.push_back("box opens");
            second = std::thread([&] { second_ran = queue.invoke([&] { log.push_back("other call"); }); });
            loop.pump_until([&] { return log.size() == 2; }, [&] { queue.run_pending(); });
            log.push_back("box closes");
        });
    });
    second.join();
    EXPECT_TRUE(first_ran);
    EXPECT_TRUE(second_ran);
    EXPECT_EQ(log, (std::vector<std::string>{"box opens", "other call", "box closes"}));
}

TEST_F(UiCallQueueTest, CloseReleasesAWaitingWorkerWithoutRunningItsCall) {
    // The window has gone while a worker waits for it (the dialog was ended
    // from the worker's own procedure): the worker must not hang.
    bool ran = true;
    int runs = 0;
    std::thread worker([&] { ran = queue.invoke([&] { ++runs; }); });
    loop.wait_for_post();
    queue.close();
    worker.join();
    EXPECT_FALSE(ran);
    EXPECT_EQ(runs, 0);

    bool later = true;
    std::thread late([&] { later = queue.invoke([&] { ++runs; }); });
    late.join();
    EXPECT_FALSE(later);
    queue.run_pending();
    EXPECT_EQ(runs, 0);
}

TEST_F(UiCallQueueTest, AWakeThatCannotBeDeliveredDropsTheCallInsteadOfHanging) {
    loop.refuse_posts();
    int runs = 0;
    bool ran = true;
    std::thread worker([&] { ran = queue.invoke([&] { ++runs; }); });
    worker.join();
    EXPECT_FALSE(ran);
    queue.run_pending();  // nothing left behind
    EXPECT_EQ(runs, 0);
}

TEST(UiCallQueueRace, AWakeThatFailsAfterTheUiThreadTookTheCallStillWaitsForIt) {
    // The post fails, but a message posted for an earlier call has made the UI
    // thread take this one already: the worker must wait for it, not return
    // while the call still uses its frame.
    std::mutex mutex;
    std::condition_variable changed;
    bool go = false, started = false, wake_failed = false, completed = false;
    UiCallQueue queue{[&] {
        std::unique_lock lock(mutex);
        go = true;
        changed.notify_all();
        changed.wait(lock, [&] { return started; });
        wake_failed = true;
        changed.notify_all();
        return false;
    }};
    bool ran = false, completed_on_return = false;
    std::thread worker([&] {
        ran = queue.invoke([&] {
            std::unique_lock lock(mutex);
            started = true;
            changed.notify_all();
            changed.wait(lock, [&] { return wake_failed; });
            completed = true;
        });
        const std::lock_guard lock(mutex);
        completed_on_return = completed;
    });
    {
        std::unique_lock lock(mutex);
        changed.wait(lock, [&] { return go; });
    }
    queue.run_pending();
    worker.join();
    EXPECT_TRUE(ran);
    EXPECT_TRUE(completed_on_return);
}

// The runner's notice stands for the posted "finished" message.
struct ProcedureRunnerTest : ::testing::Test {
    std::mutex mutex;
    std::condition_variable changed;
    int notices = 0;
    ProcedureRunner runner{[this] {
        std::lock_guard lock(mutex);
        ++notices;
        changed.notify_all();
    }};

    void wait_for_notice(int count) {
        std::unique_lock lock(mutex);
        changed.wait(lock, [&] { return notices >= count; });
    }
};

TEST_F(ProcedureRunnerTest, StaysBusyUntilTheNoticeIsHandledAndRefusesASecondProcedure) {
    std::mutex gate;
    std::unique_lock hold(gate);
    int runs = 0;
    ASSERT_TRUE(runner.start([&] {
        std::lock_guard pass(gate);
        ++runs;
    }));
    EXPECT_TRUE(runner.busy());
    EXPECT_FALSE(runner.start([&] { runs += 100; }));  // a click while it runs
    hold.unlock();
    wait_for_notice(1);
    // The procedure has returned, but commands stay refused until the UI
    // thread has taken the notice.
    EXPECT_TRUE(runner.busy());
    EXPECT_FALSE(runner.start([&] { runs += 100; }));
    runner.finished();
    EXPECT_FALSE(runner.busy());
    EXPECT_EQ(runs, 1);

    ASSERT_TRUE(runner.start([&] { ++runs; }));
    wait_for_notice(2);
    runner.finished();
    EXPECT_EQ(runs, 2);
}

TEST_F(ProcedureRunnerTest, WaitCollectsAProcedureWhoseNoticeNeverArrives) {
    std::atomic<int> runs{0};
    ASSERT_TRUE(runner.start([&] { ++runs; }));
    runner.wait();
    EXPECT_EQ(runs.load(), 1);
    runner.wait();  // nothing left to collect
}

}  // namespace
}  // namespace fwup
