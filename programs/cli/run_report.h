#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/config/upgrade_settings.h"
#include "core/devices/attached_printer.h"
#include "core/transfer/procedures.h"

namespace fwup::cli {

// How the check after an upgrade ended, and the exit status each ending gives.
enum class CheckResult { Matches, OtherVersion, NoAnswer };
constexpr int kExitCheckOtherVersion = 3;
constexpr int kExitCheckNoAnswer = 4;

// Judges the verify that ran after an upgrade: whether it read a version at
// all, and whether that is the image's.
CheckResult judge_check(const std::optional<std::int32_t>& version_after, std::int32_t file_version);
int check_exit_status(CheckResult result);
// The line the text output gives the check, e.g. "the printer reports 1.06, the image's version".
std::string describe(CheckResult result, const std::optional<std::int32_t>& version_after,
                     std::int32_t file_version);

// Everything one run of fwupgrade-cli did, as --json reports it.
struct RunReport {
    struct Message {
        std::string text;
        std::string caption;
        std::string icon;    // "question", "error" or "information"
        std::string answer;  // "Yes" or "No" for a question, "OK" otherwise
    };
    struct Check {
        std::optional<std::int32_t> firmware_version;
        CheckResult result = CheckResult::NoAnswer;
    };
    // What a printer of a virtual machine received, so that a person or a
    // script can tell the image arrived whole without keeping its bytes.
    struct VirtualPrinter {
        std::string section;  // the machine file's section, e.g. "Printer"
        std::string port;     // "USB", "LPT1".."LPT3"
        std::uint64_t image_bytes = 0;
        std::string image_sha256;
    };

    std::optional<std::string> command;  // "verify" or "upgrade"; none when the arguments were refused
    bool check_after = false;
    std::optional<UpgradeSettings> settings;
    RunFacts facts;  // from the verify and the download the command pressed
    std::vector<std::string> statuses;
    std::vector<Message> messages;
    std::optional<Check> check;
    std::optional<std::vector<VirtualPrinter>> virtual_printers;  // none when real printers were used
    std::optional<std::string> device;  // the printer the run talked to: its device path or section, or the port
    // Whether the run's record reached the history; none when no record was due
    // (no download command was sent) or the history is off.
    struct History {
        std::string file;
        bool written = false;
    };
    std::optional<History> history;
    std::string download_status;  // the status line when the download ended, before any check
    std::string status;  // the status line at the end
    int exit_status = 0;
    std::optional<std::string> error;  // why the run could not start (exit status 2)
};

// "Virtual printer [Printer] on USB: received 30000 image bytes, SHA-256 …"
std::string describe(const RunReport::VirtualPrinter& printer);

// The check's result as the report and the history name it: "matches", ...
const char* result_name(CheckResult result);

// One printer of `list`, e.g. "USB /dev/usb/lp0: VP-1000, vendor 0x043D, ID MFG:...;"
std::string describe_listed(const AttachedPrinter& printer);

// The document of `list --json`, indented, ending with a newline. `error` is
// why the command could not run (exit status 2).
std::string list_json(const std::vector<AttachedPrinter>& printers, const std::optional<std::string>& virtual_machine,
                      int exit_status, const std::optional<std::string>& error);


// One JSON document, indented, ending with a newline. Texts that are not
// UTF-8 (a printer's identification, a file name in a code page) have their
// stray bytes replaced, so the document is always valid.
std::string to_json(const RunReport& report);

}  // namespace fwup::cli
