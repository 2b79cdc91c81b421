#pragma once
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "core/transfer/command_set.h"
#include "core/transfer/printer_link.h"
#include "core/transfer/procedures.h"

// Steps that the verify and download procedures share: the carriers' calls as
// the procedures use them. Internal to the transfer library.
namespace fwup::exchange {

// Time-outs of a command or reply and of an image block, in milliseconds.
inline constexpr std::uint32_t kCommandTimeout = 1000;
inline constexpr std::uint32_t kDataTimeout = 10000;

// Shows the wait cursor until end() or destruction, whichever comes first.
class WaitCursor {
public:
    explicit WaitCursor(DialogControls& dialog) : dialog_(&dialog) { dialog.begin_wait_cursor(); }
    ~WaitCursor() { end(); }
    WaitCursor(const WaitCursor&) = delete;
    WaitCursor& operator=(const WaitCursor&) = delete;

    void end() {
        if (dialog_ != nullptr) dialog_->end_wait_cursor();
        dialog_ = nullptr;
    }

private:
    DialogControls* dialog_;
};

inline void set_status(DialogControls& dialog, const std::string& text) {
    dialog.set_text(IDC_STATUS, text);
}

// The USB port library as a link; the library takes its time-outs as text.
// Only make one over a usable library.
class UsbLibraryLink final : public PrinterLink {
public:
    explicit UsbLibraryLink(UsbPortApi& usb) : usb_(usb) {}
    bool identify(std::array<std::uint8_t, 256>& id) override;
    bool write(const std::uint8_t* data, std::uint32_t length, std::uint32_t& written,
               std::uint32_t timeout_ms) override;
    std::uint32_t read(std::uint8_t* data, std::uint32_t length, std::uint32_t timeout_ms) override;

private:
    UsbPortApi& usb_;
};

// The identification query over a link into the device-ID buffer; true when
// the printer answered.
bool link_identify(PrinterLink& link, TransferState& state);

// The USB port library as a link when a USB printer answers the
// identification query (its text then in the device-ID buffer): a printer
// that answers over USB is always handled over USB. Nothing otherwise.
std::optional<UsbLibraryLink> answering_usb(UsbPortApi& usb, TransferState& state);

// The status text for a network printer that could not be reached.
const char* connect_failure_text(ConnectFailure failure);

// Opens the configured port; nullptr when Lpt names no port or it cannot be opened.
std::unique_ptr<ParallelPort> open_lpt(ParallelPorts& ports, std::int32_t lpt, PortAccess access);

// Reads the port's time-outs and writes back the three the exchanges rely on
// (the result of writing them is not used). False when they cannot be read.
bool configure_timeouts(ParallelPort& port);

// The identification query over LPT into the device-ID buffer; the byte count
// the port reported, whatever the request's result: a driver whose answer
// fills the buffer reports an overflow along with the bytes it stored.
std::uint32_t lpt_identify(ParallelPort& port, TransferState& state);

// One write of the whole command; true only when all of it went out. A write
// that reports success with fewer bytes has lost the command's end, which the
// printer would join with whatever comes next.
bool lpt_send_command(ParallelPort& port, const CommandBytes& command);

// One read of up to `length` bytes into the reply buffer's start; the count
// read, 0 when the read failed.
std::uint32_t lpt_read_reply(ParallelPort& port, TransferState& state, std::uint32_t length);

}  // namespace fwup::exchange
