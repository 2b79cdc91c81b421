#pragma once
#include <cstdint>

#include "core/transfer/clock.h"

namespace fwup::sim {

// A clock whose sleep only moves its tick forward: simulated waits take no
// real time, and tests read how long the code under test waited.
class VirtualClock final : public Clock {
public:
    explicit VirtualClock(std::uint32_t start_tick = 0) : tick_(start_tick) {}

    void sleep_ms(std::uint32_t ms) override;
    std::uint32_t tick_ms() override { return tick_; }

    // Moves time on without counting a sleep (time spent elsewhere).
    void advance(std::uint32_t ms) { tick_ += ms; }

    // Milliseconds slept since construction (not wrapped) and the number of sleeps.
    std::uint64_t slept_ms() const { return slept_ms_; }
    std::uint64_t sleeps() const { return sleeps_; }

private:
    std::uint32_t tick_;  // wraps like the system's 32-bit tick
    std::uint64_t slept_ms_ = 0;
    std::uint64_t sleeps_ = 0;
};

}  // namespace fwup::sim
