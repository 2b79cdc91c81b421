#pragma once
#include <memory>
#include <string>

#include "core/dialog/upgrade_app.h"
#include "core/dialog/upgrade_dialog.h"
#include "core/platform/platform_flags.h"

namespace fwup::sim {
class VirtualMachine;
}

namespace fwup::startup {

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
    // On a virtual machine they carry its name, and the window says so.
    virtual DialogServices services() = 0;
    // The virtual machine, for a front end that reports on its printers;
    // nullptr on the real system.
    virtual sim::VirtualMachine* virtual_machine() { return nullptr; }
    // A problem writing a virtual machine's recordings, to report at the end;
    // empty when there was none.
    std::string recording_problem();

    // Reads the settings, detects the platform and runs the dialog through
    // `run_dialog` on this machine, as the program's start-up does.
    void run_program(const UpgradeApp::RunDialog& run_dialog, const std::string& settings_file = kSettingsFile);
};

}  // namespace fwup::startup
