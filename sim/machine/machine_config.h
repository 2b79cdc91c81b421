#pragma once
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "core/platform/platform_flags.h"
#include "sim/lpt/virtual_lpt.h"
#include "sim/printer/virtual_printer.h"

namespace fwup {
class Profile;
}

namespace fwup::sim {

// Whether the USB port library can be loaded, and whether it has all its exports.
enum class LibraryPresence { Present, Missing, Incomplete };
enum class ClockKind { Real, Virtual };

// One printer of a virtual machine and what is recorded of its traffic.
struct PrinterSetup {
    std::string section;  // the file's section it came from, for messages
    int lpt = 0;          // 0: on USB or the network; 1..3: on that parallel port
    bool network = false; // on the network, served on a loopback port
    PrinterConfig printer;
    // USB only: the interface is present but held by another process.
    bool openable = true;
    // Empty: not recorded. Otherwise absolute (resolved against the file's folder).
    std::filesystem::path received_image;
    std::filesystem::path transcript;

    bool on_usb() const { return lpt == 0 && !network; }
    // As a list names its port: "USB", "LPT1".."LPT3", "NET".
    std::string port_name() const {
        if (network) return "NET";
        return lpt == 0 ? std::string("USB") : "LPT" + std::to_string(lpt);
    }
};

struct MachineConfig {
    std::filesystem::path file;  // the file it was read from, for messages
    OsVersion os{OsVersion::kWindowsNt, 5, 0};
    LibraryPresence library = LibraryPresence::Present;
    ClockKind clock = ClockKind::Real;
    VirtualLptPorts::Faults lpt_faults;
    // In enumeration order for USB; at most one per parallel port.
    std::vector<PrinterSetup> printers;
};

// Reads a virtual machine file. On failure returns nothing and sets `error` to
// a message naming the file and, for a bad value, the key and the value.
std::optional<MachineConfig> read_machine_file(const std::filesystem::path& path, std::string& error);

// The same over an already parsed profile; `path` names the file in messages
// and its folder anchors relative paths.
std::optional<MachineConfig> read_machine_config(const Profile& profile, const std::filesystem::path& path,
                                                 std::string& error);

}  // namespace fwup::sim
