#include "sim/clock/virtual_clock.h"

namespace fwup::sim {

void VirtualClock::sleep_ms(std::uint32_t ms) {
    tick_ += ms;
    slept_ms_ += ms;
    ++sleeps_;
}

}  // namespace fwup::sim
