#include "programs/startup/machine.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <memory>
#include <string>

#include "sim/machine/virtual_machine.h"
#include "tests/support/recording_dialog.h"

namespace fwup::startup {
namespace {

// What FWUPGRADE_VIRTUAL_PRINTER chooses, and what the window then says.
TEST(Machine, TheVariableChoosesAVirtualMachineAndTheWindowSaysSo) {
    struct Row {
        const char* variable;  // nullptr: not set
        bool chosen;
        bool simulated;
        std::string title;
        std::string error;
    };
    const std::string example = FWUP_EXAMPLES_DIR "/usb-win2000.ini";
    const Row rows[] = {
        {nullptr, true, false, "F/W Upgrade Utility for Windows 95/98 (V1.06)", ""},
        {"", true, false, "F/W Upgrade Utility for Windows 95/98 (V1.06)", ""},
        {example.c_str(), true, true, "[Virtual printer] F/W Upgrade Utility for Windows 95/98 (V1.06)", ""},
        {"no-such-machine.ini", false, false, "", "no-such-machine.ini"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.variable == nullptr ? "(unset)" : row.variable);
        if (row.variable == nullptr) {
            unsetenv(kVirtualPrinterVariable);
        } else {
            setenv(kVirtualPrinterVariable, row.variable, 1);
        }
        std::string error;
        const std::unique_ptr<Machine> machine = Machine::from_environment(error);
        unsetenv(kVirtualPrinterVariable);
        ASSERT_EQ(machine != nullptr, row.chosen) << error;
        if (!machine) {
            EXPECT_NE(error.find(row.error), std::string::npos) << error;
            continue;
        }
        EXPECT_EQ(machine->virtual_machine() != nullptr, row.simulated);
        EXPECT_EQ(machine->services().virtual_machine, row.simulated ? "usb-win2000.ini" : "");
        test::RecordingDialog window;
        // A settings file that is not there: the defaults, as for any program.
        machine->run_program([&](UpgradeDialog& dialog) { static_cast<void>(dialog.initialise(window)); },
                             "no-such-settings.ini");
        EXPECT_EQ(window.title, row.title);
        EXPECT_EQ(machine->recording_problem(), "");
    }
}

}  // namespace
}  // namespace fwup::startup
