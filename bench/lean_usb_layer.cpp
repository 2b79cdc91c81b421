#include "bench/lean_usb_layer.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace fwup::bench {

bool LeanUsbLayer::io_control(veltport::Handle, std::uint32_t code, const void*, std::uint32_t, void* out,
                              std::uint32_t out_size, std::uint32_t& returned) {
    auto* bytes = static_cast<std::uint8_t*>(out);
    returned = 0;
    if (code == veltport::GET_DEVICE_DESCRIPTOR) {
        std::array<std::uint8_t, 18> descriptor{18, 1};
        const std::uint16_t vendor = printer_.config().vendor_id;
        descriptor[8] = static_cast<std::uint8_t>(vendor & 0xFF);
        descriptor[9] = static_cast<std::uint8_t>(vendor >> 8);
        returned = std::min<std::uint32_t>(out_size, 18);
        std::memcpy(bytes, descriptor.data(), returned);
        return true;
    }
    if (code == veltport::GET_DEVICE_ID) {
        const std::string& text = printer_.config().device_id;
        if (out_size < 2) return false;
        const auto n = static_cast<std::uint32_t>(std::min<std::size_t>(text.size(), out_size - 2u));
        bytes[0] = static_cast<std::uint8_t>(n >> 8);
        bytes[1] = static_cast<std::uint8_t>(n & 0xFF);
        std::memcpy(bytes + 2, text.data(), n);
        returned = n + 2;
        return true;
    }
    return code == veltport::SET_WRITE_TIMEOUT || code == veltport::SET_READ_TIMEOUT;
}

}  // namespace fwup::bench
