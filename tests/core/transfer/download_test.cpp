#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/transfer_rig.h"
#include "core/transfer/status_texts.h"

namespace fwup {
namespace {

using test::download_reply;
using test::pattern;
using test::TransferRig;
using Bytes = std::vector<std::uint8_t>;
using Sleeps = std::vector<std::uint32_t>;

constexpr std::size_t kImageSize = 20'000;  // two whole blocks and a part
const PlatformFlags kWindows98{.is_win98 = true};
const PlatformFlags kWindows2000{.is_nt = true, .is_win2000 = true, .usb_model_check = false};

Bytes download_command(int esc) {
    Bytes command{0xA5, 0x00, 0x04, 0x50, 0xE0, 0x82, 0x05};
    if (esc != 0) command.insert(command.begin(), 0x1B);
    return command;
}

Bytes demo_command(std::uint32_t size) {
    return {0xA5, 0x00, 0x08, 0x50, 0xE0, 0x82, 0x07, static_cast<std::uint8_t>(size >> 24),
            static_cast<std::uint8_t>(size >> 16), static_cast<std::uint8_t>(size >> 8),
            static_cast<std::uint8_t>(size)};
}

// A rig as a successful verify leaves it: "Upgrade Now" enabled, an image in
// place and a printer that accepts it.
void prepare(TransferRig& rig, bool over_usb) {
    if (over_usb) rig.use_usb();
    rig.dialog.enabled_state[IDC_UPGRADE_NOW] = true;
    rig.images.files["fw.bin"] = {pattern(kImageSize), {}, {}};
    rig.usb_port.script.replies = {download_reply(0, 0)};
    rig.ports.script.replies = {download_reply(0, 0)};
}

void set_replies(TransferRig& rig, const Bytes& reply) {
    rig.usb_port.script.replies = {reply};
    rig.ports.script.replies = {reply};
}

const Bytes& sent_data(TransferRig& rig, bool over_usb, Bytes& usb_data) {
    usb_data = rig.usb_port.data();
    return over_usb ? usb_data : rig.ports.data;
}

std::size_t commands_sent(TransferRig& rig, bool over_usb) {
    return over_usb ? rig.usb_port.commands().size() : rig.ports.commands.size();
}

TEST(Download, SucceedsInEveryVariant) {
    for (const bool over_usb : {true, false}) {
        for (const int esc : {0, 1}) {
            for (const int demo : {0, 1}) {
                for (const bool nt : {false, true}) {
                    SCOPED_TRACE(std::string(over_usb ? "USB" : "LPT") + " esc " + std::to_string(esc) + " demo " +
                                 std::to_string(demo) + (nt ? " NT" : " 9x"));
                    TransferRig rig;
                    prepare(rig, over_usb);
                    rig.settings.esc = esc;
                    rig.settings.demo = demo;
                    rig.flags = nt ? kWindows2000 : kWindows98;
                    set_replies(rig, download_reply(esc, 0));
                    rig.download();

                    Bytes usb_data;
                    EXPECT_EQ(sent_data(rig, over_usb, usb_data), pattern(kImageSize));
                    const Bytes expected_command = demo ? demo_command(kImageSize) : download_command(esc);
                    EXPECT_EQ(over_usb ? rig.usb_port.commands() : rig.ports.commands,
                              std::vector<Bytes>{expected_command});
                    EXPECT_EQ(rig.dialog.status(), text::kWritingComplete);
                    EXPECT_EQ(rig.clock.sleeps, over_usb ? (Sleeps{500, 3000, 20'000})
                                                         : (Sleeps{500, 2000, 1000, 1000, 20'000}));
                    EXPECT_EQ(rig.dialog.enabled(IDC_UPGRADE_NOW), nt);
                    EXPECT_TRUE(rig.dialog.enabled(IDC_EXIT));
                    EXPECT_TRUE(rig.dialog.enabled(IDC_VERIFY));
                    EXPECT_FALSE(rig.dialog.visible(IDC_PROGRESS));
                    EXPECT_EQ(rig.dialog.progress_upper, kImageSize / 100);
                    EXPECT_EQ(rig.exits, demo ? 0 : 1) << "a firmware upgrade ends the program";
                    ASSERT_EQ(rig.dialog.questions.size(), demo ? 0u : 1u);
                    if (!demo) {
                        EXPECT_EQ(rig.dialog.questions[0].text,
                                  "If upgrade to new firmware code, all configuration values are reset by "
                                  "default.\nAre you sure you want to upgrade?");
                        EXPECT_EQ(rig.dialog.questions[0].caption, "Confirm upgrade");
                    }
                    EXPECT_EQ(rig.open_handles(), 0);
                    // The system copies each block into and out of it; a block on a page boundary keeps those
                    // copies on whole cache lines.
                    for (const std::uint8_t* block : rig.images.read_buffers) {
                        EXPECT_EQ(reinterpret_cast<std::uintptr_t>(block) % 4096, 0u);
                    }
                    EXPECT_EQ(rig.dialog.wait_cursor_shown, 1);
                    EXPECT_EQ(rig.dialog.wait_cursor_depth, 0);
                    EXPECT_TRUE(rig.dialog.boxes.empty());
                    if (over_usb) {
                        ASSERT_EQ(rig.usb_port.reads.size(), 1u);
                        EXPECT_EQ(rig.usb_port.reads[0].length, esc ? 9u : 8u);
                        EXPECT_EQ(rig.usb_port.reads[0].timeout, "1000");
                        for (const auto& write : rig.usb_port.writes) EXPECT_LE(write.bytes.size(), 8192u);
                        EXPECT_EQ(rig.usb_port.libraries_live, 1) << "only Exit releases the library";
                        EXPECT_TRUE(rig.ports.opens.empty());
                    } else {
                        ASSERT_EQ(rig.ports.opens.size(), 2u);
                        EXPECT_EQ(rig.ports.opens[0].access, PortAccess::ReadWrite);
                        EXPECT_EQ(rig.ports.opens[1].access, PortAccess::WriteOnly);
                        EXPECT_EQ(rig.ports.opens[1].name, "LPT1");
                        EXPECT_EQ(rig.ports.max_live_handles, 1) << "closed before it is opened again";
                        EXPECT_EQ(rig.ports.read_lengths, std::vector<std::uint32_t>{255});
                        EXPECT_EQ(rig.ports.timeouts_set.size(), 2u);
                    }
                }
            }
        }
    }
}

// What the dialog shows after a run.
struct Ending {
    bool upgrade;
    bool exit;
    bool progress_visible;
    std::optional<std::uint32_t> progress_pos;  // when the bar is shown
};
const Ending kUntouched{true, true, true, 0};
const Ending kUsbFailureExit{false, true, false, std::nullopt};
const Ending kReopenFailure{false, false, true, 1};
const Ending kCompletedOn9x{false, true, false, std::nullopt};

struct FailureCase {
    const char* name;
    bool over_usb;
    std::function<void(TransferRig&)> arrange;
    std::string status;
    Ending ending;
    std::size_t commands;   // commands the printer received
    std::size_t data_size;  // image bytes the printer received
};

TEST(Download, EveryFailureLeavesTheSpecifiedState) {
    const auto no = [](TransferRig& r) { r.dialog.answer_yes = false; };
    const auto missing_file = [](TransferRig& r) { r.images.files.clear(); };
    const auto empty_file = [](TransferRig& r) { r.images.files["fw.bin"].bytes.clear(); };
    const auto demo_image = [](std::size_t size) {
        return [size](TransferRig& r) {
            r.settings.demo = 1;
            r.images.files["fw.bin"].bytes = pattern(size);
        };
    };
    const auto reply = [](Bytes bytes) { return [bytes](TransferRig& r) { set_replies(r, bytes); }; };
    const auto short_reply = reply(Bytes(7, 0));
    const auto busy = reply(download_reply(0, 1));
    const auto status_2 = reply(download_reply(0, 2));
    const auto demo_status_2 = [](TransferRig& r) {
        r.settings.demo = 1;
        set_replies(r, download_reply(0, 2));
    };
    const auto unreadable_image = [](TransferRig& r) { r.images.files["fw.bin"].read_error_at = 8192; };
    const auto shrunk_image = [](TransferRig& r) { r.images.files["fw.bin"].claimed_size = kImageSize + 10; };

    const std::vector<FailureCase> cases = {
        {"USB: answer No", true, no, "", kUntouched, 0, 0},
        {"USB: image missing", true, missing_file, "File open error...(fw.bin)", kUntouched, 0, 0},
        {"USB: empty image", true, empty_file, text::kErrorReadingFile, kUntouched, 0, 0},
        {"USB: demo image one byte too big", true, demo_image(1'024'001), text::kDemoImageTooBig, kUntouched, 0, 0},
        {"USB: demo image whose size needs 33 bits", true,
         [](TransferRig& r) {
             r.settings.demo = 1;
             r.images.files["fw.bin"].claimed_size = 0x1'0000'0001;  // 1 when cut to 32 bits
         },
         text::kDemoImageTooBig, kUntouched, 0, 0},
        {"USB: command write fails", true,
         [](TransferRig& r) { r.usb_port.script.command_write_result = VELTPORT_TRANSFER_FAILED; },
         text::kWritingDownloadCommandError, kUsbFailureExit, 1, 0},
        {"USB: no reply", true, reply({}), text::kReadingCommandError, kUsbFailureExit, 1, 0},
        {"USB: short reply", true, short_reply, text::kReadingCommandError, kUsbFailureExit, 1, 0},
        {"USB: library reports no count", true, [](TransferRig& r) { r.usb_port.script.read_leaves_count = true; },
         text::kReadingCommandError, kUsbFailureExit, 1, 0},
        {"USB: busy", true, busy, text::kPrinterBusy, kUsbFailureExit, 1, 0},
        {"USB: status 2 in firmware mode", true, status_2, text::kPrinterBusy, kUsbFailureExit, 1, 0},
        {"USB: status 2 in demo mode", true, demo_status_2, text::kDemoNotSupported, kUsbFailureExit, 1, 0},
        {"USB: data write fails", true, [](TransferRig& r) { r.usb_port.script.data_fail_after = 8192; },
         text::kWritingDataError, kCompletedOn9x, 1, 8192},
        {"USB: data written short", true, [](TransferRig& r) { r.usb_port.script.data_short_after = 10'000; },
         text::kWritingDataError, kCompletedOn9x, 1, 10'000},
        {"USB: image unreadable midway", true, unreadable_image, text::kErrorReadingFile, kCompletedOn9x, 1, 8192},
        {"USB: image shorter than its size", true, shrunk_image, text::kErrorReadingFile, kCompletedOn9x, 1,
         kImageSize},

        {"LPT: answer No", false, no, "", kUntouched, 0, 0},
        {"LPT: image missing", false, missing_file, "File open error...(fw.bin)", kUntouched, 0, 0},
        {"LPT: empty image", false, empty_file, text::kErrorReadingFile, kUntouched, 0, 0},
        {"LPT: demo image one byte too big", false, demo_image(1'024'001), text::kDemoImageTooBig, kUntouched, 0,
         0},
        {"LPT: port 0 has no name", false, [](TransferRig& r) { r.settings.lpt = 0; }, text::kFailedToOpenLpt,
         kUntouched, 0, 0},
        {"LPT: port cannot be opened", false, [](TransferRig& r) { r.ports.script.open_read_write = false; },
         text::kFailedToOpenLpt, kUntouched, 0, 0},
        {"LPT: time-outs unreadable", false, [](TransferRig& r) { r.ports.script.timeouts_read_write = false; },
         text::kFailedToSetCommState, kUntouched, 0, 0},
        {"LPT: command write fails", false, [](TransferRig& r) { r.ports.script.command_write_fails = true; },
         text::kWritingDownloadCommandError, kUntouched, 0, 0},
        {"LPT: command written short", false, [](TransferRig& r) { r.ports.script.command_write_short = true; },
         text::kWritingDownloadCommandError, kUntouched, 1, 0},
        {"LPT: short reply", false, short_reply, text::kReadingCommandError, kUntouched, 1, 0},
        {"LPT: ESC expects a longer reply", false,
         [](TransferRig& r) {
             r.settings.esc = 1;
             set_replies(r, download_reply(0, 0));
         },
         text::kReadingCommandError, kUntouched, 1, 0},
        {"LPT: busy", false, busy, text::kPrinterBusy, kUntouched, 1, 0},
        {"LPT: status 2 in demo mode", false, demo_status_2, text::kDemoNotSupported, kUntouched, 1, 0},
        {"LPT: reopening fails", false, [](TransferRig& r) { r.ports.script.open_write_only = false; },
         text::kFailedToOpenLpt, kReopenFailure, 1, 0},
        {"LPT: reopened port's time-outs unreadable", false,
         [](TransferRig& r) { r.ports.script.timeouts_write_only = false; }, text::kFailedToSetCommState,
         kReopenFailure, 1, 0},
        {"LPT: data write fails", false, [](TransferRig& r) { r.ports.script.data_fail_after = 8192; },
         text::kWritingDataError, kCompletedOn9x, 1, 8192},
        {"LPT: data written short", false, [](TransferRig& r) { r.ports.script.data_short_after = 10'000; },
         text::kWritingDataError, kCompletedOn9x, 1, 10'000},
        {"LPT: image unreadable midway", false, unreadable_image, text::kErrorReadingFile, kCompletedOn9x, 1, 8192},
    };

    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TransferRig rig;
        prepare(rig, c.over_usb);
        c.arrange(rig);
        rig.download();

        EXPECT_EQ(rig.dialog.status(), c.status);
        EXPECT_EQ(rig.dialog.enabled(IDC_UPGRADE_NOW), c.ending.upgrade);
        EXPECT_EQ(rig.dialog.enabled(IDC_EXIT), c.ending.exit);
        EXPECT_EQ(rig.dialog.visible(IDC_PROGRESS), c.ending.progress_visible);
        if (c.ending.progress_pos) {
            EXPECT_EQ(rig.dialog.progress_pos, *c.ending.progress_pos);
        }
        EXPECT_EQ(commands_sent(rig, c.over_usb), c.commands);
        Bytes usb_data;
        const Bytes& data = sent_data(rig, c.over_usb, usb_data);
        EXPECT_EQ(data.size(), c.data_size);
        EXPECT_TRUE(std::equal(data.begin(), data.end(), pattern(kImageSize).begin())) << "image bytes in order";
        EXPECT_EQ(rig.exits, 0);
        EXPECT_EQ(rig.open_handles(), 0);
        EXPECT_EQ(rig.dialog.wait_cursor_depth, 0);
        EXPECT_EQ(rig.dialog.wait_cursor_shown, rig.dialog.answer_yes ? 1 : 0);
        // Only a failed LPT data write also shows the system's reason.
        if (std::string(c.name) == "LPT: data write fails") {
            ASSERT_EQ(rig.dialog.boxes.size(), 1u);
            EXPECT_EQ(rig.dialog.boxes[0].text, rig.ports.script.error_text);
            EXPECT_EQ(rig.dialog.boxes[0].caption, "GetLastError()");
            EXPECT_EQ(rig.dialog.boxes[0].icon, MessageIcon::Information);
        } else {
            EXPECT_TRUE(rig.dialog.boxes.empty());
        }
    }
}

TEST(Download, DemoImageAtTheLimitIsSentWithItsSize) {
    for (const bool over_usb : {true, false}) {
        TransferRig rig;
        prepare(rig, over_usb);
        rig.settings.demo = 1;
        rig.settings.esc = 1;  // the demo command stays plain, its reply follows Esc
        set_replies(rig, download_reply(1, 0));
        rig.images.files["fw.bin"].bytes = pattern(1'024'000);
        rig.download();
        EXPECT_EQ(rig.dialog.status(), text::kWritingComplete);
        Bytes usb_data;
        EXPECT_EQ(sent_data(rig, over_usb, usb_data), pattern(1'024'000));
        EXPECT_EQ(over_usb ? rig.usb_port.commands() : rig.ports.commands,
                  std::vector<Bytes>{demo_command(1'024'000)});
    }
}

TEST(Download, LongLptReplyIsJudgedAtTheExpectedLength) {
    for (const std::uint8_t trailing : {std::uint8_t{0x00}, std::uint8_t{0x01}}) {
        TransferRig rig;
        prepare(rig, false);
        Bytes reply = download_reply(0, 0, 4);  // 12 bytes, status at offset 7
        std::fill(reply.begin() + 8, reply.end(), trailing);
        set_replies(rig, reply);
        rig.download();
        EXPECT_EQ(rig.dialog.status(), text::kWritingComplete);
    }
}

TEST(Download, ProgressRangeCoversImagesBeyond32Bits) {
    TransferRig rig;
    prepare(rig, true);
    rig.images.files["fw.bin"].claimed_size = 0x1'0000'01F4;  // 4 GiB + 500 bytes
    rig.download();
    const auto range = std::find(rig.dialog.events.begin(), rig.dialog.events.end(), "range 42949677");
    EXPECT_NE(range, rig.dialog.events.end());
    // The file ends long before the size it claimed: that is no success.
    EXPECT_EQ(rig.dialog.status(), text::kErrorReadingFile);
    EXPECT_EQ(rig.exits, 0);
}

TEST(Download, ProgressMovesAtMostEvery100Ms) {
    struct Row {
        std::uint32_t tick_step;  // time that passes per tick reading
        std::vector<std::uint32_t> positions;
    };
    // The tick is taken before the wait that precedes the data, so the first
    // block never moves the bar; the wait makes the second one move it. A
    // finished image then fills the bar, however little time the last blocks took.
    const std::vector<Row> rows = {
        {0, {0, 1, 163, 200}},
        {50, {0, 1, 163, 200}},
        {100, {0, 1, 163, 200, 200}},
    };
    for (const bool over_usb : {true, false}) {
        for (const auto& row : rows) {
            TransferRig rig;
            prepare(rig, over_usb);
            rig.clock.tick_step = row.tick_step;
            rig.download();
            EXPECT_EQ(rig.dialog.progress_positions, row.positions) << "tick step " << row.tick_step;
        }
    }
}

TEST(Download, FirmwareModeHasNoSizeLimit) {
    TransferRig rig;
    prepare(rig, true);
    rig.images.files["fw.bin"].bytes = pattern(1'024'001);
    rig.download();
    EXPECT_EQ(rig.dialog.status(), text::kWritingComplete);
    EXPECT_EQ(rig.usb_port.data().size(), 1'024'001u);
}

}  // namespace
}  // namespace fwup
