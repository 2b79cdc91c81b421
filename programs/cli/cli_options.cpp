#include "programs/cli/cli_options.h"

#include <array>
#include <charconv>
#include <cstdint>

#include "build_version.h"

// The options are parsed by hand rather than with an argument-parsing
// library: the one Debian offers (CLI11) links its configuration-file reader,
// and with it the C++ file streams, into every program that uses it, and the
// Windows command line must not import the runtime functions those need
// (absent from the C runtime of Windows 98 and 2000). The table below is the
// single declaration of every option: parsing, --help and the usage line all
// come from it.

namespace fwup::cli {

namespace {

constexpr char kProgramName[] = "fwupgrade-cli";

enum class Id {
    Help, Version, Config, VirtualPrinter, Device, Network, SnmpCommunity, SnmpPort, Yes, Json, CheckAfter, NoHistory
};

struct Declared {
    Id id;
    const char* name;        // "--name"
    const char* short_name;  // "-x", or nullptr
    const char* value;       // the value's name for options that take one, else nullptr
    bool in_usage;           // shown in the one-line synopsis
    const char* help;
};

constexpr std::array kOptions{
    Declared{Id::Help, "--help", "-h", nullptr, false, "print this help and exit"},
    Declared{Id::Version, "--version", nullptr, nullptr, false, "print the program's version and exit"},
    Declared{Id::Config, "--config", nullptr, "FILE", true,
             "settings to read instead of FWINFO.INI in the current directory"},
    Declared{Id::VirtualPrinter, "--virtual-printer", nullptr, "FILE", true,
             "run against the virtual machine that FILE describes"},
    Declared{Id::Device, "--device", nullptr, "PATH", true,
             "the printer to use (verify, upgrade): a USB printer's device path, e.g. /dev/usb/lp1, a network "
             "printer's raw port, socket://HOST[:PORT] (port 9100 by default), or on a virtual machine its "
             "section, e.g. Printer2"},
    Declared{Id::Network, "--network", nullptr, "HOST", false,
             "list: the network printers at HOST (HOST[:PORT]); further hosts may follow"},
    Declared{Id::SnmpCommunity, "--snmp-community", nullptr, "NAME", false,
             "the SNMP community a network printer's ID is read with (public by default)"},
    Declared{Id::SnmpPort, "--snmp-port", nullptr, "PORT", false,
             "the UDP port of a network printer's SNMP agent (161 by default)"},
    Declared{Id::Yes, "--yes", "-y", nullptr, true, "answer the upgrade confirmation with Yes"},
    Declared{Id::Json, "--json", nullptr, nullptr, true,
             "print one JSON document on stdout at the end; the lines and the progress go to stderr"},
    Declared{Id::CheckAfter, "--check-after", nullptr, nullptr, true,
             "after a firmware upgrade, verify again that the printer reports the image's version"},
    Declared{Id::NoHistory, "--no-history", nullptr, nullptr, true,
             "do not add this run to the history of what was flashed"},
};

constexpr char kCommands[] = "verify|upgrade|list|history";

constexpr char kCommandHelp[] =
    "  verify                     press \"Verify Information\" once\n"
    "  upgrade                    verify, then press \"Upgrade Now\" when the printer needs the image;\n"
    "                             with several USB printers attached, only with --device\n"
    "  list                       every printer the program can reach; nothing is sent to any;\n"
    "                             with --network, the network printers at the hosts named\n"
    "  history                    the record of every run that sent an image, newest last\n";

constexpr char kExitStatuses[] =
    "Exit status:\n"
    "  0  verify: the printer is ready for the image, or needs none;\n"
    "     upgrade: the image was written, or the printer needs none\n"
    "  1  any other ending, the confirmation answered No included;\n"
    "     list: no printer found; history: the history cannot be read\n"
    "  2  a usage error, a settings file that cannot be read, a refused\n"
    "     virtual machine file, a --device that names no printer, or an\n"
    "     upgrade with several USB printers attached and no --device\n"
    "  3  --check-after: the printer reports another version than the image's\n"
    "  4  --check-after: the printer reports no version after the upgrade\n";

std::string needs(const Declared& option) {
    const std::string value = option.value;
    if (value == "FILE") return " needs a file name";
    if (value == "HOST") return " needs a host";
    if (value == "NAME") return " needs a community";
    if (value == "PORT") return " needs a port number";
    return " needs a device path";
}

std::optional<std::uint16_t> port_number(const std::string& text) {
    std::uint16_t port = 0;
    const char* end = text.data() + text.size();
    const auto [stop, fault] = std::from_chars(text.data(), end, port);
    if (fault != std::errc() || stop != end || port == 0) return std::nullopt;
    return port;
}

bool command_word(const std::string& word) {
    return word == "verify" || word == "upgrade" || word == "list" || word == "history";
}

const Declared* find_option(const std::string& word) {
    for (const Declared& option : kOptions) {
        if (word == option.name || (option.short_name != nullptr && word == option.short_name)) return &option;
    }
    return nullptr;
}

std::string help_text() {
    std::string text = "Verifies a printer's firmware version and upgrades it.\n" + usage_line() + "\nOptions:\n";
    for (const Declared& option : kOptions) {
        std::string left = "  ";
        if (option.short_name != nullptr) left += std::string(option.short_name) + ",";
        left += option.name;
        if (option.value != nullptr) left += std::string(" ") + option.value;
        left.resize(left.size() < 29 ? 29 : left.size() + 1, ' ');
        text += left + option.help + "\n";
    }
    text += std::string("\nCommands (") + kCommands + "):\n" + kCommandHelp + "\n" + kExitStatuses;
    return text;
}

}  // namespace

std::string usage_line() {
    std::string line = std::string("usage: ") + kProgramName;
    for (const Declared& option : kOptions) {
        if (!option.in_usage) continue;
        line += std::string(" [") + option.name;
        if (option.value != nullptr) line += std::string(" ") + option.value;
        line += "]";
    }
    return line + " " + kCommands + "\n";
}

ParseResult parse_arguments(const std::vector<std::string>& args) {
    ParseResult result;
    CliOptions options;
    std::optional<Command> command;
    bool config_seen = false;
    bool version_asked = false;
    const auto fail = [&result](std::string message) {
        result.error = std::move(message);
        return result;
    };

    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg.rfind('-', 0) != 0) {
            if (command) return fail("more than one command: " + arg);
            if (arg == "verify") {
                command = Command::Verify;
            } else if (arg == "upgrade") {
                command = Command::Upgrade;
            } else if (arg == "list") {
                command = Command::List;
            } else if (arg == "history") {
                command = Command::History;
            } else {
                return fail("unknown command " + arg);
            }
            continue;
        }
        std::string word = arg;
        std::optional<std::string> value;
        if (const auto eq = arg.find('='); arg.rfind("--", 0) == 0 && eq != std::string::npos) {
            word = arg.substr(0, eq);
            value = arg.substr(eq + 1);
        }
        const Declared* option = find_option(word);
        if (option == nullptr) return fail("unknown option " + word);
        if (option->value == nullptr) {
            if (value) return fail(std::string(option->name) + " takes no value");
        } else {
            if (!value) {
                if (i + 1 >= args.size()) return fail(std::string(option->name) + needs(*option));
                value = args[++i];
            }
            if (value->empty()) return fail(std::string(option->name) + needs(*option));
        }
        switch (option->id) {
        case Id::Help:
            result.text = help_text();
            return result;
        case Id::Version:
            version_asked = true;
            break;
        case Id::Config:
            if (config_seen) return fail("--config given twice");
            config_seen = true;
            options.config = *value;
            break;
        case Id::VirtualPrinter:
            if (options.virtual_printer) return fail("--virtual-printer given twice");
            options.virtual_printer = *value;
            break;
        case Id::Device:
            if (options.device) return fail("--device given twice");
            options.device = *value;
            break;
        case Id::Network:
            options.network_hosts.push_back(*value);
            // "list --network a b": the hosts that follow belong to it.
            while (i + 1 < args.size() && args[i + 1].rfind('-', 0) != 0 && !command_word(args[i + 1])) {
                options.network_hosts.push_back(args[++i]);
            }
            break;
        case Id::SnmpCommunity:
            options.snmp_community = *value;
            break;
        case Id::SnmpPort: {
            const std::optional<std::uint16_t> port = port_number(*value);
            if (!port) return fail("--snmp-port needs a port number from 1 to 65535, not " + *value);
            options.snmp_port = *port;
            break;
        }
        case Id::NoHistory:
            options.history = false;
            break;
        case Id::Yes:
            options.yes = true;
            break;
        case Id::Json:
            options.json = true;
            break;
        case Id::CheckAfter:
            options.check_after = true;
            break;
        }
    }
    // --version answers whatever else the line says, as --help does.
    if (version_asked) {
        result.text = build::version_text(kProgramName);
        return result;
    }
    if (!command) return fail("no command: say verify, upgrade, list or history");
    if (options.device && (*command == Command::List || *command == Command::History)) {
        return fail("--device goes with verify or upgrade");
    }
    if (!options.network_hosts.empty() && *command != Command::List) return fail("--network goes with list");
    options.command = *command;
    result.options = options;
    return result;
}

}  // namespace fwup::cli
