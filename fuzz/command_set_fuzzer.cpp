// The printer's replies and identification texts as they arrive: reply
// decoding, the status byte, the version text and the model check in both
// code-page modes. Each decision is compared with a plain reference written
// from the rules, not from the implementation.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/fuzz_check.h"
#include "core/transfer/command_set.h"

namespace {

// Lead bytes of two double-byte code pages: Shift-JIS (932) and GBK (936).
bool shift_jis_lead(std::uint8_t b) { return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC); }
bool gbk_lead(std::uint8_t b) { return b >= 0x81 && b <= 0xFE; }

// The C library's reading of a short decimal text.
std::int32_t reference_number(std::string_view text) {
    std::string terminated(text);
    return static_cast<std::int32_t>(std::strtol(terminated.c_str(), nullptr, 10));
}

std::int32_t reference_version(const std::vector<std::uint8_t>& reply, std::uint32_t expected) {
    std::array<char, 8> text{};
    for (std::size_t i = 0; i < 3; ++i) {
        const std::uint8_t byte = reply[expected - 3 + i];
        if (byte == 0) break;
        text[i] = static_cast<char>(byte);
    }
    return reference_number(text.data());
}

// Character starts only; a lead byte with nothing after it stands alone.
bool reference_match(std::string_view text, std::string_view model, fwup::LeadByteTest lead) {
    if (model.empty()) return true;
    for (std::size_t pos = 0; pos < text.size();) {
        if (text.compare(pos, model.size(), model) == 0) return true;
        const bool pair = lead != nullptr && lead(static_cast<std::uint8_t>(text[pos])) && pos + 1 < text.size();
        pos += pair ? 2 : 1;
    }
    return false;
}

void check_replies(FuzzedDataProvider& in) {
    const bool esc = in.ConsumeBool();
    const bool demo = in.ConsumeBool();
    const std::uint32_t esc_setting = esc ? in.ConsumeIntegral<std::uint32_t>() | 1u : 0;
    std::vector<std::uint8_t> reply = in.ConsumeBytes<std::uint8_t>(in.ConsumeIntegralInRange<std::size_t>(0, 255));
    reply.resize(fwup::kReplyBufferSize, 0);  // the reply buffer is always whole
    const std::uint32_t received = in.ConsumeIntegralInRange<std::uint32_t>(0, fwup::kReplyBufferSize);

    const std::uint32_t version_length =
        fwup::reply_length(fwup::Reply::Version, static_cast<std::int32_t>(esc_setting));
    const std::uint32_t download_length =
        fwup::reply_length(fwup::Reply::Download, static_cast<std::int32_t>(esc_setting));
    FUZZ_REQUIRE(version_length == (esc ? 11u : 10u));
    FUZZ_REQUIRE(download_length == (esc ? 9u : 8u));
    FUZZ_REQUIRE(fwup::reply_complete(received, version_length) == (received >= version_length));

    const std::int32_t version = fwup::decode_version(reply, version_length);
    FUZZ_REQUIRE(version == reference_version(reply, version_length));
    FUZZ_REQUIRE(version > -100 && version < 1000);
    const std::string shown = fwup::version_text(version);
    FUZZ_REQUIRE(!shown.empty() && shown.size() < 16);

    const std::uint8_t status = reply[download_length - 1];
    const fwup::DownloadStatus decided = fwup::download_status(reply, download_length, demo);
    const fwup::DownloadStatus wanted = status == 0 ? fwup::DownloadStatus::Accepted
                                        : demo && status == 2 ? fwup::DownloadStatus::DemoNotSupported
                                                              : fwup::DownloadStatus::Busy;
    FUZZ_REQUIRE(decided == wanted);

    // Out-of-contract lengths must not read outside the reply.
    const std::uint32_t odd = in.ConsumeIntegralInRange<std::uint32_t>(0, 300);
    static_cast<void>(fwup::decode_version(std::span<const std::uint8_t>(reply).first(received), odd));
    static_cast<void>(fwup::download_status(std::span<const std::uint8_t>(reply).first(received), odd, demo));
}

void check_commands(FuzzedDataProvider& in) {
    const std::int32_t esc = in.ConsumeIntegral<std::int32_t>();
    const std::uint32_t size = in.ConsumeIntegral<std::uint32_t>();
    for (const fwup::Command command :
         {fwup::Command::VersionQuery, fwup::Command::Download, fwup::Command::DemoDownload}) {
        const fwup::CommandBytes bytes = fwup::command_bytes(command, esc, size);
        FUZZ_REQUIRE(bytes.length == fwup::command_length(command, esc));
        FUZZ_REQUIRE(bytes.length <= fwup::kMaxCommandLength);
        // The byte at command length - 4 is always 0x50.
        FUZZ_REQUIRE(bytes.bytes[bytes.length - 4] == 0x50 || command == fwup::Command::DemoDownload);
    }
    const fwup::CommandBytes demo = fwup::command_bytes(fwup::Command::DemoDownload, esc, size);
    const std::uint32_t carried = static_cast<std::uint32_t>(demo.bytes[7]) << 24 |
                                  static_cast<std::uint32_t>(demo.bytes[8]) << 16 |
                                  static_cast<std::uint32_t>(demo.bytes[9]) << 8 | demo.bytes[10];
    FUZZ_REQUIRE(carried == size);
    const std::int32_t lpt = in.ConsumeIntegral<std::int32_t>();
    FUZZ_REQUIRE(fwup::lpt_port_name(lpt).has_value() == (lpt >= 1 && lpt <= 3));
}

void check_identification(FuzzedDataProvider& in) {
    // The device-ID buffer as a query leaves it: at most 255 bytes, then zeros.
    std::array<std::uint8_t, 256> device_id{};
    const std::vector<std::uint8_t> answer = in.ConsumeBytes<std::uint8_t>(in.ConsumeIntegralInRange<std::size_t>(0, 255));
    std::copy(answer.begin(), answer.end(), device_id.begin());
    const std::string model = in.ConsumeRandomLengthString(130);
    const std::string_view text = fwup::identification_text(device_id);
    FUZZ_REQUIRE(text.size() <= 255);
    FUZZ_REQUIRE(text.find('\0') == std::string_view::npos);

    const bool single = fwup::model_matches(text, model, nullptr);
    FUZZ_REQUIRE(single == (text.find(model) != std::string_view::npos));
    for (const fwup::LeadByteTest lead : {&shift_jis_lead, &gbk_lead}) {
        const bool dbcs = fwup::model_matches(text, model, lead);
        FUZZ_REQUIRE(dbcs == reference_match(text, model, lead));
        // Trying fewer positions can only lose matches.
        FUZZ_REQUIRE(!dbcs || single);
    }
    // The whole text always contains itself, whatever the code page.
    FUZZ_REQUIRE(fwup::model_matches(text, text, &shift_jis_lead));
}

void check_numbers(FuzzedDataProvider& in) {
    const std::string text = in.ConsumeRandomLengthString(40);
    const std::int32_t value = fwup::decimal_value(text);
    const std::string terminated = text.substr(0, text.find('\0'));
    const long long wide = std::strtoll(terminated.c_str(), nullptr, 10);
    const long long clamped = std::clamp<long long>(wide, INT32_MIN, INT32_MAX);
    FUZZ_REQUIRE(value == clamped);
    static_cast<void>(fwup::version_text(value));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    switch (in.ConsumeIntegralInRange<int>(0, 3)) {
        case 0: check_replies(in); break;
        case 1: check_identification(in); break;
        case 2: check_commands(in); break;
        default: check_numbers(in); break;
    }
    return 0;
}
