// The fault sweep: every failure point of the verify and download procedures,
// in every variant (carrier, Esc, mode, platform), must leave exactly the
// state the state table gives for where the run ended: one status text, the
// buttons and the progress bar, every port, handle, file and transfer block
// released, and nothing at the printer that it should not have received.
//
// Two walks feed it. The named faults inject one failure each through the
// virtual printer, the machine's ports and USB devices, or the seams. The
// seam walk counts the fallible calls a healthy run makes and then fails each
// of them in turn (once, and from there on; failing outright, and moving one
// byte too few), so a failure point added later is walked without anyone
// writing a row for it, and its ending must match a row of the state table.
// Last, every status text the procedures' sources can produce must have been
// reached, so a new text cannot slip in without a row either.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <optional>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "tests/faults/fault_rig.h"
#include "core/transfer/status_texts.h"

namespace fwup::faults {
namespace {

using Bytes = std::vector<std::uint8_t>;
using sim::UsbDevice;
using sim::UsbFaults;

// ---------------------------------------------------------------------------
// The state table: where a run ended decides what the dialog shows.

enum class Ending {
    VerifyPassed,     // version read and shown
    VerifyFailed,     // nothing but the status line changed
    NotStarted,       // download stopped before the printer was asked: bar shown at 0
    LptRefused,       // LPT: port, time-outs, command, reply or refusal: bar shown at 0
    UsbFailureExit,   // USB: command, reply or refusal: upgrade off, exit on, bar hidden
    LptReopenFailed,  // LPT: reopening the port for the data failed: both off, bar at 1
    Completed,        // after the data loop, whether or not it succeeded
};

const char* ending_name(Ending ending) {
    switch (ending) {
        case Ending::VerifyPassed: return "verify passed";
        case Ending::VerifyFailed: return "verify failed";
        case Ending::NotStarted: return "not started";
        case Ending::LptRefused: return "LPT refused";
        case Ending::UsbFailureExit: return "USB failure exit";
        case Ending::LptReopenFailed: return "LPT reopen failed";
        case Ending::Completed: return "completed";
    }
    return "?";
}

struct StateRow {
    Procedure procedure;
    std::optional<Carrier> carrier;  // empty: either
    std::string status;              // "" : the status line was not touched
    bool data_phase;                 // the transfer block had been allocated
    Ending ending;
};

const std::vector<StateRow>& state_table() {
    using namespace text;
    static const std::vector<StateRow> rows = {
        {Procedure::Verify, {}, kReadyToUpgrade, false, Ending::VerifyPassed},
        {Procedure::Verify, {}, kReadyToDownloadDemo, false, Ending::VerifyPassed},
        {Procedure::Verify, Carrier::Usb, kNoUpgradeRequired, false, Ending::VerifyPassed},
        {Procedure::Verify, Carrier::Lpt, kUpgradeNotNecessary, false, Ending::VerifyPassed},
        {Procedure::Verify, {}, kDeviceNotResponding, false, Ending::VerifyFailed},
        {Procedure::Verify, {}, kModelNotMatched, false, Ending::VerifyFailed},
        {Procedure::Verify, Carrier::Lpt, kFailedToOpenLpt, false, Ending::VerifyFailed},
        {Procedure::Verify, Carrier::Lpt, kFailedToSetCommState, false, Ending::VerifyFailed},
        {Procedure::Verify, {}, kWritingVersionCommandError, false, Ending::VerifyFailed},
        {Procedure::Verify, {}, kReadingVersionDataError, false, Ending::VerifyFailed},

        {Procedure::Download, {}, "", false, Ending::NotStarted},  // "No" to the confirmation
        {Procedure::Download, {}, file_open_error(kImageName), false, Ending::NotStarted},
        {Procedure::Download, {}, kDemoImageTooBig, false, Ending::NotStarted},
        // An empty image is refused before the printer is asked to take one.
        {Procedure::Download, {}, kErrorReadingFile, false, Ending::NotStarted},
        {Procedure::Download, Carrier::Lpt, kFailedToOpenLpt, false, Ending::LptRefused},
        {Procedure::Download, Carrier::Lpt, kFailedToSetCommState, false, Ending::LptRefused},
        {Procedure::Download, Carrier::Lpt, kWritingDownloadCommandError, false, Ending::LptRefused},
        {Procedure::Download, Carrier::Lpt, kReadingCommandError, false, Ending::LptRefused},
        {Procedure::Download, Carrier::Lpt, kPrinterBusy, false, Ending::LptRefused},
        {Procedure::Download, Carrier::Lpt, kDemoNotSupported, false, Ending::LptRefused},
        {Procedure::Download, Carrier::Usb, kWritingDownloadCommandError, false, Ending::UsbFailureExit},
        {Procedure::Download, Carrier::Usb, kReadingCommandError, false, Ending::UsbFailureExit},
        {Procedure::Download, Carrier::Usb, kPrinterBusy, false, Ending::UsbFailureExit},
        {Procedure::Download, Carrier::Usb, kDemoNotSupported, false, Ending::UsbFailureExit},
        {Procedure::Download, Carrier::Lpt, kFailedToOpenLpt, true, Ending::LptReopenFailed},
        {Procedure::Download, Carrier::Lpt, kFailedToSetCommState, true, Ending::LptReopenFailed},
        {Procedure::Download, {}, kWritingDataError, true, Ending::Completed},
        {Procedure::Download, {}, kErrorReadingFile, true, Ending::Completed},
        {Procedure::Download, {}, kWritingComplete, true, Ending::Completed},
    };
    return rows;
}

Carrier carrier_used(const Observed& seen) { return seen.usb_used ? Carrier::Usb : Carrier::Lpt; }

std::optional<Ending> ending_of(const Variant& variant, const Observed& seen) {
    for (const StateRow& row : state_table()) {
        if (row.procedure == variant.procedure && (!row.carrier || *row.carrier == carrier_used(seen)) &&
            row.status == seen.status && row.data_phase == seen.data_phase) {
            return row.ending;
        }
    }
    return std::nullopt;
}

// ---------------------------------------------------------------------------
// What the printer may have received.

Bytes with_esc(int esc, Bytes command) {
    if (esc != 0) command.insert(command.begin(), 0x1B);
    return command;
}
Bytes version_query(int esc) { return with_esc(esc, {0xA5, 0x00, 0x04, 0x50, 0xE0, 0x82, 0x06}); }
Bytes download_command(const Variant& variant, std::uint64_t size) {
    if (!variant.demo) return with_esc(variant.esc, {0xA5, 0x00, 0x04, 0x50, 0xE0, 0x82, 0x05});
    const auto s = static_cast<std::uint32_t>(size);
    return {0xA5, 0x00, 0x08, 0x50, 0xE0, 0x82, 0x07, static_cast<std::uint8_t>(s >> 24),
            static_cast<std::uint8_t>(s >> 16), static_cast<std::uint8_t>(s >> 8), static_cast<std::uint8_t>(s)};
}

std::uint64_t image_size(const Scene& scene) {
    return scene.image.claimed_size.value_or(scene.image.bytes.size());
}

std::string printer_version_text(const std::string& field) {
    // What "%3.2f" makes of the version field's number, for the usual fields.
    const int number = std::atoi(field.c_str());
    char text[32];
    std::snprintf(text, sizeof text, "%3.2f", number * 0.01);
    return text;
}

// The status a verify that read the version ends with.
std::string verify_success(const Variant& variant, const std::string& version_field, bool usb) {
    if (variant.demo) return text::kReadyToDownloadDemo;
    if (std::atoi(version_field.c_str()) < kImageVersion) return text::kReadyToUpgrade;
    return usb ? text::kNoUpgradeRequired : text::kUpgradeNotNecessary;
}

bool any_event_starting(const Observed& seen, const std::string& prefix) {
    return std::any_of(seen.events.begin(), seen.events.end(),
                       [&](const std::string& e) { return e.starts_with(prefix); });
}

// ---------------------------------------------------------------------------
// The checks every walked point gets.

void check_released(const Observed& seen, const std::string& where) {
    EXPECT_EQ(seen.open_lpt_ports, 0) << where;
    EXPECT_EQ(seen.open_usb_handles, 0) << where;
    EXPECT_EQ(seen.device_sets_left, 0) << where;
    EXPECT_EQ(seen.open_images, 0) << where;
    EXPECT_EQ(seen.wait_cursor_depth, 0) << where;
    EXPECT_EQ(seen.live_blocks, 0) << where << ": the transfer block was not released";
}

void check_one_status(Ending ending, const Observed& seen, const std::string& where) {
    std::vector<std::string> expected;
    const bool announced = ending == Ending::UsbFailureExit || ending == Ending::LptReopenFailed ||
                           ending == Ending::Completed;
    if (announced) expected.push_back(text::kDownloading);
    if (!seen.status.empty()) expected.push_back(seen.status);
    EXPECT_EQ(seen.statuses, expected) << where << ": exactly one status text (after \"Downloading...\")";
}

void check_printer(const Variant& variant, const Scene& scene, Ending ending, const Observed& seen,
                   const std::string& where) {
    const Bytes wanted = variant.procedure == Procedure::Verify ? version_query(variant.esc)
                                                                : download_command(variant, image_size(scene));
    EXPECT_LE(seen.commands.size(), 1u) << where << ": one command per run";
    for (const Bytes& command : seen.commands) EXPECT_EQ(command, wanted) << where;
    const bool command_needed = ending == Ending::VerifyPassed || ending == Ending::LptReopenFailed ||
                                ending == Ending::Completed ||
                                seen.status == text::kPrinterBusy || seen.status == text::kDemoNotSupported;
    if (command_needed) {
        EXPECT_EQ(seen.commands.size(), 1u) << where;
    }
    if (ending == Ending::NotStarted) {
        EXPECT_TRUE(seen.commands.empty()) << where;
    }

    // Image bytes only after an accepted download, and only the image's own, in order.
    if (ending != Ending::Completed) {
        EXPECT_TRUE(seen.image.empty()) << where << ": image bytes outside the data phase";
        return;
    }
    const Bytes& image = scene.image.bytes;
    ASSERT_LE(seen.image.size(), image.size()) << where;
    EXPECT_TRUE(std::equal(seen.image.begin(), seen.image.end(), image.begin())) << where << ": not the image";
    if (seen.status == text::kWritingComplete) {
        EXPECT_EQ(seen.image, image) << where;
    }
}

void check_dialog(const Variant& variant, Ending ending, const Observed& seen, const std::string& where) {
    const bool asked = variant.procedure == Procedure::Download && !variant.demo;
    EXPECT_EQ(seen.questions, asked ? 1u : 0u) << where;
    const bool box_allowed = seen.status == text::kWritingDataError && carrier_used(seen) == Carrier::Lpt;
    for (const auto& box : seen.boxes) {
        EXPECT_TRUE(box_allowed) << where << ": message box " << box.caption << ": " << box.text;
        EXPECT_EQ(box.caption, text::kLastErrorCaption) << where;
    }
    const bool exits = ending == Ending::Completed && seen.status == text::kWritingComplete && !variant.demo;
    EXPECT_EQ(seen.ended, exits) << where << ": only a successful firmware upgrade ends the program";

    switch (ending) {
        case Ending::VerifyPassed:
            EXPECT_FALSE(any_event_starting(seen, "show ")) << where;
            EXPECT_FALSE(any_event_starting(seen, "pos ")) << where;
            EXPECT_EQ(seen.upgrade_enabled, seen.status == text::kReadyToUpgrade ||
                                                seen.status == text::kReadyToDownloadDemo)
                << where;
            break;
        case Ending::VerifyFailed:
            // Nothing but the status line: the button keeps its state, no version is shown.
            EXPECT_FALSE(any_event_starting(seen, "enable ")) << where;
            EXPECT_FALSE(any_event_starting(seen, "show ")) << where;
            EXPECT_FALSE(any_event_starting(seen, "text " + std::to_string(IDC_FW_VERSION))) << where;
            EXPECT_FALSE(seen.upgrade_enabled) << where;
            break;
        case Ending::NotStarted:
        case Ending::LptRefused:
            EXPECT_FALSE(any_event_starting(seen, "enable ")) << where << ": buttons untouched";
            EXPECT_TRUE(seen.upgrade_enabled) << where;
            EXPECT_TRUE(seen.exit_enabled) << where;
            EXPECT_TRUE(seen.progress_visible) << where;
            EXPECT_EQ(seen.progress_pos, 0u) << where;
            break;
        case Ending::UsbFailureExit:
            EXPECT_FALSE(seen.upgrade_enabled) << where;
            EXPECT_TRUE(seen.exit_enabled) << where;
            EXPECT_FALSE(seen.progress_visible) << where;
            break;
        case Ending::LptReopenFailed:
            EXPECT_FALSE(seen.upgrade_enabled) << where;
            EXPECT_FALSE(seen.exit_enabled) << where;
            EXPECT_TRUE(seen.progress_visible) << where;
            EXPECT_EQ(seen.progress_pos, 1u) << where;
            break;
        case Ending::Completed:
            EXPECT_EQ(seen.upgrade_enabled, variant.nt()) << where << ": enabled on the NT family only";
            EXPECT_TRUE(seen.exit_enabled) << where;
            EXPECT_TRUE(seen.verify_enabled) << where;
            EXPECT_FALSE(seen.progress_visible) << where;
            break;
    }
    EXPECT_TRUE(seen.verify_enabled) << where;
}

// Classifies the run by the state table and checks it against its row.
// Returns the ending, or nothing when no row describes where the run ended.
std::optional<Ending> check_point(const Variant& variant, const Scene& scene, const Observed& seen,
                                  const std::string& where) {
    const std::optional<Ending> ending = ending_of(variant, seen);
    EXPECT_TRUE(ending) << where << ": no row of the state table for status \"" << seen.status
                        << "\" over " << (seen.usb_used ? "USB" : "LPT")
                        << (seen.data_phase ? " in the data phase" : "");
    check_released(seen, where);
    if (!ending) return ending;
    const std::string at = where + " [" + ending_name(*ending) + "]";
    check_one_status(*ending, seen, at);
    check_printer(variant, scene, *ending, seen, at);
    check_dialog(variant, *ending, seen, at);
    if (*ending == Ending::VerifyPassed) {
        EXPECT_EQ(seen.fw_version, printer_version_text(scene.printer.version)) << at;
    }
    return ending;
}

// ---------------------------------------------------------------------------
// Named faults: one failure each, through the printer, the machine or the seams.

bool usb(const Variant& v) { return v.carrier == Carrier::Usb; }
bool lpt(const Variant& v) { return v.carrier == Carrier::Lpt; }
bool verify(const Variant& v) { return v.procedure == Procedure::Verify; }
bool download(const Variant& v) { return v.procedure == Procedure::Download; }
bool win98(const Variant& v) { return v.platform == Platform::Win98; }

struct NamedFault {
    std::string name;
    std::function<bool(const Variant&)> applies;
    std::function<void(Scene&, const Variant&)> inject;
    std::function<std::string(const Variant&)> status;
    std::function<void(const Observed&, const std::string&)> also = nullptr;
};

std::function<std::string(const Variant&)> says(std::string text) {
    return [text](const Variant&) { return text; };
}
std::function<std::string(const Variant&)> verified(std::string version = "100") {
    return [version](const Variant& v) { return verify_success(v, version, usb(v)); };
}

std::function<void(Scene&, const Variant&)> on_usb_device(std::function<void(UsbFaults&)> change) {
    return [change](Scene& s, const Variant&) {
        s.usb_device = [change](UsbDevice& device) { change(device.faults); };
    };
}

std::function<void(Scene&, const Variant&)> seam(std::string call, std::uint64_t nth, bool sticky = false,
                                                 FaultMode mode = FaultMode::Fail) {
    return [=](Scene& s, const Variant&) {
        s.plan.only = call;
        s.plan.at = nth;
        s.plan.sticky = sticky;
        s.plan.mode = mode;
    };
}

std::vector<NamedFault> named_faults() {
    using namespace text;
    const auto none = [](Scene&, const Variant&) {};
    const auto always = [](const Variant&) { return true; };
    const std::uint32_t kAlways = UsbFaults::kAlways;
    const std::string timeout_text = "The semaphore timeout period has expired.";
    return {
        // --- both procedures
        {"healthy printer", always, none,
         [](const Variant& v) { return verify(v) ? verify_success(v, "100", usb(v)) : kWritingComplete; }},
        {"LPT time-outs cannot be written (ignored)", lpt,
         [](Scene& s, const Variant&) { s.lpt_faults.fail_set_timeouts = true; },
         [](const Variant& v) { return verify(v) ? verify_success(v, "100", false) : kWritingComplete; }},
        {"LPT port cannot be opened", lpt, [](Scene& s, const Variant&) { s.lpt_faults.fail_open_from = 1; },
         says(kFailedToOpenLpt)},
        {"LPT setting 0 names no port", lpt, [](Scene& s, const Variant&) { s.lpt_setting = 0; },
         says(kFailedToOpenLpt)},
        {"LPT setting 4 names no port", lpt, [](Scene& s, const Variant&) { s.lpt_setting = 4; },
         says(kFailedToOpenLpt)},
        {"LPT printer on another port", lpt, [](Scene& s, const Variant&) { s.lpt_setting = 2; },
         [](const Variant& v) { return verify(v) ? kDeviceNotResponding : kWritingDownloadCommandError; }},
        {"LPT time-outs cannot be read", lpt, [](Scene& s, const Variant&) { s.lpt_faults.fail_timeouts_from = 1; },
         says(kFailedToSetCommState)},
        {"LPT command write fails", lpt, [](Scene& s, const Variant&) { s.lpt_faults.fail_writes_from = 1; },
         [](const Variant& v) { return verify(v) ? kWritingVersionCommandError : kWritingDownloadCommandError; }},
        {"LPT reads bring nothing", lpt, [](Scene& s, const Variant&) { s.lpt_faults.fail_reads_from = 1; },
         [](const Variant& v) { return verify(v) ? kReadingVersionDataError : kReadingCommandError; }},
        {"USB command write fails", usb, on_usb_device([=](UsbFaults& f) { f.write_failures = kAlways; }),
         [](const Variant& v) { return verify(v) ? kWritingVersionCommandError : kWritingDownloadCommandError; }},
        {"USB write pipe does not open", usb,
         on_usb_device([=](UsbFaults& f) { f.write_pipe_open_failures = kAlways; }),
         [](const Variant& v) { return verify(v) ? kWritingVersionCommandError : kWritingDownloadCommandError; }},
        {"USB driver refuses the write time-out", [](const Variant& v) { return usb(v) && win98(v); },
         on_usb_device([=](UsbFaults& f) { f.write_timeout_failures = kAlways; }),
         [](const Variant& v) { return verify(v) ? kWritingVersionCommandError : kWritingDownloadCommandError; }},
        {"USB command write fails once (the library retries)", usb,
         on_usb_device([](UsbFaults& f) { f.write_failures = 1; }),
         [](const Variant& v) { return verify(v) ? verify_success(v, "100", true) : kWritingComplete; }},
        {"USB reply read fails", usb, on_usb_device([=](UsbFaults& f) { f.read_failures = kAlways; }),
         [](const Variant& v) { return verify(v) ? kReadingVersionDataError : kReadingCommandError; }},
        {"USB reply read brings nothing", usb, on_usb_device([=](UsbFaults& f) { f.empty_reads = kAlways; }),
         [](const Variant& v) { return verify(v) ? kReadingVersionDataError : kReadingCommandError; }},
        {"USB read pipe does not open", usb,
         on_usb_device([=](UsbFaults& f) { f.read_pipe_open_failures = kAlways; }),
         [](const Variant& v) { return verify(v) ? kReadingVersionDataError : kReadingCommandError; }},
        {"USB driver refuses the read time-out", [](const Variant& v) { return usb(v) && win98(v); },
         on_usb_device([=](UsbFaults& f) { f.read_timeout_failures = kAlways; }),
         [](const Variant& v) { return verify(v) ? kReadingVersionDataError : kReadingCommandError; }},
        {"reply one byte short", always, [](Scene& s, const Variant&) { s.printer.short_replies = 1; },
         [](const Variant& v) {
             // Only the LPT verify reads the version again.
             if (verify(v)) return lpt(v) ? verify_success(v, "100", false) : std::string(kReadingVersionDataError);
             return std::string(kReadingCommandError);
         }},
        {"reply short twice", always, [](Scene& s, const Variant&) { s.printer.short_replies = 2; },
         [](const Variant& v) { return verify(v) ? kReadingVersionDataError : kReadingCommandError; }},
        {"reply short through the seam", always,
         [](Scene& s, const Variant& v) { seam(usb(v) ? "usb.read" : "lpt.read", 1, true, FaultMode::Short)(s, v); },
         [](const Variant& v) { return verify(v) ? kReadingVersionDataError : kReadingCommandError; }},
        {"USB printer held by another process (LPT is tried)", usb,
         [](Scene& s, const Variant&) { s.usb_device = [](UsbDevice& d) { d.openable = false; }; },
         [](const Variant& v) { return verify(v) ? kDeviceNotResponding : kWritingDownloadCommandError; }},
        {"USB printer of an unaccepted vendor (LPT is tried)", usb,
         [](Scene& s, const Variant&) { s.printer.vendor_id = 0x1234; },
         [](const Variant& v) { return verify(v) ? kDeviceNotResponding : kWritingDownloadCommandError; }},
        {"USB descriptor request fails (LPT is tried)", usb,
         on_usb_device([=](UsbFaults& f) { f.descriptor_failures = kAlways; }),
         [](const Variant& v) { return verify(v) ? kDeviceNotResponding : kWritingDownloadCommandError; }},

        // --- verify only
        {"printer of another model", verify,
         [](Scene& s, const Variant&) { s.printer.device_id = "MFG:Virtual;MODEL:VP-2000;"; },
         [](const Variant& v) {
             // Windows 2000's USB driver is trusted to name the right device.
             return usb(v) && v.nt() ? verify_success(v, "100", true) : std::string(kModelNotMatched);
         }},
        {"model in other letter case", verify,
         [](Scene& s, const Variant&) { s.printer.device_id = "MODEL:vp-1000;"; },
         [](const Variant& v) {
             return usb(v) && v.nt() ? verify_success(v, "100", true) : std::string(kModelNotMatched);
         }},
        {"empty identification", verify, [](Scene& s, const Variant&) { s.printer.device_id = ""; },
         [](const Variant& v) {
             // An answer of nothing but the terminating zero is an answer; no model occurs in it.
             return usb(v) && v.nt() ? verify_success(v, "100", true) : std::string(kModelNotMatched);
         }},
        {"LPT identification answers once late", [](const Variant& v) { return verify(v) && lpt(v); },
         [](Scene& s, const Variant&) { s.printer.device_id_failures = 1; }, verified()},
        {"LPT identification answers nothing", [](const Variant& v) { return verify(v) && lpt(v); },
         [](Scene& s, const Variant&) { s.printer.device_id_failures = 2; }, says(kDeviceNotResponding)},
        {"USB printer falls silent after the choice", [](const Variant& v) { return verify(v) && usb(v); },
         seam("usb.get_device_id", 2), says(kDeviceNotResponding)},
        {"USB device-ID request fails for good", [](const Variant& v) { return verify(v) && usb(v); },
         on_usb_device([=](UsbFaults& f) { f.device_id_failures = kAlways; }), says(kDeviceNotResponding)},
        {"printer already up to date", verify, [](Scene& s, const Variant&) { s.printer.version = "106"; },
         verified("106")},
        {"printer newer than the image", verify, [](Scene& s, const Variant&) { s.printer.version = "2"; },
         verified("2")},
        {"version field holds no number", verify, [](Scene& s, const Variant&) { s.printer.version = "abc"; },
         verified("0")},
        {"negative version", verify, [](Scene& s, const Variant&) { s.printer.version = "-12"; }, verified("-12")},

        // --- download only
        {"answer No", [](const Variant& v) { return download(v) && !v.demo; },
         [](Scene& s, const Variant&) { s.answer_yes = false; }, says("")},
        {"image missing", download, [](Scene& s, const Variant&) { s.image_exists = false; },
         says(file_open_error(kImageName))},
        {"image cannot be opened", download, seam("image.open", 1), says(file_open_error(kImageName))},
        {"empty image", download, [](Scene& s, const Variant&) { s.image.bytes.clear(); }, says(kErrorReadingFile)},
        {"demo image of exactly the limit", [](const Variant& v) { return download(v) && v.demo; },
         [](Scene& s, const Variant&) { s.image.bytes = test::pattern(1'024'000); }, says(kWritingComplete)},
        {"demo image one byte over the limit", [](const Variant& v) { return download(v) && v.demo; },
         [](Scene& s, const Variant&) { s.image.claimed_size = 1'024'001; }, says(kDemoImageTooBig)},
        {"firmware image above the demo limit", [](const Variant& v) { return download(v) && !v.demo; },
         [](Scene& s, const Variant&) { s.image.bytes = test::pattern(1'024'001); }, says(kWritingComplete)},
        {"printer busy", download,
         [](Scene& s, const Variant&) {
             s.printer.download_status = 1;
             s.printer.demo_status = 1;
         },
         says(kPrinterBusy)},
        {"printer answers status 2", download,
         [](Scene& s, const Variant&) {
             s.printer.download_status = 2;
             s.printer.demo_status = 2;
         },
         [](const Variant& v) { return v.demo ? kDemoNotSupported : kPrinterBusy; }},
        {"LPT port cannot be opened again for the data", [](const Variant& v) { return download(v) && lpt(v); },
         [](Scene& s, const Variant&) { s.lpt_faults.fail_open_from = 2; }, says(kFailedToOpenLpt)},
        {"LPT time-outs cannot be read again for the data", [](const Variant& v) { return download(v) && lpt(v); },
         [](Scene& s, const Variant&) { s.lpt_faults.fail_timeouts_from = 2; }, says(kFailedToSetCommState)},
        {"LPT data write fails (the system's text is shown)", [](const Variant& v) { return download(v) && lpt(v); },
         [](Scene& s, const Variant&) { s.lpt_faults.fail_writes_from = 3; }, says(kWritingDataError),
         [timeout_text](const Observed& seen, const std::string& where) {
             ASSERT_EQ(seen.boxes.size(), 1u) << where;
             EXPECT_EQ(seen.boxes[0].text, timeout_text) << where;
             EXPECT_EQ(seen.image.size(), 8192u) << where << ": the first block went through";
         }},
        {"printer stops taking data at a block's end", download,
         [](Scene& s, const Variant&) { s.printer.fail_write_after = 8192; }, says(kWritingDataError),
         [](const Observed& seen, const std::string& where) {
             EXPECT_EQ(seen.image.size(), 8192u) << where;
         }},
        {"printer stops taking data inside a block", download,
         [](Scene& s, const Variant&) { s.printer.fail_write_after = 10000; }, says(kWritingDataError),
         [](const Observed& seen, const std::string& where) {
             EXPECT_EQ(seen.image.size(), 10000u) << where;
             EXPECT_TRUE(seen.boxes.empty()) << where << ": a write that moved bytes reports no system error";
         }},
        {"printer stops taking data at once", download,
         [](Scene& s, const Variant&) { s.printer.fail_write_after = 0; }, says(kWritingDataError)},
        {"USB writes fail from the second data block on", [](const Variant& v) { return download(v) && usb(v); },
         seam("usb.write", 3, true), says(kWritingDataError),
         [](const Observed& seen, const std::string& where) { EXPECT_EQ(seen.image.size(), 8192u) << where; }},
        {"image read fails inside the file", download,
         [](Scene& s, const Variant&) { s.image.read_error_at = 8192; }, says(kErrorReadingFile),
         [](const Observed& seen, const std::string& where) { EXPECT_EQ(seen.image.size(), 8192u) << where; }},
        {"image ends before its size", download,
         [](Scene& s, const Variant&) { s.image.claimed_size = kImageSize + 100; }, says(kErrorReadingFile)},
        {"image grew after its size was taken", download,
         [](Scene& s, const Variant&) { s.image.claimed_size = kImageSize - 100; }, says(kErrorReadingFile),
         // Nothing past the size the printer was told about reaches it.
         [](const Observed& seen, const std::string& where) {
             EXPECT_EQ(seen.image.size(), kImageSize - 100) << where;
         }},
    };
}

// ---------------------------------------------------------------------------
// Which status texts the procedures can produce, read from their sources.

std::string read_source(const std::string& relative) {
    std::ifstream in(std::string(FWUP_SOURCE_DIR) + "/" + relative);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// The texts of every text::k... constant and of file_open_error that each
// procedure's source uses to set the status line.
std::map<Procedure, std::set<std::string>> procedure_status_texts() {
    const std::string header = read_source("core/transfer/status_texts.h");
    std::map<std::string, std::string> constants;
    const std::regex constant(R"re(inline constexpr char (k\w+)\[\]\s*=\s*((?:"(?:[^"\\]|\\.)*"\s*)+);)re");
    for (auto it = std::sregex_iterator(header.begin(), header.end(), constant); it != std::sregex_iterator(); ++it) {
        std::string value;
        const std::string literals = (*it)[2];
        const std::regex piece(R"re("((?:[^"\\]|\\.)*)")re");
        for (auto p = std::sregex_iterator(literals.begin(), literals.end(), piece); p != std::sregex_iterator(); ++p) {
            value += (*p)[1];
        }
        constants[(*it)[1]] = value;
    }
    // Texts for message boxes and the announcement of the data phase are no endings.
    const std::set<std::string> not_endings = {"kConfirmUpgrade", "kConfirmUpgradeCaption", "kLastErrorCaption",
                                               "kDownloading"};
    std::map<Procedure, std::set<std::string>> texts;
    for (const auto& [procedure, source] : {std::pair{Procedure::Verify, "core/transfer/verify.cpp"},
                                            std::pair{Procedure::Download, "core/transfer/download.cpp"}}) {
        const std::string code = read_source(source);
        EXPECT_FALSE(code.empty()) << source;
        const std::regex use(R"re(text::(k\w+|file_open_error))re");
        for (auto it = std::sregex_iterator(code.begin(), code.end(), use); it != std::sregex_iterator(); ++it) {
            const std::string name = (*it)[1];
            if (name == "file_open_error") {
                texts[procedure].insert(text::file_open_error(kImageName));
            } else if (!not_endings.count(name)) {
                EXPECT_TRUE(constants.count(name)) << name << " is not in core/transfer/status_texts.h";
                texts[procedure].insert(constants[name]);
            }
        }
    }
    return texts;
}

TEST(FaultSweep, SourceScanFindsTheTextsItShould) {
    std::map<Procedure, std::set<std::string>> texts = procedure_status_texts();
    EXPECT_TRUE(texts[Procedure::Verify].count(text::kDeviceNotResponding));
    EXPECT_TRUE(texts[Procedure::Verify].count(text::kUpgradeNotNecessary));
    EXPECT_FALSE(texts[Procedure::Verify].count(text::kWritingComplete));
    EXPECT_TRUE(texts[Procedure::Download].count(text::kWritingComplete));
    EXPECT_TRUE(texts[Procedure::Download].count(text::file_open_error(kImageName)));
    EXPECT_FALSE(texts[Procedure::Download].count(text::kDownloading));
    EXPECT_GE(texts[Procedure::Verify].size() + texts[Procedure::Download].size(), 18u);
}

// ---------------------------------------------------------------------------
// The sweep.

struct Tally {
    std::size_t named_points = 0;
    std::size_t seam_points = 0;
    std::map<Procedure, std::set<std::string>> statuses;
    std::map<std::string, std::size_t> endings;
};

void walk_named(const std::vector<Variant>& variants, Tally& tally) {
    for (const NamedFault& fault : named_faults()) {
        std::size_t walked = 0;
        for (const Variant& variant : variants) {
            if (!fault.applies(variant)) continue;
            Scene scene = Scene::healthy(variant);
            fault.inject(scene, variant);
            const Scene kept = scene;
            const Observed seen = run_once(variant, scene);
            const std::string where = variant.name() + " \"" + fault.name + "\"";
            EXPECT_EQ(seen.status, fault.status(variant)) << where;
            const std::optional<Ending> ending = check_point(variant, kept, seen, where);
            if (fault.also) fault.also(seen, where);
            ++walked;
            ++tally.named_points;
            tally.statuses[variant.procedure].insert(seen.status);
            if (ending) ++tally.endings[ending_name(*ending)];
        }
        EXPECT_GT(walked, 0u) << "\"" << fault.name << "\" applies to no variant";
    }
}

bool has_short_form(const std::string& call) {
    return call == "lpt.write" || call == "lpt.read" || call == "usb.write" || call == "usb.read" ||
           call == "image.read";
}

void walk_seams(const std::vector<Variant>& variants, Tally& tally) {
    for (const Variant& variant : variants) {
        const Scene healthy = Scene::healthy(variant);
        const Observed calm = run_once(variant, healthy);
        const std::vector<std::string> calls = calm.trace;
        ASSERT_FALSE(calls.empty()) << variant.name();
        for (std::size_t at = 1; at <= calls.size(); ++at) {
            for (const FaultMode mode : {FaultMode::Fail, FaultMode::Short}) {
                if (mode == FaultMode::Short && !has_short_form(calls[at - 1])) continue;
                for (const bool sticky : {false, true}) {
                    Scene scene = healthy;
                    scene.plan.at = at;
                    scene.plan.sticky = sticky;
                    scene.plan.mode = mode;
                    const Observed seen = run_once(variant, scene);
                    const std::string where = variant.name() + " seam call " + std::to_string(at) + " (" +
                                              calls[at - 1] + (mode == FaultMode::Short ? ", short" : ", fails") +
                                              (sticky ? " from there on)" : " once)");
                    const std::optional<Ending> ending = check_point(variant, healthy, seen, where);
                    // A run the fault did not stop reads the healthy printer's version.
                    if (ending == Ending::VerifyPassed) {
                        EXPECT_EQ(seen.status, verify_success(variant, "100", seen.usb_used)) << where;
                    }
                    ++tally.seam_points;
                    tally.statuses[variant.procedure].insert(seen.status);
                    if (ending) ++tally.endings[ending_name(*ending)];
                }
            }
        }
    }
}

TEST(FaultSweep, EveryFailurePointOfBothProceduresEndsAsTheStateTableSays) {
    const std::vector<Variant> variants = all_variants();
    ASSERT_EQ(variants.size(), 48u);  // 2 procedures x (USB on 98/2000 + LPT on 95/98/NT4/2000) x Esc x mode

    Tally tally;
    walk_named(variants, tally);
    walk_seams(variants, tally);

    // Every text each procedure can end with was reached by a run of that
    // procedure, so none lacks a row; and every row was reached.
    for (const auto& [procedure, texts] : procedure_status_texts()) {
        for (const std::string& status : texts) {
            EXPECT_TRUE(tally.statuses[procedure].count(status))
                << "no walked " << (procedure == Procedure::Verify ? "verify" : "download") << " point ends with \""
                << status << "\": add a named fault and a state-table row";
        }
    }
    for (const StateRow& row : state_table()) {
        EXPECT_TRUE(tally.statuses[row.procedure].count(row.status))
            << "state-table row \"" << row.status << "\" never reached";
    }

    std::printf("fault sweep: %zu variants, %zu failure points walked (%zu named, %zu through the seams)\n",
                variants.size(), tally.named_points + tally.seam_points, tally.named_points, tally.seam_points);
    for (const auto& [ending, count] : tally.endings) std::printf("  %-18s %zu\n", ending.c_str(), count);
}

}  // namespace
}  // namespace fwup::faults
