// "Upgrade Now" / "Download Now" on virtual machines, after a verify that
// found the printer ready, one row per scenario.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "tests/scenarios/scenario_rig.h"
#include "core/transfer/status_texts.h"

namespace fwup::scenario {
namespace {

using Bytes = std::vector<std::uint8_t>;

const Bytes kDownload{0xA5, 0x00, 0x04, 0x50, 0xE0, 0x82, 0x05};
const Bytes kEscDownload{0x1B, 0xA5, 0x00, 0x04, 0x50, 0xE0, 0x82, 0x05};
Bytes demo_command(std::uint32_t size) {
    return {0xA5, 0x00, 0x08, 0x50, 0xE0, 0x82, 0x07, static_cast<std::uint8_t>(size >> 24),
            static_cast<std::uint8_t>(size >> 16), static_cast<std::uint8_t>(size >> 8),
            static_cast<std::uint8_t>(size)};
}

// Where the run ended decides what the dialog shows afterwards.
enum class Ending {
    Untouched,   // before the buttons were touched: as verify left them, bar shown at 0
    UsbFailure,  // USB command exchange failed: upgrade off, exit on, bar hidden
    LptReopen,   // reopening LPT for the data failed: both off, bar shown at 1
    Completed,   // after the data loop: upgrade on only on NT, exit on, bar hidden
};

struct DownloadRow {
    std::string name;
    std::function<void(Scene&)> setup;
    std::string status;
    Ending ending;
    std::uint32_t waited_ms;
    std::uint64_t received;  // image bytes the printer took
    Bytes command;           // the download command the printer got; empty: none
    std::function<void(Rig&)> before = nullptr;  // between verify and download
    std::string box = "";                       // a message box's text
};

void lpt1(Scene& s) { s.carrier = Carrier::Lpt1; }
void demo(Scene& s) { s.settings.demo = 1; }
void sized(Scene& s, std::size_t bytes) { s.image.bytes = test::pattern(bytes); }

std::vector<DownloadRow> download_rows() {
    using namespace text;
    const char* kTimeout = "The semaphore timeout period has expired.";
    return {
        // USB: 500 ms for the reply, 3000 before the data, 20000 after a success.
        {"usb 2000 firmware", [](Scene&) {}, kWritingComplete, Ending::Completed, 23500, 20000, kDownload},
        {"usb 98 firmware", [](Scene& s) { s.os = kWin98; }, kWritingComplete, Ending::Completed, 23500, 20000,
         kDownload},
        {"usb esc firmware", [](Scene& s) {
             s.settings.esc = 1;
             s.printer.esc = 1;
         }, kWritingComplete, Ending::Completed, 23500, 20000, kEscDownload},
        {"usb several blocks and a tail", [](Scene& s) { sized(s, 3 * 8192 + 5); }, kWritingComplete,
         Ending::Completed, 23500, 3 * 8192 + 5, kDownload},
        {"usb demo stays open", demo, kWritingComplete, Ending::Completed, 23500, 20000, demo_command(20000)},
        {"usb demo of exactly the limit", [](Scene& s) {
             demo(s);
             sized(s, 1'024'000);
         }, kWritingComplete, Ending::Completed, 23500, 1'024'000, demo_command(1'024'000)},
        {"usb busy", [](Scene& s) { s.printer.download_status = 1; }, kPrinterBusy, Ending::UsbFailure, 500, 0,
         kDownload},
        {"usb status 2 is busy outside demo", [](Scene& s) { s.printer.download_status = 2; }, kPrinterBusy,
         Ending::UsbFailure, 500, 0, kDownload},
        {"usb demo not supported", [](Scene& s) {
             demo(s);
             s.printer.demo_status = 2;
         }, kDemoNotSupported, Ending::UsbFailure, 500, 0, demo_command(20000)},
        {"usb demo busy", [](Scene& s) {
             demo(s);
             s.printer.demo_status = 3;
         }, kPrinterBusy, Ending::UsbFailure, 500, 0, demo_command(20000)},
        {"usb command write fails", [](Scene&) {}, kWritingDownloadCommandError, Ending::UsbFailure, 0, 0, {},
         [](Rig& r) { r.usb_device().faults.write_failures = 2; }},
        {"usb reply lost", [](Scene&) {}, kReadingCommandError, Ending::UsbFailure, 500, 0, kDownload,
         [](Rig& r) { r.usb_device().faults.empty_reads = 1; }},
        {"usb printer stops taking data", [](Scene& s) { s.printer.fail_write_after = 10000; }, kWritingDataError,
         Ending::Completed, 3500, 10000, kDownload},
        {"usb image read error", [](Scene& s) { s.image.read_error_at = 10000; }, kErrorReadingFile,
         Ending::Completed, 3500, 10000, kDownload},
        {"usb image shorter than its size", [](Scene& s) { s.image.claimed_size = 30000; }, kErrorReadingFile,
         Ending::Completed, 3500, 20000, kDownload},

        // Before anything reaches the printer (both carriers).
        {"usb missing image", [](Scene& s) { s.image_exists = false; }, file_open_error(kImage), Ending::Untouched,
         0, 0, {}},
        {"lpt missing image", [](Scene& s) {
             lpt1(s);
             s.image_exists = false;
         }, file_open_error(kImage), Ending::Untouched, 0, 0, {}},
        {"usb empty image refused", [](Scene& s) { sized(s, 0); }, kErrorReadingFile, Ending::Untouched, 0, 0, {}},
        {"lpt empty image refused", [](Scene& s) {
             lpt1(s);
             sized(s, 0);
         }, kErrorReadingFile, Ending::Untouched, 0, 0, {}},
        {"usb demo one byte over the limit", [](Scene& s) {
             demo(s);
             s.image.claimed_size = 1'024'001;
         }, kDemoImageTooBig, Ending::Untouched, 0, 0, {}},
        {"lpt demo one byte over the limit", [](Scene& s) {
             lpt1(s);
             demo(s);
             s.image.claimed_size = 1'024'001;
         }, kDemoImageTooBig, Ending::Untouched, 0, 0, {}},

        // LPT: 500 ms for the reply, 2000 after acceptance, 1000 around the reopening, 20000 after a success.
        {"lpt 2000 firmware", lpt1, kWritingComplete, Ending::Completed, 24500, 20000, kDownload},
        {"lpt 98 firmware", [](Scene& s) {
             s.os = kWin98;
             lpt1(s);
         }, kWritingComplete, Ending::Completed, 24500, 20000, kDownload},
        {"lpt nt4 firmware", [](Scene& s) {
             s.os = kNt4;
             lpt1(s);
         }, kWritingComplete, Ending::Completed, 24500, 20000, kDownload},
        {"lpt me firmware", [](Scene& s) {
             s.os = kMe;
             lpt1(s);
         }, kWritingComplete, Ending::Completed, 24500, 20000, kDownload},
        {"lpt esc firmware", [](Scene& s) {
             lpt1(s);
             s.settings.esc = 1;
             s.printer.esc = 1;
         }, kWritingComplete, Ending::Completed, 24500, 20000, kEscDownload},
        {"lpt demo with esc sends the plain demo command", [](Scene& s) {
             lpt1(s);
             demo(s);
             s.settings.esc = 1;
             s.printer.esc = 1;
         }, kWritingComplete, Ending::Completed, 24500, 20000, demo_command(20000)},
        {"lpt busy", [](Scene& s) {
             lpt1(s);
             s.printer.download_status = 0x80;
         }, kPrinterBusy, Ending::Untouched, 500, 0, kDownload},
        {"lpt demo not supported", [](Scene& s) {
             lpt1(s);
             demo(s);
             s.printer.demo_status = 2;
         }, kDemoNotSupported, Ending::Untouched, 500, 0, demo_command(20000)},
        {"lpt port cannot be opened", lpt1, kFailedToOpenLpt, Ending::Untouched, 0, 0, {},
         [](Rig& r) { r.machine->lpt().set_faults({2, 0, 0, 0, false}); }},
        {"lpt time-outs cannot be read", lpt1, kFailedToSetCommState, Ending::Untouched, 0, 0, {},
         [](Rig& r) { r.machine->lpt().set_faults({0, 2, 0, 0, false}); }},
        {"lpt command write fails", lpt1, kWritingDownloadCommandError, Ending::Untouched, 0, 0, {},
         [](Rig& r) { r.machine->lpt().set_faults({0, 0, 2, 0, false}); }},
        {"lpt command written short", lpt1, kWritingDownloadCommandError, Ending::Untouched, 0, 0, {},
         [](Rig& r) { r.machine->lpt().set_faults({0, 0, 0, 0, false, 2}); }},
        {"lpt reply lost", lpt1, kReadingCommandError, Ending::Untouched, 500, 0, kDownload,
         [](Rig& r) { r.machine->lpt().set_faults({0, 0, 0, 2, false}); }},
        {"lpt port cannot be reopened for the data", lpt1, kFailedToOpenLpt, Ending::LptReopen, 3500, 0, kDownload,
         [](Rig& r) { r.machine->lpt().set_faults({3, 0, 0, 0, false}); }},
        {"lpt reopened port's time-outs cannot be read", lpt1, kFailedToSetCommState, Ending::LptReopen, 3500, 0,
         kDownload, [](Rig& r) { r.machine->lpt().set_faults({0, 3, 0, 0, false}); }},
        {"lpt printer stops part-way through a block", [](Scene& s) {
             lpt1(s);
             s.printer.fail_write_after = 10000;
         }, kWritingDataError, Ending::Completed, 4500, 10000, kDownload},
        {"lpt printer stops between blocks", [](Scene& s) {
             lpt1(s);
             s.printer.fail_write_after = 8192;
         }, kWritingDataError, Ending::Completed, 4500, 8192, kDownload, nullptr, kTimeout},
        {"lpt image read error", [](Scene& s) {
             lpt1(s);
             s.image.read_error_at = 8192;
         }, kErrorReadingFile, Ending::Completed, 4500, 8192, kDownload},
    };
}

TEST(DownloadScenarios, EveryRowEndsInItsStateWithTheBytesTheWaitsAndNothingOpen) {
    for (const DownloadRow& row : download_rows()) {
        SCOPED_TRACE(row.name);
        Scene setup;
        row.setup(setup);
        Rig rig(setup);
        rig.verify();
        ASSERT_TRUE(rig.dialog.enabled(IDC_UPGRADE_NOW)) << rig.dialog.status();
        if (row.before) row.before(rig);
        const std::size_t commands_before = rig.printer().commands().size();
        const std::uint32_t waited = rig.upgrade();

        EXPECT_EQ(rig.dialog.status(), row.status);
        EXPECT_EQ(waited, row.waited_ms);
        rig.expect_all_closed(row.name);

        // The command, and then exactly the image's first bytes.
        const auto& commands = rig.printer().commands();
        if (row.command.empty()) {
            EXPECT_EQ(commands.size(), commands_before);
        } else {
            ASSERT_EQ(commands.size(), commands_before + 1);
            EXPECT_EQ(commands.back(), row.command);
        }
        EXPECT_EQ(rig.printer().image_bytes(), row.received);
        const Bytes& image = setup.image.bytes;
        ASSERT_LE(row.received, image.size());
        EXPECT_EQ(rig.printer().image_sha256(), sim::sha256_hex(image.data(), row.received));

        const bool is_nt = setup.os.platform_id == OsVersion::kWindowsNt;
        bool upgrade = true, exit = true, bar = true;
        std::uint32_t pos = 0;
        switch (row.ending) {
            case Ending::Untouched: break;
            case Ending::UsbFailure: upgrade = false, bar = false; break;
            case Ending::LptReopen: upgrade = false, exit = false, pos = 1; break;
            case Ending::Completed: upgrade = is_nt, bar = false; break;
        }
        EXPECT_EQ(rig.dialog.enabled(IDC_UPGRADE_NOW), upgrade);
        EXPECT_EQ(rig.dialog.enabled(IDC_EXIT), exit);
        EXPECT_TRUE(rig.dialog.enabled(IDC_VERIFY));
        EXPECT_EQ(rig.dialog.visible(IDC_PROGRESS), bar);
        if (bar) {
            EXPECT_EQ(rig.dialog.progress_pos, pos);
        }
        if (row.ending != Ending::Untouched) {
            EXPECT_EQ(rig.dialog.progress_upper, setup.image.claimed_size.value_or(image.size()) / 100);
        }
        // What the bar shows from the end of the data on (through the 20 s wait
        // after a success): all of it after a success, no more than was sent otherwise.
        if (row.ending == Ending::Completed) {
            const auto& events = rig.dialog.events;
            const auto done = std::find(events.begin(), events.end(), "text 1008 " + std::string(text::kWritingComplete));
            EXPECT_EQ(done != events.end(), row.status == text::kWritingComplete);
            std::uint32_t shown = 0;
            for (auto e = events.begin(); e != done; ++e) {
                if (e->rfind("pos ", 0) == 0) shown = static_cast<std::uint32_t>(std::stoul(e->substr(4)));
            }
            if (done != events.end()) {
                EXPECT_EQ(shown, rig.dialog.progress_upper);
            } else {
                EXPECT_LE(shown, row.received / 100);
            }
        }

        // Only a successful firmware upgrade ends the program, releasing the library.
        const bool ends = row.status == text::kWritingComplete && setup.settings.demo == 0;
        EXPECT_EQ(rig.dialog.end_result.has_value(), ends);
        if (ends) {
            EXPECT_FALSE(rig.machine->library_loaded());
        }

        if (row.box.empty()) {
            EXPECT_TRUE(rig.dialog.boxes.empty());
        } else {
            ASSERT_EQ(rig.dialog.boxes.size(), 1u);
            EXPECT_EQ(rig.dialog.boxes[0].text, row.box);
            EXPECT_EQ(rig.dialog.boxes[0].caption, "GetLastError()");
            EXPECT_EQ(rig.dialog.boxes[0].icon, MessageIcon::Information);
        }
        // The confirmation is asked in firmware mode only.
        EXPECT_EQ(rig.dialog.questions.size(), setup.settings.demo == 0 ? 1u : 0u);
    }
}

TEST(DownloadScenarios, ConfirmationAnsweredNoSendsNothing) {
    for (const Carrier carrier : {Carrier::Usb, Carrier::Lpt1}) {
        SCOPED_TRACE(carrier == Carrier::Usb ? "usb" : "lpt");
        Scene setup;
        setup.carrier = carrier;
        setup.answer_yes = false;
        Rig rig(setup);
        rig.verify();
        const std::uint32_t cursors = static_cast<std::uint32_t>(rig.dialog.wait_cursor_shown);
        EXPECT_EQ(rig.upgrade(), 0u);
        ASSERT_EQ(rig.dialog.questions.size(), 1u);
        EXPECT_EQ(rig.dialog.questions[0].text, text::kConfirmUpgrade);
        EXPECT_EQ(rig.dialog.questions[0].caption, "Confirm upgrade");
        EXPECT_EQ(rig.dialog.status(), text::kReadyToUpgrade);
        EXPECT_EQ(rig.printer().commands().size(), 1u) << "only the version query";
        EXPECT_TRUE(rig.dialog.enabled(IDC_UPGRADE_NOW));
        EXPECT_TRUE(rig.dialog.visible(IDC_PROGRESS));
        EXPECT_EQ(rig.dialog.progress_pos, 0u);
        EXPECT_EQ(static_cast<std::uint32_t>(rig.dialog.wait_cursor_shown), cursors) << "no wait cursor";
        EXPECT_TRUE(rig.images.opened.empty());
        rig.expect_all_closed("no");
    }
}

}  // namespace
}  // namespace fwup::scenario
