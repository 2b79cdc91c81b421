#include "core/transfer/command_set.h"

#include <algorithm>
#include <cstdio>
#include <limits>

namespace fwup {
namespace {

constexpr std::uint8_t kEscByte = 0x1B;
// Start byte, length of what follows (big-endian), three fixed bytes, function.
constexpr std::array<std::uint8_t, 7> kVersionQuery{0xA5, 0x00, 0x04, 0x50, 0xE0, 0x82, 0x06};
constexpr std::array<std::uint8_t, 7> kDownload{0xA5, 0x00, 0x04, 0x50, 0xE0, 0x82, 0x05};
constexpr std::array<std::uint8_t, 7> kDemoDownloadHead{0xA5, 0x00, 0x08, 0x50, 0xE0, 0x82, 0x07};

constexpr std::uint32_t kVersionFieldWidth = 3;

bool is_c_space(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

}  // namespace

CommandBytes command_bytes(Command command, std::int32_t esc, std::uint32_t demo_size) {
    CommandBytes out;
    auto append = [&out](std::span<const std::uint8_t> bytes) {
        std::copy(bytes.begin(), bytes.end(), out.bytes.begin() + out.length);
        out.length += static_cast<std::uint32_t>(bytes.size());
    };
    switch (command) {
        case Command::DemoDownload:
            append(kDemoDownloadHead);
            for (int shift = 24; shift >= 0; shift -= 8) {
                out.bytes[out.length++] = static_cast<std::uint8_t>(demo_size >> shift);
            }
            return out;
        case Command::VersionQuery:
        case Command::Download:
            if (esc_variant(esc)) out.bytes[out.length++] = kEscByte;
            append(command == Command::VersionQuery ? kVersionQuery : kDownload);
            return out;
    }
    return out;
}

std::uint32_t command_length(Command command, std::int32_t esc) {
    if (command == Command::DemoDownload) return 11;
    return esc_variant(esc) ? 8 : 7;
}

std::uint32_t reply_length(Reply reply, std::int32_t esc) {
    const std::uint32_t plain = reply == Reply::Version ? 10 : 8;
    return esc_variant(esc) ? plain + 1 : plain;
}

std::int32_t decimal_value(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && is_c_space(text[i])) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    std::int64_t value = 0;
    constexpr std::int64_t kLimit = std::int64_t{std::numeric_limits<std::int32_t>::max()} + 1;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        value = std::min(kLimit, value * 10 + (text[i] - '0'));
    }
    if (negative) value = -value;
    return static_cast<std::int32_t>(
        std::clamp<std::int64_t>(value, std::numeric_limits<std::int32_t>::min(),
                                 std::numeric_limits<std::int32_t>::max()));
}

std::int32_t decode_version(std::span<const std::uint8_t> reply, std::uint32_t expected) {
    if (expected < kVersionFieldWidth || expected > reply.size()) return 0;
    const auto field = reply.subspan(expected - kVersionFieldWidth, kVersionFieldWidth);
    std::string text;
    for (std::uint8_t byte : field) {
        if (byte == 0) break;
        text.push_back(static_cast<char>(byte));
    }
    return decimal_value(text);
}

DownloadStatus download_status(std::span<const std::uint8_t> reply, std::uint32_t expected, bool demo) {
    if (expected == 0 || expected > reply.size()) return DownloadStatus::Busy;
    const std::uint8_t status = reply[expected - 1];
    if (status == 0) return DownloadStatus::Accepted;
    if (demo && status == 2) return DownloadStatus::DemoNotSupported;
    return DownloadStatus::Busy;
}

bool model_matches(std::string_view identification, std::string_view model, LeadByteTest is_lead_byte) {
    if (model.empty()) return true;
    std::size_t pos = 0;
    while (pos < identification.size()) {
        if (identification.substr(pos).starts_with(model)) return true;
        const bool two_bytes = is_lead_byte != nullptr &&
                               is_lead_byte(static_cast<std::uint8_t>(identification[pos])) &&
                               pos + 1 < identification.size();
        pos += two_bytes ? 2 : 1;
    }
    return false;
}

std::string_view identification_text(std::span<const std::uint8_t> device_id) {
    const auto end = std::find(device_id.begin(), device_id.end(), std::uint8_t{0});
    return {reinterpret_cast<const char*>(device_id.data()),
            static_cast<std::size_t>(end - device_id.begin())};
}

std::optional<std::string_view> lpt_port_name(std::int32_t lpt) {
    static constexpr std::array<std::string_view, 4> kPorts{"", "LPT1", "LPT2", "LPT3"};
    if (lpt < 1 || lpt >= static_cast<std::int32_t>(kPorts.size())) return std::nullopt;
    return kPorts[static_cast<std::size_t>(lpt)];
}

std::string version_text(std::int32_t version) {
    std::array<char, 32> text{};
    const int n = std::snprintf(text.data(), text.size(), "%3.2f", version * 0.01);
    return {text.data(), static_cast<std::size_t>(std::max(n, 0))};
}

}  // namespace fwup
