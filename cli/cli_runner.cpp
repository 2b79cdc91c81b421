#include "cli/cli_runner.h"

#include <algorithm>
#include <array>
#include <istream>
#include <memory>
#include <ostream>
#include <string_view>

#include "app/config/profile_reader.h"
#include "app/dialog/upgrade_app.h"
#include "app/dialog/upgrade_dialog.h"
#include "cli/cli_options.h"
#include "cli/console_dialog.h"
#include "cli/real_system.h"
#include "sim/machine/virtual_machine.h"
#include "transfer/status_texts.h"

namespace fwup::cli {

namespace {

constexpr std::string_view kProgram = "fwupgrade-cli: ";

bool one_of(const std::string& status, std::initializer_list<std::string_view> texts) {
    return std::any_of(texts.begin(), texts.end(), [&](std::string_view t) { return status == t; });
}

// Whether the run ended where the operator got what the command was for.
int exit_status(Command command, const std::string& status) {
    const bool nothing_to_do = one_of(status, {text::kNoUpgradeRequired, text::kUpgradeNotNecessary});
    if (command == Command::Verify) {
        return nothing_to_do || one_of(status, {text::kReadyToUpgrade, text::kReadyToDownloadDemo}) ? kExitOk
                                                                                                    : kExitFailed;
    }
    return nothing_to_do || status == text::kWritingComplete ? kExitOk : kExitFailed;
}

ConsoleDialog::Answerer make_answerer(const CliOptions& options, CliIo& io) {
    if (options.yes) return [](const std::string&) { return true; };
    if (!io.in_is_terminal) return [](const std::string&) { return false; };  // nobody to ask
    return [&io](const std::string&) {
        io.err << "Upgrade now? [y/N] ";
        io.err.flush();
        std::string answer;
        if (!std::getline(io.in, answer)) return false;
        return !answer.empty() && (answer[0] == 'y' || answer[0] == 'Y');
    };
}

// Presses the buttons the command asks for, on whichever machine is given.
int run_dialog(const CliOptions& options, CliIo& io, OsVersionSource& os, DialogServices services) {
    ConsoleDialog console(io.out, io.err_is_terminal ? &io.err : nullptr, make_answerer(options, io));
    UpgradeApp app(AppEnvironment{os, std::move(services), options.config});
    app.init_instance([&](UpgradeDialog& dialog) {
        if (!dialog.initialise(console)) return;
        dialog.on_command(IDC_VERIFY, console);
        if (options.command == Command::Upgrade && console.enabled(IDC_UPGRADE_NOW) && !console.ended()) {
            dialog.on_command(IDC_UPGRADE_NOW, console);
        }
        // The operator leaves through Exit, which releases the USB port library.
        if (!console.ended()) dialog.on_command(IDC_EXIT, console);
    });
    return exit_status(options.command, console.status());
}

}  // namespace

int run_cli(const std::vector<std::string>& args, CliIo io) {
    const ParseResult parsed = parse_arguments(args);
    if (!parsed.options) {
        if (parsed.error.empty()) {
            io.out << parsed.text;
            return kExitOk;
        }
        io.err << kProgram << parsed.error << '\n'
               << usage_line() << "Run 'fwupgrade-cli --help' for the options and the exit statuses.\n";
        return kExitUsage;
    }
    const CliOptions& options = *parsed.options;

    // FWINFO.INI in the current directory may be missing (the defaults then
    // apply, as for the dialog program); a file named on purpose must exist.
    if (options.config != CliOptions{}.config && !Profile::load(options.config)) {
        io.err << kProgram << "cannot read the settings file " << options.config << '\n';
        return kExitUsage;
    }

    if (!options.virtual_printer) {
        const std::unique_ptr<RealSystem> system = make_real_system();
        if (!system) {
            io.err << kProgram
                   << "this build has no adapters for real printers on this system; "
                      "run against a virtual printer with --virtual-printer FILE\n";
            return kExitUsage;
        }
        return run_dialog(options, io, system->os_version(), system->services());
    }

    std::string error;
    const std::unique_ptr<sim::VirtualMachine> machine = sim::load_virtual_machine(*options.virtual_printer, error);
    if (!machine) {
        io.err << kProgram << error << '\n';
        return kExitUsage;
    }
    const int status = run_dialog(options, io, machine->os_version(),
                                  DialogServices{machine->parallel_ports(), machine->image_files(),
                                                 machine->clock(), machine->library_loader()});
    if (const std::string problem = machine->recording_problem(); !problem.empty()) {
        io.err << kProgram << problem << '\n';
    }
    const int left_open = machine->open_lpt_ports() + machine->open_usb_handles() + machine->open_image_files();
    if (left_open != 0) io.err << kProgram << "virtual machine: " << left_open << " handle(s) left open\n";
    return status;
}

}  // namespace fwup::cli
