#include "core/network/socket_printer.h"

#include <algorithm>
#include <utility>

#include "core/transfer/command_set.h"
#include "system/sockets/tcp_stream.h"

namespace fwup {
namespace {

class SocketLink final : public PrinterLink {
public:
    SocketLink(std::unique_ptr<sys::TcpStream> stream, const NetworkIdSource& ids)
        : stream_(std::move(stream)), ids_(ids) {}

    bool identify(std::array<std::uint8_t, 256>& id) override {
        const std::optional<std::string> raw = ids_ ? ids_() : std::nullopt;
        if (!raw || raw->empty()) return false;
        const std::string text = normalised_device_id(*raw);
        // As long an ID as the other carriers read; the model comes early in it.
        const std::size_t length = std::min<std::size_t>(text.size(), kDeviceIdCapacity);
        std::copy_n(text.begin(), length, id.begin());
        id[length] = 0;
        return true;
    }

    bool write(const std::uint8_t* data, std::uint32_t length, std::uint32_t& written,
               std::uint32_t timeout_ms) override {
        std::size_t sent = 0;
        const bool whole = stream_->send_all(data, length, sent, timeout_ms);
        written = static_cast<std::uint32_t>(sent);
        return whole;
    }

    // No framing on the raw port: a reply may come in pieces, or together
    // with the next one, so exactly the expected length is read.
    std::uint32_t read(std::uint8_t* data, std::uint32_t length, std::uint32_t timeout_ms) override {
        return static_cast<std::uint32_t>(stream_->receive(data, length, timeout_ms));
    }

    bool finish() override { return stream_->finish(SocketPrinter::kFinishTimeout); }

private:
    std::unique_ptr<sys::TcpStream> stream_;
    NetworkIdSource ids_;
};

}  // namespace

std::string normalised_device_id(std::string_view raw) {
    std::string text;
    text.reserve(raw.size());
    for (std::size_t i = 0; i < raw.size(); ++i) {
        const char c = raw[i];
        if (c == '\r' || c == '\n') {
            if (c == '\r' && i + 1 < raw.size() && raw[i + 1] == '\n') ++i;
            // A break after a field's own ';', or before any field, separates nothing.
            if (!text.empty() && text.back() != ';') text += ';';
            continue;
        }
        text += c;
    }
    return text;
}

SocketPrinter::SocketPrinter(std::string host, std::uint16_t port, NetworkIdSource ids)
    : host_(std::move(host)), port_(port), ids_(std::move(ids)) {}

std::unique_ptr<PrinterLink> SocketPrinter::connect(ConnectFailure& failure) {
    sys::ConnectResult result = sys::ConnectResult::Failed;
    std::unique_ptr<sys::TcpStream> stream = sys::TcpStream::connect(host_, port_, kConnectTimeout, result);
    if (!stream) {
        failure = result == sys::ConnectResult::NotResolved ? ConnectFailure::NotFound : ConnectFailure::NoConnection;
        return nullptr;
    }
    return std::make_unique<SocketLink>(std::move(stream), ids_);
}

}  // namespace fwup
