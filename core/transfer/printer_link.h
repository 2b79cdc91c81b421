#pragma once
#include <array>
#include <cstdint>
#include <memory>

namespace fwup {

// A printer reached through a carrier that moves whole commands, replies and
// image blocks and names the printer by its IEEE 1284 ID: the USB port library,
// or a network connection. The procedures' steps over either are the same.
class PrinterLink {
public:
    virtual ~PrinterLink() = default;

    // The identification text into `id`, NUL-terminated; false when the
    // printer gives none.
    virtual bool identify(std::array<std::uint8_t, 256>& id) = 0;
    // Writes `length` bytes within `timeout_ms`; false when the carrier
    // reports a failure. `written` is what the carrier says it took.
    virtual bool write(const std::uint8_t* data, std::uint32_t length, std::uint32_t& written,
                       std::uint32_t timeout_ms) = 0;
    // Reads up to `length` bytes within `timeout_ms`; the count read (0 when
    // the read failed).
    virtual std::uint32_t read(std::uint8_t* data, std::uint32_t length, std::uint32_t timeout_ms) = 0;
    // After the last block of an image: true when everything written is known
    // to have reached the printer.
    virtual bool finish() { return true; }
};

// Why a network printer could not be reached.
enum class ConnectFailure { NotFound, NoConnection };

// The network printer a run was pointed at. Each procedure makes its own
// connection, and it is closed when the procedure ends.
class NetworkPrinter {
public:
    virtual ~NetworkPrinter() = default;
    // Null with `failure` set when the printer cannot be reached.
    virtual std::unique_ptr<PrinterLink> connect(ConnectFailure& failure) = 0;
};

}  // namespace fwup
