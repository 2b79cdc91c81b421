#include "cli/cli_options.h"

namespace fwup::cli {

ParseResult parse_arguments(const std::vector<std::string>& args) {
    ParseResult result;
    CliOptions options;
    std::optional<Command> command;
    bool config_seen = false;
    const auto fail = [&result](std::string message) {
        result.error = std::move(message);
        return result;
    };

    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--help" || arg == "-h") return result;  // no options, no error: print usage, exit 0
        if (arg == "--yes" || arg == "-y") {
            options.yes = true;
            continue;
        }
        std::string name = arg;
        std::optional<std::string> value;
        if (const auto eq = arg.find('='); arg.rfind("--", 0) == 0 && eq != std::string::npos) {
            name = arg.substr(0, eq);
            value = arg.substr(eq + 1);
        }
        if (name == "--config" || name == "--virtual-printer") {
            if (!value) {
                if (i + 1 >= args.size()) return fail(name + " needs a file name");
                value = args[++i];
            }
            if (value->empty()) return fail(name + " needs a file name");
            if (name == "--config") {
                if (config_seen) return fail("--config given twice");
                config_seen = true;
                options.config = *value;
            } else {
                if (options.virtual_printer) return fail("--virtual-printer given twice");
                options.virtual_printer = *value;
            }
            continue;
        }
        if (arg.rfind("-", 0) == 0) return fail("unknown option " + arg);
        if (command) return fail("more than one command: " + arg);
        if (arg == "verify") {
            command = Command::Verify;
        } else if (arg == "upgrade") {
            command = Command::Upgrade;
        } else {
            return fail("unknown command " + arg);
        }
    }
    if (!command) return fail("no command: say verify or upgrade");
    options.command = *command;
    result.options = options;
    return result;
}

}  // namespace fwup::cli
