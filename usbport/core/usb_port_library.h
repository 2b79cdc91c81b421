#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

#include "usbport/core/device_handles.h"
#include "usbport/core/device_layer.h"

namespace veltport {

// The 18-byte USB standard device descriptor; the library reads only idVendor.
struct UsbDeviceDescriptor {
    std::array<std::uint8_t, 18> bytes{};
    std::uint16_t idVendor() const {
        return static_cast<std::uint16_t>(bytes[8] | (bytes[9] << 8));
    }
};

// A time-out text as the class driver path honours it: decimal digits, read as
// milliseconds; empty for any other text.
std::optional<std::uint32_t> timeout_milliseconds(const char* timeout);
// The vendor of a USB hardware ID ("USB\VID_043D&PID_1234&REV_0100"); 0 for
// any other ID.
std::uint16_t vendor_in_hardware_id(std::string_view id);

// The USB port library: finds the printer's device interface through the
// device layer, caches the names of its control path and bulk pipes, moves data
// through the pipes and answers the identification queries. One object holds
// all of the library's state; the C exports forward to one static instance.
// Calls must not overlap.
//
// On NT 6 and later the printer is driven by the system's own USB printer
// class driver, which has no pipe names and knows none of the maker's driver
// requests: there the library opens the interface path itself for every
// transfer, asks GET_1284_ID for the ID, reads the vendor from the device's
// hardware IDs and gives transfers the time-out text in milliseconds.
class UsbPortLibrary {
public:
    // Sizes of the library's texts, NUL included.
    static constexpr std::size_t kDeviceNameSize = 256;
    static constexpr std::size_t kPortNameSize = 255;
    static constexpr std::size_t kPipeNameSize = 32;
    static constexpr std::size_t kDeviceIdArea = 4096;
    // Longest device path the library takes: a cached control path whose pipe
    // names ("\PIPE00") still fit the 255-byte cache. Every search passes over
    // longer paths as interfaces not found, so that identification and the
    // transfers always reach the same interface.
    static constexpr std::size_t kPipeSuffixLength = 7;
    static constexpr std::size_t kMaxDevicePath = kPortNameSize - 1 - kPipeSuffixLength;
    // A time-out text travels in an 8-byte block with its NUL.
    static constexpr std::size_t kTimeoutBlock = 8;
    // Members in a row whose enumeration fails (other than "no more items")
    // before a search gives up.
    static constexpr std::uint32_t kMaxEnumerationFailures = 64;
    static constexpr std::uint32_t kDeviceIdAttempts = 5;
    static constexpr std::uint32_t kDeviceIdRetryPauseMs = 100;
    static constexpr std::uint32_t kTrailingReadPauseMs = 500;
    static constexpr std::uint32_t kTrailingReadLength = 10;
    static constexpr const char* USB_READ_TIMEOUT_2 = "1000";
    // The class driver's ID request asks for no more: some printers fail larger ones.
    static constexpr std::uint32_t kClassDriverIdRequest = 4094;

    explicit UsbPortLibrary(DeviceLayer& layer);

    // --- The exported operations (results as in veltport.h). ---
    int ReadFromUsbPort(unsigned char* buffer, std::uint32_t length, std::uint32_t* read,
                        const char* timeout);
    int WriteToUsbPort(const unsigned char* data, std::uint32_t length, std::uint32_t* written,
                       const char* timeout);
    int GetDeviceID(char* buffer, std::uint32_t* capacity);
    int GetModelName(char* buffer);
    int GetVendorID(std::uint16_t* vendor_id);
    int GetControlPortName(char* buffer, std::uint32_t size);
    int GetWritePortName(char* buffer, std::uint32_t size);
    int GetReadPortName(char* buffer, std::uint32_t size);

    // --- Internal operations, public so that tests can drive them one by one. ---
    std::uint32_t USBCheckEnvironment();
    std::uint16_t USBGetVendorID();
    int USBGetUsbDeviceDescriptor(Handle handle, UsbDeviceDescriptor& descriptor);
    // With `vendor_from_ids`, the vendor in the hardware IDs of the device
    // that opened is stored there too (0 when they name none).
    UniqueHandle open_dev(std::uint16_t* vendor_from_ids = nullptr);
    // `path` holds at least kDeviceNameSize bytes. Interfaces whose path is
    // longer than `max_path` are passed over as if they were not there.
    UniqueHandle OpenUsbDevice(const Guid& interface_class, char* path,
                               std::size_t max_path = kMaxDevicePath,
                               std::uint16_t* vendor_from_ids = nullptr);
    UniqueHandle OpenOneDevice(DeviceSet set, const InterfaceRef& iface, char* path,
                               std::size_t max_path = kMaxDevicePath);
    int GetUsbDeviceFileName(const Guid& interface_class, char* path,
                             std::size_t max_path = kMaxDevicePath);
    int USBGetControlPortName(char* buffer, std::uint32_t size,
                              std::size_t max_path = kMaxDevicePath);
    int GetUsbPortName();
    int SetUsbPortTimeOut(std::int32_t direction, const char* timeout);
    int USBGetDeviceID(char* buffer, std::uint32_t* capacity);
    int USBGetModelNameInDeviceID(char* buffer);
    int USBGetWritePortName(char* buffer, std::uint32_t size);
    int USBGetReadPortName(char* buffer, std::uint32_t size);

    // --- State, for tests and diagnostics. ---
    bool win2k() const { return bWin2K != 0; }
    bool class_driver() const { return bClassDriver != 0; }
    bool port_names_cached() const { return bGetUsbPort != 0; }
    const char* complete_device_name() const { return completeDeviceName.data(); }
    const char* control_port() const { return ControlPort.data(); }
    const char* write_port() const { return WritePort.data(); }
    const char* read_port() const { return ReadPort.data(); }
    DeviceLayer& layer() const { return *layer_; }

private:
    const Guid& interface_class() const;
    UniqueHandle open_path(const char* path, std::uint32_t access);
    // A transfer's handle and the transfer itself: a pipe on the maker's and
    // NT 5's drivers, the interface path with a time-out on the class driver.
    UniqueHandle open_transfer(const char* path, std::uint32_t access);
    bool transfer_write(Handle handle, const void* data, std::uint32_t length, std::uint32_t& written,
                        std::optional<std::uint32_t> wait_ms);
    bool transfer_read(Handle handle, void* buffer, std::uint32_t length, std::uint32_t& got,
                       std::optional<std::uint32_t> wait_ms);
    std::uint16_t vendor_from_hardware_ids(DeviceSet set, const InterfaceRef& iface);
    void choose_class_driver(const OsVersionInfo& version);
    int pipe_name(const char* pipe, char* buffer, std::uint32_t size);
    void debug(const char* text);
    void print(const char* text);
#if defined(__GNUC__)
    __attribute__((format(printf, 2, 3)))
#endif
    void printf_out(const char* format, ...);

    DeviceLayer* layer_;

    std::uint32_t bWin2K = 0;
    // Set by the environment check on NT 6 and later; never cleared.
    std::uint32_t bClassDriver = 0;
    std::uint32_t bGetUsbPort = 0;
    std::array<char, kDeviceNameSize> completeDeviceName{};
    std::array<char, kPortNameSize> ControlPort{};
    std::array<char, kPortNameSize> WritePort{};
    std::array<char, kPortNameSize> ReadPort{};
    std::array<char, kPipeNameSize> outPipe{"PIPE00"};
    std::array<char, kPipeNameSize> inPipe{"PIPE01"};
};

}  // namespace veltport
