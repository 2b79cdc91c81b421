#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "core/config/profile_reader.h"
#include "sim/machine/machine_config.h"

namespace fwup::sim {
namespace {

std::optional<MachineConfig> parse(const std::string& text, std::string& error,
                                   const std::filesystem::path& file = "/vm/box.ini") {
    return read_machine_config(Profile::parse(text), file, error);
}

TEST(MachineFile, EmptyFileIsAWindows2000MachineWithNothingAttached) {
    std::string error;
    const auto config = parse("", error);
    ASSERT_TRUE(config) << error;
    EXPECT_EQ(config->os.platform_id, 2u);
    EXPECT_EQ(config->os.major, 5u);
    EXPECT_EQ(config->os.minor, 0u);
    EXPECT_EQ(config->library, LibraryPresence::Present);
    EXPECT_EQ(config->clock, ClockKind::Real);
    EXPECT_TRUE(config->printers.empty());
}

TEST(MachineFile, PrinterSectionDefaultsToAHealthyUsbPrinter) {
    std::string error;
    const auto config = parse("[Printer]\n", error);
    ASSERT_TRUE(config) << error;
    ASSERT_EQ(config->printers.size(), 1u);
    const PrinterSetup& p = config->printers[0];
    EXPECT_EQ(p.lpt, 0);
    EXPECT_EQ(p.printer.vendor_id, 0x043D);
    EXPECT_EQ(p.printer.version, "100");
    EXPECT_EQ(p.printer.esc, 0);
    EXPECT_EQ(p.printer.download_status, 0);
    EXPECT_EQ(p.printer.demo_status, 0);
    EXPECT_EQ(p.printer.device_id_failures, 0u);
    EXPECT_EQ(p.printer.short_replies, 0u);
    EXPECT_FALSE(p.printer.fail_write_after);
    EXPECT_TRUE(p.openable);
    EXPECT_TRUE(p.received_image.empty());
    EXPECT_TRUE(p.transcript.empty());
}

TEST(MachineFile, ReadsEveryKey) {
    std::string error;
    const auto config = parse(
        "[Machine]\nPlatform=1\nMajor=4\nMinor=10\nLibrary=Incomplete\nClock=virtual\n"
        "LptOpenFailsFrom=3\nLptTimeoutsFailFrom=0x4\nLptWritesFailFrom=5\nLptReadsFailFrom=6\nLptShortWritesFrom=7\n"
        "[Printer]\nPort=lpt2\nDeviceID=MFG:X;MODEL:Y Z;\nVendorID=0x0550\nVersion=1A\nEsc=1\n"
        "DownloadStatus=0xFF\nDemoStatus=2\nDeviceIDFailures=2\nShortReplies=1\nFailWriteAfter=8192\n"
        "VersionAfterUpgrade=106\nReceivedImage=out/image.bin\nTranscript=/tmp/t.txt\n"
        "[Printer3]\nVendorID=1085\nOpenable=0\nFailWriteAfter=never\nVersionAfterUpgrade=None\n",
        error);
    ASSERT_TRUE(config) << error;
    EXPECT_EQ(config->os.platform_id, 1u);
    EXPECT_EQ(config->os.major, 4u);
    EXPECT_EQ(config->os.minor, 10u);
    EXPECT_EQ(config->library, LibraryPresence::Incomplete);
    EXPECT_EQ(config->clock, ClockKind::Virtual);
    EXPECT_EQ(config->lpt_faults.fail_open_from, 3u);
    EXPECT_EQ(config->lpt_faults.fail_timeouts_from, 4u);
    EXPECT_EQ(config->lpt_faults.fail_writes_from, 5u);
    EXPECT_EQ(config->lpt_faults.fail_reads_from, 6u);
    EXPECT_EQ(config->lpt_faults.short_writes_from, 7u);
    ASSERT_EQ(config->printers.size(), 2u);
    const PrinterSetup& p = config->printers[0];
    EXPECT_EQ(p.section, "Printer");
    EXPECT_EQ(p.lpt, 2);
    EXPECT_EQ(p.printer.device_id, "MFG:X;MODEL:Y Z;");
    EXPECT_EQ(p.printer.vendor_id, 0x0550);
    EXPECT_EQ(p.printer.version, "1A");
    EXPECT_EQ(p.printer.esc, 1);
    EXPECT_EQ(p.printer.download_status, 0xFF);
    EXPECT_EQ(p.printer.demo_status, 2);
    EXPECT_EQ(p.printer.device_id_failures, 2u);
    EXPECT_EQ(p.printer.short_replies, 1u);
    EXPECT_EQ(p.printer.fail_write_after, std::optional<std::uint64_t>(8192));
    EXPECT_EQ(p.printer.version_after_upgrade, std::optional<std::string>("106"));
    EXPECT_TRUE(p.printer.answers_after_upgrade);
    EXPECT_EQ(p.received_image, std::filesystem::path("/vm/out/image.bin")) << "relative to the file's folder";
    EXPECT_EQ(p.transcript, std::filesystem::path("/tmp/t.txt"));
    const PrinterSetup& third = config->printers[1];
    EXPECT_EQ(third.section, "Printer3");
    EXPECT_EQ(third.lpt, 0);
    EXPECT_EQ(third.printer.vendor_id, 1085);
    EXPECT_FALSE(third.openable);
    EXPECT_FALSE(third.printer.fail_write_after);
    EXPECT_EQ(third.printer.version_after_upgrade, std::optional<std::string>("100")) << "restarts, then silent";
    EXPECT_FALSE(third.printer.answers_after_upgrade);
}

TEST(MachineFile, RefusesEveryInvalidValueNamingFileKeyAndValue) {
    struct Row {
        std::string text;
        std::string section_key;  // "[Section] Key"
        std::string value;
    };
    const std::vector<Row> rows{
        {"[Machine]\nPlatform=3\n", "[Machine] Platform", "3"},
        {"[Machine]\nPlatform=\n", "[Machine] Platform", ""},
        {"[Machine]\nMajor=-1\n", "[Machine] Major", "-1"},
        {"[Machine]\nMinor=ten\n", "[Machine] Minor", "ten"},
        {"[Machine]\nMinor=4294967296\n", "[Machine] Minor", "4294967296"},
        {"[Machine]\nLibrary=absent\n", "[Machine] Library", "absent"},
        {"[Machine]\nClock=fast\n", "[Machine] Clock", "fast"},
        {"[Machine]\nLptOpenFailsFrom=0x\n", "[Machine] LptOpenFailsFrom", "0x"},
        {"[Machine]\nLptTimeoutsFailFrom=1.5\n", "[Machine] LptTimeoutsFailFrom", "1.5"},
        {"[Machine]\nLptWritesFailFrom=+2\n", "[Machine] LptWritesFailFrom", "+2"},
        {"[Machine]\nLptReadsFailFrom=one\n", "[Machine] LptReadsFailFrom", "one"},
        {"[Printer]\nPort=LPT4\n", "[Printer] Port", "LPT4"},
        {"[Printer]\nPort=COM1\n", "[Printer] Port", "COM1"},
        {"[Printer]\nVendorID=0x10000\n", "[Printer] VendorID", "0x10000"},
        {"[Printer]\nVendorID=43D\n", "[Printer] VendorID", "43D"},
        {"[Printer]\nVersion=1060\n", "[Printer] Version", "1060"},
        {"[Printer]\nEsc=2\n", "[Printer] Esc", "2"},
        {"[Printer]\nDownloadStatus=256\n", "[Printer] DownloadStatus", "256"},
        {"[Printer]\nDemoStatus=busy\n", "[Printer] DemoStatus", "busy"},
        {"[Printer]\nDeviceIDFailures=-3\n", "[Printer] DeviceIDFailures", "-3"},
        {"[Printer]\nShortReplies=x\n", "[Printer] ShortReplies", "x"},
        {"[Printer]\nFailWriteAfter=soon\n", "[Printer] FailWriteAfter", "soon"},
        {"[Printer]\nVersionAfterUpgrade=1060\n", "[Printer] VersionAfterUpgrade", "1060"},
        {"[Printer]\nOpenable=yes\n", "[Printer] Openable", "yes"},
        {"[Printer]\nReceivedImage=\n", "[Printer] ReceivedImage", ""},
        {"[Printer]\nTranscript=\n", "[Printer] Transcript", ""},
        {"[Printer]\nPort=LPT1\n[Printer2]\nPort=lpt1\n", "[Printer2] Port", "LPT1"},
        {"[Printer]\nReceivedImage=a.bin\n[Printer3]\nReceivedImage=./a.bin\n", "[Printer3] ReceivedImage",
         "/vm/a.bin"},
        {"[Printer]\nTranscript=/t\n[Printer2]\nTranscript=/t\n", "[Printer2] Transcript", "/t"},
        {"[Printer2]\nEsc=on\n", "[Printer2] Esc", "on"},
    };
    for (const Row& row : rows) {
        std::string error;
        EXPECT_FALSE(parse(row.text, error)) << row.text;
        EXPECT_EQ(error.rfind("/vm/box.ini: " + row.section_key + "=\"" + row.value + "\" is invalid: ", 0), 0u)
            << row.text << "\n" << error;
    }
}

TEST(MachineFile, RelativePathsResolveAgainstTheFilesFolder) {
    const std::filesystem::path dir =
        std::filesystem::temp_directory_path() / ("fwup-machine-file-test-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    const std::filesystem::path file = dir / "vm.ini";
    std::ofstream(file) << "[Printer]\nTranscript=log/t.txt\nReceivedImage=../img.bin\n";
    std::string error;
    const auto config = read_machine_file(file, error);
    ASSERT_TRUE(config) << error;
    EXPECT_EQ(config->printers.at(0).transcript, (dir / "log/t.txt").lexically_normal());
    EXPECT_EQ(config->printers.at(0).received_image, (dir / "../img.bin").lexically_normal());
    std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace fwup::sim
