#pragma once
#include <cstdint>
#include <optional>

#include "adapters/linux/dl_library_loader.h"
#include "core/dialog/upgrade_dialog.h"
#include "adapters/linux/ieee1284_device_id.h"
#include "adapters/linux/installed_library.h"
#include "adapters/linux/linux_parallel_ports.h"
#include "core/platform/platform_flags.h"
#include "core/transfer/clock.h"
#include "core/transfer/std_image_files.h"

namespace fwup {

// The USB port library, from the current directory as on Windows; when that
// file is not there, the library installed with the program.
inline constexpr char kLinuxUsbPortLibraryPath[] = "./libveltport.so";
inline constexpr char kLinuxUsbPortLibraryFile[] = "libveltport.so";

// Linux presents itself as Windows 2000 (NT 5.0): the program then loads the
// USB port library and runs its USB variants, and the library searches the
// system's USB printing class, whose members are the usblp nodes. What follows
// is the NT family's behaviour ("Upgrade Now" enabled again after a transfer),
// except that the model is compared over USB too: usblp hands over any
// printer, whatever its model.
class LinuxOsVersion final : public OsVersionSource {
public:
    static constexpr OsVersion kAnswer{OsVersion::kWindowsNt, 5, 0, true};
    std::optional<OsVersion> query() override { return kAnswer; }
};

// The monotonic clock; the tick wraps like the system's 32-bit tick count.
class LinuxClock final : public Clock {
public:
    void sleep_ms(std::uint32_t ms) override;
    std::uint32_t tick_ms() override;
};

// Everything the program runs over on a real Linux machine: the printer ports
// with their IEEE 1284 IDs, image files, the clock and the library loader.
class LinuxSystem {
public:
    LinuxSystem();
    LinuxSystem(const LinuxSystem&) = delete;
    LinuxSystem& operator=(const LinuxSystem&) = delete;

    OsVersionSource& os_version() { return os_; }
    DialogServices services();

private:
    LinuxOsVersion os_;
    Ieee1284DeviceIdSource device_ids_;
    LinuxParallelPorts ports_;
    StdImageFiles images_;
    LinuxClock clock_;
    DlLibraryLoader system_loader_;
    InstalledLibraryLoader loader_;
};

}  // namespace fwup
