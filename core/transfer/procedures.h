#pragma once
#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "core/binding/usb_port_api.h"
#include "core/config/upgrade_settings.h"
#include "core/dialog/dialog_controls.h"
#include "core/platform/platform_flags.h"
#include "core/transfer/clock.h"
#include "core/transfer/command_set.h"
#include "core/transfer/image_file.h"
#include "core/transfer/parallel_port.h"
#include "core/transfer/printer_link.h"

namespace fwup {

enum class Carrier { Usb, Lpt, Net };

// As reports and the history name a carrier: "USB", "LPT", "NET".
inline const char* carrier_name(Carrier carrier) {
    switch (carrier) {
        case Carrier::Usb: return "USB";
        case Carrier::Lpt: return "LPT";
        case Carrier::Net: return "NET";
    }
    return "USB";
}

// What the procedures found out, beyond what the dialog shows, for a front end
// that reports a run to a script. Each field keeps the last value found.
struct RunFacts {
    std::optional<Carrier> carrier;               // the carrier the last procedure chose
    std::optional<std::string> identification;    // the last identification text read
    std::optional<std::int32_t> printer_version;  // the version the last verify read
    std::optional<std::uint64_t> image_size;      // the image's size, once a download took it
    std::uint64_t bytes_sent = 0;                 // image bytes the last download got to the printer
    bool download_command_sent = false;           // the last download tried to send its command
};

// The buffers and lengths that every exchange with the printer shares. The
// application owns one and hands it to each procedure run.
struct TransferState {
    std::array<std::uint8_t, 256> device_id{};  // identification text, at most 255 bytes
    std::array<std::uint8_t, 255> reply{};      // every reply is read from its first byte
    std::uint32_t command_length = 0;
    std::uint32_t reply_length = 0;
    RunFacts facts;
};

// Everything a procedure run may touch.
struct TransferContext {
    const UpgradeSettings& settings;
    const PlatformFlags& flags;
    UsbPortApi& usb;  // not loaded: the procedures use LPT only
    ParallelPorts& ports;
    ImageFiles& images;
    Clock& clock;
    DialogControls& dialog;
    TransferState& state;
    std::function<void()> exit;  // the Exit operation, after a successful firmware upgrade
    // How the model check steps through the identification text (double-byte
    // code pages); tests inject one to exercise both kinds of code page.
    LeadByteTest is_lead_byte = system_lead_byte_test();
    // The network printer the run was pointed at; then neither USB nor a
    // parallel port is reached. Null: the printer on USB or the parallel port.
    NetworkPrinter* network = nullptr;
};

// "Verify Information": identify the printer, check its model, read and show its
// firmware version, enable the upgrade button when a transfer may follow.
void verify(TransferContext& context);

// "Upgrade Now" / "Download Now": send the (demo) download command and stream
// the image in 8192-byte blocks.
void download(TransferContext& context);

}  // namespace fwup
