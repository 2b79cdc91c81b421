#pragma once
#include <cstdint>
#include <optional>

#include "app/platform/platform_flags.h"
#include "transfer/clock.h"

namespace fwup {

// Sleep and GetTickCount.
class Win32Clock final : public Clock {
public:
    void sleep_ms(std::uint32_t ms) override;
    std::uint32_t tick_ms() override;
};

// GetVersionExA with the 148-byte OSVERSIONINFOA record.
class Win32OsVersion final : public OsVersionSource {
public:
    std::optional<OsVersion> query() override;
};

}  // namespace fwup
