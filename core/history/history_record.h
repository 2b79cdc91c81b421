#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/config/upgrade_settings.h"
#include "core/transfer/procedures.h"

namespace fwup {

// One procedure that sent a download command, as the history keeps it.
struct HistoryRecord {
    std::string time;     // UTC, "2026-12-09T04:15:34Z"
    std::string program;  // "fwupgrade-cli", "fwupgrade"
    bool virtual_machine = false;
    std::optional<std::string> carrier;  // "USB", "LPT"
    std::optional<std::string> device;   // "/dev/usb/lp1", "[Printer2]", "LPT1"
    std::optional<std::string> printer_id;
    std::optional<std::int32_t> version_before;  // hundredths, as the verify read it
    std::string image;                           // the image file as the settings name it
    std::optional<std::uint64_t> image_size;
    std::optional<std::string> image_sha256;  // of the file, 64 hex digits; none when it could not be read
    std::uint64_t bytes_sent = 0;
    std::string status;  // the status line at the end
    std::optional<int> exit_status;  // the program's, where it ends with the procedure
    std::optional<std::string> check;  // the check after the upgrade: "matches", "other version", "no answer"

    friend bool operator==(const HistoryRecord&, const HistoryRecord&) = default;
};

// Whether the last procedure is to be recorded: it sent a download command,
// whatever came of it.
bool history_due(const RunFacts& facts);

// The record of the last download from what the procedures found out; the
// caller adds the time, the program, the device, the image's digest and how
// the program ended.
HistoryRecord history_record(const RunFacts& facts, const UpgradeSettings& settings, std::string status);

// The record as one line of JSON, ending with a newline; stray bytes that are
// not UTF-8 are replaced, so the line is always valid.
std::string history_line(const HistoryRecord& record);

// The records of a history file's text, oldest first; a line that is not a
// record (cut short, edited by hand) is passed over and named in `problems`.
struct HistoryReading {
    std::vector<HistoryRecord> records;
    std::vector<std::string> problems;
};
HistoryReading read_history(std::string_view text);

// The document of `history --json`: the file, the records oldest first, the
// lines passed over, the exit status and why the history could not be read.
std::string history_document(const std::optional<std::string>& file, const HistoryReading& reading, int exit_status,
                             const std::optional<std::string>& error);

// One line for a person: time, program, printer, image, how it ended.
std::string describe(const HistoryRecord& record);

}  // namespace fwup
