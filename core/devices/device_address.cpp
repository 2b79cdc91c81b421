#include "core/devices/device_address.h"

#include <algorithm>

namespace fwup {

namespace {

bool section_name(std::string_view text) {
    return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) {
        return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' || c == '-' ||
               c == '.';
    });
}

// Texts are built by appending: GCC 12 reports a false overlap inside
// libstdc++ for a literal prepended to a string at -O3.
std::string quoted(std::string_view text) {
    std::string result(1, '"');
    result.append(text);
    result += '"';
    return result;
}

}  // namespace

std::string DeviceAddress::display() const {
    if (kind != Kind::VirtualSection) return text;
    std::string shown(1, '[');
    shown += text;
    shown += ']';
    return shown;
}

std::optional<DeviceAddress> parse_device_address(std::string_view text, std::string& error) {
    error.clear();
    if (text.empty()) {
        error = "an empty device address";
        return std::nullopt;
    }
    if (const std::size_t scheme = text.find("://"); scheme != std::string_view::npos) {
        error = quoted(text);
        error += ": this program reaches no printer of the kind ";
        error += quoted(std::string(text.substr(0, scheme)) + "://");
        return std::nullopt;
    }
    if (text.front() == '/') {
        // A NUL would cut the path short where the system reads it.
        if (text.find('\0') != std::string_view::npos) {
            error = "a device path holding a NUL byte";
            return std::nullopt;
        }
        return DeviceAddress{DeviceAddress::Kind::UsbPath, std::string(text)};
    }
    std::string_view name = text;
    if (name.size() >= 2 && name.front() == '[' && name.back() == ']') name = name.substr(1, name.size() - 2);
    if (section_name(name)) return DeviceAddress{DeviceAddress::Kind::VirtualSection, std::string(name)};
    error = quoted(text);
    error += " is neither a device path (/dev/usb/lp1) nor a virtual printer's section ([Printer2])";
    return std::nullopt;
}

}  // namespace fwup
