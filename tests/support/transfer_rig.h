#pragma once
#include <algorithm>
#include <cstdint>
#include <string_view>
#include <vector>

#include "core/binding/usb_port_api.h"
#include "core/config/upgrade_settings.h"
#include "core/platform/platform_flags.h"
#include "tests/support/memory_image_files.h"
#include "tests/support/recording_dialog.h"
#include "tests/support/scripted_parallel_ports.h"
#include "tests/support/scripted_usb_port.h"
#include "tests/support/virtual_clock.h"
#include "core/transfer/procedures.h"

namespace fwup::test {

// Everything a procedure run touches, faked, with a printer of model
// "Model X" whose image "fw.bin" has version 1.06. USB is not loaded until
// use_usb() is called.
struct TransferRig {
    TransferRig() {
        settings.model_name = "Model X";
        settings.firmware_file = "fw.bin";
        settings.file_version = 106;
    }

    void use_usb() { usb = usb_port.api(); }

    TransferContext context() {
        return {settings, flags, usb, ports, images, clock, dialog, state, [this] { ++exits; }, lead_byte};
    }
    void verify() {
        TransferContext c = context();
        fwup::verify(c);
    }
    void download() {
        TransferContext c = context();
        fwup::download(c);
    }

    // Handles, files and libraries this run left open (the bound library aside).
    int open_handles() const { return ports.live_handles + images.live_files; }

    UpgradeSettings settings;
    PlatformFlags flags;
    ScriptedUsbPort usb_port;
    UsbPortApi usb;
    ScriptedParallelPorts ports;
    MemoryImageFiles images;
    VirtualClock clock;
    RecordingDialog dialog;
    TransferState state;
    LeadByteTest lead_byte = nullptr;
    int exits = 0;
};

// A version reply of the length the Esc variant expects whose last three bytes
// are `version` (padded with zero bytes), `short_by` bytes cut off its end.
// The bytes in front are filler the procedures must not look at.
inline std::vector<std::uint8_t> version_reply(int esc, std::string_view version, std::size_t short_by = 0) {
    std::vector<std::uint8_t> reply(esc != 0 ? 11 : 10, 0x5A);
    for (std::size_t i = 0; i < 3; ++i) {
        reply[reply.size() - 3 + i] = i < version.size() ? static_cast<std::uint8_t>(version[i]) : 0;
    }
    reply.resize(reply.size() - short_by);
    return reply;
}

// A download reply whose status byte is last, plus `extra` trailing bytes.
inline std::vector<std::uint8_t> download_reply(int esc, std::uint8_t status, std::size_t extra = 0) {
    const std::size_t length = esc != 0 ? 9 : 8;
    std::vector<std::uint8_t> reply(length + extra, 0xEE);
    std::fill_n(reply.begin(), length - 1, std::uint8_t{0x5A});
    reply[length - 1] = status;
    return reply;
}

}  // namespace fwup::test
