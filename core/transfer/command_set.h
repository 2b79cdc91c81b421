#pragma once
#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "system/code_page/ansi_code_page.h"

namespace fwup {

// The printer's command set: the bytes of every command, the length and layout
// of every reply, and the few decisions taken on them. Pure functions over
// bytes; the procedures add carriers, waits and retries.

enum class Command { VersionQuery, Download, DemoDownload };
enum class Reply { Version, Download };

enum class DownloadStatus { Accepted, DemoNotSupported, Busy };

inline constexpr std::uint32_t kMaxCommandLength = 11;
inline constexpr std::uint32_t kReplyBufferSize = 255;
inline constexpr std::uint32_t kDeviceIdCapacity = 255;  // of the 256-byte device-ID buffer
inline constexpr std::uint32_t kTransferBlockSize = 8192;
inline constexpr std::uint64_t kDemoSizeLimit = 1'024'000;  // bytes; exactly this many is accepted

// Any non-zero Esc setting selects the ESC variant (commands and replies one
// byte longer), so out-of-range settings never index past the two variants.
constexpr bool esc_variant(std::int32_t esc) { return esc != 0; }

struct CommandBytes {
    std::array<std::uint8_t, kMaxCommandLength> bytes{};
    std::uint32_t length = 0;

    std::span<const std::uint8_t> view() const { return {bytes.data(), length}; }
};

// The bytes to send. The demo download command is always the plain variant and
// carries `demo_size` most significant byte first; the other commands ignore it.
CommandBytes command_bytes(Command command, std::int32_t esc, std::uint32_t demo_size = 0);
// 7 plain, 8 ESC, 11 for the demo download command.
std::uint32_t command_length(Command command, std::int32_t esc);
// Version reply 10 / 11, download reply 8 / 9 (the demo download command too).
std::uint32_t reply_length(Reply reply, std::int32_t esc);

// A reply must arrive whole in one read.
constexpr bool reply_complete(std::uint32_t received, std::uint32_t expected) {
    return received >= expected;
}

// The version field is the last three bytes of a reply of the expected length,
// read as decimal text (at most three characters, ending early at a zero byte).
// `expected` must lie within 3..reply.size().
std::int32_t decode_version(std::span<const std::uint8_t> reply, std::uint32_t expected);
// The status byte is the last byte of a reply of the expected length (1..size).
DownloadStatus download_status(std::span<const std::uint8_t> reply, std::uint32_t expected, bool demo);

// C-library decimal conversion: leading white space, one optional sign, digits
// up to the first non-digit; no digit gives 0. Saturates instead of overflowing.
std::int32_t decimal_value(std::string_view text);

// Whether a byte begins a two-byte character in the system's code page;
// nullptr stands for a single-byte code page.
using LeadByteTest = bool (*)(std::uint8_t byte);

// The ANSI code page's test on Windows; nullptr elsewhere.
inline LeadByteTest system_lead_byte_test() { return ansi_lead_byte_test(); }

// Whether `model` occurs in the identification text as a case-sensitive
// substring. With a lead-byte test only character starts are tried and
// two-byte characters are stepped over whole.
bool model_matches(std::string_view identification, std::string_view model, LeadByteTest is_lead_byte);

// The identification text: the buffer's bytes up to the first zero byte.
std::string_view identification_text(std::span<const std::uint8_t> device_id);

// "LPT1".."LPT3" for 1..3; no port for anything else (0 is the table's empty slot).
std::optional<std::string_view> lpt_port_name(std::int32_t lpt);

// "%3.2f" of the version in hundredths: 106 -> "1.06".
std::string version_text(std::int32_t version);

}  // namespace fwup
