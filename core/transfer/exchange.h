#pragma once
#include <cstdint>
#include <memory>
#include <string>

#include "core/transfer/command_set.h"
#include "core/transfer/procedures.h"

// Steps that the verify and download procedures share: the carriers' calls as
// the procedures use them. Internal to the transfer library.
namespace fwup::exchange {

// Time-out texts handed to the USB port library.
inline constexpr char kCommandTimeout[] = "1000";
inline constexpr char kDataTimeout[] = "10000";

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

// The identification query over USB into the device-ID buffer; true when a
// USB printer answered. Only call with a usable library.
bool usb_identify(UsbPortApi& usb, TransferState& state);

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
