#pragma once
#include <cstdint>
#include <numeric>
#include <vector>

#include "core/transfer/clock.h"

namespace fwup::test {

// Sleeping only advances the tick; every sleep is recorded.
class VirtualClock final : public Clock {
public:
    void sleep_ms(std::uint32_t ms) override {
        sleeps.push_back(ms);
        now += ms;
    }
    // Each reading also moves time on by `tick_step`, standing in for the work done between readings.
    std::uint32_t tick_ms() override {
        const std::uint32_t t = now;
        now += tick_step;
        return t;
    }
    std::uint64_t total_slept() const { return std::accumulate(sleeps.begin(), sleeps.end(), std::uint64_t{0}); }

    std::uint32_t now = 0;
    std::uint32_t tick_step = 0;
    std::vector<std::uint32_t> sleeps;
};

}  // namespace fwup::test
