#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

#include "core/network/socket_printer.h"
#include "system/sockets/tcp_stream.h"

namespace fwup {
namespace {

TEST(NetworkDeviceId, LineBreaksSeparateFieldsAsSemicolonsDo) {
    const std::vector<std::pair<std::string, std::string>> rows{
        {"MFG:A;MDL:B;", "MFG:A;MDL:B;"},
        {"MFG:A\r\nMDL:B\r\n", "MFG:A;MDL:B;"},
        {"MFG:A;\r\nMDL:B;\n", "MFG:A;MDL:B;"},
        {"MFG:A\rMDL:B\n\n", "MFG:A;MDL:B;"},
        {"\r\nMFG:A", "MFG:A"},
        {"", ""},
    };
    for (const auto& [raw, id] : rows) EXPECT_EQ(normalised_device_id(raw), id) << raw;
}

// The ID comes from its own source, and is cut to the length every carrier
// reads; an empty answer is no answer.
TEST(SocketPrinter, IdentifiesFromItsSourceWithinTheBuffer) {
    const auto listener = sys::TcpListener::on_loopback();
    ASSERT_TRUE(listener);
    const std::string long_id = "MDL:VP-1000;DES:" + std::string(600, 'x') + ";";
    const std::vector<std::pair<std::optional<std::string>, std::optional<std::string>>> rows{
        {"MFG:A\r\nMDL:B\r\n", "MFG:A;MDL:B;"},
        {long_id, long_id.substr(0, 255)},
        {"", std::nullopt},
        {std::nullopt, std::nullopt},
    };
    for (const auto& [answer, read] : rows) {
        SocketPrinter printer("127.0.0.1", listener->port(), [answer = answer] { return answer; });
        ConnectFailure failure{};
        const std::unique_ptr<PrinterLink> link = printer.connect(failure);
        ASSERT_TRUE(link);
        std::array<std::uint8_t, 256> id{};
        id.fill('?');
        const bool answered = link->identify(id);
        EXPECT_EQ(answered, read.has_value());
        if (read) {
            EXPECT_EQ(std::string(reinterpret_cast<const char*>(id.data())), *read);
        }
        EXPECT_TRUE(listener->accept(1000));
    }
}

TEST(SocketPrinter, AnUnreachablePortSaysWhy) {
    std::uint16_t port = 0;
    {
        const auto listener = sys::TcpListener::on_loopback();
        ASSERT_TRUE(listener);
        port = listener->port();
    }
    ConnectFailure failure{};
    SocketPrinter refusing("127.0.0.1", port, {});
    EXPECT_FALSE(refusing.connect(failure));
    EXPECT_EQ(failure, ConnectFailure::NoConnection);
    SocketPrinter nameless("", 9100, {});
    EXPECT_FALSE(nameless.connect(failure));
    EXPECT_EQ(failure, ConnectFailure::NotFound);
}

}  // namespace
}  // namespace fwup
