#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/dialog/upgrade_app.h"

namespace fwup::cli {

enum class Command { Verify, Upgrade, List, History };

struct CliOptions {
    std::string config = kSettingsFile;  // as given; relative paths are taken as they stand
    std::optional<std::string> virtual_printer;
    bool yes = false;
    bool json = false;         // one JSON document on stdout instead of the lines
    bool check_after = false;  // verify again after a firmware upgrade
    std::optional<std::string> device;  // the printer to use, as given (verify, upgrade)
    std::vector<std::string> network_hosts;  // list --network: the hosts to ask
    std::string snmp_community = "public";   // how a network printer's ID is asked for
    std::uint16_t snmp_port = 161;
    bool history = true;                // record a download in the history
    Command command = Command::Verify;
};

// The exit statuses of fwupgrade-cli.
constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

struct ParseResult {
    std::optional<CliOptions> options;  // empty: a usage error, or `text` answers the call
    std::string error;                  // the usage error; empty when `text` answers
    std::string text;                   // --help or --version: print it on stdout, exit 0
};

// `args` excludes the program name. Accepts `--opt value` and `--opt=value`.
ParseResult parse_arguments(const std::vector<std::string>& args);

// The one-line synopsis shown after a usage error.
std::string usage_line();

}  // namespace fwup::cli
