#include "adapters/linux/ieee1284_device_id.h"

#include <array>
#include <cstring>
#include <string_view>

#if defined(FWUP_HAVE_IEEE1284)
#include <ieee1284.h>
#endif

namespace fwup {

namespace {
constexpr std::size_t kLengthField = 2;
// An IEEE 1284 device ID is at most 64 KiB in theory; printers send a few
// hundred bytes, and the program keeps 255.
constexpr std::size_t kIdArea = 1024;
}  // namespace

std::optional<std::string> device_id_text(const char* buffer, std::size_t capacity, long result) {
    if (buffer == nullptr || result < 0 || capacity <= kLengthField) return std::nullopt;
    const char* text = buffer + kLengthField;
    const std::size_t length = ::strnlen(text, capacity - kLengthField);
    if (length == 0) return std::nullopt;
    return std::string(text, length);
}

#if defined(FWUP_HAVE_IEEE1284)

namespace {

// The port list, freed on every path.
class PortList {
public:
    PortList() { found_ = ieee1284_find_ports(&list_, 0) == E1284_OK; }
    ~PortList() {
        if (found_) ieee1284_free_ports(&list_);
    }
    PortList(const PortList&) = delete;
    PortList& operator=(const PortList&) = delete;

    parport* find(std::string_view name) const {
        if (!found_) return nullptr;
        for (int i = 0; i < list_.portc; ++i) {
            parport* port = list_.portv[i];
            if (port != nullptr && port->name != nullptr && name == port->name) return port;
        }
        return nullptr;
    }

private:
    parport_list list_{};
    bool found_ = false;
};

// The port cannot be asked directly, though the kernel may still know the ID.
bool port_unreachable(long result) {
    return result == E1284_NOTAVAIL || result == E1284_NOTIMPL || result == E1284_INIT || result == E1284_SYS;
}

}  // namespace

std::optional<std::string> Ieee1284DeviceIdSource::device_id(std::uint32_t index) {
    const PortList ports;
    parport* port = ports.find("parport" + std::to_string(index));
    if (port == nullptr) return std::nullopt;
    // One byte more than the library is told of, so the text always ends.
    std::array<char, kIdArea + 1> buffer{};
    long result = ieee1284_get_deviceid(port, -1, F1284_FRESH, buffer.data(), kIdArea);
    if (port_unreachable(result)) {
        buffer.fill('\0');
        result = ieee1284_get_deviceid(port, -1, 0, buffer.data(), kIdArea);
    }
    return device_id_text(buffer.data(), kIdArea, result);
}

bool Ieee1284DeviceIdSource::available() { return true; }

#else

std::optional<std::string> Ieee1284DeviceIdSource::device_id(std::uint32_t) { return std::nullopt; }

bool Ieee1284DeviceIdSource::available() { return false; }

#endif

}  // namespace fwup
