#include "core/transfer/exchange.h"

#include <algorithm>
#include <string>

#include "core/transfer/status_texts.h"

namespace fwup::exchange {
namespace {
constexpr std::uint32_t kWriteTotalConstant = 2000;
constexpr std::uint32_t kReadTotalConstant = 1000;
constexpr std::uint32_t kReadInterval = 200;
}  // namespace

bool UsbLibraryLink::identify(std::array<std::uint8_t, 256>& id) {
    std::uint32_t length = kDeviceIdCapacity;
    return usb_.get_device_id(reinterpret_cast<char*>(id.data()), &length) != 0;
}

bool UsbLibraryLink::write(const std::uint8_t* data, std::uint32_t length, std::uint32_t& written,
                           std::uint32_t timeout_ms) {
    written = 0;
    return usb_.write_to_usb_port(data, length, &written, std::to_string(timeout_ms).c_str()) == VELTPORT_OK;
}

std::uint32_t UsbLibraryLink::read(std::uint8_t* data, std::uint32_t length, std::uint32_t timeout_ms) {
    std::uint32_t got = 0;  // a read that reports no count counts as empty
    static_cast<void>(usb_.read_from_usb_port(data, length, &got, std::to_string(timeout_ms).c_str()));
    return got;
}

bool link_identify(PrinterLink& link, TransferState& state) {
    // Cleared first so that the text never runs into an earlier, longer ID.
    state.device_id.fill(0);
    const bool answered = link.identify(state.device_id);
    state.device_id.back() = 0;
    return answered;
}

std::optional<UsbLibraryLink> answering_usb(UsbPortApi& usb, TransferState& state) {
    if (!usb.usable()) return std::nullopt;
    UsbLibraryLink link(usb);
    if (!link_identify(link, state)) return std::nullopt;
    return link;
}

const char* connect_failure_text(ConnectFailure failure) {
    return failure == ConnectFailure::NotFound ? text::kNetworkPrinterNotFound : text::kFailedToConnectPrinter;
}

std::unique_ptr<ParallelPort> open_lpt(ParallelPorts& ports, std::int32_t lpt, PortAccess access) {
    const auto name = lpt_port_name(lpt);
    if (!name) return nullptr;
    return ports.open(*name, access);
}

bool configure_timeouts(ParallelPort& port) {
    CommTimeouts timeouts;
    if (!port.get_timeouts(timeouts)) return false;
    timeouts.write_total_constant = kWriteTotalConstant;
    timeouts.read_total_constant = kReadTotalConstant;
    timeouts.read_interval = kReadInterval;
    static_cast<void>(port.set_timeouts(timeouts));
    return true;
}

std::uint32_t lpt_identify(ParallelPort& port, TransferState& state) {
    state.device_id.fill(0);
    std::uint32_t returned = 0;
    static_cast<void>(port.query_device_id(state.device_id.data(), kDeviceIdCapacity, returned));
    return std::min(returned, kDeviceIdCapacity);
}

bool lpt_send_command(ParallelPort& port, const CommandBytes& command) {
    std::uint32_t written = 0;
    return port.write(command.bytes.data(), command.length, written) && written >= command.length;
}

std::uint32_t lpt_read_reply(ParallelPort& port, TransferState& state, std::uint32_t length) {
    length = std::min(length, kReplyBufferSize);
    std::uint32_t got = 0;
    if (!port.read(state.reply.data(), length, got)) return 0;
    return std::min(got, length);
}

}  // namespace fwup::exchange
