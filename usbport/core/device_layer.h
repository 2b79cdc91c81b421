#pragma once
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace veltport {

// An interface-class identifier, laid out like the system's GUID.
struct Guid {
    std::uint32_t data1 = 0;
    std::uint16_t data2 = 0;
    std::uint16_t data3 = 0;
    std::array<std::uint8_t, 8> data4{};

    friend bool operator==(const Guid&, const Guid&) = default;
};

// The operating system's own USB printing interface class (NT 5.x systems, and
// the in-box class driver of NT 6 and later: GUID_DEVINTERFACE_USBPRINT).
inline constexpr Guid MS_USBPRINT_GUID{
    0x28D78FAD, 0x5A12, 0x11D1, {0xAE, 0x5B, 0x00, 0x00, 0xF8, 0x03, 0xA8, 0xC2}};
// The class registered by the printer maker's own Windows 98 USB driver.
inline constexpr Guid CORVANE_USB_GUID{
    0x76F4B720, 0xF62F, 0x11D1, {0x9C, 0x52, 0x00, 0x00, 0x83, 0x61, 0x2A, 0xA1}};

// What the library reads of the system's version record.
struct OsVersionInfo {
    static constexpr std::uint32_t kWin32Windows = 1;  // VER_PLATFORM_WIN32_WINDOWS
    static constexpr std::uint32_t kWin32Nt = 2;       // VER_PLATFORM_WIN32_NT

    std::uint32_t platform_id = 0;
    std::uint32_t major = 0;
    std::uint32_t minor = 0;
};

// Handles are the system's values carried as integers; -1 is the invalid value
// on both kinds (INVALID_HANDLE_VALUE).
using Handle = std::intptr_t;
inline constexpr Handle kInvalidHandle = -1;
using DeviceSet = std::intptr_t;
inline constexpr DeviceSet kInvalidDeviceSet = -1;

// One enumerated member of a device information set. The layer that produced it
// keeps whatever it needs to find the member again in these words; the library
// only hands it back.
struct InterfaceRef {
    std::array<std::uint64_t, 6> opaque{};
};

enum class EnumOutcome { Found, NoMoreItems, Failed };

// Access and sharing flags, with the system's values.
inline constexpr std::uint32_t kGenericRead = 0x80000000u;
inline constexpr std::uint32_t kGenericWrite = 0x40000000u;
inline constexpr std::uint32_t kFileShareRead = 0x1u;
inline constexpr std::uint32_t kFileShareWrite = 0x2u;

// System error codes the library and the layers talk about.
inline constexpr std::uint32_t kErrorFileNotFound = 2;
inline constexpr std::uint32_t kErrorAccessDenied = 5;
inline constexpr std::uint32_t kErrorInvalidHandle = 6;
inline constexpr std::uint32_t kErrorGenFailure = 31;
inline constexpr std::uint32_t kErrorSharingViolation = 32;
inline constexpr std::uint32_t kErrorInvalidFunction = 1;
inline constexpr std::uint32_t kErrorNoMoreItems = 259;
inline constexpr std::uint32_t kErrorDeviceNotConnected = 1167;
inline constexpr std::uint32_t kErrorOperationAborted = 995;

// Driver requests of the printer's USB driver: FILE_DEVICE_UNKNOWN,
// METHOD_BUFFERED, FILE_ANY_ACCESS, function numbers 0, 4, 6 and 7.
inline constexpr std::uint32_t GET_DEVICE_DESCRIPTOR = 0x220000;
inline constexpr std::uint32_t GET_DEVICE_ID = 0x220010;
inline constexpr std::uint32_t SET_WRITE_TIMEOUT = 0x220018;
inline constexpr std::uint32_t SET_READ_TIMEOUT = 0x22001C;
// The one identification request of the system's own USB printer class driver
// (NT 6 and later), IOCTL_USBPRINT_GET_1284_ID: function 13, no input; the
// output is a two-byte big-endian count, then the IEEE 1284 ID. That driver
// knows none of the four requests above.
inline constexpr std::uint32_t GET_1284_ID = 0x220034;

// Everything the library needs from the system, one call per system facility.
// A layer translates; it makes no decision about printers, retries or texts.
class DeviceLayer {
public:
    virtual ~DeviceLayer() = default;

    // Empty when the system refuses the version query.
    virtual std::optional<OsVersionInfo> query_os_version() = 0;

    // Device-interface enumeration of one class, present interfaces only.
    virtual DeviceSet create_interface_set(const Guid& interface_class) = 0;
    virtual EnumOutcome enum_interface(DeviceSet set, const Guid& interface_class,
                                       std::uint32_t index, InterfaceRef& out) = 0;
    // The interface's device path; empty when the detail query or the
    // allocation of its record fails.
    virtual std::optional<std::string> interface_path(DeviceSet set, const InterfaceRef& iface) = 0;
    virtual void destroy_interface_set(DeviceSet set) = 0;

    // An existing device opened for synchronous I/O, or kInvalidHandle.
    virtual Handle open(const char* path, std::uint32_t access, std::uint32_t share) = 0;
    virtual bool io_control(Handle handle, std::uint32_t code, const void* in, std::uint32_t in_size,
                            void* out, std::uint32_t out_size, std::uint32_t& returned) = 0;
    virtual bool read(Handle handle, void* buffer, std::uint32_t length, std::uint32_t& got) = 0;
    virtual bool write(Handle handle, const void* data, std::uint32_t length,
                       std::uint32_t& written) = 0;
    virtual void close(Handle handle) = 0;

    // --- What the system's own class driver path needs (NT 6 and later). A
    // layer without such a driver keeps these defaults, which find nothing.

    // The hardware IDs (a multi-string, in order) of the device node that
    // carries the interface or, with `parent`, of the node above it; empty
    // when the system gives none.
    virtual std::optional<std::vector<std::string>> hardware_ids(DeviceSet set, const InterfaceRef& iface,
                                                                 bool parent) {
        (void)set;
        (void)iface;
        (void)parent;
        return std::nullopt;
    }
    // An existing device opened so that a transfer can be given up after a
    // while (overlapped on Windows), or kInvalidHandle.
    virtual Handle open_cancellable(const char* path, std::uint32_t access, std::uint32_t share) {
        (void)path;
        (void)access;
        (void)share;
        return kInvalidHandle;
    }
    // A transfer on such a handle that is cancelled when it has not ended
    // after `timeout_ms`; the count is what got through either way, and a
    // cancelled transfer fails (kErrorOperationAborted).
    virtual bool read_within(Handle handle, void* buffer, std::uint32_t length, std::uint32_t& got,
                             std::uint32_t timeout_ms) {
        (void)handle;
        (void)buffer;
        (void)length;
        (void)timeout_ms;
        got = 0;
        return false;
    }
    virtual bool write_within(Handle handle, const void* data, std::uint32_t length, std::uint32_t& written,
                              std::uint32_t timeout_ms) {
        (void)handle;
        (void)data;
        (void)length;
        (void)timeout_ms;
        written = 0;
        return false;
    }

    virtual std::uint32_t last_error() = 0;
    virtual void sleep_ms(std::uint32_t ms) = 0;

    // The two diagnostic channels: the system debugger's and the process's
    // standard output. Nothing depends on what they carry.
    virtual void debug_output(const char* text) = 0;
    virtual void standard_output(const char* text) = 0;
};

// The device layer of the system the library was built for: SetupAPI and file
// I/O on Windows; on Linux, for now, a system without USB printers.
DeviceLayer& platform_device_layer();

}  // namespace veltport
