#pragma once
#include <cstdint>

namespace fwup {

// Time as the procedures see it: a millisecond tick count that wraps like the
// system's 32-bit tick, and a blocking sleep. Tests and the virtual machine
// use a virtual clock whose sleep only advances the tick.
class Clock {
public:
    virtual ~Clock() = default;
    virtual void sleep_ms(std::uint32_t ms) = 0;
    virtual std::uint32_t tick_ms() = 0;
};

}  // namespace fwup
