#include "adapters/linux/linux_system.h"

#include <chrono>
#include <thread>

namespace fwup {

void LinuxClock::sleep_ms(std::uint32_t ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

std::uint32_t LinuxClock::tick_ms() {
    const auto since_boot = std::chrono::steady_clock::now().time_since_epoch();
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(since_boot).count();
    return static_cast<std::uint32_t>(static_cast<std::uint64_t>(ms) & 0xFFFFFFFFu);
}

LinuxSystem::LinuxSystem() : ports_(device_ids_), loader_(system_loader_, installed_library_path()) {}

DialogServices LinuxSystem::services() {
    DialogServices services{ports_, images_, clock_, loader_};
    services.library_path = kLinuxUsbPortLibraryPath;
    services.library_file = kLinuxUsbPortLibraryFile;
    return services;
}

}  // namespace fwup
