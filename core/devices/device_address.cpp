#include "core/devices/device_address.h"

#include <algorithm>
#include <charconv>

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

// "socket://HOST[:PORT]" after its scheme; refused with `error` set.
std::optional<DeviceAddress> parse_network_address(std::string_view original, std::string_view rest,
                                                   std::string& error) {
    std::string_view host = rest;
    std::optional<std::string_view> port_text;  // set when a ':' follows the host
    bool well_formed = true;
    if (!rest.empty() && rest.front() == '[') {
        const std::size_t close = rest.find(']');
        well_formed = close != std::string_view::npos;
        host = well_formed ? rest.substr(1, close - 1) : std::string_view();
        const std::string_view after = well_formed ? rest.substr(close + 1) : std::string_view();
        if (!after.empty()) {
            well_formed = after.front() == ':';
            port_text = after.substr(1);
        }
    } else if (const std::size_t colon = rest.find(':'); colon != std::string_view::npos) {
        host = rest.substr(0, colon);
        port_text = rest.substr(colon + 1);
    }
    well_formed = well_formed && !host.empty() && std::all_of(host.begin(), host.end(), [](char c) {
        return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
               c == '.' || c == ':' || c == '_' || c == '%';
    });
    if (!well_formed) {
        error = quoted(original);
        error += ": a network printer is named socket://HOST or socket://HOST:PORT";
        return std::nullopt;
    }
    std::uint16_t port = kRawPrintPort;
    if (port_text) {
        const char* end = port_text->data() + port_text->size();
        const auto [stop, fault] = std::from_chars(port_text->data(), end, port);
        if (port_text->empty() || fault != std::errc() || stop != end || port == 0) {
            error = quoted(original);
            error += ": the port must be a number from 1 to 65535";
            return std::nullopt;
        }
    }
    return DeviceAddress{DeviceAddress::Kind::Network, std::string(host), port};
}

}  // namespace

std::string DeviceAddress::display() const {
    if (kind == Kind::Network) {
        std::string shown = "socket://";
        const bool brackets = text.find(':') != std::string::npos;
        if (brackets) shown += '[';
        shown += text;
        if (brackets) shown += ']';
        shown += ':';
        shown += std::to_string(port);
        return shown;
    }
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
        if (text.substr(0, scheme) == "socket") return parse_network_address(text, text.substr(scheme + 3), error);
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
