#pragma once
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "adapters/linux/device_id_source.h"

namespace fwup {

// Through libieee1284: the port named "parport<index>" is asked afresh (the
// printer negotiates and sends its ID now); when the library cannot reach the
// port itself (no ppdev, no access), the ID the kernel recorded when it probed
// the port is taken instead. Without libieee1284 at build time no printer
// ever answers.
class Ieee1284DeviceIdSource final : public DeviceIdSource {
public:
    std::optional<std::string> device_id(std::uint32_t index) override;
    // Whether this build reads device IDs at all.
    static bool available();
};

// The text of what ieee1284_get_deviceid left in `buffer` (zeroed before the
// call, `capacity` bytes) for its result `result`: the bytes after the 2-byte
// length field up to the terminating zero. The count and the length field are
// not trusted: the library's ways to the ID disagree about what they count,
// and printers about what their length field means. Nothing when the call
// failed or the text is empty.
std::optional<std::string> device_id_text(const char* buffer, std::size_t capacity, long result);

}  // namespace fwup
