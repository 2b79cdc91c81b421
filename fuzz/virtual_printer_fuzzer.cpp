// The virtual printer's command parser fed whatever a host might write, in
// pieces of any size, with reads and identification queries in between.
// Besides the sanitizers' checks: every command it records is well formed,
// replies have the documented lengths, image bytes are only taken after an
// accepted download and never beyond the configured failure point.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "fuzz/fuzz_check.h"
#include "sim/printer/virtual_printer.h"

namespace {

void check_command(const std::vector<std::uint8_t>& command) {
    const std::size_t start = !command.empty() && command[0] == 0x1B ? 1 : 0;
    FUZZ_REQUIRE(command.size() >= start + 7);
    FUZZ_REQUIRE(command[start] == 0xA5);
    const std::size_t body = static_cast<std::size_t>(command[start + 1] << 8 | command[start + 2]);
    FUZZ_REQUIRE(command.size() == start + 3 + body);
    FUZZ_REQUIRE(command[start + 3] == 0x50 && command[start + 4] == 0xE0 && command[start + 5] == 0x82);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    fwup::sim::PrinterConfig config;
    config.esc = in.ConsumeBool() ? 1 : 0;
    config.version = in.ConsumeRandomLengthString(4);
    config.download_status = in.ConsumeIntegral<std::uint8_t>();
    config.demo_status = in.ConsumeIntegral<std::uint8_t>();
    config.device_id_failures = in.ConsumeIntegralInRange<std::uint32_t>(0, 3);
    config.short_replies = in.ConsumeIntegralInRange<std::uint32_t>(0, 3);
    if (in.ConsumeBool()) config.fail_write_after = in.ConsumeIntegralInRange<std::uint64_t>(0, 100000);
    const bool sink = in.ConsumeBool();

    fwup::sim::VirtualPrinter printer(config);
    std::vector<std::uint8_t> sunk;
    if (sink) {
        printer.set_image_sink(
            [&sunk](const std::uint8_t* bytes, std::size_t n) { sunk.insert(sunk.end(), bytes, bytes + n); });
    }

    while (in.remaining_bytes() > 0) {
        switch (in.ConsumeIntegralInRange<int>(0, 5)) {
            case 0: {
                const std::size_t capacity = in.ConsumeIntegralInRange<std::size_t>(0, 300);
                std::vector<std::uint8_t> buffer(capacity);
                const std::size_t pending = printer.pending_reply().size();
                const std::size_t got = printer.read_reply(buffer.data(), buffer.size());
                FUZZ_REQUIRE(got <= capacity && got <= pending);
                break;
            }
            case 1:
                static_cast<void>(printer.identify());
                break;
            default: {
                const std::vector<std::uint8_t> bytes =
                    in.ConsumeBytes<std::uint8_t>(in.ConsumeIntegralInRange<std::size_t>(0, 64));
                const std::uint64_t before = printer.image_bytes();
                const std::size_t taken = printer.receive(bytes.data(), bytes.size());
                FUZZ_REQUIRE(taken <= bytes.size());
                FUZZ_REQUIRE(printer.image_bytes() - before <= taken);
                // Only a write failure after the configured image bytes stops short.
                if (taken < bytes.size()) {
                    FUZZ_REQUIRE(config.fail_write_after && printer.image_bytes() == *config.fail_write_after);
                }
                break;
            }
        }
        const std::size_t pending = printer.pending_reply().size();
        FUZZ_REQUIRE(pending == 0 || (pending >= 8 && pending <= 11));
    }

    for (const auto& command : printer.commands()) check_command(command);
    if (printer.image_bytes() > 0) FUZZ_REQUIRE(!printer.commands().empty());
    if (config.fail_write_after) FUZZ_REQUIRE(printer.image_bytes() <= *config.fail_write_after);
    // The digest vouches for exactly the bytes the sink was given.
    if (sink) {
        FUZZ_REQUIRE(sunk.size() == printer.image_bytes());
        FUZZ_REQUIRE(printer.image_sha256() == fwup::sim::sha256_hex(sunk.data(), sunk.size()));
    }
    return 0;
}
