#include "core/history/history_record.h"

#include <nlohmann/json.hpp>

#include "core/devices/attached_printer.h"
#include "core/transfer/command_set.h"

namespace fwup {

namespace {

using json = nlohmann::ordered_json;

template <class T>
json or_null(const std::optional<T>& value) {
    return value ? json(*value) : json(nullptr);
}

template <class T>
std::optional<T> optional_field(const json& object, const char* key) {
    const auto found = object.find(key);
    if (found == object.end() || found->is_null()) return std::nullopt;
    return found->get<T>();
}

HistoryRecord from_json(const json& line) {
    HistoryRecord r;
    r.time = line.at("time").get<std::string>();
    r.program = line.at("program").get<std::string>();
    r.virtual_machine = line.at("virtual").get<bool>();
    r.carrier = optional_field<std::string>(line, "carrier");
    r.device = optional_field<std::string>(line, "device");
    r.printer_id = optional_field<std::string>(line, "printer_id");
    r.version_before = optional_field<std::int32_t>(line, "version_before");
    r.image = line.at("image").get<std::string>();
    r.image_size = optional_field<std::uint64_t>(line, "image_size");
    r.image_sha256 = optional_field<std::string>(line, "image_sha256");
    r.bytes_sent = line.at("bytes_sent").get<std::uint64_t>();
    r.status = line.at("status").get<std::string>();
    r.exit_status = optional_field<int>(line, "exit_status");
    r.check = optional_field<std::string>(line, "check");
    return r;
}

}  // namespace

bool history_due(const RunFacts& facts) { return facts.download_command_sent; }

HistoryRecord history_record(const RunFacts& facts, const UpgradeSettings& settings, std::string status) {
    HistoryRecord r;
    if (facts.carrier) r.carrier = *facts.carrier == Carrier::Usb ? "USB" : "LPT";
    r.printer_id = facts.identification;
    r.version_before = facts.printer_version;
    r.image = settings.firmware_file;
    r.image_size = facts.image_size;
    r.bytes_sent = facts.bytes_sent;
    r.status = std::move(status);
    return r;
}

std::string history_line(const HistoryRecord& r) {
    json line;
    line["time"] = r.time;
    line["program"] = r.program;
    line["virtual"] = r.virtual_machine;
    line["carrier"] = or_null(r.carrier);
    line["device"] = or_null(r.device);
    line["printer_id"] = or_null(r.printer_id);
    line["version_before"] = or_null(r.version_before);
    line["image"] = r.image;
    line["image_size"] = or_null(r.image_size);
    line["image_sha256"] = or_null(r.image_sha256);
    line["bytes_sent"] = r.bytes_sent;
    line["status"] = r.status;
    line["exit_status"] = or_null(r.exit_status);
    line["check"] = or_null(r.check);
    return line.dump(-1, ' ', false, json::error_handler_t::replace) + "\n";
}

HistoryReading read_history(std::string_view text) {
    HistoryReading reading;
    std::size_t number = 0;
    while (!text.empty()) {
        ++number;
        const std::size_t end = text.find('\n');
        const std::string_view line = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        if (line.empty()) continue;
        const json parsed = json::parse(line.begin(), line.end(), nullptr, false);
        try {
            if (parsed.is_discarded() || !parsed.is_object()) throw std::invalid_argument("not an object");
            reading.records.push_back(from_json(parsed));
        } catch (const std::exception&) {
            reading.problems.push_back("line " + std::to_string(number) + " is not a record");
        }
    }
    return reading;
}

std::string describe(const HistoryRecord& r) {
    std::string text = r.time + " " + r.program + (r.virtual_machine ? " (virtual)" : "") + ": ";
    text += r.carrier.value_or("?") + " " + r.device.value_or("?");
    const std::string model = r.printer_id ? model_of(*r.printer_id) : std::string();
    if (!model.empty()) text += " (" + model + ")";
    if (r.version_before) text += " " + version_text(*r.version_before);
    text += ", " + r.image;
    if (r.image_size) text += " " + std::to_string(*r.image_size) + " bytes";
    if (r.image_sha256) text += " SHA-256 " + *r.image_sha256;
    text += ", sent " + std::to_string(r.bytes_sent) + ": " + r.status;
    if (r.exit_status) text += ", exit status " + std::to_string(*r.exit_status);
    if (r.check) text += ", check: " + *r.check;
    return text;
}

}  // namespace fwup
