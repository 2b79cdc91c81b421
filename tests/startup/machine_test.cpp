#include "programs/startup/machine.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "programs/startup/history_file.h"
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


// Where the history goes: an absolute XDG_STATE_HOME, else below HOME.
TEST(History, FileFollowsTheStateFolder) {
    struct Row {
        const char* state;  // nullptr: unset
        const char* home;
        std::string path;
    };
    const Row rows[] = {
        {"/s", "/h", "/s/fwupgrade/history.jsonl"},
        {nullptr, "/h", "/h/.local/state/fwupgrade/history.jsonl"},
        {"relative/state", "/h", "/h/.local/state/fwupgrade/history.jsonl"},
        {"", "/h", "/h/.local/state/fwupgrade/history.jsonl"},
        {nullptr, nullptr, ""},
    };
    const std::string state = getenv("XDG_STATE_HOME") ? getenv("XDG_STATE_HOME") : "";
    const std::string home = getenv("HOME") ? getenv("HOME") : "";
    for (const Row& row : rows) {
        row.state ? setenv("XDG_STATE_HOME", row.state, 1) : unsetenv("XDG_STATE_HOME");
        row.home ? setenv("HOME", row.home, 1) : unsetenv("HOME");
        EXPECT_EQ(history_path(), row.path) << (row.state ? row.state : "(unset)");
    }
    setenv("XDG_STATE_HOME", state.c_str(), 1);
    setenv("HOME", home.c_str(), 1);
}

// Programs appending at once: every line arrives whole, none cut into another.
TEST(History, LinesOfProgramsWritingAtOnceNeverInterleave) {
    const std::filesystem::path dir =
        std::filesystem::temp_directory_path() / ("fwup-history-" + std::to_string(getpid()));
    std::filesystem::remove_all(dir);
    const std::string path = (dir / "new" / "history.jsonl").string();
    constexpr int kWriters = 4;
    constexpr int kLines = 200;
    std::vector<pid_t> writers;
    for (int w = 0; w < kWriters; ++w) {
        const pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            const std::string line = "{\"writer\":" + std::to_string(w) + ",\"pad\":\"" + std::string(3000, static_cast<char>('a' + w)) + "\"}\n";
            int failures = 0;
            for (int i = 0; i < kLines; ++i) failures += append_history_line(path, line).empty() ? 0 : 1;
            _exit(failures == 0 ? 0 : 1);
        }
        writers.push_back(pid);
    }
    for (const pid_t pid : writers) {
        int status = 0;
        waitpid(pid, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    std::string text;
    std::string problem;
    ASSERT_TRUE(read_history_file(path, text, problem)) << problem;
    std::size_t lines = 0;
    for (std::size_t at = 0; at < text.size(); ++lines) {
        const std::size_t end = text.find('\n', at);
        ASSERT_NE(end, std::string::npos);
        const std::string line = text.substr(at, end - at);
        const char mark = line.size() > 30 ? line[30] : '?';
        EXPECT_EQ(line, "{\"writer\":" + std::to_string(mark - 'a') + ",\"pad\":\"" + std::string(3000, mark) + "\"}");
        at = end + 1;
    }
    EXPECT_EQ(lines, static_cast<std::size_t>(kWriters * kLines));
    // A missing file is an empty history; a folder in the way is a warning naming it.
    EXPECT_TRUE(read_history_file((dir / "none.jsonl").string(), text, problem));
    EXPECT_EQ(text, "");
    EXPECT_EQ(append_history_line(path + "/below-a-file", "{}\n").rfind(path + ": ", 0), 0u);
    std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace fwup::startup
