#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "veltport.h"

namespace fwup {

// The variable through which a chosen USB printer reaches the Linux library,
// and an operator names one to the dialog program.
inline constexpr char kDeviceVariable[] = VELTPORT_DEVICE_VARIABLE;

// A printer as the operator names it. Each form says how the printer is
// reached, so that another kind of printer gets a form of its own beside these
// without changing how the existing ones read.
struct DeviceAddress {
    enum class Kind {
        UsbPath,         // a USB printer's device node: "/dev/usb/lp1"
        VirtualSection,  // a virtual machine's printer by its section: "Printer2"
        Network,         // a printer's raw port on the network: "socket://host:9100"
    };
    Kind kind = Kind::UsbPath;
    std::string text;        // the path, the section's name without brackets, or the host
    std::uint16_t port = 0;  // Network: the TCP port

    // As lists show it: the path, "[Printer2]" or "socket://host:9100".
    std::string display() const;
    friend bool operator==(const DeviceAddress&, const DeviceAddress&) = default;
};

// The raw port of printers on the network (AppSocket), the default of socket://.
inline constexpr std::uint16_t kRawPrintPort = 9100;

// Reads an address: an absolute path is a device node; "Name" or "[Name]" a
// virtual machine's section; "socket://HOST[:PORT]" a network printer (an
// IPv6 address in brackets). Anything else, an address of a kind this program
// does not reach ("scheme://..."), is refused with `error` saying why.
std::optional<DeviceAddress> parse_device_address(std::string_view text, std::string& error);

}  // namespace fwup
