#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "core/transfer/printer_link.h"

namespace fwup {

// Where a network printer's IEEE 1284 ID comes from: its SNMP agent, or a
// virtual machine's file. Called once per identification, from the thread the
// procedure runs on; the text as the source gave it, nothing when there is none.
using NetworkIdSource = std::function<std::optional<std::string>()>;

// The ID as the procedures read it: line breaks, which some printers put
// between the fields, become the field separator ';' (a CR LF pair one).
std::string normalised_device_id(std::string_view raw);

// A printer's raw port on the network (AppSocket, TCP 9100): the command
// bytes, replies and image blocks of the other carriers travel over it
// unchanged. Every procedure opens one connection and closes it as it ends.
class SocketPrinter final : public NetworkPrinter {
public:
    // Time allowed for a connection to be accepted, and for the printer to
    // take the last bytes of an image and close once the image has ended.
    static constexpr std::uint32_t kConnectTimeout = 5000;
    static constexpr std::uint32_t kFinishTimeout = 10000;

    SocketPrinter(std::string host, std::uint16_t port, NetworkIdSource ids);

    std::unique_ptr<PrinterLink> connect(ConnectFailure& failure) override;

private:
    std::string host_;
    std::uint16_t port_;
    NetworkIdSource ids_;
};

}  // namespace fwup
