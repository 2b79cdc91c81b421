#include "adapters/linux/linux_parallel_ports.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <optional>
#include <system_error>
#include <thread>

namespace fwup {

namespace {

using SteadyClock = std::chrono::steady_clock;
using Deadline = std::optional<SteadyClock::time_point>;  // empty: no limit

constexpr std::uint32_t kMaxDword = 0xFFFFFFFFu;
constexpr std::uint32_t kPortCount = 3;
// The printer port reports itself ready for reading and writing at all times
// and answers "try again" while the printer is busy: that is then the wait.
constexpr auto kRetryPause = std::chrono::milliseconds(10);

// LPT1..LPT3 (any case) to 0..2.
std::optional<std::uint32_t> port_index(std::string_view name) {
    if (name.size() != 4) return std::nullopt;
    const auto upper = [](char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; };
    if (upper(name[0]) != 'L' || upper(name[1]) != 'P' || upper(name[2]) != 'T') return std::nullopt;
    if (name[3] < '1' || name[3] > static_cast<char>('0' + kPortCount)) return std::nullopt;
    return static_cast<std::uint32_t>(name[3] - '1');
}

Deadline deadline_after(std::uint64_t ms) {
    if (ms == 0) return std::nullopt;
    return SteadyClock::now() + std::chrono::milliseconds(ms);
}

// Milliseconds to the deadline, rounded up (poll() must not wake before it); -1 waits without limit.
int poll_timeout(const Deadline& deadline) {
    if (!deadline) return -1;
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(*deadline - SteadyClock::now());
    return static_cast<int>(std::clamp<std::chrono::milliseconds::rep>(left.count(), 0, 1 << 30));
}

bool passed(const Deadline& deadline) { return deadline && SteadyClock::now() >= *deadline; }

Deadline earlier(const Deadline& a, const Deadline& b) {
    if (!a) return b;
    if (!b) return a;
    return *a <= *b ? a : b;
}

void pause_before_retry(const Deadline& deadline) {
    auto pause = std::chrono::duration_cast<SteadyClock::duration>(kRetryPause);
    if (deadline) pause = std::min(pause, *deadline - SteadyClock::now());
    if (pause > SteadyClock::duration::zero()) std::this_thread::sleep_for(pause);
}

// 1: ready (or hung up: the next call tells), 0: the deadline passed, -1: error.
int wait_for(int fd, short events, const Deadline& deadline) {
    for (;;) {
        pollfd entry{fd, events, 0};
        const int ready = ::poll(&entry, 1, poll_timeout(deadline));
        if (ready < 0 && errno == EINTR) continue;
        if (ready == 0 && !passed(deadline)) continue;
        return ready < 0 ? -1 : (ready == 0 ? 0 : 1);
    }
}

class LinuxParallelPort final : public ParallelPort {
public:
    LinuxParallelPort(int fd, std::uint32_t index, DeviceIdSource& device_ids)
        : fd_(fd), index_(index), device_ids_(&device_ids) {}
    ~LinuxParallelPort() override { ::close(fd_); }
    LinuxParallelPort(const LinuxParallelPort&) = delete;
    LinuxParallelPort& operator=(const LinuxParallelPort&) = delete;

    // The kernel keeps no such values for the port: they live here.
    bool get_timeouts(CommTimeouts& out) override {
        out = timeouts_;
        return true;
    }
    bool set_timeouts(const CommTimeouts& in) override {
        timeouts_ = in;
        return true;
    }

    bool query_device_id(std::uint8_t* buf, std::uint32_t capacity, std::uint32_t& returned) override {
        returned = 0;
        const std::optional<std::string> id = device_ids_->device_id(index_);
        if (!id) return failed(EIO);
        const auto count = static_cast<std::uint32_t>(std::min<std::size_t>(id->size(), capacity));
        std::memcpy(buf, id->data(), count);
        if (count < capacity) buf[count] = 0;
        returned = count;
        return true;
    }

    bool write(const std::uint8_t* data, std::uint32_t length, std::uint32_t& written) override {
        written = 0;
        const Deadline deadline = deadline_after(std::uint64_t{timeouts_.write_total_multiplier} * length +
                                                 timeouts_.write_total_constant);
        while (written < length) {
            const int ready = wait_for(fd_, POLLOUT, deadline);
            if (ready < 0) return failed(errno);
            if (ready == 0) return failed(ETIMEDOUT);
            const ssize_t n = ::write(fd_, data + written, length - written);
            if (n > 0) {
                written += static_cast<std::uint32_t>(n);
            } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
                return failed(errno);
            } else if (passed(deadline)) {
                return failed(ETIMEDOUT);
            } else {
                pause_before_retry(deadline);
            }
        }
        return true;
    }

    bool read(std::uint8_t* buf, std::uint32_t length, std::uint32_t& got) override {
        got = 0;
        if (length == 0) return true;
        const CommTimeouts& t = timeouts_;
        // Windows' "return at once with what is there".
        const bool at_once = t.read_interval == kMaxDword && t.read_total_multiplier == 0 &&
                             t.read_total_constant == 0;
        const Deadline total =
            at_once ? Deadline(SteadyClock::now())
                    : deadline_after(std::uint64_t{t.read_total_multiplier} * length + t.read_total_constant);
        Deadline interval;  // from the last bytes that came
        while (got < length) {
            const Deadline deadline = earlier(total, interval);
            const int ready = wait_for(fd_, POLLIN, deadline);
            if (ready < 0) return failed(errno);
            if (ready == 0) break;  // a time-out ends the read with what came
            const ssize_t n = ::read(fd_, buf + got, length - got);
            if (n > 0) {
                got += static_cast<std::uint32_t>(n);
                if (t.read_interval != 0 && !at_once) interval = deadline_after(t.read_interval);
            } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
                return failed(errno);
            } else if (passed(deadline)) {
                break;
            } else {
                pause_before_retry(deadline);
            }
        }
        return true;
    }

    std::string last_error_text() override { return std::generic_category().message(last_errno_); }

private:
    bool failed(int error_number) {
        last_errno_ = error_number;
        return false;
    }

    int fd_;
    std::uint32_t index_;
    DeviceIdSource* device_ids_;
    CommTimeouts timeouts_{};
    int last_errno_ = 0;
};

}  // namespace

LinuxParallelPorts::LinuxParallelPorts(DeviceIdSource& device_ids, std::string device_directory)
    : device_ids_(&device_ids), device_directory_(std::move(device_directory)) {}

std::string LinuxParallelPorts::node_path(std::string_view name) const {
    const std::optional<std::uint32_t> index = port_index(name);
    if (!index) return {};
    return device_directory_ + "/lp" + std::to_string(*index);
}

std::unique_ptr<ParallelPort> LinuxParallelPorts::open(std::string_view name, PortAccess access) {
    const std::optional<std::uint32_t> index = port_index(name);
    if (!index) return nullptr;
    // Non-blocking, so that every wait is a poll() with a deadline; it also
    // keeps the printer driver from refusing the open while the printer is
    // offline. The driver admits one opener at a time, as Windows' unshared open.
    const int mode = access == PortAccess::ReadWrite ? O_RDWR : O_WRONLY;
    const int fd = ::open(node_path(name).c_str(), mode | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return nullptr;
    return std::make_unique<LinuxParallelPort>(fd, *index, *device_ids_);
}

}  // namespace fwup
