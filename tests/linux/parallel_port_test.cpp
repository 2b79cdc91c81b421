// The printer-port adapter against /dev/lpN nodes faked with umockdev: the
// comm time-outs carried out with poll(), the port names, the device ID.
#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <map>
#include <string>
#include <vector>

#include "adapters/linux/linux_parallel_ports.h"
#include "tests/linux/fake_devices.h"

namespace fwup::test {
namespace {

using std::chrono::milliseconds;
using SteadyClock = std::chrono::steady_clock;

class ScriptedIds final : public DeviceIdSource {
public:
    std::optional<std::string> device_id(std::uint32_t index) override {
        asked.push_back(index);
        const auto found = ids.find(index);
        if (found == ids.end()) return std::nullopt;
        return found->second;
    }
    std::map<std::uint32_t, std::string> ids;
    std::vector<std::uint32_t> asked;
};

std::string drain(int end) {
    std::string bytes;
    std::array<char, 4096> chunk{};
    pollfd entry{end, POLLIN, 0};
    while (::poll(&entry, 1, 100) > 0 && (entry.revents & POLLIN) != 0) {
        const ssize_t n = ::read(end, chunk.data(), chunk.size());
        if (n <= 0) break;
        bytes.append(chunk.data(), static_cast<std::size_t>(n));
    }
    return bytes;
}

class ParallelPortTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!FakeDevices::available()) GTEST_SKIP() << "run under umockdev-wrapper";
    }
    FakeDevices devices;
    ScriptedIds ids;
};

TEST_F(ParallelPortTest, LptNamesOpenTheKernelsPrinterPorts) {
    const int lp0 = devices.add_node("lp0", "printer");
    const int lp2 = devices.add_node("lp2", "printer");
    LinuxParallelPorts ports(ids);
    const std::vector<std::pair<std::string, int>> rows{{"LPT1", lp0}, {"LPT2", -1}, {"LPT3", lp2}, {"LPT4", -1}};
    for (const auto& [name, end] : rows) {
        auto port = ports.open(name, PortAccess::ReadWrite);
        EXPECT_EQ(port != nullptr, end >= 0) << name;
        if (!port) continue;
        std::uint32_t written = 0;
        ASSERT_TRUE(port->write(reinterpret_cast<const std::uint8_t*>(name.data()), 4, written)) << name;
        EXPECT_EQ(written, 4u);
        EXPECT_EQ(drain(end), name);
    }
}

TEST_F(ParallelPortTest, AReadEndsWithWhatCameWhenATimeOutRunsOut) {
    struct Row {
        const char* name;
        std::string waiting;  // bytes the printer has sent
        CommTimeouts timeouts;
        std::uint32_t length;
        std::uint32_t got;
        milliseconds at_least;
        milliseconds well_before;  // far below the longest time-out in play
    };
    const std::uint32_t kAtOnce = 0xFFFFFFFFu;
    const std::vector<Row> rows{
        {"the whole reply", "0123456789", {200, 0, 1000, 0, 0}, 10, 10, milliseconds(0), milliseconds(900)},
        {"part of it, then the total time-out", "01234", {0, 0, 100, 0, 0}, 10, 5, milliseconds(100),
         milliseconds(5000)},
        {"nothing", "", {0, 0, 100, 0, 0}, 10, 0, milliseconds(100), milliseconds(5000)},
        {"the multiplier counts per byte", "", {0, 20, 0, 0, 0}, 5, 0, milliseconds(100), milliseconds(5000)},
        {"the interval after the first bytes", "0123", {50, 0, 5000, 0, 0}, 10, 4, milliseconds(50),
         milliseconds(4000)},
        {"at once with what is there", "abc", {kAtOnce, 0, 0, 0, 0}, 10, 3, milliseconds(0), milliseconds(900)},
        {"at once with nothing", "", {kAtOnce, 0, 0, 0, 0}, 10, 0, milliseconds(0), milliseconds(900)},
    };
    for (const Row& row : rows) {
        FakeDevices bed;
        const int end = bed.add_node("lp0", "printer");
        LinuxParallelPorts ports(ids);
        auto port = ports.open("LPT1", PortAccess::ReadWrite);
        ASSERT_NE(port, nullptr) << row.name;
        ASSERT_TRUE(port->set_timeouts(row.timeouts));
        if (!row.waiting.empty()) {
            ASSERT_EQ(::write(end, row.waiting.data(), row.waiting.size()),
                      static_cast<ssize_t>(row.waiting.size()));
        }
        std::array<std::uint8_t, 255> buffer{};
        std::uint32_t got = 99;
        const auto start = SteadyClock::now();
        ASSERT_TRUE(port->read(buffer.data(), row.length, got)) << row.name;
        const auto elapsed = SteadyClock::now() - start;
        EXPECT_EQ(got, row.got) << row.name;
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(buffer.data()), got), row.waiting.substr(0, got))
            << row.name;
        EXPECT_GE(elapsed, row.at_least) << row.name;
        EXPECT_LT(elapsed, row.well_before) << row.name;
    }
}

TEST_F(ParallelPortTest, AWriteThePrinterDoesNotTakeFailsAfterItsTimeOut) {
    devices.add_node("lp0", "printer");  // nobody takes the data
    LinuxParallelPorts ports(ids);
    auto port = ports.open("LPT1", PortAccess::WriteOnly);
    ASSERT_NE(port, nullptr);
    ASSERT_TRUE(port->set_timeouts(CommTimeouts{200, 0, 1000, 0, 100}));
    const std::vector<std::uint8_t> block(64 * 1024, 0x42);
    std::uint32_t written = 0;
    const auto start = SteadyClock::now();
    EXPECT_FALSE(port->write(block.data(), static_cast<std::uint32_t>(block.size()), written));
    EXPECT_GE(SteadyClock::now() - start, milliseconds(100));
    EXPECT_GT(written, 0u);
    EXPECT_LT(written, block.size());
    EXPECT_EQ(port->last_error_text(), std::generic_category().message(ETIMEDOUT));
}

TEST_F(ParallelPortTest, AWriteOnlyPortCannotBeRead) {
    const int end = devices.add_node("lp0", "printer");
    LinuxParallelPorts ports(ids);
    auto port = ports.open("LPT1", PortAccess::WriteOnly);
    ASSERT_NE(port, nullptr);
    ASSERT_TRUE(port->set_timeouts(CommTimeouts{200, 0, 100, 0, 100}));
    ASSERT_EQ(::write(end, "xyz", 3), 3);
    std::array<std::uint8_t, 16> buffer{};
    std::uint32_t got = 0;
    EXPECT_FALSE(port->read(buffer.data(), 10, got));
    EXPECT_EQ(got, 0u);
    EXPECT_FALSE(port->last_error_text().empty());
}

TEST_F(ParallelPortTest, TheIdentificationQueryDeliversTheBareText) {
    devices.add_node("lp1", "printer");
    ids.ids[1] = "MFG:Virtual;MODEL:VP-1000;";
    LinuxParallelPorts ports(ids);
    auto port = ports.open("LPT2", PortAccess::ReadWrite);
    ASSERT_NE(port, nullptr);

    std::array<std::uint8_t, 256> buffer{};
    buffer.fill(0xEE);
    std::uint32_t returned = 0;
    ASSERT_TRUE(port->query_device_id(buffer.data(), 255, returned));
    EXPECT_EQ(returned, 26u);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(buffer.data())), "MFG:Virtual;MODEL:VP-1000;");
    EXPECT_EQ(ids.asked, std::vector<std::uint32_t>{1});

    buffer.fill(0xEE);
    ASSERT_TRUE(port->query_device_id(buffer.data(), 10, returned));
    EXPECT_EQ(returned, 10u);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(buffer.data()), 10), "MFG:Virtua");
    EXPECT_EQ(buffer[10], 0xEE);  // nothing written past the capacity

    ids.ids.clear();
    EXPECT_FALSE(port->query_device_id(buffer.data(), 255, returned));
    EXPECT_EQ(returned, 0u);
}

}  // namespace
}  // namespace fwup::test
