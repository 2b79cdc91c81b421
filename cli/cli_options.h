#pragma once
#include <optional>
#include <string>
#include <vector>

namespace fwup::cli {

enum class Command { Verify, Upgrade };

struct CliOptions {
    std::string config = "FWINFO.INI";  // as given; relative paths are taken as they stand
    std::optional<std::string> virtual_printer;
    bool yes = false;
    Command command = Command::Verify;
};

// The exit statuses of fwupgrade-cli.
constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

constexpr const char* kUsage =
    "usage: fwupgrade-cli [--config FILE] [--virtual-printer FILE] [--yes] verify|upgrade\n"
    "  verify     press \"Verify Information\" once\n"
    "  upgrade    verify, then press \"Upgrade Now\" when the printer needs the image\n"
    "  --config FILE           settings to read instead of FWINFO.INI in the current directory\n"
    "  --virtual-printer FILE  run against the virtual machine that FILE describes\n"
    "  --yes                   answer the upgrade confirmation with Yes\n";

struct ParseResult {
    std::optional<CliOptions> options;  // empty: usage error, or help asked
    std::string error;                  // empty when help was asked
};

// `args` excludes the program name. Accepts `--opt value` and `--opt=value`.
ParseResult parse_arguments(const std::vector<std::string>& args);

}  // namespace fwup::cli
