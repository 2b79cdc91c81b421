// The USB port library against a driver that answers anything: the system
// version, the enumeration, device paths of any length, the device-ID count
// and text, the device descriptor, read and write counts. Every answer comes
// from the fuzz input; the calls the library is asked to make do too.
//
// Checked beyond the sanitizers: every result is one of the documented
// values, caller buffers are written only within their size and hold a
// terminated text when the call says so, failed calls leave the caller's
// out-values alone where the interface promises it, and every handle and
// device information set the library opened is closed again, exactly once.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "fuzz/fuzz_check.h"
#include "usbport/core/usb_port_library.h"
#include "veltport.h"

namespace {

using namespace veltport;

class FuzzDeviceLayer final : public DeviceLayer {
public:
    explicit FuzzDeviceLayer(FuzzedDataProvider& in) : in_(in) {}

    std::optional<OsVersionInfo> query_os_version() override {
        switch (in_.ConsumeIntegralInRange<int>(0, 4)) {
            case 0: return OsVersionInfo{OsVersionInfo::kWin32Windows, 4, 10};
            case 1: return OsVersionInfo{OsVersionInfo::kWin32Nt, 5, 0};
            case 2: return std::nullopt;
            case 3: return OsVersionInfo{OsVersionInfo::kWin32Nt, 5, 1};
            default:
                return OsVersionInfo{in_.ConsumeIntegral<std::uint32_t>(), in_.ConsumeIntegral<std::uint32_t>(),
                                     in_.ConsumeIntegral<std::uint32_t>()};
        }
    }

    DeviceSet create_interface_set(const Guid&) override {
        if (in_.ConsumeIntegralInRange<int>(0, 15) == 0) return kInvalidDeviceSet;
        const DeviceSet set = next_set_++;
        sets_.insert(set);
        return set;
    }

    EnumOutcome enum_interface(DeviceSet set, const Guid&, std::uint32_t index, InterfaceRef& out) override {
        FUZZ_REQUIRE(sets_.count(set) == 1);
        // An exhausted input ends every enumeration, so no run loops for long.
        if (in_.remaining_bytes() == 0 || index > 16) return EnumOutcome::NoMoreItems;
        switch (in_.ConsumeIntegralInRange<int>(0, 3)) {
            case 0: return EnumOutcome::NoMoreItems;
            case 1: return EnumOutcome::Failed;
            default: out.opaque[0] = index; return EnumOutcome::Found;
        }
    }

    std::optional<std::string> interface_path(DeviceSet set, const InterfaceRef&) override {
        FUZZ_REQUIRE(sets_.count(set) == 1);
        if (in_.ConsumeIntegralInRange<int>(0, 7) == 0) return std::nullopt;
        // Mostly plausible paths; sometimes long ones, with zero bytes inside.
        if (in_.ConsumeBool()) return "\\\\?\\usb#vid_043d&pid_0001#" + std::to_string(in_.ConsumeIntegral<std::uint8_t>());
        return in_.ConsumeRandomLengthString(600);
    }

    void destroy_interface_set(DeviceSet set) override { FUZZ_REQUIRE(sets_.erase(set) == 1); }

    Handle open(const char* path, std::uint32_t, std::uint32_t) override {
        FUZZ_REQUIRE(path != nullptr);
        const std::size_t length = std::strlen(path);  // terminated, or ASan says otherwise
        FUZZ_REQUIRE(length < UsbPortLibrary::kDeviceNameSize);
        if (in_.ConsumeIntegralInRange<int>(0, 5) == 0) {
            error_ = kErrorFileNotFound;
            return kInvalidHandle;
        }
        const Handle handle = next_handle_++;
        handles_.insert(handle);
        return handle;
    }

    bool io_control(Handle handle, std::uint32_t code, const void* in, std::uint32_t in_size, void* out,
                    std::uint32_t out_size, std::uint32_t& returned) override {
        FUZZ_REQUIRE(handles_.count(handle) == 1);
        FUZZ_REQUIRE(code == GET_DEVICE_DESCRIPTOR || code == GET_DEVICE_ID || code == SET_WRITE_TIMEOUT ||
                code == SET_READ_TIMEOUT);
        // Touch every byte the library claims to hand over, so ASan sees a lie.
        const auto* input = static_cast<const std::uint8_t*>(in);
        volatile std::uint8_t sink = 0;
        for (std::uint32_t i = 0; i < in_size; ++i) sink = static_cast<std::uint8_t>(sink ^ input[i]);
        if (code == SET_WRITE_TIMEOUT || code == SET_READ_TIMEOUT) {
            FUZZ_REQUIRE(in_size == UsbPortLibrary::kTimeoutBlock);
            FUZZ_REQUIRE(std::memchr(in, '\0', in_size) != nullptr);
        }
        if (in_.ConsumeIntegralInRange<int>(0, 5) == 0) {
            error_ = in_.ConsumeIntegral<std::uint32_t>();
            return false;
        }
        // The driver fills a part of the output area it was given.
        std::vector<std::uint8_t> answer;
        if (code == GET_DEVICE_ID && in_.ConsumeBool()) {
            // A count in front of a text, not necessarily agreeing with it.
            const std::uint16_t count = in_.ConsumeIntegral<std::uint16_t>();
            answer.push_back(static_cast<std::uint8_t>(count >> 8));
            answer.push_back(static_cast<std::uint8_t>(count & 0xFF));
            const std::string text = in_.ConsumeRandomLengthString(out_size);
            answer.insert(answer.end(), text.begin(), text.end());
        } else {
            answer = in_.ConsumeBytes<std::uint8_t>(in_.ConsumeIntegralInRange<std::size_t>(0, out_size));
        }
        const std::size_t filled = std::min<std::size_t>(answer.size(), out_size);
        if (filled > 0) std::memcpy(out, answer.data(), filled);
        returned = in_.ConsumeBool() ? static_cast<std::uint32_t>(filled) : in_.ConsumeIntegral<std::uint32_t>();
        return true;
    }

    bool read(Handle handle, void* buffer, std::uint32_t length, std::uint32_t& got) override {
        FUZZ_REQUIRE(handles_.count(handle) == 1);
        if (in_.ConsumeIntegralInRange<int>(0, 5) == 0) {
            error_ = kErrorGenFailure;
            got = 0;
            return false;
        }
        const std::vector<std::uint8_t> bytes = in_.ConsumeBytes<std::uint8_t>(in_.ConsumeIntegralInRange<std::uint32_t>(0, length));
        if (!bytes.empty()) std::memcpy(buffer, bytes.data(), bytes.size());
        got = static_cast<std::uint32_t>(bytes.size());
        return true;
    }

    bool write(Handle handle, const void* data, std::uint32_t length, std::uint32_t& written) override {
        FUZZ_REQUIRE(handles_.count(handle) == 1);
        const auto* bytes = static_cast<const std::uint8_t*>(data);
        volatile std::uint8_t sink = 0;
        for (std::uint32_t i = 0; i < length; ++i) sink = static_cast<std::uint8_t>(sink ^ bytes[i]);
        written = in_.ConsumeBool() ? length : in_.ConsumeIntegralInRange<std::uint32_t>(0, length);
        if (in_.ConsumeIntegralInRange<int>(0, 7) == 0) {
            error_ = kErrorDeviceNotConnected;
            return false;
        }
        return true;
    }

    void close(Handle handle) override { FUZZ_REQUIRE(handles_.erase(handle) == 1); }

    std::uint32_t last_error() override { return error_; }
    void sleep_ms(std::uint32_t ms) override { slept_ms_ += ms; }
    void debug_output(const char* text) override { FUZZ_REQUIRE(std::strlen(text) < 4096); }
    void standard_output(const char* text) override { FUZZ_REQUIRE(std::strlen(text) < 4096); }

    std::size_t open_handles() const { return handles_.size(); }
    std::size_t open_sets() const { return sets_.size(); }
    std::uint64_t slept_ms() const { return slept_ms_; }

private:
    FuzzedDataProvider& in_;
    std::set<Handle> handles_;
    std::set<DeviceSet> sets_;
    Handle next_handle_ = 0x100;
    DeviceSet next_set_ = 0x1000;
    std::uint32_t error_ = 0;
    std::uint64_t slept_ms_ = 0;
};

constexpr char kGuard = '\x5A';

// A caller's buffer of exactly `size` bytes, with nothing around it that an
// overrun could land in unnoticed.
struct Buffer {
    explicit Buffer(std::size_t size) : bytes(std::make_unique<char[]>(std::max<std::size_t>(size, 1))), size(size) {
        std::memset(bytes.get(), kGuard, std::max<std::size_t>(size, 1));
    }
    bool untouched() const {
        for (std::size_t i = 0; i < size; ++i) {
            if (bytes[i] != kGuard) return false;
        }
        return true;
    }
    bool terminated() const { return std::memchr(bytes.get(), '\0', size) != nullptr; }

    std::unique_ptr<char[]> bytes;
    std::size_t size;
};

std::string timeout_text(FuzzedDataProvider& in) {
    switch (in.ConsumeIntegralInRange<int>(0, 3)) {
        case 0: return "1000";
        case 1: return "10000";
        default: return in.ConsumeRandomLengthString(12);
    }
}

void get_device_id(UsbPortLibrary& library, FuzzedDataProvider& in) {
    const std::uint32_t capacity = in.ConsumeBool() ? 255 : in.ConsumeIntegralInRange<std::uint32_t>(0, 4200);
    Buffer buffer(capacity);
    std::uint32_t stored = capacity;
    const int result = library.GetDeviceID(buffer.bytes.get(), &stored);
    FUZZ_REQUIRE(result == 0 || result == 1);
    if (result == 1) {
        FUZZ_REQUIRE(stored >= 1 && stored <= capacity);
        FUZZ_REQUIRE(buffer.bytes[stored - 1] == '\0');
    } else {
        FUZZ_REQUIRE(stored == capacity);
        FUZZ_REQUIRE(buffer.untouched());
    }
}

void get_model_name(UsbPortLibrary& library) {
    // The interface promises room for 4089 characters and the NUL, no more.
    Buffer buffer(4090);
    const int result = library.GetModelName(buffer.bytes.get());
    FUZZ_REQUIRE(result == 0 || result == 1);
    if (result == 1) {
        FUZZ_REQUIRE(buffer.terminated());
        FUZZ_REQUIRE(std::strchr(buffer.bytes.get(), ';') == nullptr);
    }
}

void get_vendor_id(UsbPortLibrary& library) {
    std::uint16_t vendor = 0xBEEF;
    const int result = library.GetVendorID(&vendor);
    FUZZ_REQUIRE(result == 0 || result == 1);
    FUZZ_REQUIRE(result == 1 ? vendor != 0 : vendor == 0xBEEF);
}

void get_port_name(UsbPortLibrary& library, FuzzedDataProvider& in) {
    const std::uint32_t size = in.ConsumeIntegralInRange<std::uint32_t>(0, 300);
    Buffer buffer(size);
    const int which = in.ConsumeIntegralInRange<int>(0, 2);
    const int result = which == 0   ? library.GetControlPortName(buffer.bytes.get(), size)
                       : which == 1 ? library.GetWritePortName(buffer.bytes.get(), size)
                                    : library.GetReadPortName(buffer.bytes.get(), size);
    FUZZ_REQUIRE(result == 0 || result == 1);
    if (result == 1) {
        FUZZ_REQUIRE(buffer.terminated());
        const std::string name(buffer.bytes.get());
        if (which == 1) FUZZ_REQUIRE(name.ends_with("\\PIPE00"));
        if (which == 2) FUZZ_REQUIRE(name.ends_with("\\PIPE01"));
    }
}

void transfer(UsbPortLibrary& library, FuzzedDataProvider& in, bool write) {
    const std::uint32_t length = in.ConsumeIntegralInRange<std::uint32_t>(0, 9000);
    const std::string timeout = timeout_text(in);
    constexpr std::uint32_t kUnset = 0xDEADBEEF;
    std::uint32_t count = kUnset;
    auto bytes = std::make_unique<unsigned char[]>(std::max<std::uint32_t>(length, 1));
    const int result = write ? library.WriteToUsbPort(bytes.get(), length, &count, timeout.c_str())
                             : library.ReadFromUsbPort(bytes.get(), length, &count, timeout.c_str());
    FUZZ_REQUIRE(result >= VELTPORT_OK && result <= VELTPORT_TIMEOUT_NOT_SET);
    if (result == VELTPORT_OK) FUZZ_REQUIRE(write ? count == length : count >= 1 && count <= length);
    if (!write && (result == VELTPORT_OK || result == VELTPORT_TRANSFER_FAILED)) FUZZ_REQUIRE(count <= length);
    if (!write && result >= VELTPORT_NO_PRINTER) FUZZ_REQUIRE(count == kUnset);
}

void check_cache(const UsbPortLibrary& library) {
    if (!library.port_names_cached()) return;
    const std::string control = library.control_port();
    FUZZ_REQUIRE(library.write_port() == control + "\\PIPE00");
    FUZZ_REQUIRE(library.read_port() == control + "\\PIPE01");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    FuzzDeviceLayer layer(in);
    UsbPortLibrary library(layer);
    // A handful of calls on one library instance, so that the state one call
    // leaves (interface class, cached names) meets the next call's replies.
    for (int call = 0; call < 8 && in.remaining_bytes() > 0; ++call) {
        switch (in.ConsumeIntegralInRange<int>(0, 6)) {
            case 0: get_device_id(library, in); break;
            case 1: get_model_name(library); break;
            case 2: get_vendor_id(library); break;
            case 3: get_port_name(library, in); break;
            case 4: transfer(library, in, true); break;
            case 5: transfer(library, in, false); break;
            default: {
                // The upgrade program's pattern: identify, then a command and its reply.
                get_device_id(library, in);
                transfer(library, in, true);
                transfer(library, in, false);
                break;
            }
        }
        FUZZ_REQUIRE(layer.open_handles() == 0);
        FUZZ_REQUIRE(layer.open_sets() == 0);
        check_cache(library);
    }
    return 0;
}
