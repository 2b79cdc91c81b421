#pragma once
#include <cstdint>
#include <optional>
#include <string>

#include "sim/printer/virtual_printer.h"
#include "usbport/core/device_layer.h"

namespace fwup::bench {

// A device layer with one printer and nothing else: no records, no lookups
// by name, no allocation per call. It stands in for a driver that costs
// nothing, so that the USB port library's and the procedure's own cost per
// block can be told apart from the simulated driver's.
class LeanUsbLayer final : public veltport::DeviceLayer {
public:
    explicit LeanUsbLayer(sim::VirtualPrinter& printer) : printer_(printer) {}

    std::optional<veltport::OsVersionInfo> query_os_version() override {
        return veltport::OsVersionInfo{veltport::OsVersionInfo::kWin32Nt, 5, 0};
    }
    veltport::DeviceSet create_interface_set(const veltport::Guid&) override { return 1; }
    veltport::EnumOutcome enum_interface(veltport::DeviceSet, const veltport::Guid&, std::uint32_t index,
                                         veltport::InterfaceRef&) override {
        return index == 0 ? veltport::EnumOutcome::Found : veltport::EnumOutcome::NoMoreItems;
    }
    std::optional<std::string> interface_path(veltport::DeviceSet, const veltport::InterfaceRef&) override {
        return std::string("\\\\?\\usb#vid_043d&pid_0001#lean");
    }
    void destroy_interface_set(veltport::DeviceSet) override {}
    veltport::Handle open(const char*, std::uint32_t, std::uint32_t) override { return 1; }
    bool io_control(veltport::Handle, std::uint32_t code, const void*, std::uint32_t, void* out,
                    std::uint32_t out_size, std::uint32_t& returned) override;
    bool read(veltport::Handle, void* buffer, std::uint32_t length, std::uint32_t& got) override {
        got = static_cast<std::uint32_t>(printer_.read_reply(static_cast<std::uint8_t*>(buffer), length));
        return true;
    }
    bool write(veltport::Handle, const void* data, std::uint32_t length, std::uint32_t& written) override {
        written = static_cast<std::uint32_t>(printer_.receive(static_cast<const std::uint8_t*>(data), length));
        return written == length;
    }
    void close(veltport::Handle) override {}
    std::uint32_t last_error() override { return 0; }
    void sleep_ms(std::uint32_t) override {}
    void debug_output(const char*) override {}
    void standard_output(const char*) override {}

private:
    sim::VirtualPrinter& printer_;
};

}  // namespace fwup::bench
