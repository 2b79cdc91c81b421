#include "app/worker/procedure_runner.h"

#include <utility>

namespace fwup {

ProcedureRunner::ProcedureRunner(std::function<void()> notify) : notify_(std::move(notify)) {}

ProcedureRunner::~ProcedureRunner() { wait(); }

bool ProcedureRunner::start(std::function<void()> procedure) {
    if (busy_) return false;
    wait();
    busy_ = true;
    worker_ = std::thread([this, run = std::move(procedure)] {
        run();
        notify_();
    });
    return true;
}

void ProcedureRunner::finished() {
    wait();
    busy_ = false;
}

void ProcedureRunner::wait() {
    if (worker_.joinable()) worker_.join();
}

}  // namespace fwup
