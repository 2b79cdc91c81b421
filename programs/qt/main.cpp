// fwupgrade on Linux: the dialog program with Qt Widgets.
#include <QApplication>
#include <QMessageBox>

#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <string>

#include "build_version.h"

#include "programs/qt/qt_dialog_window.h"
#include "programs/startup/machine.h"

int main(int argc, char** argv) {
    // Answered before Qt starts, so it works without a display.
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--version") == 0) {
            std::fputs(fwup::build::version_text("fwupgrade").c_str(), stdout);
            return 0;
        }
    }
    QApplication application(argc, argv);

    std::string error;
    const std::unique_ptr<fwup::startup::Machine> machine = fwup::startup::Machine::from_environment(error);
    if (!machine) {
        QMessageBox::critical(nullptr, QStringLiteral("fwupgrade"), QString::fromLocal8Bit(error.c_str()));
        return 2;
    }
    // The dialog only reads before its own Upgrade Now, so with several USB
    // printers it talks to the first that opens and its title says which;
    // VELTPORT_DEVICE names another.
    const fwup::DeviceChoice choice =
        machine->choose_printer(std::nullopt, fwup::DeviceIntent::Verify, fwup::kDeviceVariable);
    if (choice.refused()) {
        QMessageBox::critical(nullptr, QStringLiteral("fwupgrade"), QString::fromLocal8Bit(choice.message.c_str()));
        return 2;
    }
    machine->record_downloads("fwupgrade", [](const std::string& warning) {
        std::fprintf(stderr, "fwupgrade: warning: %s\n", warning.c_str());
    });
    machine->run_program([](fwup::UpgradeDialog& dialog) {
        fwup::QtDialogWindow window(dialog);
        static_cast<void>(window.run());
    });
    const std::string problem = machine->recording_problem();
    if (!problem.empty()) {
        QMessageBox::critical(nullptr, QStringLiteral("fwupgrade"), QString::fromLocal8Bit(problem.c_str()));
        return 1;
    }
    return 0;
}
