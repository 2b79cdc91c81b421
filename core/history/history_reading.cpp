// Reading the history back, apart from writing it: the Windows programs keep
// no history, and this is the part that parses JSON numbers, whose runtime
// calls they must not import.
#include "core/history/history_record.h"

#include <nlohmann/json.hpp>

#include <stdexcept>

#include "core/devices/attached_printer.h"
#include "core/transfer/command_set.h"

namespace fwup {

namespace {

using json = nlohmann::ordered_json;

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
            std::string problem = "line ";
            problem += std::to_string(number);
            problem += " is not a record";
            reading.problems.push_back(std::move(problem));
        }
    }
    return reading;
}

// Built by appending pieces: GCC 12 reports a false overlap inside libstdc++
// for a literal prepended to a string at -O3.
std::string describe(const HistoryRecord& r) {
    std::string text = r.time;
    const auto add = [&text](std::string_view a, std::string_view b = {}) {
        text += a;
        text += b;
    };
    add(" ", r.program);
    if (r.virtual_machine) add(" (virtual)");
    add(": ", r.carrier.value_or("?"));
    add(" ", r.device.value_or("?"));
    const std::string model = r.printer_id ? model_of(*r.printer_id) : std::string();
    if (!model.empty()) {
        add(" (", model);
        add(")");
    }
    if (r.version_before) add(" ", version_text(*r.version_before));
    add(", ", r.image);
    if (r.image_size) {
        add(" ", std::to_string(*r.image_size));
        add(" bytes");
    }
    if (r.image_sha256) add(" SHA-256 ", *r.image_sha256);
    add(", sent ", std::to_string(r.bytes_sent));
    add(": ", r.status);
    if (r.exit_status) add(", exit status ", std::to_string(*r.exit_status));
    if (r.check) add(", check: ", *r.check);
    return text;
}

}  // namespace fwup
