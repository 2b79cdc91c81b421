#pragma once
#include <functional>

#include "system/threads/threads.h"

namespace fwup {

// Runs the dialog's procedures one at a time on a worker thread, so the window
// keeps painting while a procedure waits or transfers. Used from the UI thread
// only; the worker itself reports its end through `notify`, which must get the
// UI thread to call finished() (a posted window message).
class ProcedureRunner {
public:
    explicit ProcedureRunner(std::function<void()> notify);
    ProcedureRunner(const ProcedureRunner&) = delete;
    ProcedureRunner& operator=(const ProcedureRunner&) = delete;
    ~ProcedureRunner();

    // True from start() until finished() has seen the procedure return.
    bool busy() const { return busy_; }

    // Starts `procedure` unless one is still running. Returns whether it started.
    // When the system gives no thread the procedure runs here and now, as in
    // a program without threads: the window then waits with it.
    bool start(std::function<void()> procedure);

    // The worker's notice has arrived: collect the thread, accept commands again.
    void finished();

    // Waits for a running procedure without a notice (the window is gone).
    void wait();

private:
    std::function<void()> notify_;
    WorkerThread worker_;
    bool busy_ = false;
};

}  // namespace fwup
