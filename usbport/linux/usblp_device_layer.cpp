// The library's device layer over the kernel's USB printer driver (usblp).
// Each call is one or a few system calls; errno is translated into the system
// error codes the library speaks, here and nowhere else.
#include "usbport/linux/usblp_device_layer.h"

#include "veltport.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <utility>

namespace veltport {

namespace {

using SteadyClock = std::chrono::steady_clock;

constexpr std::uint32_t kErrorSemTimeout = 121;           // ERROR_SEM_TIMEOUT
constexpr std::uint32_t kErrorInsufficientBuffer = 122;   // ERROR_INSUFFICIENT_BUFFER

// The driver keeps at most 1023 bytes of the device ID, its 2-byte count included.
constexpr std::uint32_t kDeviceIdRequest = 1024;
constexpr std::uint32_t kCountBytes = 2;
// The USB standard device descriptor: 18 bytes, type 1; idVendor at 8, idProduct at 10.
constexpr std::uint32_t kDescriptorLength = 18;
constexpr std::uint8_t kDeviceDescriptorType = 1;
// A device that calls itself ready but then says "try again" is given this
// pause before the next try, so that the wait does not spin.
constexpr auto kRetryPause = std::chrono::milliseconds(10);

// Stale bytes dropped before a write, at most: far more than any reply.
constexpr std::size_t kStaleLimit = 64 * 1024;
constexpr std::size_t kDrainChunk = 1024;  // usblp hands out at most this much per read

constexpr const char* kWritePipe = "PIPE00";
constexpr const char* kReadPipe = "PIPE01";

std::uint32_t system_error(int error_number) {
    switch (error_number) {
        case ENOENT:
        case ENXIO:
        case ENOTDIR:
            return kErrorFileNotFound;
        case ENODEV:
        case ESHUTDOWN:
        case EPIPE:
            return kErrorDeviceNotConnected;
        case EACCES:
        case EPERM:
        case EROFS:
            return kErrorAccessDenied;
        case EBUSY:  // usblp admits one opener at a time
            return kErrorSharingViolation;
        case EBADF:
            return kErrorInvalidHandle;
        case ETIMEDOUT:
            return kErrorSemTimeout;
        case EINVAL:
        case ENOTTY:
        case ENOSYS:
        case EOPNOTSUPP:
            return kErrorInvalidFunction;
        case EOVERFLOW:
            return kErrorInsufficientBuffer;
        default:
            return kErrorGenFailure;
    }
}

// Milliseconds to the deadline, rounded up: poll() must not wake before it.
int remaining_ms(SteadyClock::time_point deadline) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - SteadyClock::now());
    return static_cast<int>(std::clamp<std::chrono::milliseconds::rep>(left.count(), 0, 1 << 30));
}

// Waits until `fd` reports one of `events` or a hang-up/error, or until the
// deadline. 1: something to report (in `revents`), 0: the deadline passed,
// -1: poll failed (errno set).
int wait_for(int fd, short events, SteadyClock::time_point deadline, short& revents) {
    for (;;) {
        pollfd entry{fd, events, 0};
        const int ready = ::poll(&entry, 1, remaining_ms(deadline));
        if (ready < 0 && errno == EINTR) continue;
        if (ready == 0 && SteadyClock::now() < deadline) continue;
        revents = entry.revents;
        return ready < 0 ? -1 : (ready == 0 ? 0 : 1);
    }
}

void pause_before_retry(SteadyClock::time_point deadline) {
    const auto pause = std::min<SteadyClock::duration>(kRetryPause, deadline - SteadyClock::now());
    if (pause > SteadyClock::duration::zero()) std::this_thread::sleep_for(pause);
}

bool hung_up(short revents) { return (revents & (POLLHUP | POLLERR | POLLNVAL)) != 0; }

// Takes what the driver has read already, without waiting, into `sink`; stops
// at `limit` bytes, at a hang-up or an error.
template <class Sink>
void take_ready(int fd, std::size_t limit, Sink sink) {
    std::array<std::uint8_t, kDrainChunk> chunk{};
    for (std::size_t taken = 0; taken < limit;) {
        pollfd entry{fd, POLLIN, 0};
        if (::poll(&entry, 1, 0) <= 0 || (entry.revents & POLLIN) == 0) return;
        const ssize_t n = ::read(fd, chunk.data(), std::min(chunk.size(), limit - taken));
        if (n <= 0) return;
        sink(chunk.data(), static_cast<std::size_t>(n));
        taken += static_cast<std::size_t>(n);
    }
}

}  // namespace

std::uint32_t lpioc_get_device_id(std::uint32_t length) { return _IOC(_IOC_READ, 'P', 1, length); }
std::uint32_t lpioc_get_vid_pid(std::uint32_t length) { return _IOC(_IOC_READ, 'P', 6, length); }

UsblpDeviceLayer::UsblpDeviceLayer(UsblpConfig config) : config_(std::move(config)) {
    if (!config_.sleep) {
        config_.sleep = [](std::uint32_t ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); };
    }
    if (!config_.debug) {
        // Linux has no debugger channel; a person bringing up a printer can ask
        // for the library's diagnostics on standard error instead.
        const char* wanted = std::getenv("VELTPORT_DEBUG");
        if (wanted != nullptr && *wanted != '\0') {
            config_.debug = [](const char* text) { std::fputs(text, stderr); };
        } else {
            config_.debug = [](const char*) {};
        }
    }
    if (!config_.out) config_.out = [](const char* text) { std::fputs(text, stdout); };
}

// A parked descriptor of `node` that can serve `mode`, or none. One that hung
// up, or whose node is gone or now names another device (the printer was
// unplugged, and maybe plugged in again), is closed instead.
UsblpDeviceLayer::Parked UsblpDeviceLayer::take_parked(const std::string& node, int mode) {
    const auto parked = parked_.find(node);
    if (parked == parked_.end()) return {};
    const Parked kept = parked->second;
    parked_.erase(parked);
    pollfd entry{kept.fd, 0, 0};
    struct stat named {};
    struct stat held {};
    const bool usable = ::poll(&entry, 1, 0) >= 0 && !hung_up(entry.revents) &&
                        (kept.mode == O_RDWR || kept.mode == mode) && ::stat(node.c_str(), &named) == 0 &&
                        ::fstat(kept.fd, &held) == 0 && named.st_ino == held.st_ino &&
                        named.st_dev == held.st_dev && named.st_rdev == held.st_rdev;
    if (usable) return kept;
    ::close(kept.fd);
    return {};
}

UsblpDeviceLayer::~UsblpDeviceLayer() {
    for (const auto& [handle, opened] : handles_) ::close(static_cast<int>(handle));
    for (const auto& [node, parked] : parked_) ::close(parked.fd);
}

std::string UsblpDeviceLayer::node_path(std::uint32_t node) const {
    std::array<char, 16> name{};
    std::snprintf(name.data(), name.size(), "/lp%u", node);
    return config_.device_directory + name.data();
}

bool UsblpDeviceLayer::fail(int error_number) {
    last_error_ = system_error(error_number);
    return false;
}

bool UsblpDeviceLayer::known(Handle handle) { return handles_.count(handle) != 0; }

std::optional<OsVersionInfo> UsblpDeviceLayer::query_os_version() {
    return OsVersionInfo{OsVersionInfo::kWin32Nt, 5, 0};
}

DeviceSet UsblpDeviceLayer::create_interface_set(const Guid& interface_class) {
    Members members;
    const auto add_present = [&members](std::string path) {
        struct stat info {};
        if (::stat(path.c_str(), &info) == 0) members.paths.push_back(std::move(path));
    };
    if (interface_class == MS_USBPRINT_GUID) {
        if (!config_.device.empty()) {
            add_present(config_.device);
        } else {
            for (std::uint32_t node = 0; node < config_.node_count; ++node) add_present(node_path(node));
        }
    }
    const DeviceSet set = next_set_++;
    sets_.emplace(set, std::move(members));
    return set;
}

EnumOutcome UsblpDeviceLayer::enum_interface(DeviceSet set, const Guid&, std::uint32_t index, InterfaceRef& out) {
    const auto found = sets_.find(set);
    if (found == sets_.end()) {
        fail(EBADF);
        return EnumOutcome::Failed;
    }
    if (index >= found->second.paths.size()) {
        last_error_ = kErrorNoMoreItems;
        return EnumOutcome::NoMoreItems;
    }
    out = InterfaceRef{};
    out.opaque[0] = index;
    return EnumOutcome::Found;
}

std::optional<std::string> UsblpDeviceLayer::interface_path(DeviceSet set, const InterfaceRef& iface) {
    const auto found = sets_.find(set);
    if (found == sets_.end() || iface.opaque[0] >= found->second.paths.size()) {
        fail(EBADF);
        return std::nullopt;
    }
    return found->second.paths[static_cast<std::size_t>(iface.opaque[0])];
}

void UsblpDeviceLayer::destroy_interface_set(DeviceSet set) { sets_.erase(set); }

Handle UsblpDeviceLayer::open(const char* path, std::uint32_t access, std::uint32_t /*share*/) {
    if (path == nullptr) {
        fail(ENOENT);
        return kInvalidHandle;
    }
    // A pipe is the node itself: "<node>\PIPE00" for writing, "<node>\PIPE01"
    // for reading; the access the caller asks for says which.
    std::string node(path);
    if (const std::size_t separator = node.find('\\'); separator != std::string::npos) {
        const std::string pipe = node.substr(separator + 1);
        if (pipe != kWritePipe && pipe != kReadPipe) {
            fail(ENOENT);
            return kInvalidHandle;
        }
        node.resize(separator);
    }
    const bool reading = (access & kGenericRead) != 0;
    const bool writing = (access & kGenericWrite) != 0;
    const int wanted = reading && writing ? O_RDWR : (writing ? O_WRONLY : O_RDONLY);
    const Parked parked = take_parked(node, wanted);
    int fd = parked.fd;
    int mode = parked.mode;
    if (fd < 0) {
        mode = O_RDWR;
        // Non-blocking: every wait is a poll() with a deadline. (Sharing needs
        // no translation: the driver itself admits one opener at a time.) Both
        // directions where the node allows, so that any later handle can take
        // the node over.
        constexpr int kFlags = O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
        fd = ::open(node.c_str(), O_RDWR | kFlags);
        if (fd < 0 && wanted != O_RDWR && (errno == EACCES || errno == EPERM || errno == EROFS)) {
            mode = wanted;
            fd = ::open(node.c_str(), wanted | kFlags);
        }
        if (fd < 0) {
            fail(errno);
            return kInvalidHandle;
        }
    }
    handles_.emplace(fd, Opened{access, node, mode, false});
    return fd;
}

bool UsblpDeviceLayer::device_id(int fd, std::uint8_t* out, std::uint32_t out_size, std::uint32_t& returned) {
    if (out == nullptr || out_size < kCountBytes) return fail(EOVERFLOW);
    // Zeroed, one byte longer than the request: the driver adds no terminator.
    std::array<std::uint8_t, kDeviceIdRequest + 1> area{};
    if (::ioctl(fd, lpioc_get_device_id(kDeviceIdRequest), area.data()) < 0) return fail(errno);
    // The driver passes the printer's own count on, which may count itself or
    // not, or be little-endian. What the library needs is the number of text
    // bytes that really arrived: count them, and fit them to the caller's area.
    const char* text = reinterpret_cast<const char*>(area.data() + kCountBytes);
    const std::uint32_t arrived = static_cast<std::uint32_t>(::strnlen(text, kDeviceIdRequest - kCountBytes));
    const std::uint32_t count = std::min(arrived, out_size - kCountBytes);
    std::memset(out, 0, out_size);
    out[0] = static_cast<std::uint8_t>(count >> 8);
    out[1] = static_cast<std::uint8_t>(count & 0xFFu);
    std::memcpy(out + kCountBytes, text, count);
    returned = kCountBytes + count;
    return true;
}

bool UsblpDeviceLayer::device_descriptor(int fd, std::uint8_t* out, std::uint32_t out_size, std::uint32_t& returned) {
    if (out == nullptr || out_size < kDescriptorLength) return fail(EOVERFLOW);
    // The driver tells the vendor and product IDs, not the whole descriptor;
    // the rest of the record stays zero.
    std::array<int, 2> ids{};
    if (::ioctl(fd, lpioc_get_vid_pid(static_cast<std::uint32_t>(sizeof ids)), ids.data()) < 0) {
        return fail(errno);
    }
    std::memset(out, 0, out_size);
    out[0] = kDescriptorLength;
    out[1] = kDeviceDescriptorType;
    for (std::size_t i = 0; i < ids.size(); ++i) {
        const auto value = static_cast<std::uint16_t>(ids[i]);
        out[8 + 2 * i] = static_cast<std::uint8_t>(value & 0xFFu);
        out[9 + 2 * i] = static_cast<std::uint8_t>(value >> 8);
    }
    returned = kDescriptorLength;
    return true;
}

bool UsblpDeviceLayer::io_control(Handle handle, std::uint32_t code, const void* /*in*/, std::uint32_t /*in_size*/,
                                  void* out, std::uint32_t out_size, std::uint32_t& returned) {
    returned = 0;
    if (!known(handle)) return fail(EBADF);
    const int fd = static_cast<int>(handle);
    auto* bytes = static_cast<std::uint8_t*>(out);
    switch (code) {
        case GET_DEVICE_ID:
            return device_id(fd, bytes, out_size, returned);
        case GET_DEVICE_DESCRIPTOR:
            return device_descriptor(fd, bytes, out_size, returned);
        case SET_WRITE_TIMEOUT:
        case SET_READ_TIMEOUT:
            // usblp has no driver time-outs; this layer keeps its own.
            return true;
        default:
            return fail(EINVAL);
    }
}

bool UsblpDeviceLayer::read(Handle handle, void* buffer, std::uint32_t length, std::uint32_t& got) {
    got = 0;
    const auto opened = handles_.find(handle);
    if (opened == handles_.end()) return fail(EBADF);
    if (length == 0) return true;
    if (buffer == nullptr) return fail(EFAULT);
    Opened& state = opened->second;
    const int fd = static_cast<int>(handle);
    auto* bytes = static_cast<std::uint8_t*>(buffer);
    const auto deadline = SteadyClock::now() + std::chrono::milliseconds(config_.read_timeout_ms);
    while (got == 0) {
        short revents = 0;
        const int ready = wait_for(fd, POLLIN, deadline, revents);
        if (ready == 0) return fail(ETIMEDOUT);
        state.failed = true;
        if (ready < 0) return fail(errno);
        if ((revents & POLLIN) == 0) return fail(ENODEV);  // hung up with nothing left to read
        state.failed = false;
        // One read is one bulk transfer: what the printer sent in one go.
        const ssize_t n = ::read(fd, bytes, length);
        if (n > 0) {
            got = static_cast<std::uint32_t>(n);
        } else if (n == 0) {
            return true;  // an empty transfer
        } else if (errno != EAGAIN && errno != EINTR) {
            state.failed = true;
            return fail(errno);
        } else {
            pause_before_retry(deadline);
        }
    }
    // The rest of a reply sent in pieces: each piece that follows closely.
    while (got < length) {
        const auto gap = std::min(deadline, SteadyClock::now() + std::chrono::milliseconds(config_.piece_gap_ms));
        short revents = 0;
        if (wait_for(fd, POLLIN, gap, revents) <= 0 || (revents & POLLIN) == 0) break;
        const ssize_t n = ::read(fd, bytes + got, length - got);
        if (n > 0) {
            got += static_cast<std::uint32_t>(n);
        } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
            break;
        } else {
            pause_before_retry(gap);
        }
    }
    return true;
}

bool UsblpDeviceLayer::write(Handle handle, const void* data, std::uint32_t length, std::uint32_t& written) {
    written = 0;
    const auto opened = handles_.find(handle);
    if (opened == handles_.end()) return fail(EBADF);
    if (length == 0) return true;
    if (data == nullptr) return fail(EFAULT);
    const int fd = static_cast<int>(handle);
    Opened& state = opened->second;
    // Anything the printer sent before this write is no answer to it.
    take_ready(fd, kStaleLimit, [](const std::uint8_t*, std::size_t) {});
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    const auto deadline = SteadyClock::now() + std::chrono::milliseconds(config_.write_timeout_ms);
    short revents = 0;
    // The block before was sent before its write returned, so the driver
    // normally takes this one at once: the write comes first and a wait only
    // when the driver says "try again" (one system call a block fewer).
    bool told_ready = false;
    while (written < length) {
        const ssize_t n = ::write(fd, bytes + written, length - written);
        if (n > 0) {
            written += static_cast<std::uint32_t>(n);
            told_ready = false;
            continue;
        }
        if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
            state.failed = true;
            return fail(n == 0 ? EIO : errno);
        }
        if (errno == EINTR) continue;
        // A driver that called the node writable and then said "try again"
        // gets a pause before the next try, so that the wait does not spin.
        if (told_ready) pause_before_retry(deadline);
        const int ready = wait_for(fd, POLLOUT, deadline, revents);
        // A write that timed out leaves its block with the driver: closing
        // the node takes it back, rather than let it reach the printer late.
        state.failed = ready <= 0 || hung_up(revents);
        if (ready == 0) return fail(ETIMEDOUT);
        if (ready < 0) return fail(errno);
        if (hung_up(revents)) return fail(ENODEV);
        told_ready = true;
    }
    // usblp sends the last block after write() has returned, and drops it if
    // the node is closed first: the write is done once the driver says the
    // node is writable again. Until then the bytes count as handed over (the
    // library must not send them a second time), but not as delivered.
    const int done = wait_for(fd, POLLOUT, deadline, revents);
    state.failed = done <= 0 || hung_up(revents);
    if (done == 0) return fail(ETIMEDOUT);
    if (done < 0) return fail(errno);
    if (hung_up(revents)) return fail(ENODEV);
    return true;
}

void UsblpDeviceLayer::close(Handle handle) {
    const auto opened = handles_.find(handle);
    if (opened == handles_.end()) return;
    const int fd = static_cast<int>(handle);
    const Opened state = opened->second;
    handles_.erase(opened);
    // Closing would make the driver throw away what it is reading ahead, a
    // reply on its way included: the node stays open for the next handle.
    pollfd entry{fd, 0, 0};
    const bool healthy = !state.failed && ::poll(&entry, 1, 0) >= 0 && !hung_up(entry.revents);
    if (!healthy || parked_.count(state.node) != 0) {
        ::close(fd);
        return;
    }
    parked_.emplace(state.node, Parked{fd, state.mode});
}

void UsblpDeviceLayer::sleep_ms(std::uint32_t ms) { config_.sleep(ms); }

void UsblpDeviceLayer::debug_output(const char* text) { config_.debug(text); }

void UsblpDeviceLayer::standard_output(const char* text) { config_.out(text); }

DeviceLayer& usblp_device_layer() {
    static UsblpDeviceLayer layer([] {
        UsblpConfig config;
        const char* chosen = std::getenv(VELTPORT_DEVICE_VARIABLE);
        if (chosen != nullptr) config.device = chosen;
        return config;
    }());
    return layer;
}

}  // namespace veltport
