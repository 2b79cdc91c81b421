#include <algorithm>
#include <memory>
#include <string>

#include "core/transfer/command_set.h"
#include "core/transfer/exchange.h"
#include "core/transfer/procedures.h"
#include "core/transfer/status_texts.h"

namespace fwup {
namespace {

using exchange::set_status;

constexpr std::uint32_t kUsbIdentifyWait = 100;
constexpr std::uint32_t kBeforeCommandWait = 500;
constexpr std::uint32_t kUsbReplyWait = 1000;
constexpr std::uint32_t kLptReplyWait = 2000;
constexpr std::uint32_t kLptRetryWait = 5000;  // only with the ESC variant

using exchange::WaitCursor;

void start_version_exchange(TransferState& state, std::int32_t esc) {
    state.command_length = command_length(Command::VersionQuery, esc);
    state.reply_length = reply_length(Reply::Version, esc);
}

// The reply buffer's first bytes are cleared so a short read cannot leave an
// earlier reply's version behind.
void clear_version_reply(TransferState& state) {
    std::fill_n(state.reply.begin(), state.reply_length, std::uint8_t{0});
}

// Shows the printer's version and decides whether a transfer may follow.
void show_version_and_decide(TransferContext& ctx, const char* up_to_date_text) {
    const std::int32_t version = decode_version(ctx.state.reply, ctx.state.reply_length);
    ctx.state.facts.printer_version = version;
    ctx.dialog.set_text(IDC_FW_VERSION, version_text(version));
    if (ctx.settings.demo != 0) {
        ctx.dialog.enable(IDC_UPGRADE_NOW, true);
        set_status(ctx.dialog, text::kReadyToDownloadDemo);
    } else if (version < ctx.settings.file_version) {
        ctx.dialog.enable(IDC_UPGRADE_NOW, true);
        set_status(ctx.dialog, text::kReadyToUpgrade);
    } else {
        set_status(ctx.dialog, up_to_date_text);
    }
}

// The steps over the USB port library and over a network connection.
// `check_model`: whether the identification must name the configured model.
// The caller shows the wait cursor.
void verify_over_link(TransferContext& ctx, PrinterLink& link, bool check_model) {
    TransferState& state = ctx.state;
    if (!exchange::link_identify(link, state)) {
        set_status(ctx.dialog, text::kDeviceNotResponding);
        return;
    }
    state.facts.identification = std::string(identification_text(state.device_id));
    ctx.clock.sleep_ms(kUsbIdentifyWait);
    if (check_model &&
        !model_matches(identification_text(state.device_id), ctx.settings.model_name, ctx.is_lead_byte)) {
        set_status(ctx.dialog, text::kModelNotMatched);
        return;
    }
    start_version_exchange(state, ctx.settings.esc);
    ctx.clock.sleep_ms(kBeforeCommandWait);

    const CommandBytes command = command_bytes(Command::VersionQuery, ctx.settings.esc);
    std::uint32_t written = 0;
    if (!link.write(command.bytes.data(), command.length, written, exchange::kCommandTimeout)) {
        set_status(ctx.dialog, text::kWritingVersionCommandError);
        return;
    }
    ctx.clock.sleep_ms(kUsbReplyWait);

    clear_version_reply(state);
    const std::uint32_t got = link.read(state.reply.data(), state.reply_length, exchange::kCommandTimeout);
    if (!reply_complete(got, state.reply_length)) {
        set_status(ctx.dialog, text::kReadingVersionDataError);
        return;
    }
    show_version_and_decide(ctx, text::kNoUpgradeRequired);
}

void verify_network(TransferContext& ctx, NetworkPrinter& printer) {
    WaitCursor cursor(ctx.dialog);
    ConnectFailure failure{};
    const std::unique_ptr<PrinterLink> link = printer.connect(failure);
    if (!link) {
        set_status(ctx.dialog, exchange::connect_failure_text(failure));
        return;
    }
    // A printer on the network may be any printer at that address: its model
    // is always checked before its version is believed.
    verify_over_link(ctx, *link, true);
}

void verify_lpt(TransferContext& ctx) {
    WaitCursor cursor(ctx.dialog);
    TransferState& state = ctx.state;
    const bool esc = esc_variant(ctx.settings.esc);

    const auto port = exchange::open_lpt(ctx.ports, ctx.settings.lpt, PortAccess::ReadWrite);
    if (!port) {
        set_status(ctx.dialog, text::kFailedToOpenLpt);
        return;
    }
    if (!exchange::configure_timeouts(*port)) {
        set_status(ctx.dialog, text::kFailedToSetCommState);
        return;
    }
    if (exchange::lpt_identify(*port, state) == 0) {
        if (esc) ctx.clock.sleep_ms(kLptRetryWait);
        if (exchange::lpt_identify(*port, state) == 0) {
            set_status(ctx.dialog, text::kDeviceNotResponding);
            return;
        }
    }
    state.facts.identification = std::string(identification_text(state.device_id));
    if (!model_matches(identification_text(state.device_id), ctx.settings.model_name, ctx.is_lead_byte)) {
        set_status(ctx.dialog, text::kModelNotMatched);
        return;
    }
    start_version_exchange(state, ctx.settings.esc);
    ctx.clock.sleep_ms(kBeforeCommandWait);

    if (!exchange::lpt_send_command(*port, command_bytes(Command::VersionQuery, ctx.settings.esc))) {
        set_status(ctx.dialog, text::kWritingVersionCommandError);
        return;
    }
    ctx.clock.sleep_ms(kLptReplyWait);

    clear_version_reply(state);
    // A short reply is read again once, from the buffer's start: replies are never joined.
    if (!reply_complete(exchange::lpt_read_reply(*port, state, state.reply_length), state.reply_length)) {
        if (esc) ctx.clock.sleep_ms(kLptRetryWait);
        if (!reply_complete(exchange::lpt_read_reply(*port, state, state.reply_length), state.reply_length)) {
            set_status(ctx.dialog, text::kReadingVersionDataError);
            return;
        }
    }
    show_version_and_decide(ctx, text::kUpgradeNotNecessary);
}

}  // namespace

void verify(TransferContext& ctx) {
    // A network printer is reached only when the run was pointed at one.
    if (ctx.network != nullptr) {
        ctx.state.facts.carrier = Carrier::Net;
        verify_network(ctx, *ctx.network);
        return;
    }
    if (std::optional<exchange::UsbLibraryLink> usb = exchange::answering_usb(ctx.usb, ctx.state)) {
        ctx.state.facts.carrier = Carrier::Usb;
        WaitCursor cursor(ctx.dialog);
        verify_over_link(ctx, *usb, ctx.flags.usb_model_check);
        return;
    }
    ctx.state.facts.carrier = Carrier::Lpt;
    verify_lpt(ctx);
}

}  // namespace fwup
