#include "core/history/history_record.h"

#include <nlohmann/json.hpp>

namespace fwup {

namespace {

using json = nlohmann::ordered_json;

template <class T>
json or_null(const std::optional<T>& value) {
    return value ? json(*value) : json(nullptr);
}

}  // namespace

bool history_due(const RunFacts& facts) { return facts.download_command_sent; }

HistoryRecord history_record(const RunFacts& facts, const UpgradeSettings& settings, std::string status) {
    HistoryRecord r;
    if (facts.carrier) r.carrier = carrier_name(*facts.carrier);
    r.printer_id = facts.identification;
    r.version_before = facts.printer_version;
    r.image = settings.firmware_file;
    r.image_size = facts.image_size;
    r.bytes_sent = facts.bytes_sent;
    r.status = std::move(status);
    return r;
}

namespace {

json record_json(const HistoryRecord& r) {
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
    return line;
}

}  // namespace

std::string history_line(const HistoryRecord& r) {
    return record_json(r).dump(-1, ' ', false, json::error_handler_t::replace) + "\n";
}

std::string history_document(const std::optional<std::string>& file, const HistoryReading& reading, int exit_status,
                             const std::optional<std::string>& error) {
    json doc;
    doc["command"] = "history";
    doc["file"] = or_null(file);
    doc["records"] = json::array();
    for (const HistoryRecord& record : reading.records) doc["records"].push_back(record_json(record));
    doc["problems"] = reading.problems;
    doc["exit_status"] = exit_status;
    doc["error"] = or_null(error);
    return doc.dump(2, ' ', false, json::error_handler_t::replace) + "\n";
}

}  // namespace fwup
