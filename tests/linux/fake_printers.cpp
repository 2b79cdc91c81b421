#include "tests/linux/fake_printers.h"

#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cerrno>
#include <cstring>

#include "usbport/linux/usblp_device_layer.h"

namespace fwup::test {

namespace {
constexpr std::size_t kDriverIdLimit = 1023;
constexpr int kPumpPollMs = 10;
}  // namespace

std::vector<std::uint8_t> standard_device_id(const std::string& text) {
    const std::size_t length = text.size() + 2;
    // Pushed one by one: GCC 12 at -O2 reports bounds and null faults
    // inside libstdc++ for an insert after a braced initialiser, falsely.
    std::vector<std::uint8_t> raw;
    raw.reserve(length);
    raw.push_back(static_cast<std::uint8_t>(length >> 8));
    raw.push_back(static_cast<std::uint8_t>(length & 0xFF));
    raw.insert(raw.end(), text.begin(), text.end());
    return raw;
}

FakeDevices::IoctlHandler usblp_requests(std::function<UsblpAnswers()> answers) {
    return [answers = std::move(answers)](unsigned long request, std::uint8_t* data, std::size_t size) -> int {
        const auto size32 = static_cast<std::uint32_t>(size);
        const bool device_id = request == veltport::lpioc_get_device_id(size32);
        const bool vid_pid = request == veltport::lpioc_get_vid_pid(size32);
        if (!device_id && !vid_pid) return ENOTTY;
        const UsblpAnswers answer = answers();
        if (answer.error != 0) return answer.error;
        if (vid_pid) {
            if (size < 2 * sizeof(int)) return EINVAL;
            const std::array<int, 2> ids{answer.vendor, answer.product};
            std::memcpy(data, ids.data(), sizeof ids);
            return 0;
        }
        std::size_t length = 2;
        if (answer.device_id.size() >= 2) length = static_cast<std::size_t>(answer.device_id[0] << 8 | answer.device_id[1]);
        length = std::clamp<std::size_t>(length, 2, kDriverIdLimit);
        const std::size_t copied = std::min({length, size, answer.device_id.size()});
        std::copy_n(answer.device_id.begin(), copied, data);
        return 0;
    };
}

FakePrinter::FakePrinter(FakeDevices& devices, const std::string& node, sim::PrinterConfig config, Carrier carrier)
    : end_(devices.add_node(node, carrier == Carrier::Usb ? "usbmisc" : "printer")), printer_(std::move(config)) {
    // Called from receive(), under the lock the pump holds.
    printer_.set_image_sink(
        [this](const std::uint8_t* data, std::size_t n) { image_.insert(image_.end(), data, data + n); });
    if (carrier == Carrier::Usb) {
        devices.on_ioctl(node, usblp_requests([this] {
            UsblpAnswers answers;
            const std::lock_guard<std::mutex> lock(mutex_);
            answers.vendor = printer_.config().vendor_id;
            if (const std::optional<std::string> id = printer_.identify()) {
                answers.device_id = standard_device_id(*id);
            } else {
                answers.error = EIO;
            }
            return answers;
        }));
    }
    thread_ = std::thread([this] { pump(); });
}

FakePrinter::~FakePrinter() {
    stop_ = true;
    thread_.join();
}

void FakePrinter::pump() {
    std::array<std::uint8_t, 16384> chunk{};
    std::array<std::uint8_t, 256> reply{};
    while (!stop_) {
        pollfd entry{end_, POLLIN, 0};
        const int ready = ::poll(&entry, 1, kPumpPollMs);
        if (ready <= 0) continue;
        if ((entry.revents & POLLIN) == 0) {  // the node is gone: wait to be stopped
            std::this_thread::sleep_for(std::chrono::milliseconds(kPumpPollMs));
            continue;
        }
        const ssize_t n = ::read(end_, chunk.data(), chunk.size());
        if (n <= 0) continue;
        std::size_t answer = 0;
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            printer_.receive(chunk.data(), static_cast<std::size_t>(n));
            answer = printer_.read_reply(reply.data(), reply.size());
        }
        received_.notify_all();
        if (answer > 0) static_cast<void>(::write(end_, reply.data(), answer));
    }
}

std::vector<std::vector<std::uint8_t>> FakePrinter::commands() {
    const std::lock_guard<std::mutex> lock(mutex_);
    return printer_.commands();
}

std::vector<std::uint8_t> FakePrinter::image() {
    const std::lock_guard<std::mutex> lock(mutex_);
    return image_;
}

std::vector<std::uint8_t> FakePrinter::image_of_size(std::size_t size) {
    std::unique_lock<std::mutex> lock(mutex_);
    received_.wait_for(lock, std::chrono::seconds(5), [&] { return image_.size() >= size; });
    return image_;
}

std::optional<std::string> FakePrinter::identify() {
    const std::lock_guard<std::mutex> lock(mutex_);
    return printer_.identify();
}

}  // namespace fwup::test
