// The Windows device layer: each call is one system call, translated.
#include <windows.h>
#include <setupapi.h>

#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "usbport/core/device_layer.h"

namespace veltport {

namespace {

static_assert(sizeof(SP_DEVICE_INTERFACE_DATA) <= sizeof(InterfaceRef::opaque));
static_assert(kGenericRead == GENERIC_READ && kGenericWrite == GENERIC_WRITE);
static_assert(kFileShareRead == FILE_SHARE_READ && kFileShareWrite == FILE_SHARE_WRITE);
static_assert(kErrorNoMoreItems == ERROR_NO_MORE_ITEMS);
static_assert(kErrorOperationAborted == ERROR_OPERATION_ABORTED);

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

// The configuration manager's two calls, looked up when first needed: only
// NT 6 and later ask for a parent's IDs, and an import of them is not sure to
// load on Windows 98. CONFIGRET, DEVINST and ULONG as the system declares them.
using GetParentCall = DWORD(WINAPI*)(DWORD* parent, DWORD node, ULONG flags);
using GetDeviceIdCall = DWORD(WINAPI*)(DWORD node, char* buffer, ULONG length, ULONG flags);
constexpr DWORD kConfigSuccess = 0;         // CR_SUCCESS
constexpr std::size_t kMaxDeviceIdLength = 200;  // MAX_DEVICE_ID_LEN

struct ConfigManager {
    GetParentCall get_parent = nullptr;
    GetDeviceIdCall get_device_id = nullptr;
};

const ConfigManager& config_manager() {
    static const ConfigManager calls = [] {
        ConfigManager found;
        // Kept loaded for the process's life, like the library itself.
        if (HMODULE module = LoadLibraryA("cfgmgr32.dll")) {
            found.get_parent = reinterpret_cast<GetParentCall>(
                reinterpret_cast<void (*)()>(GetProcAddress(module, "CM_Get_Parent")));
            found.get_device_id = reinterpret_cast<GetDeviceIdCall>(
                reinterpret_cast<void (*)()>(GetProcAddress(module, "CM_Get_Device_IDA")));
        }
        return found;
    }();
    return calls;
}

// The texts of a REG_MULTI_SZ value, in order.
std::vector<std::string> multi_string(const std::vector<char>& value) {
    std::vector<std::string> texts;
    std::size_t at = 0;
    while (at < value.size() && value[at] != '\0') {
        const std::size_t length = strnlen(value.data() + at, value.size() - at);
        texts.emplace_back(value.data() + at, length);
        at += length + 1;
    }
    return texts;
}

// SPDRP_HARDWAREID of one device node of `set`.
std::optional<std::vector<std::string>> hardware_id_property(HDEVINFO set, SP_DEVINFO_DATA& node) {
    DWORD type = 0;
    DWORD required = 0;
    SetupDiGetDeviceRegistryPropertyA(set, &node, SPDRP_HARDWAREID, &type, nullptr, 0, &required);
    if (required == 0 || required > 65536) return std::nullopt;
    // Two zero bytes beyond what the system writes end the last text for sure.
    std::vector<char> value(required + 2, '\0');
    if (!SetupDiGetDeviceRegistryPropertyA(set, &node, SPDRP_HARDWAREID, &type,
                                           reinterpret_cast<BYTE*>(value.data()), required, nullptr) ||
        type != REG_MULTI_SZ) {
        return std::nullopt;
    }
    return multi_string(value);
}

// An overlapped transfer given up after `timeout_ms`: cancelled, then waited
// for, so that neither the buffer nor the event is released under the driver.
bool transfer_within(HANDLE handle, bool write, void* buffer, std::uint32_t length, std::uint32_t& count,
                     std::uint32_t timeout_ms) {
    count = 0;
    OVERLAPPED overlapped{};
    overlapped.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (overlapped.hEvent == nullptr) return false;
    DWORD at_once = 0;  // Windows 98 wants the count's address even here
    const BOOL started = write ? WriteFile(handle, buffer, length, &at_once, &overlapped)
                               : ReadFile(handle, buffer, length, &at_once, &overlapped);
    DWORD error = started ? ERROR_SUCCESS : GetLastError();
    bool timed_out = false;
    if (!started && error == ERROR_IO_PENDING) {
        if (WaitForSingleObject(overlapped.hEvent, timeout_ms) != WAIT_OBJECT_0) {
            // CancelIo, not CancelIoEx: the library must load on Windows 98 and 2000.
            CancelIo(handle);
            timed_out = true;
        }
    }
    DWORD done = 0;
    BOOL ok = FALSE;
    if (started || error == ERROR_IO_PENDING) {
        ok = GetOverlappedResult(handle, &overlapped, &done, TRUE);
        error = ok ? ERROR_SUCCESS : GetLastError();
    }
    CloseHandle(overlapped.hEvent);
    count = done;
    if (timed_out && ok) return true;  // it ended just as it was cancelled
    SetLastError(error);
    return ok != FALSE;
}

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

    // The interface's detail record (its path) in memory of the size the
    // system asks for, never less than the record's fixed part, whose size
    // field is written; `node`, when given, receives the interface's device.
    struct Detail {
        std::unique_ptr<void, FreeDeleter> memory;
        std::size_t size = 0;
        SP_DEVICE_INTERFACE_DETAIL_DATA_A* record() const {
            return static_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(memory.get());
        }
    };
    static std::optional<Detail> interface_detail(DeviceSet set, const InterfaceRef& iface, SP_DEVINFO_DATA* node) {
        SP_DEVICE_INTERFACE_DATA data{};
        std::memcpy(&data, iface.opaque.data(), sizeof(data));
        DWORD required = 0;
        SetupDiGetDeviceInterfaceDetailA(to_set(set), &data, nullptr, 0, &required, nullptr);
        Detail detail;
        detail.size = required > sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A) ? required
                                                                           : sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
        detail.memory.reset(std::malloc(detail.size));
        if (!detail.memory) return std::nullopt;
        detail.record()->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
        if (!SetupDiGetDeviceInterfaceDetailA(to_set(set), &data, detail.record(), static_cast<DWORD>(detail.size),
                                              nullptr, node)) {
            return std::nullopt;
        }
        return detail;
    }

    std::optional<std::string> interface_path(DeviceSet set, const InterfaceRef& iface) override {
        const std::optional<Detail> detail = interface_detail(set, iface, nullptr);
        if (!detail) return std::nullopt;
        const std::size_t offset = offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath);
        const char* path = detail->record()->DevicePath;
        return std::string(path, strnlen(path, detail->size - offset));
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

    std::optional<std::vector<std::string>> hardware_ids(DeviceSet set, const InterfaceRef& iface,
                                                         bool parent) override {
        SP_DEVINFO_DATA node{};
        node.cbSize = sizeof(node);
        if (!interface_detail(set, iface, &node)) return std::nullopt;
        if (!parent) return hardware_id_property(to_set(set), node);
        const ConfigManager& cm = config_manager();
        if (cm.get_parent == nullptr || cm.get_device_id == nullptr) return std::nullopt;
        DWORD above = 0;
        if (cm.get_parent(&above, node.DevInst, 0) != kConfigSuccess) return std::nullopt;
        char instance[kMaxDeviceIdLength + 1] = {};
        if (cm.get_device_id(above, instance, kMaxDeviceIdLength, 0) != kConfigSuccess) return std::nullopt;
        // The parent's record, through a list of its own.
        HDEVINFO list = SetupDiCreateDeviceInfoList(nullptr, nullptr);
        if (list == INVALID_HANDLE_VALUE) return std::nullopt;
        SP_DEVINFO_DATA above_node{};
        above_node.cbSize = sizeof(above_node);
        std::optional<std::vector<std::string>> ids;
        if (SetupDiOpenDeviceInfoA(list, instance, nullptr, 0, &above_node)) {
            ids = hardware_id_property(list, above_node);
        }
        SetupDiDestroyDeviceInfoList(list);
        // A USB device's instance ID starts like its first hardware ID.
        if (!ids) ids = std::vector<std::string>{instance};
        return ids;
    }

    Handle open_cancellable(const char* path, std::uint32_t access, std::uint32_t share) override {
        HANDLE h = CreateFileA(path, access, share, nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
        return h == INVALID_HANDLE_VALUE ? kInvalidHandle : from_system(h);
    }

    bool read_within(Handle handle, void* buffer, std::uint32_t length, std::uint32_t& got,
                     std::uint32_t timeout_ms) override {
        return transfer_within(to_system(handle), false, buffer, length, got, timeout_ms);
    }

    bool write_within(Handle handle, const void* data, std::uint32_t length, std::uint32_t& written,
                      std::uint32_t timeout_ms) override {
        return transfer_within(to_system(handle), true, const_cast<void*>(data), length, written, timeout_ms);
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
