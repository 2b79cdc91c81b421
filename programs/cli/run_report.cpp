#include "programs/cli/run_report.h"

#include <nlohmann/json.hpp>

#include <array>
#include <cstdio>

#include "core/transfer/command_set.h"

namespace fwup::cli {

namespace {

using json = nlohmann::ordered_json;

json optional_version(const std::optional<std::int32_t>& version) {
    return version ? json(*version) : json(nullptr);
}

json optional_version_text(const std::optional<std::int32_t>& version) {
    return version ? json(version_text(*version)) : json(nullptr);
}

template <class T>
json or_null(const std::optional<T>& value) {
    return value ? json(*value) : json(nullptr);
}

std::string dump(const json& doc) { return doc.dump(2, ' ', false, json::error_handler_t::replace) + "\n"; }

}  // namespace

const char* result_name(CheckResult result) {
    switch (result) {
        case CheckResult::Matches: return "matches";
        case CheckResult::OtherVersion: return "other version";
        case CheckResult::NoAnswer: return "no answer";
    }
    return "no answer";
}

std::string describe_listed(const AttachedPrinter& printer) {
    std::string line = printer.port;
    if (printer.device != printer.port) line += " " + printer.device;
    line += ": ";
    if (!printer.answers) return line + printer.problem;
    std::string details;
    const std::string model = printer.identification ? model_of(*printer.identification) : std::string();
    if (!model.empty()) details = model;
    if (printer.vendor_id) {
        std::array<char, 8> hex{};
        std::snprintf(hex.data(), hex.size(), "%04X", static_cast<unsigned>(*printer.vendor_id));
        details += (details.empty() ? "vendor 0x" : ", vendor 0x") + std::string(hex.data());
    }
    if (printer.identification) details += (details.empty() ? "ID " : ", ID ") + *printer.identification;
    if (details.empty()) details = "a printer without an ID";
    // A network printer may take connections and still not say what it is.
    if (!printer.problem.empty()) details += " (" + printer.problem + ")";
    return line + details;
}

std::string list_json(const std::vector<AttachedPrinter>& printers, const std::optional<std::string>& virtual_machine,
                      int exit_status, const std::optional<std::string>& error) {
    json doc;
    doc["command"] = "list";
    doc["virtual_machine"] = or_null(virtual_machine);
    doc["printers"] = json::array();
    for (const AttachedPrinter& p : printers) {
        const std::string model = p.identification ? model_of(*p.identification) : std::string();
        doc["printers"].push_back({{"port", p.port},
                                   {"device", p.device},
                                   {"answers", p.answers},
                                   {"vendor_id", or_null(p.vendor_id)},
                                   {"identification", or_null(p.identification)},
                                   {"model", model.empty() ? json(nullptr) : json(model)},
                                   {"problem", p.problem.empty() ? json(nullptr) : json(p.problem)}});
    }
    doc["exit_status"] = exit_status;
    doc["error"] = or_null(error);
    return dump(doc);
}


CheckResult judge_check(const std::optional<std::int32_t>& version_after, std::int32_t file_version) {
    if (!version_after) return CheckResult::NoAnswer;
    return *version_after == file_version ? CheckResult::Matches : CheckResult::OtherVersion;
}

int check_exit_status(CheckResult result) {
    switch (result) {
        case CheckResult::Matches: return 0;
        case CheckResult::OtherVersion: return kExitCheckOtherVersion;
        case CheckResult::NoAnswer: return kExitCheckNoAnswer;
    }
    return kExitCheckNoAnswer;
}

std::string describe(CheckResult result, const std::optional<std::int32_t>& version_after,
                     std::int32_t file_version) {
    switch (result) {
        case CheckResult::Matches:
            return "the printer reports " + version_text(*version_after) + ", the image's version";
        case CheckResult::OtherVersion:
            return "the printer reports " + version_text(*version_after) + ", not the image's " +
                   version_text(file_version);
        case CheckResult::NoAnswer:
            break;
    }
    return "the printer did not report its version after the upgrade";
}

std::string describe(const RunReport::VirtualPrinter& printer) {
    return "Virtual printer [" + printer.section + "] on " + printer.port + ": received " +
           std::to_string(printer.image_bytes) + " image bytes, SHA-256 " + printer.image_sha256;
}

std::string to_json(const RunReport& report) {
    json doc;
    doc["command"] = report.command ? json(*report.command) : json(nullptr);
    doc["check_after"] = report.check_after;
    if (report.settings) {
        const UpgradeSettings& s = *report.settings;
        doc["settings"] = {{"model", s.model_name}, {"image_file", s.firmware_file}, {"file_version", s.file_version},
                           {"esc", s.esc},          {"lpt", s.lpt},                 {"demo", s.demo}};
    } else {
        doc["settings"] = nullptr;
    }
    const RunFacts& f = report.facts;
    doc["carrier"] = f.carrier ? json(carrier_name(*f.carrier)) : json(nullptr);
    doc["printer"] = {{"identification", f.identification ? json(*f.identification) : json(nullptr)},
                      {"firmware_version", optional_version(f.printer_version)},
                      {"firmware_version_text", optional_version_text(f.printer_version)}};
    doc["statuses"] = report.statuses;
    doc["messages"] = json::array();
    for (const RunReport::Message& m : report.messages) {
        doc["messages"].push_back({{"text", m.text}, {"caption", m.caption}, {"icon", m.icon}, {"answer", m.answer}});
    }
    doc["bytes_sent"] = f.bytes_sent;
    doc["image_size"] = f.image_size ? json(*f.image_size) : json(nullptr);
    if (report.check) {
        doc["check"] = {{"firmware_version", optional_version(report.check->firmware_version)},
                        {"firmware_version_text", optional_version_text(report.check->firmware_version)},
                        {"result", result_name(report.check->result)}};
    } else {
        doc["check"] = nullptr;
    }
    if (report.virtual_printers) {
        doc["virtual_printers"] = json::array();
        for (const RunReport::VirtualPrinter& p : *report.virtual_printers) {
            doc["virtual_printers"].push_back({{"section", p.section},
                                               {"port", p.port},
                                               {"image_bytes", p.image_bytes},
                                               {"image_sha256", p.image_sha256}});
        }
    } else {
        doc["virtual_printers"] = nullptr;
    }
    doc["device"] = or_null(report.device);
    if (report.history) {
        doc["history"] = {{"file", report.history->file}, {"written", report.history->written}};
    } else {
        doc["history"] = nullptr;
    }
    doc["status"] = report.status;
    doc["exit_status"] = report.exit_status;
    doc["error"] = report.error ? json(*report.error) : json(nullptr);
    return dump(doc);
}

}  // namespace fwup::cli
