// The Windows device layer: each call is one system call, translated.
#include <windows.h>
#include <setupapi.h>

#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "usbport/core/device_layer.h"

namespace veltport {

namespace {

static_assert(sizeof(SP_DEVICE_INTERFACE_DATA) <= sizeof(InterfaceRef::opaque));
static_assert(kGenericRead == GENERIC_READ && kGenericWrite == GENERIC_WRITE);
static_assert(kFileShareRead == FILE_SHARE_READ && kFileShareWrite == FILE_SHARE_WRITE);
static_assert(kErrorNoMoreItems == ERROR_NO_MORE_ITEMS);

GUID to_system(const Guid& g) {
    GUID out{};
    out.Data1 = g.data1;
    out.Data2 = g.data2;
    out.Data3 = g.data3;
    std::memcpy(out.Data4, g.data4.data(), sizeof out.Data4);
    return out;
}

HANDLE to_system(Handle h) { return reinterpret_cast<HANDLE>(h); }
Handle from_system(HANDLE h) { return reinterpret_cast<Handle>(h); }
HDEVINFO to_set(DeviceSet s) { return reinterpret_cast<HDEVINFO>(s); }

struct FreeDeleter {
    void operator()(void* p) const { std::free(p); }
};

class Win32DeviceLayer final : public DeviceLayer {
public:
    std::optional<OsVersionInfo> query_os_version() override {
        OSVERSIONINFOA info{};
        info.dwOSVersionInfoSize = sizeof(info);
        if (!GetVersionExA(&info)) return std::nullopt;
        return OsVersionInfo{info.dwPlatformId, info.dwMajorVersion, info.dwMinorVersion};
    }

    DeviceSet create_interface_set(const Guid& interface_class) override {
        const GUID cls = to_system(interface_class);
        HDEVINFO set = SetupDiGetClassDevsA(&cls, nullptr, nullptr,
                                            DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
        if (set == INVALID_HANDLE_VALUE) return kInvalidDeviceSet;
        return reinterpret_cast<DeviceSet>(set);
    }

    EnumOutcome enum_interface(DeviceSet set, const Guid& interface_class, std::uint32_t index,
                               InterfaceRef& out) override {
        const GUID cls = to_system(interface_class);
        SP_DEVICE_INTERFACE_DATA data{};
        data.cbSize = sizeof(data);
        if (SetupDiEnumDeviceInterfaces(to_set(set), nullptr, &cls, index, &data)) {
            std::memcpy(out.opaque.data(), &data, sizeof(data));
            return EnumOutcome::Found;
        }
        return GetLastError() == ERROR_NO_MORE_ITEMS ? EnumOutcome::NoMoreItems : EnumOutcome::Failed;
    }

    std::optional<std::string> interface_path(DeviceSet set, const InterfaceRef& iface) override {
        SP_DEVICE_INTERFACE_DATA data{};
        std::memcpy(&data, iface.opaque.data(), sizeof(data));
        DWORD required = 0;
        SetupDiGetDeviceInterfaceDetailA(to_set(set), &data, nullptr, 0, &required, nullptr);
        // Never less than the record's fixed part, whose size field is written.
        const std::size_t size = required > sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A)
                                     ? required
                                     : sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
        std::unique_ptr<void, FreeDeleter> memory(std::malloc(size));
        if (!memory) return std::nullopt;
        auto* detail = static_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(memory.get());
        detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
        if (!SetupDiGetDeviceInterfaceDetailA(to_set(set), &data, detail,
                                              static_cast<DWORD>(size), nullptr, nullptr)) {
            return std::nullopt;
        }
        const std::size_t offset = offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath);
        const char* path = detail->DevicePath;
        return std::string(path, strnlen(path, size - offset));
    }

    void destroy_interface_set(DeviceSet set) override { SetupDiDestroyDeviceInfoList(to_set(set)); }

    Handle open(const char* path, std::uint32_t access, std::uint32_t share) override {
        HANDLE h = CreateFileA(path, access, share, nullptr, OPEN_EXISTING, 0, nullptr);
        return h == INVALID_HANDLE_VALUE ? kInvalidHandle : from_system(h);
    }

    bool io_control(Handle handle, std::uint32_t code, const void* in, std::uint32_t in_size,
                    void* out, std::uint32_t out_size, std::uint32_t& returned) override {
        DWORD count = 0;
        const BOOL ok = DeviceIoControl(to_system(handle), code, const_cast<void*>(in), in_size, out,
                                        out_size, &count, nullptr);
        returned = count;
        return ok != FALSE;
    }

    bool read(Handle handle, void* buffer, std::uint32_t length, std::uint32_t& got) override {
        DWORD count = 0;
        const BOOL ok = ReadFile(to_system(handle), buffer, length, &count, nullptr);
        got = count;
        return ok != FALSE;
    }

    bool write(Handle handle, const void* data, std::uint32_t length,
               std::uint32_t& written) override {
        DWORD count = 0;
        const BOOL ok = WriteFile(to_system(handle), data, length, &count, nullptr);
        written = count;
        return ok != FALSE;
    }

    void close(Handle handle) override { CloseHandle(to_system(handle)); }
    std::uint32_t last_error() override { return GetLastError(); }
    void sleep_ms(std::uint32_t ms) override { Sleep(ms); }
    void debug_output(const char* text) override { OutputDebugStringA(text); }
    void standard_output(const char* text) override { std::fputs(text, stdout); }
};

}  // namespace

DeviceLayer& platform_device_layer() {
    static Win32DeviceLayer layer;
    return layer;
}

}  // namespace veltport
