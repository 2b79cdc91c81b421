#include "sim/printer/virtual_printer.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace fwup::sim {
namespace {

using Bytes = std::vector<std::uint8_t>;

const Bytes kVersionQuery{0xA5, 0x00, 0x04, 0x50, 0xE0, 0x82, 0x06};
const Bytes kEscVersionQuery{0x1B, 0xA5, 0x00, 0x04, 0x50, 0xE0, 0x82, 0x06};
const Bytes kDownload{0xA5, 0x00, 0x04, 0x50, 0xE0, 0x82, 0x05};
const Bytes kEscDownload{0x1B, 0xA5, 0x00, 0x04, 0x50, 0xE0, 0x82, 0x05};

Bytes demo_download(std::uint32_t size) {
    return {0xA5, 0x00, 0x08, 0x50, 0xE0, 0x82, 0x07,
            static_cast<std::uint8_t>(size >> 24), static_cast<std::uint8_t>(size >> 16),
            static_cast<std::uint8_t>(size >> 8), static_cast<std::uint8_t>(size)};
}

Bytes operator+(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

Bytes read_all(VirtualPrinter& printer) {
    Bytes reply(255);
    reply.resize(printer.read_reply(reply.data(), reply.size()));
    return reply;
}

struct ExchangeRow {
    const char* name;
    PrinterConfig config;
    Bytes sent;
    std::size_t chunk;  // bytes per receive call; 0 = all at once
    std::size_t commands;
    Bytes reply;  // whole pending reply after the last byte
    bool data_mode;
    Bytes image;
};

PrinterConfig with(void (*change)(PrinterConfig&)) {
    PrinterConfig config;
    change(config);
    return config;
}

TEST(VirtualPrinterTest, AnswersEachCommandWithItsReplyVariant) {
    const std::vector<ExchangeRow> rows = {
        {"version query, plain", {}, kVersionQuery, 0, 1,
         {0xA5, 0x00, 0x07, 0x50, 0xE0, 0x82, 0x06, '1', '0', '0'}, false, {}},
        {"version query, ESC reply variant",
         with([](PrinterConfig& c) { c.esc = 1; c.version = "106"; }), kEscVersionQuery, 0, 1,
         {0x1B, 0xA5, 0x00, 0x07, 0x50, 0xE0, 0x82, 0x06, '1', '0', '6'}, false, {}},
        {"short version is zero-padded", with([](PrinterConfig& c) { c.version = "9"; }),
         kVersionQuery, 0, 1, {0xA5, 0x00, 0x07, 0x50, 0xE0, 0x82, 0x06, '9', 0, 0}, false, {}},
        {"command split byte by byte", {}, kVersionQuery, 1, 1,
         {0xA5, 0x00, 0x07, 0x50, 0xE0, 0x82, 0x06, '1', '0', '0'}, false, {}},
        {"download accepted, image follows in the same write", {}, kDownload + Bytes{1, 2, 3}, 0, 1,
         {0xA5, 0x00, 0x05, 0x50, 0xE0, 0x82, 0x05, 0x00}, true, {1, 2, 3}},
        {"download accepted, split in threes", {}, kDownload + Bytes{0xA5, 0x1B, 7}, 3, 1,
         {0xA5, 0x00, 0x05, 0x50, 0xE0, 0x82, 0x05, 0x00}, true, {0xA5, 0x1B, 7}},
        {"download busy", with([](PrinterConfig& c) { c.download_status = 3; }), kDownload + Bytes{9},
         0, 1, {0xA5, 0x00, 0x05, 0x50, 0xE0, 0x82, 0x05, 0x03}, false, {}},
        {"download, ESC reply variant", with([](PrinterConfig& c) { c.esc = 1; }), kEscDownload, 0, 1,
         {0x1B, 0xA5, 0x00, 0x05, 0x50, 0xE0, 0x82, 0x05, 0x00}, true, {}},
        {"demo download accepted, image still coming", {}, demo_download(3) + Bytes{4, 5}, 0, 1,
         {0xA5, 0x00, 0x05, 0x50, 0xE0, 0x82, 0x07, 0x00}, true, {4, 5}},
        {"demo image complete: commands again", {}, demo_download(2) + Bytes{4, 5} + kVersionQuery, 2,
         2, {0xA5, 0x00, 0x07, 0x50, 0xE0, 0x82, 0x06, '1', '0', '0'}, false, {4, 5}},
        {"second demo download after the first", {},
         demo_download(1) + Bytes{4} + demo_download(2) + Bytes{6, 7}, 0, 2,
         {0xA5, 0x00, 0x05, 0x50, 0xE0, 0x82, 0x07, 0x00}, false, {4, 6, 7}},
        {"demo download refused, ESC reply variant",
         with([](PrinterConfig& c) { c.esc = 1; c.demo_status = 2; }), demo_download(2) + Bytes{4}, 0, 1,
         {0x1B, 0xA5, 0x00, 0x05, 0x50, 0xE0, 0x82, 0x07, 0x02}, false, {}},
        {"noise before a command is skipped", {}, Bytes{0x00, 0xFF, 0x50} + kVersionQuery, 0, 1,
         {0xA5, 0x00, 0x07, 0x50, 0xE0, 0x82, 0x06, '1', '0', '0'}, false, {}},
        {"broken fixed bytes, then a command", {}, Bytes{0xA5, 0x00, 0x04, 0x51} + kVersionQuery, 1, 1,
         {0xA5, 0x00, 0x07, 0x50, 0xE0, 0x82, 0x06, '1', '0', '0'}, false, {}},
        {"absurd count, then a command", {}, Bytes{0xA5, 0xFF, 0xFF} + kDownload, 0, 1,
         {0xA5, 0x00, 0x05, 0x50, 0xE0, 0x82, 0x05, 0x00}, true, {}},
        {"doubled ESC", {}, Bytes{0x1B} + kEscVersionQuery, 0, 1,
         {0xA5, 0x00, 0x07, 0x50, 0xE0, 0x82, 0x06, '1', '0', '0'}, false, {}},
        {"unknown function is recorded, not answered", {},
         Bytes{0xA5, 0x00, 0x04, 0x50, 0xE0, 0x82, 0x09}, 0, 1, {}, false, {}},
        {"download with a parameter is not a download", {},
         Bytes{0xA5, 0x00, 0x08, 0x50, 0xE0, 0x82, 0x05, 0, 0, 0, 1}, 0, 1, {}, false, {}},
        {"incomplete command waits", {}, Bytes{0xA5, 0x00, 0x04, 0x50}, 0, 0, {}, false, {}},
        {"two commands, the later reply wins", {}, kVersionQuery + kDownload, 2, 2,
         {0xA5, 0x00, 0x05, 0x50, 0xE0, 0x82, 0x05, 0x00}, true, {}},
    };
    for (const ExchangeRow& row : rows) {
        SCOPED_TRACE(row.name);
        VirtualPrinter printer(row.config);
        std::vector<Bytes> observed;
        printer.on_command([&](const Bytes& command) { observed.push_back(command); });
        Bytes image;
        printer.set_image_sink([&](const std::uint8_t* data, std::size_t n) { image.insert(image.end(), data, data + n); });
        const std::size_t chunk = row.chunk == 0 ? row.sent.size() : row.chunk;
        for (std::size_t at = 0; at < row.sent.size(); at += chunk) {
            const std::size_t n = std::min(chunk, row.sent.size() - at);
            EXPECT_EQ(printer.receive(row.sent.data() + at, n), n);
        }
        EXPECT_EQ(printer.commands().size(), row.commands);
        EXPECT_EQ(observed, printer.commands());
        EXPECT_EQ(printer.pending_reply(), row.reply);
        EXPECT_EQ(printer.in_data_mode(), row.data_mode);
        EXPECT_EQ(image, row.image);
        EXPECT_EQ(printer.image_bytes(), row.image.size());
        EXPECT_EQ(printer.image_sha256(), sha256_hex(row.image.data(), row.image.size()));
    }
}

TEST(VirtualPrinterTest, RecordsCommandsWithTheirEscPrefixAndDemoSize) {
    VirtualPrinter printer;
    const Bytes demo = demo_download(1'024'000);
    const Bytes sent = Bytes{0x42} + kEscVersionQuery + demo;
    printer.receive(sent.data(), sent.size());
    ASSERT_EQ(printer.commands().size(), 2u);
    EXPECT_EQ(printer.commands()[0], kEscVersionQuery);
    EXPECT_EQ(printer.commands()[1], demo);
    EXPECT_EQ(printer.demo_size(), 1'024'000u);
    EXPECT_EQ(printer.skipped_bytes(), 1u);
}

TEST(VirtualPrinterTest, DataWritesFailAfterTheConfiguredImageBytes) {
    PrinterConfig config;
    config.fail_write_after = 5;
    VirtualPrinter printer(config);
    const Bytes first = kDownload + Bytes{1, 2, 3};
    EXPECT_EQ(printer.receive(first.data(), first.size()), first.size());
    const Bytes more{4, 5, 6, 7};
    EXPECT_EQ(printer.receive(more.data(), more.size()), 2u);
    EXPECT_EQ(printer.receive(more.data(), more.size()), 0u);
    const Bytes taken{1, 2, 3, 4, 5};
    EXPECT_EQ(printer.image_sha256(), sha256_hex(taken.data(), taken.size()));
    EXPECT_EQ(printer.image_bytes(), 5u);
}

TEST(VirtualPrinterTest, ImageDigestCanBeSwitchedOffWhileCountingGoesOn) {
    VirtualPrinter printer;
    EXPECT_EQ(printer.image_sha256(), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    printer.set_image_digest(false);
    const Bytes sent = kDownload + Bytes{7, 8, 9};
    printer.receive(sent.data(), sent.size());
    EXPECT_EQ(printer.image_sha256(), "");
    EXPECT_EQ(printer.image_bytes(), 3u);
}

TEST(VirtualPrinterTest, ShortRepliesKeepTheReplyPending) {
    PrinterConfig config;
    config.short_replies = 2;
    VirtualPrinter printer(config);
    printer.receive(kVersionQuery.data(), kVersionQuery.size());
    EXPECT_EQ(read_all(printer).size(), 9u);
    EXPECT_EQ(read_all(printer).size(), 9u);
    const Bytes whole = read_all(printer);
    EXPECT_EQ(whole.size(), 10u);
    EXPECT_EQ(whole.back(), '0');
    EXPECT_TRUE(read_all(printer).empty()) << "a reply is read once";
}

TEST(VirtualPrinterTest, ReplyCutToTheReadIsGoneAfterIt) {
    VirtualPrinter printer;
    printer.receive(kVersionQuery.data(), kVersionQuery.size());
    std::uint8_t two[2] = {};
    EXPECT_EQ(printer.read_reply(two, sizeof two), 2u);
    EXPECT_EQ(two[0], 0xA5);
    EXPECT_TRUE(read_all(printer).empty());
}

TEST(VirtualPrinterTest, IdentificationFailsTheConfiguredNumberOfTimes) {
    PrinterConfig config;
    config.device_id = "MFG:A;MODEL:B;";
    config.device_id_failures = 2;
    VirtualPrinter printer(config);
    EXPECT_FALSE(printer.identify());
    EXPECT_FALSE(printer.identify());
    EXPECT_EQ(printer.identify(), "MFG:A;MODEL:B;");
}

// A firmware image, then the host's next verify: identification and version query.
TEST(VirtualPrinterTest, RestartsWithTheConfiguredVersionOnlyAfterAWholeImage) {
    struct Row {
        const char* name;
        PrinterConfig config;
        bool identifies;
        Bytes version_field;  // empty: no reply
        bool data_mode;
    };
    const std::vector<Row> rows{
        {"new version", with([](PrinterConfig& c) { c.version_after_upgrade = "106"; }), true, {'1', '0', '6'}, false},
        {"version kept", with([](PrinterConfig& c) { c.version_after_upgrade = "100"; }), true, {'1', '0', '0'}, false},
        {"no restart configured: the query is image data", {}, true, {}, true},
        {"image cut short: not flashed", with([](PrinterConfig& c) {
             c.version_after_upgrade = "106";
             c.fail_write_after = 2;
         }), true, {}, true},
        {"silent after the flash", with([](PrinterConfig& c) {
             c.version_after_upgrade = "100";
             c.answers_after_upgrade = false;
         }), false, {}, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        VirtualPrinter printer(row.config);
        const Bytes image = kDownload + Bytes{1, 2, 3};
        printer.receive(image.data(), image.size());
        read_all(printer);  // the download command's reply
        EXPECT_EQ(printer.identify().has_value(), row.identifies);
        printer.receive(kVersionQuery.data(), kVersionQuery.size());
        const Bytes reply = read_all(printer);
        EXPECT_EQ(reply.empty() ? Bytes{} : Bytes(reply.end() - 3, reply.end()), row.version_field);
        EXPECT_EQ(printer.in_data_mode(), row.data_mode);
    }
}

}  // namespace
}  // namespace fwup::sim
