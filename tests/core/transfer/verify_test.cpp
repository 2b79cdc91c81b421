#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "tests/support/transfer_rig.h"
#include "core/transfer/status_texts.h"

namespace fwup {
namespace {

using test::TransferRig;
using test::version_reply;
using Bytes = std::vector<std::uint8_t>;
using Sleeps = std::vector<std::uint32_t>;

const Bytes kVersionQuery{0xA5, 0x00, 0x04, 0x50, 0xE0, 0x82, 0x06};
const Bytes kVersionQueryEsc{0x1B, 0xA5, 0x00, 0x04, 0x50, 0xE0, 0x82, 0x06};

struct VerifyCase {
    const char* name;
    std::function<void(TransferRig&)> arrange;
    std::string status;
    std::string fw_version;  // the F/W Version field afterwards
    bool upgrade_enabled;    // "Upgrade Now" afterwards (it starts disabled)
    Sleeps sleeps;
};

void run_cases(const std::vector<VerifyCase>& cases, bool over_usb) {
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TransferRig rig;
        if (over_usb) rig.use_usb();
        c.arrange(rig);
        rig.verify();
        EXPECT_EQ(rig.dialog.status(), c.status);
        EXPECT_EQ(rig.dialog.text(IDC_FW_VERSION), c.fw_version);
        EXPECT_EQ(rig.dialog.enabled(IDC_UPGRADE_NOW), c.upgrade_enabled);
        EXPECT_EQ(rig.clock.sleeps, c.sleeps);
        EXPECT_EQ(rig.dialog.wait_cursor_shown, 1);
        EXPECT_EQ(rig.dialog.wait_cursor_depth, 0);
        EXPECT_EQ(rig.open_handles(), 0);
        EXPECT_TRUE(rig.images.opened.empty());
        if (over_usb) {
            EXPECT_TRUE(rig.ports.opens.empty()) << "a USB printer never touches the LPT port";
        }
    }
}

TEST(VerifyUsb, EveryEnding) {
    const Sleeps all{100, 500, 1000};
    const std::vector<VerifyCase> cases = {
        {"older printer", [](TransferRig& r) { r.usb_port.script.replies = {version_reply(0, "105")}; },
         text::kReadyToUpgrade, "1.05", true, all},
        {"same version", [](TransferRig& r) { r.usb_port.script.replies = {version_reply(0, "106")}; },
         text::kNoUpgradeRequired, "1.06", false, all},
        {"newer printer", [](TransferRig& r) { r.usb_port.script.replies = {version_reply(0, "200")}; },
         text::kNoUpgradeRequired, "2.00", false, all},
        {"negative version",
         [](TransferRig& r) { r.usb_port.script.replies = {version_reply(0, "-12")}; },
         text::kReadyToUpgrade, "-0.12", true, all},
        {"no number in the field",
         [](TransferRig& r) { r.usb_port.script.replies = {version_reply(0, "ABC")}; },
         text::kReadyToUpgrade, "0.00", true, all},
        {"demo shows but never compares",
         [](TransferRig& r) {
             r.settings.demo = 1;
             r.usb_port.script.replies = {version_reply(0, "999")};
         },
         text::kReadyToDownloadDemo, "9.99", true, all},
        {"ESC variant",
         [](TransferRig& r) {
             r.settings.esc = 1;
             r.usb_port.script.replies = {version_reply(1, "105")};
         },
         text::kReadyToUpgrade, "1.05", true, all},
        {"printer falls silent after choosing USB",
         [](TransferRig& r) { r.usb_port.script.device_id_answers = 1; }, text::kDeviceNotResponding, "...",
         false, {}},
        {"other model on the 9x family",
         [](TransferRig& r) { r.usb_port.script.device_id = "MFG:Test;MODEL:Model Y;"; },
         text::kModelNotMatched, "...", false, {100}},
        {"other model on Windows 2000 is not compared",
         [](TransferRig& r) {
             r.flags = {.is_nt = true, .is_win2000 = true, .usb_model_check = false};
             r.usb_port.script.device_id = "MFG:Test;MODEL:Model Y;";
             r.usb_port.script.replies = {version_reply(0, "105")};
         },
         text::kReadyToUpgrade, "1.05", true, all},
        {"other model on an NT system that asks for the check",
         [](TransferRig& r) {
             r.flags = {.is_nt = true, .is_win2000 = true, .usb_model_check = true};
             r.usb_port.script.device_id = "MFG:Test;MODEL:Model Y;";
         },
         text::kModelNotMatched, "...", false, {100}},
        {"command write fails",
         [](TransferRig& r) { r.usb_port.script.command_write_result = VELTPORT_TRANSFER_FAILED; },
         text::kWritingVersionCommandError, "...", false, {100, 500}},
        {"reply one byte short",
         [](TransferRig& r) { r.usb_port.script.replies = {version_reply(0, "105", 1)}; },
         text::kReadingVersionDataError, "...", false, all},
        {"ESC reply of the plain length is short",
         [](TransferRig& r) {
             r.settings.esc = 1;
             r.usb_port.script.replies = {version_reply(0, "105")};
         },
         text::kReadingVersionDataError, "...", false, all},
        {"library reports no count",
         [](TransferRig& r) { r.usb_port.script.read_leaves_count = true; }, text::kReadingVersionDataError,
         "...", false, all},
    };
    run_cases(cases, true);
}

TEST(VerifyUsb, SendsTheVersionQueryAndReadsTheReplyLength) {
    for (int esc : {0, 1}) {
        TransferRig rig;
        rig.use_usb();
        rig.settings.esc = esc;
        rig.usb_port.script.replies = {version_reply(esc, "105")};
        rig.verify();
        EXPECT_EQ(rig.usb_port.commands(), std::vector<Bytes>{esc ? kVersionQueryEsc : kVersionQuery});
        EXPECT_EQ(rig.usb_port.writes.at(0).timeout, "1000");
        ASSERT_EQ(rig.usb_port.reads.size(), 1u);
        EXPECT_EQ(rig.usb_port.reads[0].length, esc ? 11u : 10u);
        EXPECT_EQ(rig.usb_port.reads[0].timeout, "1000");
        // Once to choose the carrier, once more to identify; the capacity goes in as 255.
        EXPECT_EQ(rig.usb_port.device_id_capacities, (std::vector<std::uint32_t>{255, 255}));
        EXPECT_EQ(rig.clock.total_slept(), 1600u);
    }
}

TEST(VerifyUsb, PrinterThatDoesNotAnswerUsbIsAskedOverLpt) {
    TransferRig rig;
    rig.use_usb();
    rig.usb_port.script.connected = false;
    rig.ports.script.replies = {version_reply(0, "105")};
    rig.verify();
    EXPECT_EQ(rig.usb_port.device_id_calls, 1);
    ASSERT_EQ(rig.ports.opens.size(), 1u);
    EXPECT_EQ(rig.dialog.status(), text::kReadyToUpgrade);
}

TEST(VerifyUsb, FailureKeepsTheUpgradeButtonAsItWas) {
    TransferRig rig;
    rig.use_usb();
    rig.dialog.enabled_state[IDC_UPGRADE_NOW] = true;
    rig.usb_port.script.replies = {version_reply(0, "106")};
    rig.verify();
    EXPECT_EQ(rig.dialog.status(), text::kNoUpgradeRequired);
    EXPECT_TRUE(rig.dialog.enabled(IDC_UPGRADE_NOW));
}

TEST(VerifyLpt, EveryEnding) {
    const Sleeps all{500, 2000};
    const std::vector<VerifyCase> cases = {
        {"older printer", [](TransferRig& r) { r.ports.script.replies = {version_reply(0, "105")}; },
         text::kReadyToUpgrade, "1.05", true, all},
        {"same version", [](TransferRig& r) { r.ports.script.replies = {version_reply(0, "106")}; },
         text::kUpgradeNotNecessary, "1.06", false, all},
        {"demo",
         [](TransferRig& r) {
             r.settings.demo = 1;
             r.ports.script.replies = {version_reply(0, "300")};
         },
         text::kReadyToDownloadDemo, "3.00", true, all},
        {"port 0 has no name", [](TransferRig& r) { r.settings.lpt = 0; }, text::kFailedToOpenLpt, "...",
         false, {}},
        {"port 4 has no name", [](TransferRig& r) { r.settings.lpt = 4; }, text::kFailedToOpenLpt, "...",
         false, {}},
        {"port cannot be opened", [](TransferRig& r) { r.ports.script.open_read_write = false; },
         text::kFailedToOpenLpt, "...", false, {}},
        {"time-outs unreadable", [](TransferRig& r) { r.ports.script.timeouts_read_write = false; },
         text::kFailedToSetCommState, "...", false, {}},
        {"identification retried at once",
         [](TransferRig& r) {
             r.ports.script.device_id_failures = 1;
             r.ports.script.replies = {version_reply(0, "105")};
         },
         text::kReadyToUpgrade, "1.05", true, all},
        {"identification retried after 5 s with ESC",
         [](TransferRig& r) {
             r.settings.esc = 1;
             r.ports.script.device_id_failures = 1;
             r.ports.script.replies = {version_reply(1, "105")};
         },
         text::kReadyToUpgrade, "1.05", true, {5000, 500, 2000}},
        {"identification that overflows the buffer counts by its bytes",
         [](TransferRig& r) {
             r.ports.script.device_id_overflow = true;
             r.ports.script.replies = {version_reply(0, "105")};
         },
         text::kReadyToUpgrade, "1.05", true, all},
        {"no identification", [](TransferRig& r) { r.ports.script.device_id_failures = 2; },
         text::kDeviceNotResponding, "...", false, {}},
        {"no identification with ESC",
         [](TransferRig& r) {
             r.settings.esc = 1;
             r.ports.script.device_id_failures = 2;
         },
         text::kDeviceNotResponding, "...", false, {5000}},
        {"other model, even on Windows 2000",
         [](TransferRig& r) {
             r.flags = {.is_nt = true, .is_win2000 = true, .usb_model_check = false};
             r.ports.script.device_id = "MODEL:model x;";
         },
         text::kModelNotMatched, "...", false, {}},
        {"command write fails", [](TransferRig& r) { r.ports.script.command_write_fails = true; },
         text::kWritingVersionCommandError, "...", false, {500}},
        {"command written short", [](TransferRig& r) { r.ports.script.command_write_short = true; },
         text::kWritingVersionCommandError, "...", false, {500}},
        {"short reply read again at once",
         [](TransferRig& r) { r.ports.script.replies = {version_reply(0, "099", 1), version_reply(0, "105")}; },
         text::kReadyToUpgrade, "1.05", true, all},
        {"short reply read again after 5 s with ESC",
         [](TransferRig& r) {
             r.settings.esc = 1;
             r.ports.script.replies = {version_reply(1, "099", 1), version_reply(1, "105")};
         },
         text::kReadyToUpgrade, "1.05", true, {500, 2000, 5000}},
        {"two short replies are never joined",
         [](TransferRig& r) { r.ports.script.replies = {version_reply(0, "105", 5), version_reply(0, "105", 5)}; },
         text::kReadingVersionDataError, "...", false, all},
    };
    run_cases(cases, false);
}

TEST(VerifyLpt, OpensTheConfiguredPortAndSetsItsTimeouts) {
    for (int lpt : {1, 2, 3}) {
        TransferRig rig;
        rig.settings.lpt = lpt;
        rig.ports.script.replies = {version_reply(0, "105")};
        rig.verify();
        ASSERT_EQ(rig.ports.opens.size(), 1u);
        EXPECT_EQ(rig.ports.opens[0].name, "LPT" + std::to_string(lpt));
        EXPECT_EQ(rig.ports.opens[0].access, PortAccess::ReadWrite);
        ASSERT_EQ(rig.ports.timeouts_set.size(), 1u);
        const CommTimeouts& t = rig.ports.timeouts_set[0];
        EXPECT_EQ(t.write_total_constant, 2000u);
        EXPECT_EQ(t.read_total_constant, 1000u);
        EXPECT_EQ(t.read_interval, 200u);
        // The multipliers keep what the port had.
        EXPECT_EQ(t.read_total_multiplier, rig.ports.script.initial_timeouts.read_total_multiplier);
        EXPECT_EQ(t.write_total_multiplier, rig.ports.script.initial_timeouts.write_total_multiplier);
        EXPECT_EQ(rig.ports.commands, std::vector<Bytes>{kVersionQuery});
        EXPECT_EQ(rig.ports.read_lengths, std::vector<std::uint32_t>{10});
        EXPECT_EQ(rig.clock.total_slept(), 2500u);
    }
}

TEST(VerifyLpt, ModelCheckUsesTheInjectedCodePage) {
    for (const bool double_byte : {false, true}) {
        TransferRig rig;
        rig.settings.model_name = "\x5C" "AB";
        rig.ports.script.device_id = "\x95\x5C" "AB";
        if (double_byte) rig.lead_byte = [](std::uint8_t b) { return b == 0x95; };
        rig.ports.script.replies = {version_reply(0, "105")};
        rig.verify();
        EXPECT_EQ(rig.dialog.status(), double_byte ? text::kModelNotMatched : text::kReadyToUpgrade);
    }
}

TEST(VerifyLpt, AnEarlierLongerIdentificationDoesNotLeakIntoTheNextOne) {
    TransferRig rig;
    rig.settings.model_name = "Model X;TAIL";
    rig.state.device_id.fill('A');
    const std::string tail = "TAIL";
    std::copy(tail.begin(), tail.end(), rig.state.device_id.begin() + 31);  // right after the scripted ID
    rig.verify();
    EXPECT_EQ(rig.dialog.status(), text::kModelNotMatched);
}

}  // namespace
}  // namespace fwup
