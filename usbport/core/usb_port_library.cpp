#include "usbport/core/usb_port_library.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "veltport.h"

namespace veltport {

namespace {

constexpr std::array<std::uint16_t, 4> kAcceptedVendors{0x043D, 0x0419, 0x049F, 0x0550};
constexpr std::uint32_t kShareReadWrite = kFileShareRead | kFileShareWrite;
constexpr std::uint32_t kWriteDirection = 1;
constexpr std::uint32_t kReadDirection = 2;
constexpr std::string_view kModelKey = "MODEL:";

// Length of a NUL-terminated text, never looking past `limit` bytes.
std::size_t bounded_length(const char* text, std::size_t limit) {
    const void* end = std::memchr(text, '\0', limit);
    return end ? static_cast<std::size_t>(static_cast<const char*>(end) - text) : limit;
}

// A time-out text fits the driver's 8-byte block when it has a NUL within it.
bool timeout_fits(const char* timeout) {
    return timeout != nullptr &&
           bounded_length(timeout, UsbPortLibrary::kTimeoutBlock) < UsbPortLibrary::kTimeoutBlock;
}

// Stores `head` followed by `tail` into `out`; the caller has checked the room.
template <std::size_t N>
void join(std::array<char, N>& out, const char* head, const char* tail) {
    const std::size_t head_len = std::strlen(head);
    const std::size_t tail_len = std::strlen(tail);
    if (head_len + tail_len + 1 > N) return;
    std::memmove(out.data(), head, head_len);
    std::memcpy(out.data() + head_len, tail, tail_len + 1);
}

}  // namespace

UsbPortLibrary::UsbPortLibrary(DeviceLayer& layer) : layer_(&layer) {}

void UsbPortLibrary::debug(const char* text) { layer_->debug_output(text); }

void UsbPortLibrary::print(const char* text) { layer_->standard_output(text); }

void UsbPortLibrary::printf_out(const char* format, ...) {
    std::va_list args;
    va_start(args, format);
    std::va_list again;
    va_copy(again, args);
    const int needed = std::vsnprintf(nullptr, 0, format, args);
    va_end(args);
    if (needed >= 0) {
        std::vector<char> text(static_cast<std::size_t>(needed) + 1);
        std::vsnprintf(text.data(), text.size(), format, again);
        print(text.data());
    }
    va_end(again);
}

const Guid& UsbPortLibrary::interface_class() const {
    return bWin2K == 1 ? MS_USBPRINT_GUID : CORVANE_USB_GUID;
}

UniqueHandle UsbPortLibrary::open_path(const char* path, std::uint32_t access) {
    return UniqueHandle(*layer_, layer_->open(path, access, kShareReadWrite));
}

// ---------------------------------------------------------------------------
// Discovery and opening.

std::uint32_t UsbPortLibrary::USBCheckEnvironment() {
    const std::optional<OsVersionInfo> version = layer_->query_os_version();
    if (!version) return 0;
    if (version->platform_id == OsVersionInfo::kWin32Windows && version->minor == 10) {
        debug("VELTPORT : Windows98\n");
    } else if (version->platform_id == OsVersionInfo::kWin32Nt && version->major == 5) {
        debug("VELTPORT : Windows2000\n");
        bWin2K = 1;
    } else {
        return 0;
    }
    const std::uint16_t vendor = USBGetVendorID();
    return std::find(kAcceptedVendors.begin(), kAcceptedVendors.end(), vendor) !=
                   kAcceptedVendors.end()
               ? 1
               : 0;
}

std::uint16_t UsbPortLibrary::USBGetVendorID() {
    UniqueHandle device = open_dev();
    if (!device) {
        debug("VELTPORT : USBGetVendorID fail(INVALID_HANDLE)\n");
        return 0;
    }
    UsbDeviceDescriptor descriptor;
    if (USBGetUsbDeviceDescriptor(device.get(), descriptor)) {
        device.reset();
        debug("VELTPORT : GetDescriptor OK\n");
        return descriptor.idVendor();
    }
    debug("VELTPORT : GetDescriptor fail\n");
    device.reset();
    return 0;
}

int UsbPortLibrary::USBGetUsbDeviceDescriptor(Handle handle, UsbDeviceDescriptor& descriptor) {
    if (handle == kInvalidHandle) return 0;
    std::array<std::uint8_t, 8> input{};
    std::vector<std::uint8_t> output(kDeviceIdArea);
    std::uint32_t returned = 0;
    if (!layer_->io_control(handle, GET_DEVICE_DESCRIPTOR, input.data(),
                            static_cast<std::uint32_t>(input.size()), output.data(),
                            static_cast<std::uint32_t>(output.size()), returned)) {
        printf_out("USB32DLL: DeviceIoCtl(GET_DEVICE_DESCRIPTOR) failed with error:%d\n",
                   static_cast<int>(layer_->last_error()));
        return 0;
    }
    // The driver's reported count is not consulted: the area was zeroed, so a
    // short answer reads as zero bytes.
    std::copy_n(output.begin(), descriptor.bytes.size(), descriptor.bytes.begin());
    return 1;
}

UniqueHandle UsbPortLibrary::open_dev() {
    UniqueHandle device = OpenUsbDevice(interface_class(), completeDeviceName.data());
    if (!device) {
        printf_out("Failed to open (%s) = %d", completeDeviceName.data(),
                   static_cast<int>(layer_->last_error()));
    }
    return device;
}

UniqueHandle UsbPortLibrary::OpenUsbDevice(const Guid& cls, char* path, std::size_t max_path) {
    UniqueDeviceSet set(*layer_, layer_->create_interface_set(cls));
    if (!set) return {};
    // A member that fails to enumerate is passed over, but a run of failures
    // means the enumeration itself has broken down and will never report its
    // end: the search stops there instead of asking for 2^32 members.
    // (The index cannot run past the 32-bit range either.)
    std::uint32_t failures_in_a_row = 0;
    for (std::uint32_t index = 0;; ++index) {
        InterfaceRef iface;
        const EnumOutcome outcome = layer_->enum_interface(set.get(), cls, index, iface);
        if (outcome == EnumOutcome::NoMoreItems) break;
        if (outcome == EnumOutcome::Found) {
            failures_in_a_row = 0;
            UniqueHandle device = OpenOneDevice(set.get(), iface, path, max_path);
            if (device) return device;
        } else if (++failures_in_a_row == kMaxEnumerationFailures) {
            break;
        }
        if (index == UINT32_MAX) break;
    }
    return {};
}

UniqueHandle UsbPortLibrary::OpenOneDevice(DeviceSet set, const InterfaceRef& iface, char* path,
                                           std::size_t max_path) {
    const std::optional<std::string> found = layer_->interface_path(set, iface);
    if (!found) return {};
    // The path must fit the text it is kept in, and the names later built from
    // it; a longer one is passed over, and nothing is copied.
    const std::size_t length = bounded_length(found->c_str(), found->size());
    if (length > std::min(max_path, kMaxDevicePath)) return {};
    std::memcpy(path, found->c_str(), length);
    path[length] = '\0';
    UniqueHandle device = open_path(path, kGenericRead | kGenericWrite);
    if (!device) printf_out("FAILED to open %s\n", path);
    return device;
}

int UsbPortLibrary::GetUsbDeviceFileName(const Guid& cls, char* path, std::size_t max_path) {
    UniqueHandle device = OpenUsbDevice(cls, path, max_path);
    if (!device) return 0;
    device.reset();
    return 1;
}

int UsbPortLibrary::USBGetControlPortName(char* buffer, std::uint32_t size, std::size_t max_path) {
    if (!GetUsbDeviceFileName(interface_class(), completeDeviceName.data(), max_path)) {
        print("Failed to GetUsbDeviceFileName\n");
        return 0;
    }
    const std::size_t length = std::strlen(completeDeviceName.data());
    if (length + 1 > size) {
        print("buffer size too small!!\n\n");
        return 0;
    }
    std::memcpy(buffer, completeDeviceName.data(), length + 1);
    return 1;
}

int UsbPortLibrary::GetUsbPortName() {
    if (bGetUsbPort == 1) return 1;
    if (!USBGetControlPortName(ControlPort.data(), static_cast<std::uint32_t>(ControlPort.size()))) {
        bGetUsbPort = 0;
        return 0;
    }
    join(WritePort, ControlPort.data(), "\\PIPE00");
    join(ReadPort, ControlPort.data(), "\\PIPE01");
    bGetUsbPort = 1;
    return 1;
}

// ---------------------------------------------------------------------------
// Transfers.

int UsbPortLibrary::SetUsbPortTimeOut(std::int32_t direction, const char* timeout) {
    if (bWin2K == 1) return 1;
    if (!GetUsbPortName()) return 0;
    // The exports refuse over-long texts before they get here; this keeps the
    // copy below inside its block whoever calls.
    if (!timeout_fits(timeout)) return 0;
    UniqueHandle control = open_path(ControlPort.data(), kGenericRead | kGenericWrite);
    if (!control) return 0;
    std::array<char, kTimeoutBlock> input{};
    std::memcpy(input.data(), timeout, std::strlen(timeout) + 1);
    std::array<std::uint8_t, kTimeoutBlock> output{};
    std::uint32_t returned = 0;
    const std::uint32_t code =
        direction == static_cast<std::int32_t>(kWriteDirection) ? SET_WRITE_TIMEOUT : SET_READ_TIMEOUT;
    const bool ok = layer_->io_control(control.get(), code, input.data(),
                                       static_cast<std::uint32_t>(input.size()), output.data(),
                                       static_cast<std::uint32_t>(output.size()), returned);
    control.reset();
    return ok ? 1 : 0;
}

int UsbPortLibrary::WriteToUsbPort(const unsigned char* data, std::uint32_t length,
                                   std::uint32_t* written, const char* timeout) {
    std::uint32_t unused_count = 0;
    std::uint32_t& count = written ? *written : unused_count;
    // A text the driver's block cannot carry is the caller's mistake: refuse it
    // before anything is opened, so that nothing is sent and the port-name
    // cache survives. NT 5.x systems never send the text, so they take any.
    if (bWin2K != 1 && !timeout_fits(timeout)) return VELTPORT_TIMEOUT_NOT_SET;
    if (data == nullptr && length != 0) return VELTPORT_TRANSFER_FAILED;

    if (!GetUsbPortName()) return VELTPORT_NO_PRINTER;
    for (int attempt = 1;; ++attempt) {
        UniqueHandle pipe = open_path(WritePort.data(), kGenericWrite);
        if (!pipe) {
            bGetUsbPort = 0;
            if (attempt == 2) return VELTPORT_PIPE_NOT_OPENED;
        } else {
            if (!SetUsbPortTimeOut(static_cast<std::int32_t>(kWriteDirection), timeout)) {
                bGetUsbPort = 0;
                pipe.reset();
                return VELTPORT_TIMEOUT_NOT_SET;
            }
            const bool ok = layer_->write(pipe.get(), data, length, count);
            if (ok && count == length) {
                pipe.reset();
                return VELTPORT_OK;
            }
            pipe.reset();
            bGetUsbPort = 0;
            if (attempt == 2) return VELTPORT_TRANSFER_FAILED;
            // Part of the data reached the printer: sending the whole buffer
            // again would hand it those bytes twice.
            if (count != 0) return VELTPORT_TRANSFER_FAILED;
        }
        if (!GetUsbPortName()) return VELTPORT_NO_PRINTER;
    }
}

int UsbPortLibrary::ReadFromUsbPort(unsigned char* buffer, std::uint32_t length,
                                    std::uint32_t* read, const char* timeout) {
    std::uint32_t unused_count = 0;
    std::uint32_t& count = read ? *read : unused_count;
    if (bWin2K != 1 && !timeout_fits(timeout)) return VELTPORT_TIMEOUT_NOT_SET;
    if (buffer == nullptr && length != 0) return VELTPORT_TRANSFER_FAILED;

    if (!GetUsbPortName()) return VELTPORT_NO_PRINTER;
    UniqueHandle pipe;
    for (int attempt = 1;; ++attempt) {
        pipe = open_path(ReadPort.data(), kGenericRead);
        if (pipe) break;
        bGetUsbPort = 0;
        if (attempt == 2) return VELTPORT_PIPE_NOT_OPENED;
        if (!GetUsbPortName()) return VELTPORT_NO_PRINTER;
    }
    if (!SetUsbPortTimeOut(static_cast<std::int32_t>(kReadDirection), timeout)) {
        pipe.reset();
        return VELTPORT_TIMEOUT_NOT_SET;
    }
    const bool ok = layer_->read(pipe.get(), buffer, length, count);
    if (!ok || count == 0) {
        pipe.reset();
        bGetUsbPort = 0;
        return VELTPORT_TRANSFER_FAILED;
    }
    // A reply filling whole 64-byte packets leaves the driver expecting more;
    // the trailing read drains it. What it brings is not the caller's.
    if ((count & 63u) == 0) {
        layer_->sleep_ms(kTrailingReadPauseMs);
        if (SetUsbPortTimeOut(static_cast<std::int32_t>(kReadDirection), USB_READ_TIMEOUT_2)) {
            std::array<std::uint8_t, kTrailingReadLength> scratch{};
            std::uint32_t extra = 0;
            layer_->read(pipe.get(), scratch.data(), kTrailingReadLength, extra);
        }
    }
    pipe.reset();
    return VELTPORT_OK;
}

// ---------------------------------------------------------------------------
// Identification.

int UsbPortLibrary::USBGetDeviceID(char* buffer, std::uint32_t* capacity) {
    if (buffer == nullptr || capacity == nullptr || *capacity == 0) return 0;
    UniqueHandle device = open_dev();
    if (!device) {
        debug("VELTPORT : GetDeviceid fail(INVALID_HANDEL)\n");
        return 0;
    }
    std::array<std::uint8_t, 8> input{};
    // Two bytes beyond the driver's area: a count of 4096 read from byte 2
    // ends there, inside zeroed memory of our own.
    std::vector<std::uint8_t> reply(kDeviceIdArea + 2);
    std::uint32_t returned = 0;
    bool ok = false;
    for (std::uint32_t attempt = 0; attempt < kDeviceIdAttempts && !ok; ++attempt) {
        ok = layer_->io_control(device.get(), GET_DEVICE_ID, input.data(),
                                static_cast<std::uint32_t>(input.size()), reply.data(),
                                static_cast<std::uint32_t>(kDeviceIdArea), returned);
        if (!ok) layer_->sleep_ms(kDeviceIdRetryPauseMs);
    }
    if (!ok) {
        printf_out("USB32DLL: DeviceIoCtl(GET_DEVICE_ID) failed with error:%d\n",
                   static_cast<int>(layer_->last_error()));
        device.reset();
        return 0;
    }
    std::uint32_t n = static_cast<std::uint32_t>(reply[0] << 8 | reply[1]);
    n = std::min<std::uint32_t>(n, kDeviceIdArea);
    n = std::min(n, *capacity);
    std::memcpy(buffer, reply.data() + 2, n);
    if (n < *capacity) {
        buffer[n] = '\0';
        *capacity = n + 1;
    } else {
        buffer[n - 1] = '\0';
        *capacity = n;
    }
    device.reset();
    return 1;
}

int UsbPortLibrary::GetDeviceID(char* buffer, std::uint32_t* capacity) {
    // No room for even the terminating NUL: refuse before anything is touched.
    if (buffer == nullptr || capacity == nullptr || *capacity == 0) return 0;
    if (!USBCheckEnvironment()) {
        debug("VELTPORT : GetDeviceid fail(USBCheckEnvironment)\n");
        return 0;
    }
    if (USBGetDeviceID(buffer, capacity)) {
        debug("VELTPORT : GetDeviceid OK\n");
        return 1;
    }
    debug("VELTPORT : GetDeviceid fail\n");
    return 0;
}

int UsbPortLibrary::USBGetModelNameInDeviceID(char* buffer) {
    std::vector<char> device_id(kDeviceIdArea);
    std::uint32_t stored = static_cast<std::uint32_t>(device_id.size());
    if (!USBGetDeviceID(device_id.data(), &stored)) {
        print("GetDeviceID failed!!\n\n");
        return 0;
    }
    const std::string_view text(device_id.data(), stored);
    const std::size_t key = text.find(kModelKey);
    if (key == std::string_view::npos) return 0;
    const std::string_view rest = text.substr(key + kModelKey.size());
    const std::string_view value = rest.substr(0, rest.find_first_of(std::string_view(";\0", 2)));
    std::vector<char> model(kDeviceIdArea);
    std::copy(value.begin(), value.end(), model.begin());
    std::memcpy(buffer, model.data(), value.size() + 1);
    return 1;
}

int UsbPortLibrary::GetModelName(char* buffer) {
    if (buffer == nullptr) return 0;
    if (!USBCheckEnvironment()) return 0;
    return USBGetModelNameInDeviceID(buffer);
}

int UsbPortLibrary::GetVendorID(std::uint16_t* vendor_id) {
    if (vendor_id == nullptr) return 0;
    const std::uint16_t vendor = USBGetVendorID();
    if (vendor == 0) return 0;
    *vendor_id = vendor;
    return 1;
}

int UsbPortLibrary::GetControlPortName(char* buffer, std::uint32_t size) {
    if (buffer == nullptr) return 0;
    if (!USBCheckEnvironment()) return 0;
    return USBGetControlPortName(buffer, size);
}

int UsbPortLibrary::pipe_name(const char* pipe, char* buffer, std::uint32_t size) {
    if (!GetUsbDeviceFileName(interface_class(), completeDeviceName.data())) {
        print("Failed to GetUsbDeviceFileName\n");
        return 0;
    }
    std::array<char, kPipeNameSize + 1> suffix{"\\"};
    std::strncat(suffix.data(), pipe, kPipeNameSize - 1);
    join(completeDeviceName, completeDeviceName.data(), suffix.data());
    const std::size_t length = std::strlen(completeDeviceName.data());
    if (length + 1 > size) {
        print("buffer size too small!!\n\n");
        return 0;
    }
    std::memcpy(buffer, completeDeviceName.data(), length + 1);
    return 1;
}

int UsbPortLibrary::USBGetWritePortName(char* buffer, std::uint32_t size) {
    return pipe_name(outPipe.data(), buffer, size);
}

int UsbPortLibrary::USBGetReadPortName(char* buffer, std::uint32_t size) {
    return pipe_name(inPipe.data(), buffer, size);
}

int UsbPortLibrary::GetWritePortName(char* buffer, std::uint32_t size) {
    if (buffer == nullptr) return 0;
    if (!USBCheckEnvironment()) return 0;
    return USBGetWritePortName(buffer, size);
}

int UsbPortLibrary::GetReadPortName(char* buffer, std::uint32_t size) {
    if (buffer == nullptr) return 0;
    if (!USBCheckEnvironment()) return 0;
    return USBGetReadPortName(buffer, size);
}

}  // namespace veltport
