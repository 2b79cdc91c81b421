#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "programs/cli/cli_options.h"
#include "programs/cli/cli_runner.h"
#include "programs/cli/console_dialog.h"
#include "programs/cli/library_texts.h"

namespace fwup::cli {
namespace {

TEST(CliArguments, AcceptsTheDocumentedForms) {
    struct Row {
        std::vector<std::string> args;
        Command command;
        std::string config;
        std::string machine;  // empty: none
        bool yes;
        std::string device = {};  // empty: none
        bool history = true;
    };
    const std::vector<Row> rows{
        {{"verify"}, Command::Verify, "FWINFO.INI", "", false},
        {{"upgrade", "--yes"}, Command::Upgrade, "FWINFO.INI", "", true},
        {{"--config", "a.ini", "verify"}, Command::Verify, "a.ini", "", false},
        {{"--config=b.ini", "--virtual-printer=vm.ini", "-y", "upgrade"}, Command::Upgrade, "b.ini", "vm.ini", true},
        {{"--virtual-printer", "x y.ini", "upgrade"}, Command::Upgrade, "FWINFO.INI", "x y.ini", false},
        {{"--device", "/dev/usb/lp1", "upgrade"}, Command::Upgrade, "FWINFO.INI", "", false, "/dev/usb/lp1"},
        {{"verify", "--device=Printer2", "--no-history"}, Command::Verify, "FWINFO.INI", "", false, "Printer2", false},
        {{"list"}, Command::List, "FWINFO.INI", "", false},
        {{"--json", "history"}, Command::History, "FWINFO.INI", "", false},
    };
    for (const Row& row : rows) {
        const ParseResult result = parse_arguments(row.args);
        ASSERT_TRUE(result.options) << result.error;
        EXPECT_EQ(result.options->command, row.command);
        EXPECT_EQ(result.options->config, row.config);
        EXPECT_EQ(result.options->virtual_printer.value_or(""), row.machine);
        EXPECT_EQ(result.options->yes, row.yes);
        EXPECT_EQ(result.options->device.value_or(""), row.device);
        EXPECT_EQ(result.options->history, row.history);
    }
    // The hosts after --network are its own until the next option or command.
    const ParseResult hosts =
        parse_arguments({"list", "--network", "a", "b:9101", "--snmp-port=1161", "--network=c", "--snmp-community", "x"});
    ASSERT_TRUE(hosts.options) << hosts.error;
    EXPECT_EQ(hosts.options->network_hosts, (std::vector<std::string>{"a", "b:9101", "c"}));
    EXPECT_EQ(hosts.options->snmp_port, 1161);
    EXPECT_EQ(hosts.options->snmp_community, "x");
}

TEST(CliArguments, RefusesEverythingElseWithAReason) {
    struct Row {
        std::vector<std::string> args;
        std::string error;
    };
    const std::vector<Row> rows{
        {{}, "no command: say verify, upgrade, list or history"},
        {{"--yes"}, "no command: say verify, upgrade, list or history"},
        {{"--device", "upgrade"}, "no command: say verify, upgrade, list or history"},
        {{"upgrade", "--device"}, "--device needs a device path"},
        {{"--device=", "upgrade"}, "--device needs a device path"},
        {{"--device=a", "--device=b", "verify"}, "--device given twice"},
        {{"--device=/dev/usb/lp0", "list"}, "--device goes with verify or upgrade"},
        {{"history", "--device", "Printer"}, "--device goes with verify or upgrade"},
        {{"list", "history"}, "more than one command: history"},
        {{"flash"}, "unknown command flash"},
        {{"verify", "upgrade"}, "more than one command: upgrade"},
        {{"--config"}, "--config needs a file name"},
        {{"--config="}, "--config needs a file name"},
        {{"verify", "--virtual-printer"}, "--virtual-printer needs a file name"},
        {{"--config", "a", "--config", "b", "verify"}, "--config given twice"},
        {{"--virtual-printer=a", "--virtual-printer=b", "verify"}, "--virtual-printer given twice"},
        {{"--force", "verify"}, "unknown option --force"},
        {{"verify", "--yes=0"}, "--yes takes no value"},
        {{"--json=1", "verify"}, "--json takes no value"},
        {{"verify", "--network", "printer"}, "--network goes with list"},
        {{"list", "--network"}, "--network needs a host"},
        {{"--snmp-community=", "verify"}, "--snmp-community needs a community"},
        {{"--snmp-port", "70000", "verify"}, "--snmp-port needs a port number from 1 to 65535, not 70000"},
        {{"--snmp-port=161x", "list"}, "--snmp-port needs a port number from 1 to 65535, not 161x"},
    };
    for (const Row& row : rows) {
        const ParseResult result = parse_arguments(row.args);
        EXPECT_FALSE(result.options);
        EXPECT_EQ(result.error, row.error);
    }
}

TEST(CliArguments, HelpAndVersionAnswerInsteadOfRunning) {
    for (const char* flag : {"--help", "-h"}) {
        const ParseResult help = parse_arguments({"verify", flag});
        EXPECT_FALSE(help.options);
        EXPECT_TRUE(help.error.empty());
        // Every option, the commands and every exit status are in the help.
        for (const char* part : {"--config FILE", "--virtual-printer FILE", "-y,--yes", "--version", "-h,--help",
                                 "--device PATH", "--no-history", "--network HOST", "--snmp-community NAME", "--snmp-port PORT", "verify|upgrade|list|history", "\n  list ",
                                 "\n  history ", "\n  0  verify", "\n  1  ", "\n  2  "}) {
            EXPECT_NE(help.text.find(part), std::string::npos) << part << " missing in\n" << help.text;
        }
    }
    const ParseResult version = parse_arguments({"--version", "upgrade"});
    EXPECT_FALSE(version.options);
    EXPECT_TRUE(version.error.empty());
    EXPECT_EQ(version.text.rfind("fwupgrade-cli 1.", 0), 0u) << version.text;
    EXPECT_EQ(usage_line(), "usage: fwupgrade-cli [--config FILE] [--virtual-printer FILE] [--device PATH] [--yes] "
              "[--json] [--check-after] [--no-history] verify|upgrade|list|history\n");
}

TEST(ConsoleDialog, PrintsOnlyVisibleChangesOfLabelledTexts) {
    std::ostringstream out;
    ConsoleDialog dialog(out, nullptr, nullptr);
    dialog.set_title("F/W Upgrade Utility for Windows 95/98 (V1.06)");
    dialog.set_text(IDC_MODEL_NAME, "LP-1");
    dialog.set_text(IDC_FW_FILE, "fw.bin");
    dialog.set_text(IDC_FILE_VERSION, "1.06");
    dialog.set_text(IDC_FW_VERSION, "...");  // unchanged: nothing to print
    dialog.set_text(IDC_STATUS, "Ready to upgrade...");
    dialog.set_text(IDC_STATUS, "Ready to upgrade...");
    dialog.set_text(IDC_UPGRADE_NOW, "Download Now");  // a caption, not a labelled text
    dialog.set_text(IDC_FW_VERSION, "1.00");
    dialog.message_box("Can't find 'veltport.dll' file", "caption", MessageIcon::Error);
    EXPECT_EQ(out.str(),
              "Model Name: LP-1\nF/W File: fw.bin\nFile Version: 1.06\nStatus: Ready to upgrade...\n"
              "F/W Version: 1.00\nMessage: Can't find 'veltport.dll' file\n");
    EXPECT_EQ(dialog.status(), "Ready to upgrade...");
}

TEST(ConsoleDialog, ConfirmationIsOneMessageLineAndTheAnswer) {
    for (const bool answer : {true, false}) {
        std::ostringstream out;
        std::string asked;
        ConsoleDialog dialog(out, nullptr, [&](const std::string& q) {
            asked = q;
            return answer;
        });
        EXPECT_EQ(dialog.ask_yes_no("First line.\nSecond?", "Confirm upgrade"), answer);
        EXPECT_EQ(asked, "First line.\nSecond?");
        EXPECT_EQ(out.str(), std::string("Message: First line. Second?\nAnswer: ") + (answer ? "Yes" : "No") + "\n");
    }
    std::ostringstream out;
    ConsoleDialog no_answerer(out, nullptr, nullptr);
    EXPECT_FALSE(no_answerer.ask_yes_no("Sure?", "Confirm upgrade"));
}

TEST(ConsoleDialog, DrawsProgressOnlyWhileShownAndClearsItAroundLines) {
    std::ostringstream out;
    std::ostringstream bar;
    ConsoleDialog dialog(out, &bar, nullptr);
    dialog.set_progress_pos(0);
    EXPECT_EQ(bar.str(), "") << "hidden: nothing drawn";
    dialog.show(IDC_PROGRESS, true);
    dialog.set_progress_range(200);
    dialog.set_progress_pos(100);
    dialog.set_progress_pos(101);  // same percentage: no redraw
    const std::string half = "\r[" + std::string(20, '#') + std::string(20, ' ') + "] 50%";
    EXPECT_NE(bar.str().find(half), std::string::npos);
    EXPECT_EQ(bar.str().find(half), bar.str().rfind(half));
    dialog.set_text(IDC_STATUS, "Writing complete");
    EXPECT_EQ(out.str(), "Status: Writing complete\n");
    dialog.show(IDC_PROGRESS, false);
    const std::string drawn = bar.str();
    EXPECT_EQ(drawn.substr(drawn.size() - 4), "\r\033[K");
    dialog.set_progress_range(0xFFFFFFFFu);
    dialog.set_progress_pos(0xFFFFFFFFu);
    EXPECT_EQ(bar.str(), drawn) << "hidden again";
}

// What the USB port library prints on standard output reaches the CLI's lines
// in its own form, but always ends its line before the next one of the CLI's.
TEST(LibraryTexts, EndEveryTextBeforeTheCliGoesOn) {
    struct Row {
        const char* name;
        std::vector<std::string> printed;
        std::string passed_on;
    };
    const std::vector<Row> rows = {
        {"nothing printed", {}, ""},
        {"a text without a line end", {"Failed to open () = 259"}, "Failed to open () = 259\n"},
        {"a text with its line end", {"FAILED to open A\n"}, "FAILED to open A\n"},
        {"more than a pipe's read at once", {std::string(10000, 'x')}, std::string(10000, 'x') + "\n"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        std::ostringstream shown;
        {
            const std::unique_ptr<LibraryTexts> texts = LibraryTexts::capture();
            ASSERT_TRUE(texts);
            for (const std::string& text : row.printed) std::fputs(text.c_str(), stdout);
            texts->pass_on(shown);
            EXPECT_EQ(shown.str(), row.passed_on);
            texts->pass_on(shown);
            EXPECT_EQ(shown.str(), row.passed_on) << "passed on once";
        }
    }
}

// A library that prints more than the pipe holds between two lines must not
// stop the program; what does not fit may be lost.
TEST(LibraryTexts, MoreThanThePipeHoldsDoesNotStopTheProgram) {
    std::ostringstream shown;
    {
        const std::unique_ptr<LibraryTexts> texts = LibraryTexts::capture();
        ASSERT_TRUE(texts);
        const std::string flood(1 << 20, 'y');
        std::fputs(flood.c_str(), stdout);
        texts->pass_on(shown);
        std::fputs("after", stdout);
        texts->pass_on(shown);
        std::clearerr(stdout);
    }
    const std::string got = shown.str();
    ASSERT_GE(got.size(), 6u);
    EXPECT_EQ(got.find_first_not_of('y'), got.find('\n')) << "a run of the flood, ended";
    EXPECT_EQ(got.substr(got.size() - 6), "after\n");
}

// The terminal's bar, drawn on the same stream as the lines: full before the
// completion text, as in the dialogs.
TEST(CliRun, TerminalBarIsFullWhenTheImageIsWritten) {
    namespace fs = std::filesystem;
    const fs::path dir = fs::temp_directory_path() / "fwup-cli-unit-bar";
    fs::remove_all(dir);
    fs::create_directories(dir);
    std::ofstream(dir / "fw.bin", std::ios::binary) << std::string(20'050, 'x');
    std::ofstream(dir / "FWINFO.INI") << "[Download]\nModel=VP-1000\n[VP-1000]\nFW_File=" << (dir / "fw.bin").string()
                                      << "\nFile_Ver=106\n";
    std::ofstream(dir / "vm.ini") << "[Machine]\nClock=virtual\n[Printer]\nDeviceID=MODEL:VP-1000;\n";
    std::stringstream terminal;
    std::istringstream in;
    const int status = run_cli({"--config", (dir / "FWINFO.INI").string(), "--virtual-printer",
                                (dir / "vm.ini").string(), "--yes", "upgrade"},
                               CliIo{terminal, terminal, in, false, true, {}});
    fs::remove_all(dir);
    EXPECT_EQ(status, kExitOk);
    const std::string shown = terminal.str();
    const std::size_t complete = shown.find("Status: Writing complete");
    ASSERT_NE(complete, std::string::npos) << shown;
    const std::size_t last_bar = shown.rfind("\r[", complete);
    ASSERT_NE(last_bar, std::string::npos);
    const std::string full = "\r[" + std::string(40, '#') + "] 100%";
    EXPECT_EQ(shown.substr(last_bar, full.size()), full) << shown;
}

}  // namespace
}  // namespace fwup::cli
