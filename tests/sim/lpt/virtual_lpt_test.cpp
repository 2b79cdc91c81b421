#include "sim/lpt/virtual_lpt.h"

#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

#include "sim/printer/virtual_printer.h"

namespace fwup::sim {
namespace {

const std::vector<std::uint8_t> kVersionQuery{0xA5, 0x00, 0x04, 0x50, 0xE0, 0x82, 0x06};
const std::vector<std::uint8_t> kDownload{0xA5, 0x00, 0x04, 0x50, 0xE0, 0x82, 0x05};

TEST(VirtualLptPorts, OpensOnlyTheThreeParallelPortNames) {
    struct Row {
        std::string name;
        bool opens;
    };
    const std::vector<Row> rows{{"LPT1", true}, {"LPT2", true},  {"lpt3", true},  {"LPT0", false},
                                {"LPT4", false}, {"COM1", false}, {"", false},     {"LPT", false},
                                {"LPT11", false}};
    for (const Row& row : rows) {
        VirtualLptPorts ports;
        EXPECT_EQ(ports.open(row.name, PortAccess::ReadWrite) != nullptr, row.opens) << row.name;
    }
}

TEST(VirtualLptPorts, OpensAreExclusiveAndCounted) {
    VirtualLptPorts ports;
    auto first = ports.open("LPT1", PortAccess::ReadWrite);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(ports.open("LPT1", PortAccess::WriteOnly), nullptr);
    auto other = ports.open("LPT2", PortAccess::WriteOnly);
    ASSERT_NE(other, nullptr);
    EXPECT_EQ(ports.open_ports(), 2);
    first.reset();
    EXPECT_EQ(ports.open_ports(), 1);
    EXPECT_NE(ports.open("LPT1", PortAccess::WriteOnly), nullptr);
    other.reset();
    EXPECT_EQ(ports.open_ports(), 0);
}

TEST(VirtualLptPorts, PortWithoutPrinterOpensButNothingAnswers) {
    VirtualLptPorts ports;
    auto port = ports.open("LPT1", PortAccess::ReadWrite);
    ASSERT_NE(port, nullptr);
    std::array<std::uint8_t, 256> id{};
    std::uint32_t returned = 99;
    EXPECT_FALSE(port->query_device_id(id.data(), 255, returned));
    EXPECT_EQ(returned, 0u);
    std::uint32_t written = 99;
    EXPECT_FALSE(port->write(kVersionQuery.data(), 7, written));
    EXPECT_EQ(written, 0u);
    EXPECT_EQ(port->last_error_text(), "The semaphore timeout period has expired.");
    std::array<std::uint8_t, 255> reply{};
    std::uint32_t got = 99;
    EXPECT_TRUE(port->read(reply.data(), 10, got));
    EXPECT_EQ(got, 0u);
}

TEST(VirtualLptPorts, IdentificationIsTheBareTextCutToTheCapacity) {
    struct Row {
        std::string id;
        std::uint32_t capacity;
        std::string text;           // bytes from buf[0]
        std::uint32_t returned;     // as the request reports it
        bool terminated;            // a zero byte follows the text
        bool overflow;              // the request fails, having stored the bytes
    };
    const std::vector<Row> rows{
        {"MFG:A;MODEL:B;", 255, "MFG:A;MODEL:B;", 15, true, false},
        {"", 255, "", 1, true, false},
        {"ABCDEFGH", 8, "ABCDEFGH", 8, false, false},
        {"ABCDEFGH", 5, "ABCDE", 5, false, true},
        {std::string(300, 'x'), 255, std::string(255, 'x'), 255, false, true},
    };
    for (const Row& row : rows) {
        PrinterConfig config;
        config.device_id = row.id;
        VirtualPrinter printer(config);
        VirtualLptPorts ports;
        ports.attach(2, &printer);
        auto port = ports.open("LPT2", PortAccess::ReadWrite);
        std::array<std::uint8_t, 400> buf;
        buf.fill(0xEE);
        std::uint32_t returned = 0;
        EXPECT_EQ(port->query_device_id(buf.data(), row.capacity, returned), !row.overflow) << row.id;
        if (row.overflow) {
            EXPECT_EQ(port->last_error_text(), "More data is available.");
        }
        EXPECT_EQ(returned, row.returned) << row.id;
        EXPECT_EQ(std::string(buf.begin(), buf.begin() + static_cast<std::ptrdiff_t>(row.text.size())), row.text);
        EXPECT_EQ(buf[row.text.size()], row.terminated ? 0 : 0xEE) << row.id;
        EXPECT_EQ(buf[row.returned], 0xEE) << "nothing past the reported count";
    }
}

TEST(VirtualLptPorts, ConfiguredIdentificationFailuresAnswerNothing) {
    PrinterConfig config;
    config.device_id_failures = 1;
    VirtualPrinter printer(config);
    VirtualLptPorts ports;
    ports.attach(1, &printer);
    auto port = ports.open("LPT1", PortAccess::ReadWrite);
    std::array<std::uint8_t, 256> buf{};
    std::uint32_t returned = 7;
    EXPECT_FALSE(port->query_device_id(buf.data(), 255, returned));
    EXPECT_EQ(returned, 0u);
    EXPECT_TRUE(port->query_device_id(buf.data(), 255, returned));
    EXPECT_GT(returned, 0u);
}

TEST(VirtualLptPorts, CommandsAndRepliesTravelOverThePort) {
    PrinterConfig config;
    config.version = "106";
    VirtualPrinter printer(config);
    VirtualLptPorts ports;
    ports.attach(3, &printer);
    auto port = ports.open("LPT3", PortAccess::ReadWrite);
    std::uint32_t written = 0;
    ASSERT_TRUE(port->write(kVersionQuery.data(), 7, written));
    EXPECT_EQ(written, 7u);
    std::array<std::uint8_t, 255> reply{};
    std::uint32_t got = 0;
    ASSERT_TRUE(port->read(reply.data(), 10, got));
    ASSERT_EQ(got, 10u);
    EXPECT_EQ(std::string(reply.begin() + 7, reply.begin() + 10), "106");
    ASSERT_EQ(printer.commands().size(), 1u);
    EXPECT_EQ(printer.commands()[0], kVersionQuery);
}

TEST(VirtualLptPorts, WriteOnlyPortCannotRead) {
    VirtualPrinter printer;
    VirtualLptPorts ports;
    ports.attach(1, &printer);
    auto port = ports.open("LPT1", PortAccess::WriteOnly);
    std::array<std::uint8_t, 16> buf{};
    std::uint32_t got = 5;
    EXPECT_FALSE(port->read(buf.data(), 16, got));
    EXPECT_EQ(got, 0u);
    EXPECT_EQ(port->last_error_text(), "Access is denied.");
}

TEST(VirtualLptPorts, ImageDataThatThePrinterStopsTakingTimesOut) {
    struct Row {
        std::uint64_t fail_after;
        bool first_ok, second_ok;
        std::uint32_t second_written;
    };
    // Two blocks of 100 bytes after an accepted download command.
    const std::vector<Row> rows{{1000, true, true, 100}, {150, true, true, 50}, {100, true, false, 0},
                                {0, false, false, 0}};
    for (const Row& row : rows) {
        PrinterConfig config;
        config.fail_write_after = row.fail_after;
        VirtualPrinter printer(config);
        VirtualLptPorts ports;
        ports.attach(1, &printer);
        auto port = ports.open("LPT1", PortAccess::ReadWrite);
        std::uint32_t written = 0;
        ASSERT_TRUE(port->write(kDownload.data(), 7, written));
        std::array<std::uint8_t, 255> reply{};
        std::uint32_t got = 0;
        ASSERT_TRUE(port->read(reply.data(), 255, got));
        std::vector<std::uint8_t> block(100, 0x5A);
        EXPECT_EQ(port->write(block.data(), 100, written), row.first_ok) << row.fail_after;
        EXPECT_EQ(port->write(block.data(), 100, written), row.second_ok) << row.fail_after;
        EXPECT_EQ(written, row.second_written) << row.fail_after;
        if (row.second_written != 100) {
            EXPECT_EQ(port->last_error_text(), "The semaphore timeout period has expired.");
        }
    }
}

TEST(VirtualLptPorts, TimeoutsStayWithThePortAndFailOnDemand) {
    VirtualLptPorts ports;
    VirtualLptPorts::Faults faults;
    faults.fail_timeouts_from = 3;
    ports.set_faults(faults);
    const CommTimeouts set{200, 0, 1000, 0, 2000};
    CommTimeouts read{};
    {
        auto port = ports.open("LPT2", PortAccess::ReadWrite);
        EXPECT_TRUE(port->get_timeouts(read));
        EXPECT_TRUE(port->set_timeouts(set));
    }
    auto again = ports.open("LPT2", PortAccess::WriteOnly);
    ASSERT_TRUE(again->get_timeouts(read));
    EXPECT_EQ(read.read_interval, 200u);
    EXPECT_EQ(read.read_total_constant, 1000u);
    EXPECT_EQ(read.write_total_constant, 2000u);
    EXPECT_EQ(ports.timeouts(2).write_total_constant, 2000u);
    EXPECT_FALSE(again->get_timeouts(read));
    EXPECT_FALSE(again->get_timeouts(read));
}

TEST(VirtualLptPorts, OpenWriteAndReadFaultsStartAtTheNthCall) {
    VirtualPrinter printer;
    VirtualLptPorts ports;
    ports.attach(1, &printer);
    VirtualLptPorts::Faults faults;
    faults.fail_open_from = 2;
    faults.fail_writes_from = 2;
    faults.fail_reads_from = 2;
    ports.set_faults(faults);
    auto port = ports.open("LPT1", PortAccess::ReadWrite);
    ASSERT_NE(port, nullptr);
    std::uint32_t written = 0;
    std::array<std::uint8_t, 255> reply{};
    std::uint32_t got = 0;
    EXPECT_TRUE(port->write(kVersionQuery.data(), 7, written));
    EXPECT_TRUE(port->read(reply.data(), 10, got));
    EXPECT_EQ(got, 10u);
    EXPECT_FALSE(port->write(kVersionQuery.data(), 7, written));
    EXPECT_EQ(printer.commands().size(), 1u) << "a failed write sends nothing";
    EXPECT_TRUE(port->read(reply.data(), 10, got));
    EXPECT_EQ(got, 0u) << "the second read times out";
    port.reset();
    EXPECT_EQ(ports.open("LPT1", PortAccess::ReadWrite), nullptr);
    EXPECT_EQ(ports.opens(), 2u);
}

TEST(VirtualLptPorts, PortMayOutliveItsMachine) {
    std::unique_ptr<ParallelPort> port;
    {
        VirtualLptPorts ports;
        port = ports.open("LPT1", PortAccess::ReadWrite);
    }
    CommTimeouts t{};
    EXPECT_TRUE(port->get_timeouts(t));
    port.reset();
}

}  // namespace
}  // namespace fwup::sim
