#pragma once
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>

#include "sim/printer/virtual_printer.h"

namespace fwup::sys {
class TcpListener;
}

namespace fwup::sim {

// How the served printer's connection misbehaves, for the tests of the carrier.
struct NetFaults {
    // Each reply goes out one byte at a time, in separate segments, so the
    // host reads it in pieces.
    bool split_replies = false;
};

// Serves one virtual printer on 127.0.0.1 as a network printer's raw port:
// bytes received go to the printer, its replies go back as soon as they are
// due. One connection at a time, as a printer takes one job at a time. When
// the printer refuses image bytes (a write that fails part-way) the
// connection is reset, as a printer that gives up closes it.
class NetPrinterServer {
public:
    // Listens on a free loopback port (or `port`); null when none can be had.
    static std::unique_ptr<NetPrinterServer> start(VirtualPrinter& printer, NetFaults faults = {},
                                                   std::uint16_t port = 0);
    ~NetPrinterServer();
    NetPrinterServer(const NetPrinterServer&) = delete;
    NetPrinterServer& operator=(const NetPrinterServer&) = delete;

    std::uint16_t port() const;
    // Connections accepted so far, and those still open.
    int connections() const { return connections_.load(); }
    int open_connections() const { return open_.load(); }
    // The printer, for a caller that inspects it while the server runs:
    // hold the lock while reading it.
    std::unique_lock<std::mutex> lock() { return std::unique_lock<std::mutex>(printer_mutex_); }

private:
    NetPrinterServer(VirtualPrinter& printer, NetFaults faults, std::unique_ptr<sys::TcpListener> listener);
    void serve();

    VirtualPrinter& printer_;
    NetFaults faults_;
    std::unique_ptr<sys::TcpListener> listener_;
    std::mutex printer_mutex_;
    std::atomic<bool> stop_{false};
    std::atomic<int> connections_{0};
    std::atomic<int> open_{0};
    std::thread thread_;
};

}  // namespace fwup::sim
