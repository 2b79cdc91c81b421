#pragma once
#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>

#include "sim/clock/virtual_clock.h"
#include "sim/printer/virtual_printer.h"
#include "sim/usb/usb_device_tree.h"
#include "usbport/core/usb_port_library.h"

namespace veltport::testing {

inline constexpr OsVersionInfo kWin95{OsVersionInfo::kWin32Windows, 4, 0};
inline constexpr OsVersionInfo kWin98{OsVersionInfo::kWin32Windows, 4, 10};
inline constexpr OsVersionInfo kWinMe{OsVersionInfo::kWin32Windows, 4, 90};
inline constexpr OsVersionInfo kNt4{OsVersionInfo::kWin32Nt, 4, 0};
inline constexpr OsVersionInfo kWin2000{OsVersionInfo::kWin32Nt, 5, 0};
inline constexpr OsVersionInfo kWinXp{OsVersionInfo::kWin32Nt, 5, 1};

inline const std::string kPrinterPath =
    "\\\\?\\usb#vid_043d&pid_0001#5&2f1a7c&0&1#{28d78fad-5a12-11d1-ae5b-0000f803a8c2}";

// The interface class the library searches on a system of this version.
inline Guid class_for(const OsVersionInfo& os) {
    return os.platform_id == OsVersionInfo::kWin32Nt ? MS_USBPRINT_GUID : CORVANE_USB_GUID;
}

// One simulated machine on a virtual clock with the library over its device tree.
struct Rig {
    explicit Rig(std::optional<OsVersionInfo> os = kWin2000) : tree(clock, os) {}

    fwup::sim::UsbDevice& add_printer(const Guid& cls, const std::string& path,
                                      fwup::sim::PrinterConfig config = {}) {
        return tree.add_printer(cls, path, std::make_shared<fwup::sim::VirtualPrinter>(config));
    }

    fwup::sim::VirtualClock clock;
    fwup::sim::UsbDeviceTree tree;
    UsbPortLibrary lib{tree};
};

// After every call into the library: no handle open, no set left, none closed twice.
inline void expect_all_released(const fwup::sim::UsbDeviceTree& tree) {
    const fwup::sim::UsbCounters& c = tree.counters();
    EXPECT_EQ(c.open_handles, 0) << "a handle was left open";
    EXPECT_EQ(c.sets_created, c.sets_destroyed) << "a device information set was left";
    EXPECT_EQ(c.bad_closes, 0u) << "a handle was closed twice";
}

}  // namespace veltport::testing
