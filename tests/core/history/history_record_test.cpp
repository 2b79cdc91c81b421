#include <gtest/gtest.h>

#include <string>

#include "core/history/history_record.h"

namespace fwup {
namespace {

HistoryRecord full_record() {
    HistoryRecord r;
    r.time = "2026-12-09T04:15:34Z";
    r.program = "fwupgrade-cli";
    r.virtual_machine = true;
    r.carrier = "USB";
    r.device = "/dev/usb/lp1";
    r.printer_id = "MFG:Virtual;MODEL:VP-1000;";
    r.version_before = 100;
    r.image = "fw.bin";
    r.image_size = 30000;
    r.image_sha256 = std::string(64, 'a');
    r.bytes_sent = 8192;
    r.status = "Writing data error...!";
    r.exit_status = 1;
    r.check = "no answer";
    return r;
}

TEST(HistoryRecord, OneLineThatReadsBackTheSame) {
    HistoryRecord sparse;
    sparse.time = "2026-12-09T04:15:34Z";
    sparse.program = "fwupgrade";
    sparse.image = "dir/\"quoted\"\nname.bin";
    for (const HistoryRecord& record : {full_record(), sparse}) {
        const std::string line = history_line(record);
        ASSERT_EQ(line.find('\n'), line.size() - 1) << line;
        const HistoryReading reading = read_history(line + line);
        ASSERT_EQ(reading.records.size(), 2u);
        EXPECT_EQ(reading.records[0], record);
        EXPECT_TRUE(reading.problems.empty());
    }
    // A text that is not UTF-8 is replaced, never a line that cannot be read.
    HistoryRecord odd = full_record();
    odd.printer_id = "MODEL:\xE9\xFF;";
    EXPECT_EQ(read_history(history_line(odd)).records.at(0).printer_id, "MODEL:\xEF\xBF\xBD\xEF\xBF\xBD;");
}

TEST(HistoryRecord, LinesThatAreNoRecordsArePassedOver) {
    const std::string good = history_line(full_record());
    const HistoryReading reading =
        read_history(good + "{\"time\": \"cut\n" + "\n" + "[1, 2]\n" + "{\"time\": 5}\n" + good.substr(0, good.size() - 1));
    EXPECT_EQ(reading.records.size(), 2u);
    EXPECT_EQ(reading.problems, (std::vector<std::string>{"line 2 is not a record", "line 4 is not a record",
                                                          "line 5 is not a record"}));
}

TEST(HistoryRecord, DueWhenTheDownloadCommandWasSent) {
    RunFacts facts;
    EXPECT_FALSE(history_due(facts));
    facts.download_command_sent = true;
    EXPECT_TRUE(history_due(facts));
    facts.carrier = Carrier::Lpt;
    facts.identification = "MDL:X;";
    facts.printer_version = 99;
    facts.image_size = 10;
    facts.bytes_sent = 4;
    UpgradeSettings settings;
    settings.firmware_file = "fw.bin";
    const HistoryRecord r = history_record(facts, settings, "Printer is busy...!");
    EXPECT_EQ(r.carrier, "LPT");
    EXPECT_EQ(r.printer_id, "MDL:X;");
    EXPECT_EQ(r.version_before, 99);
    EXPECT_EQ(r.image, "fw.bin");
    EXPECT_EQ(r.image_size, 10u);
    EXPECT_EQ(r.bytes_sent, 4u);
    EXPECT_EQ(r.status, "Printer is busy...!");
    EXPECT_EQ(describe(full_record()),
              "2026-12-09T04:15:34Z fwupgrade-cli (virtual): USB /dev/usb/lp1 (VP-1000) 1.00, fw.bin 30000 bytes "
              "SHA-256 " + std::string(64, 'a') + ", sent 8192: Writing data error...!, exit status 1, check: no answer");
}

}  // namespace
}  // namespace fwup
