// fwupgrade on Linux: the dialog program with Qt Widgets.
#include <QApplication>
#include <QMessageBox>

#include <cstdio>
#include <cstring>
#include <memory>
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
