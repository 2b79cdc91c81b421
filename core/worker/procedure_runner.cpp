#include "core/worker/procedure_runner.h"

#include <memory>
#include <utility>

namespace fwup {

ProcedureRunner::ProcedureRunner(std::function<void()> notify) : notify_(std::move(notify)) {}

ProcedureRunner::~ProcedureRunner() { wait(); }

bool ProcedureRunner::start(std::function<void()> procedure) {
    if (busy_) return false;
    wait();
    busy_ = true;
    // Shared, so the procedure is still there to run here if no thread starts.
    auto run = std::make_shared<std::function<void()>>(std::move(procedure));
    if (!worker_.start([this, run] {
            (*run)();
            notify_();
        })) {
        (*run)();
        notify_();
    }
    return true;
}

void ProcedureRunner::finished() {
    wait();
    busy_ = false;
}

void ProcedureRunner::wait() { worker_.join(); }

}  // namespace fwup
