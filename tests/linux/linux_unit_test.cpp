// The Linux adapters' pure parts: device-ID text from libieee1284's buffer,
// port names, the platform answer and the driver's request numbers.
#include <gtest/gtest.h>

#include <array>
#include <optional>
#include <string>
#include <vector>

#include "app/linux/ieee1284_device_id.h"
#include "app/linux/linux_parallel_ports.h"
#include "app/linux/linux_system.h"
#include "app/platform/platform_flags.h"
#include "usbport/linux/usblp_device_layer.h"

namespace fwup {
namespace {

struct IdRow {
    const char* name;
    std::vector<char> buffer;  // what the library left, the rest of the area zero
    long result;
    std::optional<std::string> text;
};

TEST(DeviceIdText, TakesTheBytesAfterTheLengthFieldUpToTheTerminator) {
    const std::string id = "MFG:Virtual;MODEL:VP-1000;";
    auto with_field = [&](char hi, char lo, const std::string& text) {
        std::vector<char> bytes{hi, lo};
        bytes.insert(bytes.end(), text.begin(), text.end());
        return bytes;
    };
    const std::vector<IdRow> rows{
        {"length counts itself", with_field(0, 28, id), 29, id},
        {"length counts the text only", with_field(0, 26, id), 29, id},
        {"little-endian length", with_field(28, 0, id), 29, id},
        {"count without the terminator", with_field(0, 28, id), 28, id},
        {"count without the length field", with_field(0, 28, id), 26, id},
        {"length field far too large", with_field('\x7f', '\x7f', id), 29, id},
        {"nothing after the length field", with_field(0, 2, ""), 3, std::nullopt},
        {"the library failed", with_field(0, 28, id), -9, std::nullopt},
    };
    for (const IdRow& row : rows) {
        std::array<char, 64> area{};
        std::copy(row.buffer.begin(), row.buffer.end(), area.begin());
        EXPECT_EQ(device_id_text(area.data(), area.size(), row.result), row.text) << row.name;
    }
}

TEST(DeviceIdText, NeverReadsPastTheArea) {
    std::array<char, 8> area{};
    area.fill('X');  // no terminator anywhere
    EXPECT_EQ(device_id_text(area.data(), area.size(), 8), std::string(6, 'X'));
    EXPECT_EQ(device_id_text(area.data(), 2, 2), std::nullopt);
}

TEST(Ieee1284DeviceIdSource, APortThatIsNotThereGivesNoId) {
    Ieee1284DeviceIdSource source;
    EXPECT_EQ(source.device_id(97), std::nullopt);
}

class NoIds final : public DeviceIdSource {
public:
    std::optional<std::string> device_id(std::uint32_t) override { return std::nullopt; }
};

TEST(LinuxParallelPorts, NamesTheKernelsPrinterPorts) {
    NoIds ids;
    const LinuxParallelPorts ports(ids, "/dev");
    const std::vector<std::pair<std::string, std::string>> rows{
        {"LPT1", "/dev/lp0"}, {"LPT2", "/dev/lp1"}, {"LPT3", "/dev/lp2"}, {"lpt2", "/dev/lp1"},
        {"LPT0", ""},         {"LPT4", ""},         {"LPT10", ""},        {"COM1", ""},
        {"", ""},             {"LPT", ""},
    };
    for (const auto& [name, node] : rows) EXPECT_EQ(ports.node_path(name), node) << name;
}

TEST(LinuxParallelPorts, AnUnknownNameOpensNothing) {
    NoIds ids;
    LinuxParallelPorts ports(ids, "/nonexistent");
    EXPECT_EQ(ports.open("LPT4", PortAccess::ReadWrite), nullptr);
    EXPECT_EQ(ports.open("LPT1", PortAccess::ReadWrite), nullptr);  // no such node
}

// The program and the USB port library must take Linux for the same system:
// the program loads the library only on Windows 98 or 2000, and the library
// searches the class with members (the system's USB printing class) only on
// an NT 5.x system.
TEST(LinuxPlatform, ProgramAndLibraryBothSeeAnNt5System) {
    LinuxOsVersion os;
    const PlatformFlags flags = detect_platform(os);
    EXPECT_TRUE(flags.is_nt);
    EXPECT_TRUE(flags.is_win2000);
    EXPECT_FALSE(flags.is_win98);

    veltport::UsblpDeviceLayer layer;
    const auto version = layer.query_os_version();
    ASSERT_TRUE(version.has_value());
    EXPECT_EQ(version->platform_id, veltport::OsVersionInfo::kWin32Nt);
    EXPECT_EQ(version->major, 5u);
    EXPECT_EQ(version->platform_id, LinuxOsVersion::kAnswer.platform_id);
    EXPECT_EQ(version->major, LinuxOsVersion::kAnswer.major);
}

TEST(UsblpRequests, MatchTheDriversNumbers) {
    EXPECT_EQ(veltport::lpioc_get_device_id(1024), 0x84005001u);
    EXPECT_EQ(veltport::lpioc_get_vid_pid(8), 0x80085006u);
}

}  // namespace
}  // namespace fwup
