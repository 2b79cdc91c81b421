// The Linux device layer, until one over usblp exists: a system that answers
// like an NT 5.x system on which no USB printer interface is present, so every
// discovery ends at index 0 and GetDeviceID answers 0.
#include <chrono>
#include <cstdio>
#include <thread>

#include "usbport/core/device_layer.h"

namespace veltport {

namespace {

class LinuxDeviceLayer final : public DeviceLayer {
public:
    std::optional<OsVersionInfo> query_os_version() override {
        return OsVersionInfo{OsVersionInfo::kWin32Nt, 5, 0};
    }
    DeviceSet create_interface_set(const Guid&) override { return kEmptySet; }
    EnumOutcome enum_interface(DeviceSet, const Guid&, std::uint32_t, InterfaceRef&) override {
        last_error_ = kErrorNoMoreItems;
        return EnumOutcome::NoMoreItems;
    }
    std::optional<std::string> interface_path(DeviceSet, const InterfaceRef&) override {
        last_error_ = kErrorInvalidFunction;
        return std::nullopt;
    }
    void destroy_interface_set(DeviceSet) override {}
    Handle open(const char*, std::uint32_t, std::uint32_t) override {
        last_error_ = kErrorFileNotFound;
        return kInvalidHandle;
    }
    bool io_control(Handle, std::uint32_t, const void*, std::uint32_t, void*, std::uint32_t,
                    std::uint32_t& returned) override {
        returned = 0;
        last_error_ = kErrorInvalidHandle;
        return false;
    }
    bool read(Handle, void*, std::uint32_t, std::uint32_t& got) override {
        got = 0;
        last_error_ = kErrorInvalidHandle;
        return false;
    }
    bool write(Handle, const void*, std::uint32_t, std::uint32_t& written) override {
        written = 0;
        last_error_ = kErrorInvalidHandle;
        return false;
    }
    void close(Handle) override {}
    std::uint32_t last_error() override { return last_error_; }
    void sleep_ms(std::uint32_t ms) override {
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    }
    // There is no system debugger channel to write to.
    void debug_output(const char*) override {}
    void standard_output(const char* text) override { std::fputs(text, stdout); }

private:
    static constexpr DeviceSet kEmptySet = 1;
    std::uint32_t last_error_ = 0;
};

}  // namespace

DeviceLayer& platform_device_layer() {
    static LinuxDeviceLayer layer;
    return layer;
}

}  // namespace veltport
