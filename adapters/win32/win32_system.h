#pragma once
#include <cstdint>
#include <optional>

#include "adapters/win32/win32_library_loader.h"
#include "core/dialog/upgrade_dialog.h"
#include "core/platform/platform_flags.h"
#include "adapters/win32/win32_parallel_ports.h"
#include "core/transfer/clock.h"
#include "core/transfer/std_image_files.h"

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

// Everything the program runs over on a real Windows machine: the printer
// ports, image files, the clock, the version query and the library loader.
class Win32System {
public:
    Win32System() = default;
    Win32System(const Win32System&) = delete;
    Win32System& operator=(const Win32System&) = delete;

    OsVersionSource& os_version() { return os_; }
    DialogServices services() { return DialogServices{ports_, images_, clock_, loader_}; }

private:
    Win32OsVersion os_;
    Win32ParallelPorts ports_;
    StdImageFiles images_;
    Win32Clock clock_;
    Win32LibraryLoader loader_;
};

}  // namespace fwup
