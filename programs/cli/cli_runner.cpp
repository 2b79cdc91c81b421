#include "programs/cli/cli_runner.h"

#include <algorithm>
#include <array>
#include <istream>
#include <memory>
#include <optional>
#include <ostream>
#include <string_view>

#include "core/config/profile_reader.h"
#include "core/history/history_record.h"
#include "core/dialog/upgrade_app.h"
#include "core/dialog/upgrade_dialog.h"
#include "programs/cli/cli_options.h"
#include "programs/cli/console_dialog.h"
#include "programs/cli/library_texts.h"
#include "programs/cli/run_report.h"
#include "programs/startup/history_file.h"
#include "programs/startup/machine.h"
#include "sim/machine/virtual_machine.h"
#include "core/transfer/status_texts.h"

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
// `library_texts`, when given, holds what the USB port library printed.
int run_dialog(const CliOptions& options, CliIo& io, std::ostream& lines, startup::Machine& machine,
               RunReport& report, LibraryTexts* library_texts = nullptr) {
    ConsoleDialog console(lines, io.err_is_terminal ? &io.err : nullptr, make_answerer(options, io), &report);
    if (library_texts != nullptr) {
        console.before_each_line([library_texts](std::ostream& to) { library_texts->pass_on(to); });
    }
    UpgradeApp app(AppEnvironment{machine.os_version(), machine.services(), options.config});
    app.init_instance([&](UpgradeDialog& dialog) {
        report.settings = dialog.settings();
        if (dialog.initialise(console)) {
            dialog.on_command(IDC_VERIFY, console);
            if (options.command == Command::Upgrade && console.enabled(IDC_UPGRADE_NOW) && !console.ended()) {
                dialog.on_command(IDC_UPGRADE_NOW, console);
            }
            // The operator leaves through Exit, which releases the USB port library.
            if (!console.ended()) dialog.on_command(IDC_EXIT, console);
        }
        report.facts = dialog.facts();
    });
    report.download_status = console.status();
    int status = exit_status(options.command, console.status());

    const bool flashed = options.command == Command::Upgrade && console.status() == text::kWritingComplete &&
                         report.settings && report.settings->demo == 0;
    if (options.check_after && flashed) {
        // The printer has restarted with its new firmware during the wait; the
        // operator starts the program again and presses "Verify Information".
        console.restart();
        std::optional<std::int32_t> version_after;
        app.init_instance([&](UpgradeDialog& dialog) {
            if (!dialog.initialise(console)) return;
            dialog.on_command(IDC_VERIFY, console);
            version_after = dialog.facts().printer_version;
            if (!console.ended()) dialog.on_command(IDC_EXIT, console);
        });
        const std::int32_t wanted = report.settings->file_version;
        const CheckResult result = judge_check(version_after, wanted);
        report.check = RunReport::Check{version_after, result};
        console.note("Check: " + describe(result, version_after, wanted));
        status = check_exit_status(result);
    }
    report.status = console.status();
    return status;
}

const char* command_name(Command command) {
    switch (command) {
        case Command::Verify: return "verify";
        case Command::Upgrade: return "upgrade";
        case Command::List: return "list";
        case Command::History: return "history";
    }
    return "verify";
}

constexpr std::string_view kHowToChoose = "--device";

// Verify or upgrade on `machine`, once it is decided which printer the run
// talks to; `library_texts` as for run_dialog().
int run_procedures(const CliOptions& options, CliIo& io, std::ostream& lines, startup::Machine& machine,
                   RunReport& report, LibraryTexts* library_texts = nullptr) {
    const int status = run_dialog(options, io, lines, machine, report, library_texts);
    if (library_texts != nullptr) library_texts->pass_on(lines);
    const DeviceChoice& choice = machine.choice();
    // With several printers, or one named, the operator is told which one it was.
    if (choice.outcome == DeviceChoice::Outcome::Chosen || choice.usb_count > 1) {
        lines << "Printer: " << choice.printer_text() << '\n';
    }
    if (report.facts.carrier) {
        const std::string device = machine.device_of(*report.facts.carrier, report.settings ? report.settings->lpt : 0);
        if (!device.empty()) report.device = device;
    }
    if (options.history && startup::Machine::keeps_history() && history_due(report.facts) && report.settings) {
        const std::string warning = machine.record_download(
            report.facts, *report.settings, report.download_status, "fwupgrade-cli", status,
            report.check ? std::optional<std::string>(result_name(report.check->result)) : std::nullopt);
        report.history = RunReport::History{startup::history_path(), warning.empty()};
        // The record is for the operator's benefit: missing it never fails the upgrade.
        if (!warning.empty()) io.err << kProgram << "warning: " << warning << '\n';
    }
    return status;
}

// Everything after the arguments were read; the lines go to `lines`.
int run_parsed(const ParseResult& parsed, CliIo& io, std::ostream& lines, RunReport& report) {
    if (!parsed.options) {
        report.error = parsed.error;
        io.err << kProgram << parsed.error << '\n'
               << usage_line() << "Run 'fwupgrade-cli --help' for the options and the exit statuses.\n";
        return kExitUsage;
    }
    const CliOptions& options = *parsed.options;
    report.command = command_name(options.command);
    report.check_after = options.check_after;
    const auto refuse = [&](const std::string& why) {
        report.error = why;
        io.err << kProgram << why << '\n';
        return kExitUsage;
    };

    // FWINFO.INI in the current directory may be missing (the defaults then
    // apply, as for the dialog program); a file named on purpose must exist.
    if (options.config != CliOptions{}.config && !Profile::load(options.config)) {
        return refuse("cannot read the settings file " + options.config);
    }

    const DeviceIntent intent = options.command == Command::Upgrade ? DeviceIntent::Upgrade : DeviceIntent::Verify;
    if (!options.virtual_printer) {
        const std::unique_ptr<startup::Machine> system = startup::Machine::real();
        if (!system) {
            return refuse(
                "this build has no adapters for real printers on this system; "
                "run against a virtual printer with --virtual-printer FILE");
        }
        system->set_snmp({options.snmp_community, options.snmp_port});
        // Decided before anything runs: a refusal sends nothing to any printer.
        const DeviceChoice choice = system->choose_printer(options.device, intent, kHowToChoose);
        if (choice.refused()) return refuse(choice.message);
        // The real USB port library prints on standard output, in lines of
        // its own that must not run into the CLI's.
        const std::unique_ptr<LibraryTexts> library_texts = LibraryTexts::capture();
        if (!library_texts) return run_procedures(options, io, lines, *system, report);
        std::ostream& shown = &lines == &io.out ? library_texts->original() : lines;
        return run_procedures(options, io, shown, *system, report, library_texts.get());
    }

    std::string error;
    const std::unique_ptr<startup::Machine> simulated = startup::Machine::from_file(*options.virtual_printer, error);
    if (!simulated) return refuse(error);
    simulated->set_snmp({options.snmp_community, options.snmp_port});
    const DeviceChoice choice = simulated->choose_printer(options.device, intent, kHowToChoose);
    if (choice.refused()) return refuse(choice.message);
    const int status = run_procedures(options, io, lines, *simulated, report);
    sim::VirtualMachine* machine = simulated->virtual_machine();
    report.virtual_printers.emplace();
    for (std::size_t i = 0; i < machine->printer_count(); ++i) {
        const sim::PrinterSetup& setup = machine->config().printers.at(i);
        const sim::VirtualPrinter& printer = machine->printer(i);
        RunReport::VirtualPrinter received{setup.section, setup.port_name(), printer.image_bytes(),
                                           printer.image_sha256()};
        // Only a printer that took image bytes has something to vouch for.
        if (received.image_bytes > 0) lines << describe(received) << '\n';
        report.virtual_printers->push_back(std::move(received));
    }
    if (const std::string problem = simulated->recording_problem(); !problem.empty()) {
        io.err << kProgram << problem << '\n';
    }
    const int left_open = machine->open_lpt_ports() + machine->open_usb_handles() + machine->open_image_files();
    if (left_open != 0) io.err << kProgram << "virtual machine: " << left_open << " handle(s) left open\n";
    return status;
}

// The machine `list` looks at: the virtual one of --virtual-printer, or the
// real system. Nullptr with `error` set when neither can be had.
std::unique_ptr<startup::Machine> machine_for(const CliOptions& options, std::string& error) {
    if (options.virtual_printer) return startup::Machine::from_file(*options.virtual_printer, error);
    std::unique_ptr<startup::Machine> system = startup::Machine::real();
    if (!system) error = "this build has no adapters for real printers on this system";
    return system;
}

int run_list(const CliOptions& options, CliIo& io, std::ostream* document) {
    std::string error;
    const std::unique_ptr<startup::Machine> machine = machine_for(options, error);
    if (!machine) {
        io.err << kProgram << error << '\n';
        if (document != nullptr) *document << list_json({}, std::nullopt, kExitUsage, error);
        return kExitUsage;
    }
    machine->set_snmp({options.snmp_community, options.snmp_port});
    const std::vector<AttachedPrinter> printers = options.network_hosts.empty()
                                                      ? machine->list_printers()
                                                      : machine->list_network_printers(options.network_hosts);
    const bool found = std::any_of(printers.begin(), printers.end(),
                                   [](const AttachedPrinter& p) { return p.usb() || p.answers; });
    const int status = found ? kExitOk : kExitFailed;
    std::ostream& lines = document != nullptr ? io.err : io.out;
    for (const AttachedPrinter& printer : printers) lines << describe_listed(printer) << '\n';
    if (document != nullptr) {
        std::optional<std::string> name;
        if (machine->virtual_machine() != nullptr) name = *options.virtual_printer;
        *document << list_json(printers, name, status, std::nullopt);
    }
    return status;
}

int run_history(CliIo& io, std::ostream* document) {
    const std::string file = startup::history_path();
    const auto refused = [&](const std::string& problem) {
        io.err << kProgram << problem << '\n';
        if (document != nullptr) {
            *document << history_document(file.empty() ? std::nullopt : std::optional<std::string>(file), {},
                                          kExitFailed, problem);
        }
        return kExitFailed;
    };
#if defined(_WIN32)
    // Nothing is recorded here, and reading would bring in runtime calls the
    // Windows programs do not import.
    return refused("no history is kept on Windows");
#else
    std::string text;
    std::string problem;
    if (!startup::read_history_file(file, text, problem)) return refused(problem);
    const HistoryReading reading = read_history(text);
    for (const std::string& skipped : reading.problems) io.err << kProgram << file << ": " << skipped << '\n';
    if (document != nullptr) {
        *document << history_document(file, reading, kExitOk, std::nullopt);
    } else {
        for (const HistoryRecord& record : reading.records) io.out << describe(record) << '\n';
    }
    return kExitOk;
#endif
}

}  // namespace

int run_cli(const std::vector<std::string>& args, CliIo io) {
    const ParseResult parsed = parse_arguments(args);
    if (!parsed.options && parsed.error.empty()) {
        io.out << parsed.text;  // --help, --version
        return kExitOk;
    }
    // Arguments that were refused still get their document when --json is among them.
    const bool json = parsed.options ? parsed.options->json
                                     : std::find(args.begin(), args.end(), "--json") != args.end();
    if (parsed.options && (parsed.options->command == Command::List || parsed.options->command == Command::History)) {
        std::ostream* document = nullptr;
        if (json) {
            document = io.reserve_out ? io.reserve_out() : nullptr;
            if (document == nullptr) document = &io.out;
        }
        const int status = parsed.options->command == Command::List ? run_list(*parsed.options, io, document)
                                                                    : run_history(io, document);
        if (document != nullptr) document->flush();
        return status;
    }
    if (!json) {
        RunReport unused;
        return run_parsed(parsed, io, io.out, unused);
    }
    std::ostream* document = io.reserve_out ? io.reserve_out() : nullptr;
    if (document == nullptr) document = &io.out;
    RunReport report;
    report.exit_status = run_parsed(parsed, io, io.err, report);
    *document << to_json(report);
    document->flush();
    return report.exit_status;
}

}  // namespace fwup::cli
