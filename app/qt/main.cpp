// fwupgrade on Linux: the dialog program with Qt Widgets.
#include <QApplication>
#include <QMessageBox>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "build_version.h"

#include "app/dialog/upgrade_app.h"
#include "app/linux/linux_system.h"
#include "app/qt/qt_dialog_window.h"
#include "sim/machine/virtual_machine.h"

namespace {

// Names a virtual machine file: the program then runs on that machine and its
// virtual printers instead of the real ports, USB library and clock.
constexpr char kVirtualPrinterVariable[] = "FWUPGRADE_VIRTUAL_PRINTER";

// The settings file, always in the current directory.
constexpr char kSettingsFile[] = "FWINFO.INI";

void run(fwup::OsVersionSource& os, fwup::DialogServices services) {
    fwup::UpgradeApp app(fwup::AppEnvironment{os, std::move(services), kSettingsFile});
    // No event loop follows the dialog: the program ends with it.
    static_cast<void>(app.init_instance([](fwup::UpgradeDialog& dialog) {
        fwup::QtDialogWindow window(dialog);
        static_cast<void>(window.run());
    }));
}

}  // namespace

int main(int argc, char** argv) {
    // Answered before Qt starts, so it works without a display.
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--version") == 0) {
            std::fputs(fwup::build::version_text("fwupgrade").c_str(), stdout);
            return 0;
        }
    }
    QApplication application(argc, argv);

    const char* machine_file = std::getenv(kVirtualPrinterVariable);
    if (machine_file != nullptr && *machine_file != '\0') {
        std::string error;
        const std::unique_ptr<fwup::sim::VirtualMachine> machine = fwup::sim::load_virtual_machine(machine_file, error);
        if (!machine) {
            QMessageBox::critical(nullptr, QStringLiteral("fwupgrade"), QString::fromLocal8Bit(error.c_str()));
            return 2;
        }
        run(machine->os_version(), fwup::DialogServices{machine->parallel_ports(), machine->image_files(),
                                                        machine->clock(), machine->library_loader()});
        return 0;
    }

    fwup::LinuxSystem system;
    run(system.os_version(), system.services());
    return 0;
}
