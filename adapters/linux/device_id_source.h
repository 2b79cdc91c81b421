#pragma once
#include <cstdint>
#include <optional>
#include <string>

namespace fwup {

// Where the parallel ports get the attached printer's IEEE 1284 device ID.
class DeviceIdSource {
public:
    virtual ~DeviceIdSource() = default;
    // The identification text of the printer on parallel port `index` (0 is
    // the first port, "LPT1"), without any length prefix; nothing when no
    // printer answered.
    virtual std::optional<std::string> device_id(std::uint32_t index) = 0;
};

}  // namespace fwup
