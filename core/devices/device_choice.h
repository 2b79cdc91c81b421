#pragma once
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/devices/attached_printer.h"
#include "core/devices/device_address.h"

namespace fwup {

// What the run is for: a verify only reads, an upgrade writes an image.
enum class DeviceIntent { Verify, Upgrade };

// Which USB printer a run talks to. The USB port library takes the first
// printer that opens; with several attached that is a guess, which is
// acceptable for a verify (it is said which one) and never for an upgrade.
struct DeviceChoice {
    enum class Outcome {
        NoUsbPrinter,    // none attached: the parallel port of the settings, as ever
        Only,            // the one attached
        Chosen,          // the one the operator named (on USB or the network)
        FirstOfSeveral,  // a verify with several attached: the first that opens
        Refused,         // nothing may run: `message` says why
    };
    Outcome outcome = Outcome::NoUsbPrinter;
    std::optional<AttachedPrinter> printer;  // the USB printer the run talks to, when known
    std::size_t usb_count = 0;
    std::string message;  // Refused: why; FirstOfSeveral: which one and how to choose

    bool refused() const { return outcome == Outcome::Refused; }
    // The front end's line naming the printer, e.g. "/dev/usb/lp1 (VP-1000)";
    // empty when no USB printer is attached.
    std::string printer_text() const;
};

// Decides from the machine's printers (USB and parallel, as listed) and the
// address the operator gave, if any. `how_to_choose` names the front end's
// way to name a printer ("--device"), for the messages.
DeviceChoice choose_device(const std::vector<AttachedPrinter>& printers, const std::optional<DeviceAddress>& wanted,
                           DeviceIntent intent, std::string_view how_to_choose);

}  // namespace fwup
