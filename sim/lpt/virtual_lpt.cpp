#include "sim/lpt/virtual_lpt.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <utility>

#include "sim/printer/virtual_printer.h"

namespace fwup::sim {

namespace {

// The texts the system gives for the errors a parallel port reports.
constexpr const char* kTimeoutText = "The semaphore timeout period has expired.";
constexpr const char* kNotReadyText = "The device is not ready.";
constexpr const char* kAccessDeniedText = "Access is denied.";
constexpr const char* kMoreDataText = "More data is available.";

}  // namespace

struct VirtualLptPorts::State {
    struct Device {
        VirtualPrinter* printer = nullptr;
        bool open = false;
        CommTimeouts timeouts{};
    };
    std::array<Device, kPortCount> devices{};
    Faults faults{};
    std::uint32_t opens = 0;
    std::uint32_t timeout_reads = 0;
    std::uint32_t writes = 0;
    std::uint32_t reads = 0;
};

namespace {

bool from_nth(std::uint32_t count, std::uint32_t nth) { return nth != 0 && count >= nth; }

class VirtualLptPort final : public ParallelPort {
public:
    VirtualLptPort(std::shared_ptr<VirtualLptPorts::State> state, std::size_t index, PortAccess access)
        : state_(std::move(state)), index_(index), access_(access) {
        device().open = true;
    }
    ~VirtualLptPort() override { device().open = false; }
    VirtualLptPort(const VirtualLptPort&) = delete;
    VirtualLptPort& operator=(const VirtualLptPort&) = delete;

    bool get_timeouts(CommTimeouts& out) override {
        ++state_->timeout_reads;
        if (from_nth(state_->timeout_reads, state_->faults.fail_timeouts_from)) {
            return fail(kNotReadyText);
        }
        out = device().timeouts;
        return true;
    }

    bool set_timeouts(const CommTimeouts& in) override {
        if (state_->faults.fail_set_timeouts) return fail(kNotReadyText);
        device().timeouts = in;
        return true;
    }

    bool query_device_id(std::uint8_t* buf, std::uint32_t capacity, std::uint32_t& returned) override {
        returned = 0;
        VirtualPrinter* printer = device().printer;
        if (printer == nullptr) return fail(kNotReadyText);
        const std::optional<std::string> id = printer->identify();
        if (!id) return fail(kNotReadyText);
        // The bare text from the first byte, ended by a zero byte when there is
        // room. One longer than the buffer fills it, and the driver reports the
        // overflow along with the bytes it stored.
        const std::uint32_t text = static_cast<std::uint32_t>(std::min<std::size_t>(id->size(), capacity));
        std::memcpy(buf, id->data(), text);
        returned = text;
        if (text < capacity) {
            buf[text] = 0;
            ++returned;
        }
        if (id->size() > capacity) return fail(kMoreDataText);
        return true;
    }

    bool write(const std::uint8_t* data, std::uint32_t length, std::uint32_t& written) override {
        written = 0;
        ++state_->writes;
        if (from_nth(state_->writes, state_->faults.fail_writes_from)) return fail(kTimeoutText);
        VirtualPrinter* printer = device().printer;
        if (printer == nullptr) return fail(kTimeoutText);
        const bool short_write = from_nth(state_->writes, state_->faults.short_writes_from) && length > 0;
        const std::uint32_t offered = short_write ? length - 1 : length;
        written = static_cast<std::uint32_t>(printer->receive(data, offered));
        if (short_write && written == offered) {
            last_error_ = kTimeoutText;
            return true;
        }
        if (written == length) return true;
        // A printer that stops taking data makes the write time out. Like a
        // comm write, one that moved some bytes reports success with the count.
        last_error_ = kTimeoutText;
        return written != 0;
    }

    bool read(std::uint8_t* buf, std::uint32_t length, std::uint32_t& got) override {
        got = 0;
        if (access_ == PortAccess::WriteOnly) return fail(kAccessDeniedText);
        ++state_->reads;
        if (from_nth(state_->reads, state_->faults.fail_reads_from)) return true;
        VirtualPrinter* printer = device().printer;
        // Nothing to read is a read that times out with no bytes, not an error.
        if (printer != nullptr) got = static_cast<std::uint32_t>(printer->read_reply(buf, length));
        return true;
    }

    std::string last_error_text() override { return last_error_; }

private:
    VirtualLptPorts::State::Device& device() { return state_->devices[index_]; }
    bool fail(const char* text) {
        last_error_ = text;
        return false;
    }

    std::shared_ptr<VirtualLptPorts::State> state_;
    std::size_t index_;
    PortAccess access_;
    std::string last_error_ = "The operation completed successfully.";
};

}  // namespace

VirtualLptPorts::VirtualLptPorts() : state_(std::make_shared<State>()) {}
VirtualLptPorts::~VirtualLptPorts() = default;

void VirtualLptPorts::attach(int number, VirtualPrinter* printer) {
    if (number >= 1 && number <= kPortCount) state_->devices[static_cast<std::size_t>(number - 1)].printer = printer;
}

void VirtualLptPorts::set_faults(const Faults& faults) { state_->faults = faults; }

int VirtualLptPorts::port_number(std::string_view name) {
    if (name.size() != 4) return 0;
    const auto upper = [](char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; };
    if (upper(name[0]) != 'L' || upper(name[1]) != 'P' || upper(name[2]) != 'T') return 0;
    if (name[3] < '1' || name[3] > '0' + kPortCount) return 0;
    return name[3] - '0';
}

std::unique_ptr<ParallelPort> VirtualLptPorts::open(std::string_view name, PortAccess access) {
    const int number = port_number(name);
    if (number == 0) return nullptr;
    ++state_->opens;
    if (from_nth(state_->opens, state_->faults.fail_open_from)) return nullptr;
    const auto index = static_cast<std::size_t>(number - 1);
    if (state_->devices[index].open) return nullptr;  // opened without sharing
    return std::make_unique<VirtualLptPort>(state_, index, access);
}

int VirtualLptPorts::open_ports() const {
    return static_cast<int>(std::count_if(state_->devices.begin(), state_->devices.end(),
                                          [](const State::Device& d) { return d.open; }));
}

std::uint32_t VirtualLptPorts::opens() const { return state_->opens; }

CommTimeouts VirtualLptPorts::timeouts(int number) const {
    if (number < 1 || number > kPortCount) return {};
    return state_->devices[static_cast<std::size_t>(number - 1)].timeouts;
}

}  // namespace fwup::sim
