#include "programs/startup/machine.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <filesystem>

#include "core/history/history_record.h"
#include "programs/startup/history_file.h"
#include "sim/digest/sha256.h"
#include "sim/machine/virtual_machine.h"

#if defined(_WIN32)
#include "adapters/win32/win32_system.h"
#elif defined(__linux__)
#include "adapters/linux/linux_system.h"
#include "adapters/linux/snmp_device_id.h"
#include "adapters/linux/usblp_printers.h"
#include "core/network/socket_printer.h"
#include "system/sockets/tcp_stream.h"
#endif

namespace fwup::startup {

namespace {

#if defined(_WIN32)
using PlatformSystem = Win32System;
#elif defined(__linux__)
using PlatformSystem = LinuxSystem;
#endif

// Parallel ports that never open: a run that was told which USB printer to
// use must not end on a parallel port's printer when that one does not answer.
class NoParallelPorts final : public ParallelPorts {
public:
    std::unique_ptr<ParallelPort> open(std::string_view, PortAccess) override { return nullptr; }
};

#if defined(_WIN32) || defined(__linux__)
class RealMachine final : public Machine {
public:
    OsVersionSource& os_version() override { return system_.os_version(); }

protected:
    DialogServices machine_services() override { return system_.services(); }

#if defined(__linux__)
    std::vector<AttachedPrinter> named_printers() override { return list_usblp_printers(); }
    void reach_only(const AttachedPrinter& printer) override {
        // The library reads the variable when it looks for the printer.
        ::setenv(kDeviceVariable, printer.device.c_str(), 1);
    }
    std::string lpt_device(int number) override { return "/dev/lp" + std::to_string(number - 1); }
    DeviceAddress as_listed(const DeviceAddress& address, const std::vector<AttachedPrinter>& printers) override {
        if (address.kind != DeviceAddress::Kind::UsbPath) return address;
        const std::optional<std::string> node = listed_node(address.text, printers);
        return node ? DeviceAddress{address.kind, *node} : address;
    }
#else
    // The Windows library takes the first printer that opens and has no way
    // to be told another; its printers are not listed.
    std::vector<AttachedPrinter> named_printers() override { return {}; }
    bool chooses_usb() const override { return false; }
    void reach_only(const AttachedPrinter&) override {}
#endif

private:
    PlatformSystem system_;
};
#endif

class SimulatedMachine final : public Machine {
public:
    SimulatedMachine(std::unique_ptr<sim::VirtualMachine> machine, std::string name)
        : machine_(std::move(machine)), name_(std::move(name)) {}

    OsVersionSource& os_version() override { return machine_->os_version(); }
    sim::VirtualMachine* virtual_machine() override { return machine_.get(); }

protected:
    DialogServices machine_services() override {
        DialogServices services{machine_->parallel_ports(), machine_->image_files(), machine_->clock(),
                                machine_->library_loader()};
        services.virtual_machine = name_;
        return services;
    }
    // As the machine file describes them: listing asks no printer anything.
    std::vector<AttachedPrinter> named_printers() override {
        std::vector<AttachedPrinter> printers;
        for (const sim::PrinterSetup& setup : machine_->config().printers) {
            AttachedPrinter printer;
            printer.port = setup.port_name();
            printer.address = DeviceAddress{DeviceAddress::Kind::VirtualSection, setup.section};
            printer.device = printer.address->display();
            if (setup.on_usb()) printer.vendor_id = setup.printer.vendor_id;
            printer.identification = setup.printer.device_id;
            printer.answers = setup.lpt != 0 || setup.openable;
            if (!printer.answers) printer.problem = "in use by another program";
            printers.push_back(std::move(printer));
        }
        return printers;
    }
    void reach_only(const AttachedPrinter& printer) override {
        if (const std::optional<std::size_t> index = setup_of(printer)) machine_->keep_only_usb_printer(*index);
    }
    NetworkPrinter* reach_network(const AttachedPrinter& printer, std::string& why) override {
        if (const std::optional<std::size_t> index = setup_of(printer)) return machine_->network_printer(*index);
        // A printer on the network is outside the computer: a virtual one
        // reaches it as the real one does.
        return Machine::reach_network(printer, why);
    }
    std::string lpt_device(int number) override {
        for (const sim::PrinterSetup& setup : machine_->config().printers) {
            if (setup.lpt == number) return "[" + setup.section + "]";
        }
        return Machine::lpt_device(number);
    }

private:
    // The file's printer that a listed printer names by its section.
    std::optional<std::size_t> setup_of(const AttachedPrinter& printer) const {
        if (!printer.address || printer.address->kind != DeviceAddress::Kind::VirtualSection) return std::nullopt;
        const std::vector<sim::PrinterSetup>& setups = machine_->config().printers;
        for (std::size_t i = 0; i < setups.size(); ++i) {
            if (setups[i].section == printer.address->text) return i;
        }
        return std::nullopt;
    }

    std::unique_ptr<sim::VirtualMachine> machine_;
    std::string name_;
};

// The image's SHA-256 as the file holds it now; empty when it cannot be read whole.
std::string image_sha256(ImageFiles& images, const std::string& path) {
    const std::unique_ptr<ImageFile> file = images.open(path);
    if (!file) return {};
    sim::Sha256 digest;
    std::array<std::uint8_t, 65536> block{};
    std::uint64_t total = 0;
    for (;;) {
        std::uint32_t got = 0;
        if (!file->read(block.data(), static_cast<std::uint32_t>(block.size()), got)) return {};
        if (got == 0) break;
        digest.update(block.data(), got);
        total += got;
    }
    return total == file->size() ? digest.hex_digest() : std::string();
}

}  // namespace

std::unique_ptr<Machine> Machine::real() {
#if defined(_WIN32) || defined(__linux__)
    return std::make_unique<RealMachine>();
#else
    return nullptr;
#endif
}

std::unique_ptr<Machine> Machine::from_file(const std::string& file, std::string& error) {
    std::unique_ptr<sim::VirtualMachine> machine = sim::load_virtual_machine(file, error);
    if (!machine) return nullptr;
    return std::make_unique<SimulatedMachine>(std::move(machine), std::filesystem::path(file).filename().string());
}

std::unique_ptr<Machine> Machine::from_environment(std::string& error) {
    const char* file = std::getenv(kVirtualPrinterVariable);
    if (file != nullptr && *file != '\0') return from_file(file, error);
    std::unique_ptr<Machine> machine = real();
    if (!machine) error = "this build has no adapters for real printers on this system";
    return machine;
}

std::string Machine::recording_problem() {
    const sim::VirtualMachine* machine = virtual_machine();
    return machine == nullptr ? std::string() : machine->recording_problem();
}

DialogServices Machine::services() {
    static NoParallelPorts no_ports;
    const DialogServices own = machine_services();
    DialogServices services{only_chosen_ ? no_ports : own.ports, own.images, own.clock, own.loader,
                            own.library_path, own.is_lead_byte, own.library_file, own.virtual_machine};
    services.printer = choice_.printer_text();
    services.network = network_;
    if (!program_.empty()) {
        services.after_download = [this](const RunFacts& facts, const std::string& status) {
            // The settings are the dialog's; the history needs the image's name and port.
            if (!settings_) return;
            const std::string warning = record_download(facts, *settings_, status, program_);
            if (!warning.empty() && warn_) warn_(warning);
        };
    }
    return services;
}

void Machine::run_program(const UpgradeApp::RunDialog& run_dialog, const std::string& settings_file) {
    UpgradeApp app(AppEnvironment{os_version(), services(), settings_file});
    // No message loop follows the dialog: the program ends with it.
    static_cast<void>(app.init_instance([&](UpgradeDialog& dialog) {
        settings_ = dialog.settings();
        run_dialog(dialog);
    }));
}

std::vector<AttachedPrinter> Machine::list_printers() {
    std::vector<AttachedPrinter> printers;
    for (AttachedPrinter& printer : named_printers()) {
        if (printer.usb() || printer.network()) printers.push_back(std::move(printer));
    }
    ParallelPorts& ports = machine_services().ports;
    for (int number = 1; number <= 3; ++number) {
        AttachedPrinter printer;
        printer.port = "LPT" + std::to_string(number);
        printer.device = lpt_device(number);
        if (!printer.device.empty() && printer.device.front() == '[') {
            printer.address = DeviceAddress{DeviceAddress::Kind::VirtualSection,
                                            printer.device.substr(1, printer.device.size() - 2)};
        }
        const std::unique_ptr<ParallelPort> port = ports.open(printer.port, PortAccess::ReadWrite);
        if (!port) {
            printer.problem = "cannot be opened";
        } else {
            std::array<std::uint8_t, 256> id{};
            std::uint32_t returned = 0;
            if (port->query_device_id(id.data(), 255, returned) && returned > 0 && id[0] != 0) {
                // The text runs to its first NUL (strnlen is not in every Windows runtime).
                const auto end = std::find(id.begin(), id.begin() + 255, std::uint8_t{0});
                printer.identification = std::string(id.begin(), end);
                printer.answers = true;
            } else {
                printer.problem = "no printer answers";
            }
        }
        printers.push_back(std::move(printer));
    }
    return printers;
}

DeviceChoice Machine::choose_printer(const std::optional<std::string>& wanted, DeviceIntent intent,
                                     std::string_view how_to_choose) {
    choice_ = DeviceChoice{};
    only_chosen_ = false;
    network_ = nullptr;
    std::optional<std::string> named = wanted;
#if defined(__linux__)
    // The library honours the variable by itself; the choice must see it too,
    // and a refusal must name where the address came from.
    if (!named && virtual_machine() == nullptr) {
        const char* variable = std::getenv(kDeviceVariable);
        if (variable != nullptr && *variable != '\0') {
            named = variable;
            how_to_choose = kDeviceVariable;
        }
    }
#endif
    std::optional<DeviceAddress> address;
    if (named) {
        std::string error;
        address = parse_device_address(*named, error);
        if (!address) {
            choice_.outcome = DeviceChoice::Outcome::Refused;
            choice_.message = std::string(how_to_choose) + ": " + error;
            return choice_;
        }
        if (!chooses_usb() && address->kind != DeviceAddress::Kind::Network) {
            choice_.outcome = DeviceChoice::Outcome::Refused;
            choice_.message = std::string(how_to_choose) +
                              " is not available here: the USB port library of this system takes the first "
                              "printer that opens";
            return choice_;
        }
    }
    const std::vector<AttachedPrinter> printers = named_printers();
    if (address) address = as_listed(*address, printers);
    choice_ = choose_device(printers, address, intent, how_to_choose);
    if (choice_.outcome == DeviceChoice::Outcome::Chosen && choice_.printer->network()) {
        std::string why;
        network_ = reach_network(*choice_.printer, why);
        if (network_ == nullptr) {
            choice_.outcome = DeviceChoice::Outcome::Refused;
            choice_.message = std::string(how_to_choose) + " " + choice_.printer->device + ": " + why;
            choice_.printer.reset();
            return choice_;
        }
        // Neither the USB printers nor a parallel port are reached then.
        only_chosen_ = true;
    } else if (choice_.outcome == DeviceChoice::Outcome::Chosen) {
        reach_only(*choice_.printer);
        only_chosen_ = true;
    }
    return choice_;
}

std::string Machine::lpt_device(int number) { return "LPT" + std::to_string(number); }

#if defined(__linux__)
namespace {

// How a network printer's ID is read: from its SNMP agent.
NetworkIdSource snmp_source(const std::string& host, const SnmpSettings& snmp) {
    SnmpTarget target{host, snmp.port, snmp.community};
    return [target] { return read_snmp_device_id(target); };
}

}  // namespace

NetworkPrinter* Machine::reach_network(const AttachedPrinter& printer, std::string& why) {
    if (!printer.address || printer.address->kind != DeviceAddress::Kind::Network) {
        why = "not a network printer's address";
        return nullptr;
    }
    const DeviceAddress& address = *printer.address;
    own_network_ = std::make_unique<SocketPrinter>(address.text, address.port, snmp_source(address.text, snmp_));
    return own_network_.get();
}

AttachedPrinter Machine::probe_network(const DeviceAddress& address) {
    AttachedPrinter printer{"NET", address.display(), address, {}, {}, false, {}};
    std::string problem;
    if (const std::optional<std::string> id = snmp_source(address.text, snmp_)()) {
        printer.identification = normalised_device_id(*id);
    } else {
        problem = "no ID over SNMP";
    }
    // Connecting and closing at once sends the printer nothing.
    sys::ConnectResult result = sys::ConnectResult::Failed;
    printer.answers =
        sys::TcpStream::connect(address.text, address.port, SocketPrinter::kConnectTimeout, result) != nullptr;
    if (!printer.answers) {
        if (!problem.empty()) problem += "; ";
        problem += result == sys::ConnectResult::NotResolved ? "the name does not resolve"
                   : result == sys::ConnectResult::Refused   ? "the port refuses connections"
                                                             : "the port does not answer";
    }
    printer.problem = problem;
    return printer;
}
#else
// The Windows programs reach no network printer: no socket is linked in.
NetworkPrinter* Machine::reach_network(const AttachedPrinter&, std::string& why) {
    why = "this build reaches no network printer";
    return nullptr;
}

AttachedPrinter Machine::probe_network(const DeviceAddress& address) {
    return AttachedPrinter{"NET", address.display(), address, {}, {}, false, "this build reaches no network printer"};
}
#endif

std::vector<AttachedPrinter> Machine::list_network_printers(const std::vector<std::string>& hosts) {
    std::vector<AttachedPrinter> printers;
    for (const std::string& host : hosts) {
        const std::string text = host.find("://") == std::string::npos ? "socket://" + host : host;
        std::string error;
        const std::optional<DeviceAddress> address = parse_device_address(text, error);
        if (!address || address->kind != DeviceAddress::Kind::Network) {
            printers.push_back(AttachedPrinter{"NET", host, std::nullopt, {}, {}, false,
                                               address ? "not a network printer's address" : error});
            continue;
        }
        printers.push_back(probe_network(*address));
    }
    return printers;
}

DeviceAddress Machine::as_listed(const DeviceAddress& address, const std::vector<AttachedPrinter>&) { return address; }

std::string Machine::device_of(Carrier carrier, int lpt) {
    // A run with a chosen USB printer reaches no parallel port, whatever it tried.
    if (carrier == Carrier::Lpt) return lpt >= 1 && lpt <= 3 && !only_chosen_ ? lpt_device(lpt) : std::string();
    return choice_.printer ? choice_.printer->device : std::string();
}

bool Machine::keeps_history() {
#if defined(_WIN32)
    return false;
#else
    return true;
#endif
}

std::string Machine::record_download(const RunFacts& facts, const UpgradeSettings& settings, const std::string& status,
                                     const std::string& program, std::optional<int> exit_status,
                                     std::optional<std::string> check) {
    if (!keeps_history()) return {};
    HistoryRecord record = history_record(facts, settings, status);
    record.time = utc_now();
    record.program = program;
    record.virtual_machine = virtual_machine() != nullptr;
    if (facts.carrier) {
        const std::string device = device_of(*facts.carrier, settings.lpt);
        if (!device.empty()) record.device = device;
    }
    if (facts.image_size) {
        const std::string digest = image_sha256(machine_services().images, settings.firmware_file);
        if (!digest.empty()) record.image_sha256 = digest;
    }
    record.exit_status = exit_status;
    record.check = std::move(check);
    const std::string problem = append_history_line(history_path(), history_line(record));
    return problem.empty() ? std::string() : "the history was not written: " + problem;
}

void Machine::record_downloads(std::string program, std::function<void(const std::string&)> warn) {
    program_ = std::move(program);
    warn_ = std::move(warn);
}

}  // namespace fwup::startup
