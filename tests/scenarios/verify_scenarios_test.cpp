// "Verify Information" on virtual machines, one row per scenario.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "tests/scenarios/scenario_rig.h"
#include "core/transfer/status_texts.h"

namespace fwup::scenario {
namespace {

struct VerifyRow {
    std::string name;
    std::function<void(Scene&)> setup;
    std::string status;
    std::string fw_version;  // "..." when no version was read
    bool upgrade_enabled;
    std::uint32_t waited_ms;
    Carrier used;  // which carrier carried the version query (None: no command sent)
    std::function<void(Rig&)> before = nullptr;
};

const std::vector<std::uint8_t> kPlainQuery{0xA5, 0x00, 0x04, 0x50, 0xE0, 0x82, 0x06};
const std::vector<std::uint8_t> kEscQuery{0x1B, 0xA5, 0x00, 0x04, 0x50, 0xE0, 0x82, 0x06};

void lpt1(Scene& s) { s.carrier = Carrier::Lpt1; }
void esc(Scene& s) {
    s.settings.esc = 1;
    s.printer.esc = 1;
}

std::vector<VerifyRow> verify_rows() {
    using namespace text;
    return {
        // USB: 100 ms after the identification, 500 before the query, 1000 before the reply.
        {"usb 2000 older firmware", [](Scene&) {}, kReadyToUpgrade, "1.00", true, 1600, Carrier::Usb},
        {"usb 2000 same firmware", [](Scene& s) { s.printer.version = "106"; }, kNoUpgradeRequired, "1.06", false,
         1600, Carrier::Usb},
        {"usb 2000 newer firmware", [](Scene& s) { s.printer.version = "107"; }, kNoUpgradeRequired, "1.07", false,
         1600, Carrier::Usb},
        {"usb 2000 esc variant", esc, kReadyToUpgrade, "1.00", true, 1600, Carrier::Usb},
        {"usb 2000 demo shows but never compares", [](Scene& s) {
             s.settings.demo = 1;
             s.printer.version = "999";
         }, kReadyToDownloadDemo, "9.99", true, 1600, Carrier::Usb},
        {"usb 2000 skips the model check", [](Scene& s) { s.printer.device_id = "MFG:X;MODEL:Other;"; },
         kReadyToUpgrade, "1.00", true, 1600, Carrier::Usb},
        {"usb 98 older firmware", [](Scene& s) { s.os = kWin98; }, kReadyToUpgrade, "1.00", true, 1600, Carrier::Usb},
        {"usb 98 checks the model", [](Scene& s) {
             s.os = kWin98;
             s.printer.device_id = "MFG:X;MODEL:Other;";
         }, kModelNotMatched, "...", false, 100, Carrier::None},
        {"usb 98 model is a case-sensitive substring", [](Scene& s) {
             s.os = kWin98;
             s.printer.device_id = "MODEL:vp-1000;";
         }, kModelNotMatched, "...", false, 100, Carrier::None},
        {"usb reply one byte short", [](Scene& s) { s.printer.short_replies = 1; }, kReadingVersionDataError, "...",
         false, 1600, Carrier::Usb},
        {"usb reply empty", [](Scene&) {}, kReadingVersionDataError, "...", false, 1600, Carrier::Usb,
         [](Rig& r) { r.usb_device().faults.empty_reads = 1; }},
        {"usb query write fails twice", [](Scene&) {}, kWritingVersionCommandError, "...", false, 600, Carrier::None,
         [](Rig& r) { r.usb_device().faults.write_failures = 2; }},
        {"usb version field with a sign", [](Scene& s) { s.printer.version = "-12"; }, kReadyToUpgrade, "-0.12", true,
         1600, Carrier::Usb},
        {"usb version field without digits", [](Scene& s) { s.printer.version = "ABC"; }, kReadyToUpgrade, "0.00",
         true, 1600, Carrier::Usb},

        // LPT: 500 ms before the query, 2000 before the reply; 5000 more before each retry with ESC.
        {"lpt older firmware", lpt1, kReadyToUpgrade, "1.00", true, 2500, Carrier::Lpt1},
        {"lpt same firmware", [](Scene& s) {
             lpt1(s);
             s.printer.version = "106";
         }, kUpgradeNotNecessary, "1.06", false, 2500, Carrier::Lpt1},
        {"lpt esc variant", [](Scene& s) {
             lpt1(s);
             esc(s);
         }, kReadyToUpgrade, "1.00", true, 2500, Carrier::Lpt1},
        {"lpt demo", [](Scene& s) {
             lpt1(s);
             s.settings.demo = 1;
         }, kReadyToDownloadDemo, "1.00", true, 2500, Carrier::Lpt1},
        {"lpt identification retried at once", [](Scene& s) {
             lpt1(s);
             s.printer.device_id_failures = 1;
         }, kReadyToUpgrade, "1.00", true, 2500, Carrier::Lpt1},
        {"lpt identification retried after 5 s with esc", [](Scene& s) {
             lpt1(s);
             esc(s);
             s.printer.device_id_failures = 1;
         }, kReadyToUpgrade, "1.00", true, 7500, Carrier::Lpt1},
        {"lpt identification longer than the buffer: the driver's overflow", [](Scene& s) {
             lpt1(s);
             s.printer.device_id = kDeviceId + "DES:" + std::string(300, 'x') + ";";
         }, kReadyToUpgrade, "1.00", true, 2500, Carrier::Lpt1},
        {"lpt identification never answers", [](Scene& s) {
             lpt1(s);
             s.printer.device_id_failures = 2;
         }, kDeviceNotResponding, "...", false, 0, Carrier::None},
        {"lpt identification never answers with esc", [](Scene& s) {
             lpt1(s);
             esc(s);
             s.printer.device_id_failures = 2;
         }, kDeviceNotResponding, "...", false, 5000, Carrier::None},
        {"nothing attached", [](Scene& s) { s.carrier = Carrier::None; }, kDeviceNotResponding, "...", false, 0,
         Carrier::None},
        {"lpt always checks the model, also on 2000", [](Scene& s) {
             lpt1(s);
             s.printer.device_id = "MFG:X;MODEL:VP-100;";
         }, kModelNotMatched, "...", false, 0, Carrier::None},
        {"lpt model found as a leading part", [](Scene& s) {
             lpt1(s);
             s.printer.device_id = "MODEL:VP-1000X;";
         }, kReadyToUpgrade, "1.00", true, 2500, Carrier::Lpt1},
        {"lpt short reply read again at once", [](Scene& s) {
             lpt1(s);
             s.printer.short_replies = 1;
         }, kReadyToUpgrade, "1.00", true, 2500, Carrier::Lpt1},
        {"lpt short reply read again after 5 s with esc", [](Scene& s) {
             lpt1(s);
             esc(s);
             s.printer.short_replies = 1;
         }, kReadyToUpgrade, "1.00", true, 7500, Carrier::Lpt1},
        {"lpt short reply twice", [](Scene& s) {
             lpt1(s);
             s.printer.short_replies = 2;
         }, kReadingVersionDataError, "...", false, 2500, Carrier::Lpt1},
        {"lpt reply one byte short of the esc length", [](Scene& s) {
             lpt1(s);
             s.settings.esc = 1;  // the printer answers the plain variant: 10 bytes of 11
         }, kReadingVersionDataError, "...", false, 7500, Carrier::Lpt1},
        {"lpt port cannot be opened", [](Scene& s) {
             lpt1(s);
             s.lpt_faults.fail_open_from = 1;
         }, kFailedToOpenLpt, "...", false, 0, Carrier::None},
        {"lpt port 0 has no name", [](Scene& s) {
             lpt1(s);
             s.settings.lpt = 0;
         }, kFailedToOpenLpt, "...", false, 0, Carrier::None},
        {"lpt port 4 has no name", [](Scene& s) {
             lpt1(s);
             s.settings.lpt = 4;
         }, kFailedToOpenLpt, "...", false, 0, Carrier::None},
        {"lpt printer on another port", [](Scene& s) {
             s.carrier = Carrier::Lpt2;
         }, kDeviceNotResponding, "...", false, 0, Carrier::None},
        {"lpt printer on the configured second port", [](Scene& s) {
             s.carrier = Carrier::Lpt2;
             s.settings.lpt = 2;
         }, kReadyToUpgrade, "1.00", true, 2500, Carrier::Lpt2},
        {"lpt time-outs cannot be read", [](Scene& s) {
             lpt1(s);
             s.lpt_faults.fail_timeouts_from = 1;
         }, kFailedToSetCommState, "...", false, 0, Carrier::None},
        {"lpt time-outs cannot be written (ignored)", [](Scene& s) {
             lpt1(s);
             s.lpt_faults.fail_set_timeouts = true;
         }, kReadyToUpgrade, "1.00", true, 2500, Carrier::Lpt1},
        {"lpt query write fails", [](Scene& s) {
             lpt1(s);
             s.lpt_faults.fail_writes_from = 1;
         }, kWritingVersionCommandError, "...", false, 500, Carrier::None},
        {"lpt query written short", [](Scene& s) {
             lpt1(s);
             s.lpt_faults.short_writes_from = 1;
         }, kWritingVersionCommandError, "...", false, 500, Carrier::None},

        // Which systems reach the USB printer through the library.
        {"98 with the printer on lpt", [](Scene& s) {
             s.os = kWin98;
             lpt1(s);
         }, kReadyToUpgrade, "1.00", true, 2500, Carrier::Lpt1},
        {"nt4 never loads the library", [](Scene& s) {
             s.os = kNt4;
             s.library = sim::LibraryPresence::Missing;
         }, kDeviceNotResponding, "...", false, 0, Carrier::None},
        {"nt4 talks over lpt", [](Scene& s) {
             s.os = kNt4;
             lpt1(s);
         }, kReadyToUpgrade, "1.00", true, 2500, Carrier::Lpt1},
        {"me never loads the library", [](Scene& s) {
             s.os = kMe;
             s.library = sim::LibraryPresence::Missing;
         }, kDeviceNotResponding, "...", false, 0, Carrier::None},
        {"me talks over lpt", [](Scene& s) {
             s.os = kMe;
             lpt1(s);
         }, kReadyToUpgrade, "1.00", true, 2500, Carrier::Lpt1},
    };
}

TEST(VerifyScenarios, EveryRowEndsWithItsStatusVersionButtonAndWaits) {
    for (const VerifyRow& row : verify_rows()) {
        SCOPED_TRACE(row.name);
        Scene setup;
        row.setup(setup);
        Rig rig(setup);
        ASSERT_TRUE(rig.initialised);
        if (row.before) row.before(rig);
        const std::uint32_t waited = rig.verify();

        EXPECT_EQ(rig.dialog.status(), row.status);
        EXPECT_EQ(rig.dialog.text(IDC_FW_VERSION), row.fw_version);
        EXPECT_EQ(rig.dialog.enabled(IDC_UPGRADE_NOW), row.upgrade_enabled);
        EXPECT_EQ(waited, row.waited_ms);
        EXPECT_EQ(rig.dialog.wait_cursor_shown, 1);
        rig.expect_all_closed(row.name);

        if (setup.carrier != Carrier::None) {
            const auto& commands = rig.printer().commands();
            if (row.used == Carrier::None) {
                EXPECT_TRUE(commands.empty());
            } else {
                ASSERT_EQ(commands.size(), 1u);
                EXPECT_EQ(commands[0], setup.settings.esc != 0 ? kEscQuery : kPlainQuery);
            }
        }
        const bool lpt_used = row.used == Carrier::Lpt1 || row.used == Carrier::Lpt2;
        if (lpt_used) {
            // The time-outs the procedure leaves on the port it used.
            const CommTimeouts t = rig.machine->lpt().timeouts(row.used == Carrier::Lpt1 ? 1 : 2);
            if (!setup.lpt_faults.fail_set_timeouts) {
                EXPECT_EQ(t.write_total_constant, 2000u);
                EXPECT_EQ(t.read_total_constant, 1000u);
                EXPECT_EQ(t.read_interval, 200u);
            }
        }
        if (row.used == Carrier::Usb) {
            EXPECT_EQ(rig.machine->lpt().opens(), 0u) << "a USB printer keeps LPT untouched";
        }
    }
}

TEST(VerifyScenarios, AButtonEnabledByAnEarlierVerifyStaysAsItWas) {
    struct Row {
        std::string name;
        Carrier carrier;
        std::function<void(Rig&)> between;
        std::string status;
    };
    const std::vector<Row> rows{
        {"usb reply lost", Carrier::Usb, [](Rig& r) { r.usb_device().faults.empty_reads = 1; },
         text::kReadingVersionDataError},
        {"lpt failure", Carrier::Lpt1, [](Rig& r) { r.machine->lpt().set_faults({1, 0, 0, 0, false}); },
         text::kFailedToOpenLpt},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Scene setup;
        setup.carrier = row.carrier;
        Rig rig(setup);
        rig.verify();
        ASSERT_TRUE(rig.dialog.enabled(IDC_UPGRADE_NOW));
        row.between(rig);
        rig.verify();
        EXPECT_EQ(rig.dialog.status(), row.status);
        EXPECT_TRUE(rig.dialog.enabled(IDC_UPGRADE_NOW));
        EXPECT_EQ(rig.dialog.text(IDC_FW_VERSION), "1.00") << "the last version read stays shown";
        rig.expect_all_closed(row.name);
    }
}

TEST(VerifyScenarios, LibraryBindingOnEachSystem) {
    struct Row {
        std::string name;
        OsVersion os;
        sim::LibraryPresence library;
        bool initialised;
        std::string box;  // "" when none
    };
    const std::vector<Row> rows{
        {"2000 present", kWin2000, sim::LibraryPresence::Present, true, ""},
        {"2000 missing", kWin2000, sim::LibraryPresence::Missing, false, "Can't find 'veltport.dll' file"},
        {"2000 incomplete", kWin2000, sim::LibraryPresence::Incomplete, false,
         "Function inport failed from'veltport.dll' file"},
        {"98 missing", kWin98, sim::LibraryPresence::Missing, false, "Can't find 'veltport.dll' file"},
        {"98 incomplete", kWin98, sim::LibraryPresence::Incomplete, false,
         "Function inport failed from'veltport.dll' file"},
        {"nt4 never looks", kNt4, sim::LibraryPresence::Missing, true, ""},
        {"me never looks", kMe, sim::LibraryPresence::Incomplete, true, ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Scene setup;
        setup.os = row.os;
        setup.library = row.library;
        Rig rig(setup);
        EXPECT_EQ(rig.initialised, row.initialised);
        if (row.box.empty()) {
            EXPECT_TRUE(rig.dialog.boxes.empty());
            EXPECT_FALSE(rig.dialog.end_result);
        } else {
            ASSERT_EQ(rig.dialog.boxes.size(), 1u);
            EXPECT_EQ(rig.dialog.boxes[0].text, row.box);
            EXPECT_EQ(rig.dialog.boxes[0].caption, "F/W Upgrade Utility for Windows 95/98");
            EXPECT_EQ(rig.dialog.end_result, std::optional<int>(0));
            EXPECT_FALSE(rig.machine->library_loaded());
        }
        rig.expect_all_closed(row.name);
    }
}

}  // namespace
}  // namespace fwup::scenario
