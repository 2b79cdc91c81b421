#pragma once
#include <algorithm>
#include <cstdint>

namespace fwup {

// The progress bar counts one unit per 100 bytes. Only an image too large for
// that to fit a signed 32-bit bound (the widest bound a progress control takes)
// gets coarser units, so the bar always fills in proportion to the bytes sent.
class ProgressScale {
public:
    static constexpr std::uint64_t kBytesPerUnit = 100;
    static constexpr std::uint64_t kMaxUnits = 0x7FFF'FFFF;

    explicit constexpr ProgressScale(std::uint64_t size)
        : divisor_(size / kBytesPerUnit <= kMaxUnits
                       ? kBytesPerUnit
                       : size / kMaxUnits + (size % kMaxUnits != 0 ? 1 : 0)),
          upper_(static_cast<std::uint32_t>(size / divisor_)) {}

    constexpr std::uint32_t upper() const { return upper_; }
    constexpr std::uint32_t position(std::uint64_t sent) const {
        return static_cast<std::uint32_t>(std::min(sent / divisor_, kMaxUnits));
    }

private:
    std::uint64_t divisor_;
    std::uint32_t upper_;
};

}  // namespace fwup
