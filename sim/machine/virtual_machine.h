#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "core/binding/usb_port_api.h"
#include "core/transfer/printer_link.h"
#include "core/platform/platform_flags.h"
#include "sim/lpt/virtual_lpt.h"
#include "sim/machine/machine_config.h"
#include "sim/printer/virtual_printer.h"
#include "core/transfer/clock.h"
#include "core/transfer/image_file.h"

namespace fwup::sim {

class UsbDeviceTree;

// A whole computer for the program to run on: its Windows version, its
// parallel ports and USB printers, the USB port library (the real library's
// code, bound statically over the simulated device tree), a real or virtual
// clock, and image files counted as they are opened and closed.
//
// The USB port library is one process-wide instance, so only one machine's
// library can be loaded at a time; loading a second one fails like a missing
// library while the first is loaded.
class VirtualMachine {
public:
    // Builds the machine and opens its recording files. Empty, with `error`
    // naming the file, the key and the value, when a recording file cannot be
    // created.
    static std::unique_ptr<VirtualMachine> create(const MachineConfig& config, std::string& error);
    ~VirtualMachine();
    VirtualMachine(const VirtualMachine&) = delete;
    VirtualMachine& operator=(const VirtualMachine&) = delete;

    const MachineConfig& config() const;

    // The seams the program runs over.
    OsVersionSource& os_version();
    ParallelPorts& parallel_ports();
    LibraryLoader& library_loader();
    Clock& clock();
    ImageFiles& image_files();

    // The printers, in the file's order.
    std::size_t printer_count() const;
    VirtualPrinter& printer(std::size_t index);
    VirtualLptPorts& lpt();
    // The USB side below the library, for tests that change it between runs.
    UsbDeviceTree& usb();
    // Leaves the USB printer of `index` (in the file's order) the only one the
    // enumeration lists: the others are as if unplugged. False when that
    // printer is not on USB.
    bool keep_only_usb_printer(std::size_t index);

    // The network printer of `index` (in the file's order), served on a
    // loopback port; null when that printer is not on the network.
    NetworkPrinter* network_printer(std::size_t index);
    // The network printers' connections open right now.
    int open_network_connections() const;

    // Left open right now; all three are 0 after every finished run.
    int open_lpt_ports() const;
    int open_usb_handles() const;
    int open_image_files() const;
    bool library_loaded() const;
    // Milliseconds of the machine's clock since the machine started.
    std::uint32_t uptime_ms();

    // A problem writing a recording file (empty when none), for the front end
    // to report at the end.
    std::string recording_problem() const;

    struct Impl;

private:
    explicit VirtualMachine(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};

// Reads the file and builds its machine; empty with `error` set on refusal.
std::unique_ptr<VirtualMachine> load_virtual_machine(const std::filesystem::path& file, std::string& error);

}  // namespace fwup::sim
