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

int hex_digit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool starts_with_nocase(std::string_view text, std::string_view head) {
    if (text.size() < head.size()) return false;
    for (std::size_t i = 0; i < head.size(); ++i) {
        const char a = text[i] >= 'a' && text[i] <= 'z' ? static_cast<char>(text[i] - 'a' + 'A') : text[i];
        if (a != head[i]) return false;
    }
    return true;
}

}  // namespace

std::optional<std::uint32_t> timeout_milliseconds(const char* timeout) {
    if (!timeout_fits(timeout) || *timeout == '\0') return std::nullopt;
    std::uint32_t ms = 0;
    for (const char* c = timeout; *c != '\0'; ++c) {
        if (*c < '0' || *c > '9') return std::nullopt;
        ms = ms * 10 + static_cast<std::uint32_t>(*c - '0');  // seven digits at most: no overflow
    }
    return ms;
}

std::uint16_t vendor_in_hardware_id(std::string_view id) {
    constexpr std::string_view kHead = "USB\\VID_";
    if (!starts_with_nocase(id, kHead) || id.size() < kHead.size() + 4) return 0;
    unsigned vendor = 0;
    for (std::size_t i = kHead.size(); i < kHead.size() + 4; ++i) {
        const int digit = hex_digit(id[i]);
        if (digit < 0) return 0;
        vendor = vendor * 16 + static_cast<unsigned>(digit);
    }
    // "USB\VID_043D" ends there or goes on with the next field.
    if (id.size() > kHead.size() + 4 && id[kHead.size() + 4] != '&') return 0;
    return static_cast<std::uint16_t>(vendor);
}

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
    return bWin2K == 1 || bClassDriver == 1 ? MS_USBPRINT_GUID : CORVANE_USB_GUID;
}

void UsbPortLibrary::choose_class_driver(const OsVersionInfo& version) {
    if (version.platform_id == OsVersionInfo::kWin32Nt && version.major >= 6) bClassDriver = 1;
}

UniqueHandle UsbPortLibrary::open_path(const char* path, std::uint32_t access) {
    return UniqueHandle(*layer_, layer_->open(path, access, kShareReadWrite));
}

UniqueHandle UsbPortLibrary::open_transfer(const char* path, std::uint32_t access) {
    if (bClassDriver != 1) return open_path(path, access);
    // The class driver moves both directions over the one interface path.
    return UniqueHandle(*layer_,
                        layer_->open_cancellable(path, kGenericRead | kGenericWrite, kShareReadWrite));
}

bool UsbPortLibrary::transfer_write(Handle handle, const void* data, std::uint32_t length,
                                    std::uint32_t& written, std::optional<std::uint32_t> wait_ms) {
    if (bClassDriver == 1 && wait_ms) return layer_->write_within(handle, data, length, written, *wait_ms);
    return layer_->write(handle, data, length, written);
}

bool UsbPortLibrary::transfer_read(Handle handle, void* buffer, std::uint32_t length, std::uint32_t& got,
                                   std::optional<std::uint32_t> wait_ms) {
    if (bClassDriver == 1 && wait_ms) return layer_->read_within(handle, buffer, length, got, *wait_ms);
    return layer_->read(handle, buffer, length, got);
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
    } else if (version->platform_id == OsVersionInfo::kWin32Nt && version->major >= 6) {
        debug("VELTPORT : Windows Vista or later\n");
        choose_class_driver(*version);
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
    if (bClassDriver == 1) {
        // The class driver has no descriptor request: the system's record of
        // the device names the vendor.
        std::uint16_t vendor = 0;
        UniqueHandle device = open_dev(&vendor);
        if (!device) {
            debug("VELTPORT : USBGetVendorID fail(INVALID_HANDLE)\n");
            return 0;
        }
        device.reset();
        debug(vendor != 0 ? "VELTPORT : HardwareID OK\n" : "VELTPORT : HardwareID fail\n");
        return vendor;
    }
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

std::uint16_t UsbPortLibrary::vendor_from_hardware_ids(DeviceSet set, const InterfaceRef& iface) {
    // The interface's own node first; a printer function of a composite
    // device may name its vendor only on the node above.
    for (const bool parent : {false, true}) {
        const std::optional<std::vector<std::string>> ids = layer_->hardware_ids(set, iface, parent);
        if (!ids) continue;
        for (const std::string& id : *ids) {
            const std::uint16_t vendor = vendor_in_hardware_id(id);
            if (vendor != 0) return vendor;
        }
    }
    return 0;
}

UniqueHandle UsbPortLibrary::open_dev(std::uint16_t* vendor_from_ids) {
    UniqueHandle device = OpenUsbDevice(interface_class(), completeDeviceName.data(), kMaxDevicePath,
                                        vendor_from_ids);
    if (!device) {
        printf_out("Failed to open (%s) = %d", completeDeviceName.data(),
                   static_cast<int>(layer_->last_error()));
    }
    return device;
}

UniqueHandle UsbPortLibrary::OpenUsbDevice(const Guid& cls, char* path, std::size_t max_path,
                                           std::uint16_t* vendor_from_ids) {
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
            if (device && vendor_from_ids) *vendor_from_ids = vendor_from_hardware_ids(set.get(), iface);
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
    // The class driver has no pipe names: both directions use the interface path.
    join(WritePort, ControlPort.data(), bClassDriver == 1 ? "" : "\\PIPE00");
    join(ReadPort, ControlPort.data(), bClassDriver == 1 ? "" : "\\PIPE01");
    bGetUsbPort = 1;
    return 1;
}

// ---------------------------------------------------------------------------
// Transfers.

int UsbPortLibrary::SetUsbPortTimeOut(std::int32_t direction, const char* timeout) {
    // NT 5 sends no time-out; the class driver's transfers carry their own.
    if (bWin2K == 1 || bClassDriver == 1) return 1;
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
    // The class driver waits as long as the text says, in milliseconds; a
    // text that is no number cannot bound the wait and is refused the same way.
    const std::optional<std::uint32_t> wait_ms =
        bClassDriver == 1 ? timeout_milliseconds(timeout) : std::nullopt;
    if (bClassDriver == 1 && !wait_ms) return VELTPORT_TIMEOUT_NOT_SET;
    if (data == nullptr && length != 0) return VELTPORT_TRANSFER_FAILED;

    if (!GetUsbPortName()) return VELTPORT_NO_PRINTER;
    for (int attempt = 1;; ++attempt) {
        UniqueHandle pipe = open_transfer(WritePort.data(), kGenericWrite);
        if (!pipe) {
            bGetUsbPort = 0;
            if (attempt == 2) return VELTPORT_PIPE_NOT_OPENED;
        } else {
            if (!SetUsbPortTimeOut(static_cast<std::int32_t>(kWriteDirection), timeout)) {
                bGetUsbPort = 0;
                pipe.reset();
                return VELTPORT_TIMEOUT_NOT_SET;
            }
            const bool ok = transfer_write(pipe.get(), data, length, count, wait_ms);
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
    const std::optional<std::uint32_t> wait_ms =
        bClassDriver == 1 ? timeout_milliseconds(timeout) : std::nullopt;
    if (bClassDriver == 1 && !wait_ms) return VELTPORT_TIMEOUT_NOT_SET;
    if (buffer == nullptr && length != 0) return VELTPORT_TRANSFER_FAILED;

    if (!GetUsbPortName()) return VELTPORT_NO_PRINTER;
    UniqueHandle pipe;
    for (int attempt = 1;; ++attempt) {
        pipe = open_transfer(ReadPort.data(), kGenericRead);
        if (pipe) break;
        bGetUsbPort = 0;
        if (attempt == 2) return VELTPORT_PIPE_NOT_OPENED;
        if (!GetUsbPortName()) return VELTPORT_NO_PRINTER;
    }
    if (!SetUsbPortTimeOut(static_cast<std::int32_t>(kReadDirection), timeout)) {
        pipe.reset();
        return VELTPORT_TIMEOUT_NOT_SET;
    }
    const bool ok = transfer_read(pipe.get(), buffer, length, count, wait_ms);
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
            transfer_read(pipe.get(), scratch.data(), kTrailingReadLength, extra,
                          timeout_milliseconds(USB_READ_TIMEOUT_2));
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
    // The class driver's request takes no input and fills the same area.
    const bool class_driver = bClassDriver == 1;
    for (std::uint32_t attempt = 0; attempt < kDeviceIdAttempts && !ok; ++attempt) {
        ok = class_driver
                 ? layer_->io_control(device.get(), GET_1284_ID, nullptr, 0, reply.data(), kClassDriverIdRequest,
                                      returned)
                 : layer_->io_control(device.get(), GET_DEVICE_ID, input.data(),
                                      static_cast<std::uint32_t>(input.size()), reply.data(),
                                      static_cast<std::uint32_t>(kDeviceIdArea), returned);
        if (!ok) layer_->sleep_ms(kDeviceIdRetryPauseMs);
    }
    if (!ok) {
        printf_out(class_driver ? "USB32DLL: DeviceIoCtl(GET_1284_ID) failed with error:%d\n"
                                : "USB32DLL: DeviceIoCtl(GET_DEVICE_ID) failed with error:%d\n",
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
    // Without a check the maker's class is searched, as on Windows 98; on NT 6
    // and later nothing answers there, so the class driver is chosen here too.
    if (bWin2K != 1 && bClassDriver != 1) {
        if (const std::optional<OsVersionInfo> version = layer_->query_os_version()) choose_class_driver(*version);
    }
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
    if (bClassDriver == 1) suffix[0] = '\0';  // the interface path is all there is
    else std::strncat(suffix.data(), pipe, kPipeNameSize - 1);
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
