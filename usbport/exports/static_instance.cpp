// The library bound in-process: its instance runs over a layer the program
// binds (the virtual machine's device tree). Unbound, it sees a system that
// refuses every request, so a program that links it never reaches the real
// devices and never depends on the system's device libraries.
#include "usbport/exports/exported_instance.h"
#include "usbport/exports/static_binding.h"

namespace veltport {

namespace {

class DetachedDeviceLayer final : public DeviceLayer {
public:
    std::optional<OsVersionInfo> query_os_version() override { return std::nullopt; }
    DeviceSet create_interface_set(const Guid&) override { return kInvalidDeviceSet; }
    EnumOutcome enum_interface(DeviceSet, const Guid&, std::uint32_t, InterfaceRef&) override {
        return EnumOutcome::NoMoreItems;
    }
    std::optional<std::string> interface_path(DeviceSet, const InterfaceRef&) override { return std::nullopt; }
    void destroy_interface_set(DeviceSet) override {}
    Handle open(const char*, std::uint32_t, std::uint32_t) override { return kInvalidHandle; }
    bool io_control(Handle, std::uint32_t, const void*, std::uint32_t, void*, std::uint32_t,
                    std::uint32_t&) override {
        return false;
    }
    bool read(Handle, void*, std::uint32_t, std::uint32_t&) override { return false; }
    bool write(Handle, const void*, std::uint32_t, std::uint32_t&) override { return false; }
    void close(Handle) override {}
    std::uint32_t last_error() override { return kErrorFileNotFound; }
    void sleep_ms(std::uint32_t) override {}
    void debug_output(const char*) override {}
    void standard_output(const char*) override {}
};

DetachedDeviceLayer& detached_layer() {
    static DetachedDeviceLayer layer;
    return layer;
}

}  // namespace

UsbPortLibrary& exported_instance() {
    static UsbPortLibrary library(detached_layer());
    return library;
}

void bind_device_layer(DeviceLayer& layer) { exported_instance() = UsbPortLibrary(layer); }

void unbind_device_layer() { bind_device_layer(detached_layer()); }

const UsbPortLibrary& bound_library() { return exported_instance(); }

}  // namespace veltport
