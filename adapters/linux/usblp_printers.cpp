#include "adapters/linux/usblp_printers.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>

#include "system/files/unique_descriptor.h"

namespace fwup {

namespace {

// The driver's private requests, as the USB port library's layer uses them
// (no public header carries them): the device ID with its 2-byte count, and
// the vendor and product IDs.
unsigned long get_device_id(std::uint32_t length) { return _IOC(_IOC_READ, 'P', 1, length); }
unsigned long get_vid_pid(std::uint32_t length) { return _IOC(_IOC_READ, 'P', 6, length); }
constexpr std::uint32_t kDeviceIdRequest = 1024;  // the driver keeps at most 1023 bytes

std::string problem_of(int error_number) {
    switch (error_number) {
        case EBUSY: return "in use by another program";
        case EACCES:
        case EPERM: return "no permission to open it";
        default: return std::strerror(error_number);
    }
}

AttachedPrinter read_node(const std::string& path) {
    AttachedPrinter printer;
    printer.port = "USB";
    printer.device = path;
    printer.address = DeviceAddress{DeviceAddress::Kind::UsbPath, path};
    const UniqueDescriptor node(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (node.get() < 0) {
        printer.problem = problem_of(errno);
        return printer;
    }
    printer.answers = true;
    std::array<int, 2> ids{};
    if (::ioctl(node.get(), get_vid_pid(sizeof ids), ids.data()) == 0) {
        printer.vendor_id = static_cast<std::uint16_t>(ids[0]);
    }
    // Zeroed, one byte longer than the request: the driver adds no terminator,
    // and its count may not match the text, so the text is measured.
    std::array<char, kDeviceIdRequest + 1> area{};
    if (::ioctl(node.get(), get_device_id(kDeviceIdRequest), area.data()) == 0) {
        const char* text = area.data() + 2;
        printer.identification = std::string(text, ::strnlen(text, kDeviceIdRequest - 2));
    }
    return printer;
}

}  // namespace

std::vector<AttachedPrinter> list_usblp_printers(const std::string& directory, std::uint32_t nodes) {
    std::vector<AttachedPrinter> printers;
    for (std::uint32_t node = 0; node < nodes; ++node) {
        const std::string path = directory + "/lp" + std::to_string(node);
        struct stat info {};
        if (::stat(path.c_str(), &info) == 0) printers.push_back(read_node(path));
    }
    return printers;
}

std::optional<std::string> listed_node(const std::string& path, const std::vector<AttachedPrinter>& printers) {
    struct stat wanted {};
    const bool exists = ::stat(path.c_str(), &wanted) == 0;
    for (const AttachedPrinter& printer : printers) {
        if (printer.device == path) return printer.device;
        struct stat listed {};
        if (exists && S_ISCHR(wanted.st_mode) && ::stat(printer.device.c_str(), &listed) == 0 &&
            S_ISCHR(listed.st_mode) && listed.st_rdev == wanted.st_rdev) {
            return printer.device;
        }
    }
    return std::nullopt;
}

}  // namespace fwup
