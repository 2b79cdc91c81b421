#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/devices/attached_printer.h"
#include "core/devices/device_choice.h"
#include "core/dialog/upgrade_app.h"
#include "core/dialog/upgrade_dialog.h"
#include "core/platform/platform_flags.h"

namespace fwup::sim {
class VirtualMachine;
}

namespace fwup::startup {

// How a network printer's SNMP agent is asked for the printer's ID.
struct SnmpSettings {
    std::string community = "public";
    std::uint16_t port = 161;  // the agent's UDP port
};

// Names a virtual machine file: a dialog program then runs on that machine and
// its virtual printers instead of the real ports, USB library and clock.
inline constexpr char kVirtualPrinterVariable[] = "FWUPGRADE_VIRTUAL_PRINTER";

// The machine a program runs on: the real system through this platform's
// adapters, or a virtual machine read from a file. Every program starts here,
// so the choice and what a virtual machine changes are made once.
class Machine {
public:
    virtual ~Machine() = default;

    // The real system; nullptr where this build has no adapters for it.
    static std::unique_ptr<Machine> real();
    // The virtual machine of `file`; nullptr with `error` naming the file, the
    // key and the value when the file is refused.
    static std::unique_ptr<Machine> from_file(const std::string& file, std::string& error);
    // A virtual machine when FWUPGRADE_VIRTUAL_PRINTER names a file, else the
    // real system; nullptr with `error` set when either cannot be had.
    static std::unique_ptr<Machine> from_environment(std::string& error);

    virtual OsVersionSource& os_version() = 0;
    // On a virtual machine they carry its name, and the window says so. After
    // a choice of printer they reach that printer alone, and name it.
    DialogServices services();
    // The virtual machine, for a front end that reports on its printers;
    // nullptr on the real system.
    virtual sim::VirtualMachine* virtual_machine() { return nullptr; }
    // A problem writing a virtual machine's recordings, to report at the end;
    // empty when there was none.
    std::string recording_problem();

    // Reads the settings, detects the platform and runs the dialog through
    // `run_dialog` on this machine, as the program's start-up does.
    void run_program(const UpgradeApp::RunDialog& run_dialog, const std::string& settings_file = kSettingsFile);

    // --- Which printer, and the record of what was flashed. ---

    // Every printer this machine can reach, its USB printers first, then the
    // parallel ports LPT1..LPT3 (opened and asked for their ID). Nothing is
    // written to any printer.
    std::vector<AttachedPrinter> list_printers();
    // Decides which USB printer the run talks to, from the address the
    // operator gave (`wanted`, unparsed) and what is attached, and makes the
    // choice: a chosen printer is then the only one the USB port library
    // finds, and no parallel port is reached. `how_to_choose` names the front
    // end's way to name a printer, for the messages. Nothing is written to any
    // printer; the parallel ports are not opened.
    DeviceChoice choose_printer(const std::optional<std::string>& wanted, DeviceIntent intent,
                                std::string_view how_to_choose);
    const DeviceChoice& choice() const { return choice_; }
    // How network printers named from now on are asked for their ID.
    void set_snmp(SnmpSettings settings) { snmp_ = std::move(settings); }
    // The network printers at `hosts` ("HOST", "HOST:PORT" or a socket://
    // address), each asked for its ID and whether its raw port takes a
    // connection; nothing is sent to any printer. An entry that is no
    // address is listed with its problem.
    std::vector<AttachedPrinter> list_network_printers(const std::vector<std::string>& hosts);
    // The device a procedure over `carrier` talked to, as the history names
    // it; empty when it is not known.
    std::string device_of(Carrier carrier, int lpt);

    // Whether this build keeps a history (not on Windows, which writes no
    // files), and where: $XDG_STATE_HOME/fwupgrade/history.jsonl.
    static bool keeps_history();
    // Appends the record of a download to the history: the time, `program`,
    // the device and the image's SHA-256 are added here. Empty when written;
    // otherwise the warning to give (the run's result stays as it is).
    std::string record_download(const RunFacts& facts, const UpgradeSettings& settings, const std::string& status,
                                const std::string& program, std::optional<int> exit_status = std::nullopt,
                                std::optional<std::string> check = std::nullopt);
    // Every download of the dialog is recorded as it ends; a warning that the
    // history could not be written goes to `warn`.
    void record_downloads(std::string program, std::function<void(const std::string&)> warn);

protected:
    virtual DialogServices machine_services() = 0;
    // The printers that can be named, without opening any parallel port: the
    // USB printers (as listing finds them) and, on a virtual machine, the
    // parallel ports' printers by their sections.
    virtual std::vector<AttachedPrinter> named_printers() = 0;
    // Whether the USB printers can be listed and one of them chosen here.
    virtual bool chooses_usb() const { return true; }
    // Leaves `printer` the only USB printer the library finds.
    virtual void reach_only(const AttachedPrinter& printer) = 0;
    // How a list names parallel port `number` (1..3).
    virtual std::string lpt_device(int number);
    // The network printer a chosen address (or a virtual machine's section)
    // reaches; null with `why` set where this build reaches none.
    virtual NetworkPrinter* reach_network(const AttachedPrinter& printer, std::string& why);
    // A network printer at `address` as a list shows it.
    AttachedPrinter probe_network(const DeviceAddress& address);
    const SnmpSettings& snmp() const { return snmp_; }
    // A chosen address made to match the list's own name for the same device
    // (a link to a node); as given where it matches none.
    virtual DeviceAddress as_listed(const DeviceAddress& address, const std::vector<AttachedPrinter>& printers);

private:
    DeviceChoice choice_;
    bool only_chosen_ = false;
    NetworkPrinter* network_ = nullptr;  // the chosen network printer, owned by the machine
    std::unique_ptr<NetworkPrinter> own_network_;  // one reached by its address
    SnmpSettings snmp_;
    std::optional<UpgradeSettings> settings_;  // the dialog's, once run_program read them
    std::string program_;
    std::function<void(const std::string&)> warn_;
};

}  // namespace fwup::startup
