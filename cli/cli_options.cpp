#include "cli/cli_options.h"

#include <CLI/CLI.hpp>

#include <string_view>

#include "build_version.h"

namespace fwup::cli {

namespace {

constexpr char kProgramName[] = "fwupgrade-cli";

constexpr char kFooter[] =
    "Exit status:\n"
    "  0  verify: the printer is ready for the image, or needs none;\n"
    "     upgrade: the image was written, or the printer needs none\n"
    "  1  any other ending, the confirmation answered No included\n"
    "  2  a usage error, a settings file that cannot be read, or a refused\n"
    "     virtual machine file\n"
    "  3  --check-after: the printer reports another version than the image's\n"
    "  4  --check-after: the printer reports no version after the upgrade\n";

// Every option of fwupgrade-cli is declared here, once: parsing, --help and
// the usage line all come from these declarations.
struct Declared {
    CLI::Option* config = nullptr;
    CLI::Option* virtual_printer = nullptr;
    CLI::Option* version = nullptr;
};

Declared declare_options(CLI::App& app, CliOptions& options, std::string& command_word, std::string& machine) {
    Declared declared;
    app.set_help_flag("-h,--help", "print this help and exit");
    declared.version = app.add_flag("--version")->description("print the program's version and exit")
                           ->disable_flag_override();
    // A value option given twice is refused below, not silently overridden.
    declared.config = app.add_option("--config", options.config,
                                     "settings to read instead of FWINFO.INI in the current directory")
                          ->type_name("FILE")
                          ->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
    declared.virtual_printer = app.add_option("--virtual-printer", machine,
                                              "run against the virtual machine that FILE describes")
                                   ->type_name("FILE")
                                   ->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
    app.add_flag("-y,--yes", options.yes, "answer the upgrade confirmation with Yes")->disable_flag_override();
    app.add_flag("--json", options.json,
                 "print one JSON document on stdout at the end; the lines and the progress go to stderr")
        ->disable_flag_override();
    app.add_flag("--check-after", options.check_after,
                 "after a firmware upgrade, verify again that the printer reports the image's version")
        ->disable_flag_override();
    app.add_option("command", command_word,
                   "verify: press \"Verify Information\" once\n"
                   "upgrade: verify, then press \"Upgrade Now\"\n"
                   "         when the printer needs the image")
        ->type_name("verify|upgrade");
    return declared;
}

// A parser set up with every option, bound to the given results.
std::unique_ptr<CLI::App> make_app(CliOptions& options, std::string& command_word, std::string& machine,
                                   Declared& declared) {
    auto app = std::make_unique<CLI::App>("Verifies a printer's firmware version and upgrades it.", kProgramName);
    declared = declare_options(*app, options, command_word, machine);
    app->footer(kFooter);
    app->get_formatter()->column_width(30);
    app->allow_extras();  // unknown options and further words are reported below in our own words
    return app;
}

}  // namespace

std::string usage_line() {
    CliOptions options;
    std::string command_word;
    std::string machine;
    Declared declared;
    const auto app = make_app(options, command_word, machine, declared);
    std::string line = std::string("usage: ") + kProgramName;
    std::string positional;
    for (const CLI::Option* option : app->get_options()) {
        if (option == app->get_help_ptr() || option == declared.version) continue;
        if (option->get_positional()) {
            positional += " " + option->get_type_name();
            continue;
        }
        line += " [--" + option->get_lnames().front();
        if (!option->get_type_name().empty()) line += " " + option->get_type_name();
        line += "]";
    }
    return line + positional + "\n";
}

ParseResult parse_arguments(const std::vector<std::string>& args) {
    ParseResult result;
    CliOptions options;
    std::string command_word;
    std::string machine;
    Declared declared;
    const auto app = make_app(options, command_word, machine, declared);
    const auto fail = [&result](std::string message) {
        result.error = std::move(message);
        return result;
    };

    std::vector<std::string> reversed(args.rbegin(), args.rend());  // CLI11 takes the words last first
    try {
        app->parse(reversed);
    } catch (const CLI::CallForHelp&) {
        result.text = app->help();
        return result;
    } catch (const CLI::ArgumentMismatch& e) {
        // CLI11 names the option first; a value option without its value is
        // reported the way the operator reads it everywhere else.
        for (const CLI::Option* option : {declared.config, declared.virtual_printer}) {
            if (std::string_view(e.what()).rfind(option->get_name() + ":", 0) == 0) {
                return fail(option->get_name() + " needs a file name");
            }
        }
        return fail(e.what());
    } catch (const CLI::ParseError& e) {
        return fail(e.what());
    }
    if (declared.version->count() != 0) {
        result.text = build::version_text(kProgramName);
        return result;
    }
    for (const CLI::Option* option : {declared.config, declared.virtual_printer}) {
        if (option->count() > 1) return fail(option->get_name() + " given twice");
        if (option->count() == 1 && option->as<std::string>().empty()) return fail(option->get_name() + " needs a file name");
    }
    if (const std::vector<std::string> rest = app->remaining(); !rest.empty()) {
        if (rest.front().rfind('-', 0) == 0) return fail("unknown option " + rest.front());
        return fail("more than one command: " + rest.front());
    }
    if (command_word == "verify") {
        options.command = Command::Verify;
    } else if (command_word == "upgrade") {
        options.command = Command::Upgrade;
    } else if (command_word.empty()) {
        return fail("no command: say verify or upgrade");
    } else {
        return fail("unknown command " + command_word);
    }
    if (declared.virtual_printer->count() != 0) options.virtual_printer = machine;
    result.options = options;
    return result;
}

}  // namespace fwup::cli
