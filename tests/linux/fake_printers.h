#pragma once
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <optional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "sim/printer/virtual_printer.h"
#include "tests/linux/fake_devices.h"

namespace fwup::test {

// What the kernel's USB printer driver answers for one printer.
struct UsblpAnswers {
    // The device ID as the printer sends it: its 2-byte length field first.
    std::vector<std::uint8_t> device_id;
    int vendor = 0x043D;
    int product = 0x0001;
    int error = 0;  // an errno for every request instead of an answer
};

// The device ID as a well-behaved printer sends it: a big-endian length that
// counts itself, then the text.
std::vector<std::uint8_t> standard_device_id(const std::string& text);

// The usblp requests on a node, answered as the driver does: the device ID
// copied as far as its length field (clamped to 2..1023) and the request's
// size reach, the vendor and product as two ints.
FakeDevices::IoctlHandler usblp_requests(std::function<UsblpAnswers()> answers);

// A virtual printer behind a faked node: what the program writes to the node
// is fed to the printer, and its replies come back on the node. The printer's
// device ID and vendor also answer the usblp requests when asked to.
class FakePrinter {
public:
    enum class Carrier { Usb, Parallel };

    FakePrinter(FakeDevices& devices, const std::string& node, sim::PrinterConfig config, Carrier carrier);
    ~FakePrinter();
    FakePrinter(const FakePrinter&) = delete;
    FakePrinter& operator=(const FakePrinter&) = delete;

    // What the printer has received (copied under the lock).
    std::vector<std::vector<std::uint8_t>> commands();
    std::vector<std::uint8_t> image();
    // The image once `size` bytes of it have come through the node (the
    // program's last write may still be on its way), or what came within 5 s.
    std::vector<std::uint8_t> image_of_size(std::size_t size);
    // The identification text, as the port's identification query gets it.
    std::optional<std::string> identify();

private:
    void pump();

    int end_;
    std::mutex mutex_;
    std::condition_variable received_;
    sim::VirtualPrinter printer_;
    std::vector<std::uint8_t> image_;  // what the printer's image sink was given
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

}  // namespace fwup::test
