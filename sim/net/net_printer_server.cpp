#include "sim/net/net_printer_server.h"

#include <array>
#include <vector>

#include "system/sockets/tcp_stream.h"

namespace fwup::sim {
namespace {

// How often the serving thread looks whether it is to stop.
constexpr std::uint32_t kPollInterval = 50;
constexpr std::uint32_t kReplySendTimeout = 5000;

}  // namespace

std::unique_ptr<NetPrinterServer> NetPrinterServer::start(VirtualPrinter& printer, NetFaults faults,
                                                          std::uint16_t port) {
    std::unique_ptr<sys::TcpListener> listener = sys::TcpListener::on_loopback(port);
    if (!listener) return nullptr;
    return std::unique_ptr<NetPrinterServer>(new NetPrinterServer(printer, faults, std::move(listener)));
}

NetPrinterServer::NetPrinterServer(VirtualPrinter& printer, NetFaults faults,
                                   std::unique_ptr<sys::TcpListener> listener)
    : printer_(printer), faults_(faults), listener_(std::move(listener)) {
    thread_ = std::thread([this] { serve(); });
}

NetPrinterServer::~NetPrinterServer() {
    stop_.store(true);
    listener_->shut();  // no wait for the next look at the flag
    thread_.join();
}

std::uint16_t NetPrinterServer::port() const { return listener_->port(); }

void NetPrinterServer::serve() {
    std::vector<std::uint8_t> buffer(64 * 1024);
    std::array<std::uint8_t, 256> reply{};
    while (!stop_.load()) {
        std::unique_ptr<sys::TcpStream> connection = listener_->accept(kPollInterval);
        if (!connection) continue;
        connections_.fetch_add(1);
        open_.fetch_add(1);
        bool reset = false;
        while (!stop_.load() && !reset) {
            const std::optional<std::size_t> got = connection->receive_some(buffer.data(), buffer.size(), kPollInterval);
            if (!got) {
                if (connection->closed()) break;  // reset by the host
                continue;                         // nothing yet
            }
            if (*got == 0) break;  // the host ended the job: close in turn
            std::size_t reply_length = 0;
            {
                const std::lock_guard<std::mutex> held(printer_mutex_);
                if (printer_.receive(buffer.data(), *got) < *got) {
                    reset = true;
                    break;
                }
                // A reply that the printer hands out short is asked for
                // again; it then comes whole.
                while (!printer_.pending_reply().empty()) reply_length = printer_.read_reply(reply.data(), reply.size());
            }
            const std::size_t piece = faults_.split_replies ? 1 : reply_length;
            for (std::size_t at = 0; at < reply_length; at += piece) {
                std::size_t sent = 0;
                if (!connection->send_all(reply.data() + at, std::min(piece, reply_length - at), sent,
                                          kReplySendTimeout)) {
                    break;
                }
            }
        }
        if (reset) connection->reset();
        connection.reset();
        open_.fetch_sub(1);
    }
}

}  // namespace fwup::sim
