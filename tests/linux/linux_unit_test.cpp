// The Linux adapters' pure parts: device-ID text from libieee1284's buffer,
// port names, the platform answer, where the USB port library is found and
// the driver's request numbers.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "adapters/linux/dl_library_loader.h"
#include "adapters/linux/ieee1284_device_id.h"
#include "adapters/linux/installed_library.h"
#include "adapters/linux/linux_parallel_ports.h"
#include "adapters/linux/linux_system.h"
#include "core/platform/platform_flags.h"
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
        std::vector<char> bytes;
        bytes.reserve(text.size() + 2);
        bytes.push_back(hi);
        bytes.push_back(lo);
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
    // usblp hands over a printer of any model: it is compared over USB too.
    EXPECT_TRUE(flags.usb_model_check);

    veltport::UsblpDeviceLayer layer;
    const auto version = layer.query_os_version();
    ASSERT_TRUE(version.has_value());
    EXPECT_EQ(version->platform_id, veltport::OsVersionInfo::kWin32Nt);
    EXPECT_EQ(version->major, 5u);
    EXPECT_EQ(version->platform_id, LinuxOsVersion::kAnswer.platform_id);
    EXPECT_EQ(version->major, LinuxOsVersion::kAnswer.major);
}

// Loads what it is asked for and records it; "loads" only the names it was given.
class RecordingLoader final : public LibraryLoader {
public:
    explicit RecordingLoader(std::set<std::string> loadable) : loadable_(std::move(loadable)) {}
    std::unique_ptr<LoadedLibrary> load(const std::string& path) override {
        loads.push_back(path);
        if (loadable_.count(path) == 0) return nullptr;
        struct Library final : LoadedLibrary {
            ExportAddress find_export(const char*) override { return nullptr; }
        };
        return std::make_unique<Library>();
    }
    std::vector<std::string> loads;

private:
    std::set<std::string> loadable_;
};

TEST(DlLibraryLoader, LoadsBySystemNameAndFindsExports) {
    DlLibraryLoader loader;
    EXPECT_FALSE(loader.load("./no-such-library.so"));
    auto library = loader.load("libc.so.6");
    ASSERT_TRUE(library);
    EXPECT_NE(library->find_export("strlen"), nullptr);
    EXPECT_EQ(library->find_export("NoSuchExport"), nullptr);
}

TEST(InstalledLibraryLoader, TheCurrentFoldersFileWinsOtherwiseTheInstalledOne) {
    const std::string here = ::testing::TempDir() + "libveltport-" + std::to_string(getpid()) + ".so";
    const std::string installed = "/opt/fw/bin/../lib/libveltport.so.1";
    struct Row {
        const char* name;
        bool file_here;              // the asked-for file exists
        std::string installed_path;  // empty: the program's own path is unknown
        std::set<std::string> loadable;
        std::vector<std::string> loads;
        bool loaded;
    };
    const std::vector<Row> rows{
        {"operator's own library", true, installed, {here, installed}, {here}, true},
        {"operator's file that fails to load is not passed over", true, installed, {installed}, {here}, false},
        {"none here: the installed one", false, installed, {installed}, {installed}, true},
        {"neither", false, installed, {}, {installed}, false},
        {"own path unknown", false, "", {installed}, {here}, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        std::remove(here.c_str());
        if (row.file_here) {
            std::FILE* file = std::fopen(here.c_str(), "w");
            ASSERT_NE(file, nullptr);
            std::fclose(file);
        }
        RecordingLoader system(row.loadable);
        InstalledLibraryLoader loader(system, row.installed_path);
        EXPECT_EQ(loader.load(here) != nullptr, row.loaded);
        EXPECT_EQ(system.loads, row.loads);
    }
    std::remove(here.c_str());
}

TEST(InstalledLibraryLoader, TheInstalledLibraryIsBesideThisProgramsFolder) {
    const std::string path = installed_library_path();
    std::array<char, 4096> self{};
    const ssize_t length = ::readlink("/proc/self/exe", self.data(), self.size() - 1);
    ASSERT_GT(length, 0);
    std::string folder(self.data(), static_cast<std::size_t>(length));
    folder.erase(folder.rfind('/') + 1);
    EXPECT_EQ(path.rfind(folder, 0), 0u) << path;
    EXPECT_EQ(path.substr(path.size() - std::string("/libveltport.so.1").size()), "/libveltport.so.1") << path;
    EXPECT_NE(path.find("/../lib"), std::string::npos) << path;
}

TEST(UsblpRequests, MatchTheDriversNumbers) {
    EXPECT_EQ(veltport::lpioc_get_device_id(1024), 0x84005001u);
    EXPECT_EQ(veltport::lpioc_get_vid_pid(8), 0x80085006u);
}

}  // namespace
}  // namespace fwup
