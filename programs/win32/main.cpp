// fwupgrade.exe: start-up of the Windows program.
#include <windows.h>

#include <commctrl.h>

#include <memory>
#include <string>

#include "programs/startup/machine.h"
#include "programs/win32/dialog_window.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE /*previous*/, LPSTR /*command_line*/, int /*show*/) {
    InitCommonControls();  // the progress bar's window class

    using fwup::startup::kVirtualPrinterVariable;
    std::string error;
    const std::unique_ptr<fwup::startup::Machine> machine = fwup::startup::Machine::from_environment(error);
    if (!machine) {
        MessageBoxA(nullptr, error.c_str(), kVirtualPrinterVariable, MB_OK | MB_ICONERROR);
        return 1;
    }
    machine->run_program([instance](fwup::UpgradeDialog& dialog) {
        fwup::DialogWindow window(instance, dialog);
        static_cast<void>(window.run());
    });
    const std::string problem = machine->recording_problem();
    if (!problem.empty()) {
        MessageBoxA(nullptr, problem.c_str(), kVirtualPrinterVariable, MB_OK | MB_ICONERROR);
        return 1;
    }
    return 0;
}
