#include <algorithm>
#include <memory>
#include <optional>
#include <string>

#include "core/transfer/command_set.h"
#include "core/transfer/exchange.h"
#include "core/transfer/procedures.h"
#include "core/transfer/progress_scale.h"
#include "core/transfer/status_texts.h"
#include "core/transfer/transfer_block.h"

namespace fwup {
namespace {

using exchange::set_status;

constexpr std::uint32_t kReplyWait = 500;
constexpr std::uint32_t kUsbBeforeDataWait = 3000;
constexpr std::uint32_t kLptAcceptedWait = 2000;
constexpr std::uint32_t kLptReopenWait = 1000;
constexpr std::uint32_t kLptBeforeDataWait = 1000;
constexpr std::uint32_t kCompleteWait = 20'000;  // the printer writes its flash meanwhile
constexpr std::uint32_t kProgressInterval = 100;

enum class BlockWrite { Written, Failed, FailedWithSystemError };

// One run of the download procedure. Whatever it opened (image file, port,
// transfer block, wait cursor) is released on every path by its owner; the
// explicit resets release things at the step where the run is done with them.
class DownloadRun {
public:
    explicit DownloadRun(TransferContext& ctx)
        : ctx_(ctx), demo_(ctx.settings.demo != 0), scale_(0) {}

    // Confirmation, image file, size checks and the exchange lengths. False
    // when the run ends here; buttons stay as they were.
    bool open_image() {
        ctx_.dialog.set_progress_pos(0);
        ctx_.dialog.show(IDC_PROGRESS, true);
        if (!demo_ && !ctx_.dialog.ask_yes_no(text::kConfirmUpgrade, text::kConfirmUpgradeCaption)) {
            return false;
        }
        cursor_.emplace(ctx_.dialog);
        file_ = ctx_.images.open(ctx_.settings.firmware_file);
        if (!file_) {
            set_status(ctx_.dialog, text::file_open_error(ctx_.settings.firmware_file));
            cursor_->end();
            return false;
        }
        size_ = file_->size();
        ctx_.state.facts.image_size = size_;
        const char* refusal = nullptr;
        if (demo_ && size_ > kDemoSizeLimit) refusal = text::kDemoImageTooBig;
        // Nothing to send: refused before the printer is asked to take an image.
        if (size_ == 0) refusal = text::kErrorReadingFile;
        if (refusal != nullptr) {
            file_.reset();
            set_status(ctx_.dialog, refusal);
            cursor_->end();
            return false;
        }
        scale_ = ProgressScale(size_);
        ctx_.state.command_length =
            command_length(demo_ ? Command::DemoDownload : Command::Download, ctx_.settings.esc);
        ctx_.state.reply_length = reply_length(Reply::Download, ctx_.settings.esc);
        return true;
    }

    // Over the USB port library or a network connection.
    void over_link(PrinterLink& link) {
        show_transfer_started();
        const CommandBytes command = download_command();
        std::uint32_t written = 0;
        ctx_.state.facts.download_command_sent = true;
        if (!link.write(command.bytes.data(), command.length, written, exchange::kCommandTimeout)) {
            return link_failure(text::kWritingDownloadCommandError);
        }
        ctx_.clock.sleep_ms(kReplyWait);
        const std::uint32_t got = link.read(ctx_.state.reply.data(), ctx_.state.reply_length, exchange::kCommandTimeout);
        if (!reply_complete(got, ctx_.state.reply_length)) {
            return link_failure(text::kReadingCommandError);
        }
        if (const char* refusal = refusal_text()) return link_failure(refusal);

        start_data_phase();
        ctx_.clock.sleep_ms(kUsbBeforeDataWait);
        bool sent = send_image([&link](const std::uint8_t* data, std::uint32_t length) {
            std::uint32_t block_written = 0;
            return link.write(data, length, block_written, exchange::kDataTimeout) && block_written >= length
                       ? BlockWrite::Written
                       : BlockWrite::Failed;
        });
        // Bytes a connection took may still be lost on their way: the image
        // counts as written once the printer has them all.
        if (sent && !link.finish()) {
            set_status(ctx_.dialog, text::kWritingDataError);
            sent = false;
        }
        complete(sent);
    }

    // A network printer that cannot be reached: nothing was sent, the
    // upgrade button stays for another try.
    void unreachable(ConnectFailure failure) { link_failure(exchange::connect_failure_text(failure)); }

    void over_lpt() {
        port_ = exchange::open_lpt(ctx_.ports, ctx_.settings.lpt, PortAccess::ReadWrite);
        if (!port_) return lpt_early_failure(text::kFailedToOpenLpt);
        if (!exchange::configure_timeouts(*port_)) return lpt_early_failure(text::kFailedToSetCommState);
        ctx_.state.facts.download_command_sent = true;
        if (!exchange::lpt_send_command(*port_, download_command())) {
            return lpt_early_failure(text::kWritingDownloadCommandError);
        }
        ctx_.clock.sleep_ms(kReplyWait);
        // The printer may send more than the reply; only the status byte counts.
        const std::uint32_t got = exchange::lpt_read_reply(*port_, ctx_.state, kReplyBufferSize);
        if (!reply_complete(got, ctx_.state.reply_length)) {
            return lpt_early_failure(text::kReadingCommandError);
        }
        if (const char* refusal = refusal_text()) return lpt_early_failure(refusal);

        show_transfer_started();
        ctx_.clock.sleep_ms(kLptAcceptedWait);
        start_data_phase();
        // The data goes through a write-only handle of the same port.
        port_.reset();
        ctx_.clock.sleep_ms(kLptReopenWait);
        port_ = exchange::open_lpt(ctx_.ports, ctx_.settings.lpt, PortAccess::WriteOnly);
        if (!port_) return lpt_late_failure(text::kFailedToOpenLpt);
        if (!exchange::configure_timeouts(*port_)) return lpt_late_failure(text::kFailedToSetCommState);
        ctx_.clock.sleep_ms(kLptBeforeDataWait);

        const bool sent = send_image([this](const std::uint8_t* data, std::uint32_t length) {
            std::uint32_t block_written = 0;
            if (!port_->write(data, length, block_written)) {
                system_error_ = port_->last_error_text();
                return BlockWrite::FailedWithSystemError;
            }
            // A short write lost data although the system reported no error.
            return block_written >= length ? BlockWrite::Written : BlockWrite::Failed;
        });
        file_.reset();
        port_.reset();
        complete(sent);
    }

private:
    CommandBytes download_command() const {
        // In demo mode the size has passed the demo limit, so it fits the command's 32-bit field.
        return demo_ ? command_bytes(Command::DemoDownload, 0, static_cast<std::uint32_t>(size_))
                     : command_bytes(Command::Download, ctx_.settings.esc);
    }

    // The status text for a refused download, nullptr when the printer accepted.
    const char* refusal_text() const {
        switch (download_status(ctx_.state.reply, ctx_.state.reply_length, demo_)) {
            case DownloadStatus::Accepted: return nullptr;
            case DownloadStatus::DemoNotSupported: return text::kDemoNotSupported;
            case DownloadStatus::Busy: return text::kPrinterBusy;
        }
        return text::kPrinterBusy;
    }

    void show_transfer_started() {
        set_status(ctx_.dialog, text::kDownloading);
        ctx_.dialog.enable(IDC_UPGRADE_NOW, false);
        ctx_.dialog.enable(IDC_EXIT, false);
        ctx_.dialog.show(IDC_PROGRESS, true);
        ctx_.dialog.set_progress_range(scale_.upper());
        ctx_.dialog.set_progress_pos(1);
    }

    void start_data_phase() {
        block_ = make_transfer_block();
        last_update_ = now_ = ctx_.clock.tick_ms();
    }

    // Streams the image in blocks; true when every byte of it reached the printer.
    template <class WriteBlock>
    bool send_image(WriteBlock write_block) {
        std::uint64_t sent = 0;
        for (;;) {
            // Never more than the size taken at the start: the demo command
            // announced it, and the printer reads whatever follows as commands.
            // The file must end there too; one that grew is not the image
            // whose size was taken.
            if (sent == size_) {
                std::uint32_t beyond = 0;
                if (file_->read(block_.get(), 1, beyond) && beyond == 0) return true;
                set_status(ctx_.dialog, text::kErrorReadingFile);
                return false;
            }
            const auto wanted = static_cast<std::uint32_t>(std::min<std::uint64_t>(kTransferBlockSize, size_ - sent));
            std::uint32_t got = 0;
            // A file that ends early, or cannot be read, is not the image whose size was taken.
            if (!file_->read(block_.get(), wanted, got) || got == 0) {
                set_status(ctx_.dialog, text::kErrorReadingFile);
                return false;
            }
            got = std::min(got, wanted);
            const BlockWrite written = write_block(block_.get(), got);
            if (written != BlockWrite::Written) {
                set_status(ctx_.dialog, text::kWritingDataError);
                if (written == BlockWrite::FailedWithSystemError) {
                    ctx_.dialog.message_box(system_error_, text::kLastErrorCaption, MessageIcon::Information);
                }
                return false;
            }
            sent += got;
            ctx_.state.facts.bytes_sent = sent;
            if (static_cast<std::uint32_t>(now_ - last_update_) >= kProgressInterval) {
                last_update_ = now_;
                ctx_.dialog.set_progress_pos(scale_.position(sent));
            }
            now_ = ctx_.clock.tick_ms();
        }
    }

    void link_failure(const char* status) {
        set_status(ctx_.dialog, status);
        cursor_->end();
        file_.reset();
        ctx_.dialog.enable(IDC_EXIT, true);
        ctx_.dialog.show(IDC_PROGRESS, false);
    }

    // Before the printer accepted: the buttons were not touched.
    void lpt_early_failure(const char* status) {
        set_status(ctx_.dialog, status);
        cursor_->end();
        file_.reset();
        port_.reset();
    }

    // Reopening the port for the data failed: the buttons stay disabled.
    void lpt_late_failure(const char* status) {
        set_status(ctx_.dialog, status);
        port_.reset();
        file_.reset();
        cursor_->end();
        block_.reset();
    }

    void complete(bool success) {
        file_.reset();
        cursor_->end();
        block_.reset();
        if (success) {
            // The bar moves at most every 100 ms, so the last blocks may not
            // have moved it; a finished image is shown as finished through the
            // wait. A failed run keeps what was really sent.
            ctx_.dialog.set_progress_pos(scale_.upper());
            set_status(ctx_.dialog, text::kWritingComplete);
            ctx_.clock.sleep_ms(kCompleteWait);
        }
        // The 9x family needs a fresh verify before another download.
        if (ctx_.flags.is_nt) ctx_.dialog.enable(IDC_UPGRADE_NOW, true);
        ctx_.dialog.enable(IDC_VERIFY, true);
        ctx_.dialog.enable(IDC_EXIT, true);
        ctx_.dialog.show(IDC_PROGRESS, false);
        if (success && !demo_ && ctx_.exit) ctx_.exit();
    }

    TransferContext& ctx_;
    const bool demo_;
    std::uint64_t size_ = 0;
    ProgressScale scale_;
    // Declared so that destruction closes the port and file before the cursor goes.
    std::optional<exchange::WaitCursor> cursor_;
    std::unique_ptr<ImageFile> file_;
    std::unique_ptr<ParallelPort> port_;
    TransferBlock block_;
    std::uint32_t last_update_ = 0;
    std::uint32_t now_ = 0;
    std::string system_error_;  // the port's text for a failed data write
};

}  // namespace

void download(TransferContext& ctx) {
    // The device-ID answer only chooses the carrier.
    std::optional<exchange::UsbLibraryLink> answering =
        ctx.network != nullptr ? std::nullopt : exchange::answering_usb(ctx.usb, ctx.state);
    ctx.state.facts.carrier = ctx.network != nullptr ? Carrier::Net : answering ? Carrier::Usb : Carrier::Lpt;
    if (answering) ctx.state.facts.identification = std::string(identification_text(ctx.state.device_id));
    ctx.state.facts.image_size.reset();
    ctx.state.facts.bytes_sent = 0;
    ctx.state.facts.download_command_sent = false;
    DownloadRun run(ctx);
    if (!run.open_image()) return;
    if (ctx.network != nullptr) {
        // The connection is made once the operator has confirmed, and closed
        // when the run ends.
        ConnectFailure failure{};
        const std::unique_ptr<PrinterLink> link = ctx.network->connect(failure);
        if (link) {
            run.over_link(*link);
        } else {
            run.unreachable(failure);
        }
    } else if (answering) {
        run.over_link(*answering);
    } else {
        run.over_lpt();
    }
}

}  // namespace fwup
