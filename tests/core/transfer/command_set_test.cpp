#include "core/transfer/command_set.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

#include "core/transfer/progress_scale.h"

namespace fwup {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes to_bytes(const CommandBytes& command) { return {command.view().begin(), command.view().end()}; }

TEST(CommandSet, CommandBytesForEveryCommandAndVariant) {
    struct Row {
        Command command;
        std::int32_t esc;
        std::uint32_t size;
        Bytes expected;
    };
    const std::vector<Row> rows = {
        {Command::VersionQuery, 0, 0, {0xA5, 0x00, 0x04, 0x50, 0xE0, 0x82, 0x06}},
        {Command::VersionQuery, 1, 0, {0x1B, 0xA5, 0x00, 0x04, 0x50, 0xE0, 0x82, 0x06}},
        {Command::Download, 0, 0, {0xA5, 0x00, 0x04, 0x50, 0xE0, 0x82, 0x05}},
        {Command::Download, 1, 0, {0x1B, 0xA5, 0x00, 0x04, 0x50, 0xE0, 0x82, 0x05}},
        // Any non-zero Esc is the ESC variant; the tables are never indexed by it.
        {Command::Download, 7, 0, {0x1B, 0xA5, 0x00, 0x04, 0x50, 0xE0, 0x82, 0x05}},
        {Command::VersionQuery, -1, 0, {0x1B, 0xA5, 0x00, 0x04, 0x50, 0xE0, 0x82, 0x06}},
        // The demo command is always plain and carries the size most significant byte first.
        {Command::DemoDownload, 0, 1, {0xA5, 0x00, 0x08, 0x50, 0xE0, 0x82, 0x07, 0x00, 0x00, 0x00, 0x01}},
        {Command::DemoDownload, 1, 1'024'000, {0xA5, 0x00, 0x08, 0x50, 0xE0, 0x82, 0x07, 0x00, 0x0F, 0xA0, 0x00}},
        {Command::DemoDownload, 0, 0x12345678, {0xA5, 0x00, 0x08, 0x50, 0xE0, 0x82, 0x07, 0x12, 0x34, 0x56, 0x78}},
        {Command::DemoDownload, 0, 0xFFFFFFFF, {0xA5, 0x00, 0x08, 0x50, 0xE0, 0x82, 0x07, 0xFF, 0xFF, 0xFF, 0xFF}},
    };
    for (const auto& row : rows) {
        const CommandBytes command = command_bytes(row.command, row.esc, row.size);
        EXPECT_EQ(to_bytes(command), row.expected) << "esc " << row.esc << " size " << row.size;
        EXPECT_EQ(command.length, command_length(row.command, row.esc));
    }
}

TEST(CommandSet, ReplyLengthsFollowEsc) {
    struct Row {
        std::int32_t esc;
        std::uint32_t version;
        std::uint32_t download;
    };
    for (const Row& row : std::vector<Row>{{0, 10, 8}, {1, 11, 9}, {2, 11, 9}, {INT_MIN, 11, 9}}) {
        EXPECT_EQ(reply_length(Reply::Version, row.esc), row.version) << row.esc;
        EXPECT_EQ(reply_length(Reply::Download, row.esc), row.download) << row.esc;
    }
}

TEST(CommandSet, ReplyIsCompleteOnlyWithAtLeastTheExpectedLength) {
    EXPECT_FALSE(reply_complete(0, 10));
    EXPECT_FALSE(reply_complete(9, 10));
    EXPECT_TRUE(reply_complete(10, 10));
    EXPECT_TRUE(reply_complete(12, 8));  // a long LPT download reply
}

// A 255-byte reply buffer whose version field of a reply of `length` bytes holds
// `field`; digits around it must not count.
std::array<std::uint8_t, 255> buffer_with_field(std::uint32_t length, const std::string& field) {
    std::array<std::uint8_t, 255> buffer{};
    buffer.fill('9');
    for (std::size_t i = 0; i < 3; ++i) buffer[length - 3 + i] = static_cast<std::uint8_t>(field[i]);
    return buffer;
}

TEST(CommandSet, VersionFieldDecodesLikeDecimalConversion) {
    struct Row {
        std::string field;  // exactly three bytes
        std::int32_t version;
    };
    const std::vector<Row> rows = {
        {"106", 106},
        {" 99", 99},
        {"1A6", 1},
        {"ABC", 0},
        {"-12", -12},
        {"+07", 7},
        {"\t12", 12},
        {std::string("1\0" "9", 3), 1},   // a zero byte ends the text
        {std::string("\0" "99", 3), 0},
        {"+-1", 0},
        {"  -", 0},
        {"999", 999},
    };
    for (std::uint32_t length : {10u, 11u}) {
        for (const auto& row : rows) {
            const auto buffer = buffer_with_field(length, row.field);
            EXPECT_EQ(decode_version(buffer, length), row.version) << "length " << length << " field " << row.field;
        }
    }
}

TEST(CommandSet, DecimalValueSaturatesInsteadOfOverflowing) {
    EXPECT_EQ(decimal_value("99999999999"), INT_MAX);
    EXPECT_EQ(decimal_value("-99999999999"), INT_MIN);
    EXPECT_EQ(decimal_value("-2147483648"), INT_MIN);
    EXPECT_EQ(decimal_value(""), 0);
}

TEST(CommandSet, DownloadStatusIsTheByteAtTheExpectedEnd) {
    struct Row {
        Bytes reply;
        std::uint32_t expected;
        bool demo;
        DownloadStatus status;
    };
    const Bytes accepted_long{1, 1, 1, 1, 1, 1, 1, 0, 2, 2, 2, 2};  // 12 bytes over LPT, judged at offset 7
    const Bytes busy_long{0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0};
    const std::vector<Row> rows = {
        {{9, 9, 9, 9, 9, 9, 9, 0}, 8, false, DownloadStatus::Accepted},
        {{9, 9, 9, 9, 9, 9, 9, 9, 0}, 9, true, DownloadStatus::Accepted},
        {{0, 0, 0, 0, 0, 0, 0, 2}, 8, true, DownloadStatus::DemoNotSupported},
        {{0, 0, 0, 0, 0, 0, 0, 2}, 8, false, DownloadStatus::Busy},
        {{0, 0, 0, 0, 0, 0, 0, 1}, 8, true, DownloadStatus::Busy},
        {{0, 0, 0, 0, 0, 0, 0, 0xFF}, 8, false, DownloadStatus::Busy},
        {accepted_long, 8, false, DownloadStatus::Accepted},
        {busy_long, 8, false, DownloadStatus::Busy},
        {accepted_long, 9, false, DownloadStatus::Busy},  // the ESC variant's status byte is at offset 8
    };
    for (std::size_t i = 0; i < rows.size(); ++i) {
        EXPECT_EQ(download_status(rows[i].reply, rows[i].expected, rows[i].demo), rows[i].status) << "row " << i;
    }
}

// Code page 932: lead bytes 81-9F and E0-FC.
bool shift_jis_lead_byte(std::uint8_t byte) { return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC); }

TEST(CommandSet, ModelCheckSearchesCaseSensitiveSubstring) {
    struct Row {
        std::string text;
        std::string model;
        LeadByteTest lead;
        bool matches;
    };
    const std::string id = "MFG:Acme;CMD:PJL;MODEL:LaserJet 5000N;";
    const std::vector<Row> rows = {
        {id, "LaserJet 5000N", nullptr, true},
        {id, "LaserJet 50", nullptr, true},  // the leading part of a longer name
        {id, "MFG", nullptr, true},          // anywhere, fields are not parsed
        {id, "laserjet 5000n", nullptr, false},
        {id, "LaserJet 5000N;X", nullptr, false},
        {"", "LaserJet", nullptr, false},
        {"", "", nullptr, true},
        {id, "", nullptr, true},
        // 95 5C is one character whose second byte is a backslash: on a
        // double-byte code page a match may not start inside it.
        {"\x95\x5C" "AB", "\x5C" "AB", nullptr, true},
        {"\x95\x5C" "AB", "\x5C" "AB", shift_jis_lead_byte, false},
        {"\x95\x5C" "Model X", "Model X", shift_jis_lead_byte, true},
        {"X\x95\x5C" "Y", "\x95\x5C" "Y", shift_jis_lead_byte, true},
        {"AB\x95", "\x95", shift_jis_lead_byte, true},  // a lead byte at the end is one character
        {"\x81\x81" "A", "\x81" "A", shift_jis_lead_byte, false},
    };
    for (std::size_t i = 0; i < rows.size(); ++i) {
        EXPECT_EQ(model_matches(rows[i].text, rows[i].model, rows[i].lead), rows[i].matches) << "row " << i;
    }
}

TEST(CommandSet, IdentificationTextEndsAtTheFirstZeroByte) {
    std::array<std::uint8_t, 256> buffer{};
    EXPECT_EQ(identification_text(buffer), "");
    buffer[0] = 'A';
    buffer[1] = 'B';
    buffer[3] = 'C';
    EXPECT_EQ(identification_text(buffer), "AB");
    buffer.fill('x');
    EXPECT_EQ(identification_text(buffer).size(), 256u);
}

TEST(CommandSet, LptPortNames) {
    EXPECT_EQ(lpt_port_name(1), std::optional<std::string_view>("LPT1"));
    EXPECT_EQ(lpt_port_name(2), std::optional<std::string_view>("LPT2"));
    EXPECT_EQ(lpt_port_name(3), std::optional<std::string_view>("LPT3"));
    for (std::int32_t lpt : {0, 4, -1, INT_MAX, INT_MIN}) EXPECT_FALSE(lpt_port_name(lpt)) << lpt;
}

TEST(CommandSet, VersionText) {
    const std::vector<std::pair<std::int32_t, std::string>> rows = {
        {106, "1.06"}, {100, "1.00"}, {99, "0.99"},     {1, "0.01"},
        {0, "0.00"},   {-12, "-0.12"}, {12345, "123.45"}, {INT_MAX, "21474836.47"},
    };
    for (const auto& [version, text] : rows) EXPECT_EQ(version_text(version), text) << version;
}

TEST(ProgressScale, OneUnitPerHundredBytesWithoutWrapping) {
    struct Row {
        std::uint64_t size;
        std::uint32_t upper;
    };
    const std::vector<Row> rows = {
        {0, 0},
        {99, 0},
        {100, 1},
        {6'553'599, 65'535},
        {6'553'600, 65'536},  // where a 16-bit bound would wrap to 0
        {0x1'0000'0000, 42'949'672},
        {214'748'364'700, 0x7FFF'FFFF},
    };
    for (const auto& row : rows) {
        const ProgressScale scale(row.size);
        EXPECT_EQ(scale.upper(), row.upper) << row.size;
        EXPECT_EQ(scale.position(row.size), row.upper) << row.size;
    }
}

TEST(ProgressScale, HugeImagesGetCoarserUnitsButFillProportionally) {
    for (std::uint64_t size : {214'748'364'800ull, 1ull << 40, ~0ull}) {
        const ProgressScale scale(size);
        EXPECT_LE(scale.upper(), 0x7FFF'FFFFu) << size;
        EXPECT_GT(scale.upper(), 0x3FFF'FFFFu) << size;
        EXPECT_EQ(scale.position(size), scale.upper()) << size;
        EXPECT_NEAR(static_cast<double>(scale.position(size / 2)), scale.upper() / 2.0, 1.0) << size;
    }
}

}  // namespace
}  // namespace fwup
