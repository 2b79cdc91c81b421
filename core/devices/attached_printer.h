#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "core/devices/device_address.h"

namespace fwup {

// A printer a machine reports, as listing it finds it (nothing is sent to it).
struct AttachedPrinter {
    std::string port;                      // "USB", "LPT1".."LPT3", "NET"
    std::string device;                    // as a list shows it: "/dev/usb/lp0", "[Printer2]", "/dev/lp0"
    std::optional<DeviceAddress> address;  // how the operator names it, where it can be named
    std::optional<std::uint16_t> vendor_id;
    std::optional<std::string> identification;  // the IEEE 1284 ID text
    bool answers = false;  // opened, and (parallel ports) answered the identification query
    std::string problem;   // why it does not answer, e.g. "in use by another program"

    bool usb() const { return port == "USB"; }
    bool network() const { return port == "NET"; }
};

// The model field of an IEEE 1284 ID (MDL: or MODEL:); empty when it has none.
std::string model_of(std::string_view identification);

// "/dev/usb/lp0 (VP-1000)", or the device alone when its model is unknown.
std::string describe(const AttachedPrinter& printer);

}  // namespace fwup
