// fwupgrade.exe: start-up of the Windows program.
#include <windows.h>

#include <commctrl.h>

#include <cstdlib>
#include <memory>
#include <string>

#include "app/dialog/upgrade_app.h"
#include "app/win32/dialog_window.h"
#include "app/win32/win32_system.h"
#include "sim/machine/virtual_machine.h"

namespace {

// Names a virtual machine file: the program then runs on that machine and its
// virtual printers instead of the real ports, USB library and clock.
constexpr char kVirtualPrinterVariable[] = "FWUPGRADE_VIRTUAL_PRINTER";

// The settings file, always in the current directory.
constexpr char kSettingsFile[] = ".\\FWINFO.INI";

void run(HINSTANCE instance, fwup::OsVersionSource& os, fwup::DialogServices services) {
    fwup::UpgradeApp app(fwup::AppEnvironment{os, std::move(services), kSettingsFile});
    // No message loop follows the dialog: the program ends with it.
    static_cast<void>(app.init_instance([instance](fwup::UpgradeDialog& dialog) {
        fwup::DialogWindow window(instance, dialog);
        static_cast<void>(window.run());
    }));
}

int run_on_virtual_machine(HINSTANCE instance, const char* file) {
    std::string error;
    const std::unique_ptr<fwup::sim::VirtualMachine> machine = fwup::sim::load_virtual_machine(file, error);
    if (!machine) {
        MessageBoxA(nullptr, error.c_str(), kVirtualPrinterVariable, MB_OK | MB_ICONERROR);
        return 1;
    }
    run(instance, machine->os_version(),
        fwup::DialogServices{machine->parallel_ports(), machine->image_files(), machine->clock(),
                             machine->library_loader()});
    const std::string problem = machine->recording_problem();
    if (!problem.empty()) {
        MessageBoxA(nullptr, problem.c_str(), kVirtualPrinterVariable, MB_OK | MB_ICONERROR);
        return 1;
    }
    return 0;
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE /*previous*/, LPSTR /*command_line*/, int /*show*/) {
    InitCommonControls();  // the progress bar's window class

    const char* virtual_machine = std::getenv(kVirtualPrinterVariable);
    if (virtual_machine != nullptr && *virtual_machine != '\0') return run_on_virtual_machine(instance, virtual_machine);

    fwup::Win32System system;
    run(instance, system.os_version(), system.services());
    return 0;
}
