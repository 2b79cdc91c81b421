#include "sim/machine/virtual_machine.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <array>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "sim/usb/usb_device_tree.h"
#include "veltport.h"

namespace fwup::sim {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

const Bytes kVersionQuery{0xA5, 0x00, 0x04, 0x50, 0xE0, 0x82, 0x06};
const Bytes kDownload{0xA5, 0x00, 0x04, 0x50, 0xE0, 0x82, 0x05};

class TempDir {
public:
    TempDir() : path_(fs::temp_directory_path() / ("fwup-vm-" + std::to_string(::getpid()) + "-" +
                                                    std::to_string(++counter_))) {
        fs::remove_all(path_);
        fs::create_directories(path_);
    }
    ~TempDir() { fs::remove_all(path_); }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const fs::path& path() const { return path_; }

private:
    static inline int counter_ = 0;
    fs::path path_;
};

std::string slurp(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::unique_ptr<VirtualMachine> make(const MachineConfig& config) {
    std::string error;
    auto machine = VirtualMachine::create(config, error);
    EXPECT_TRUE(machine) << error;
    return machine;
}

PrinterSetup lpt_printer(int port) {
    PrinterSetup p;
    p.section = "Printer";
    p.lpt = port;
    return p;
}

PrinterSetup usb_printer(const std::string& id) {
    PrinterSetup p;
    p.section = "Printer";
    p.printer.device_id = id;
    return p;
}

TEST(VirtualMachine, UsbPrintersAppearInTheClassOfTheirSystem) {
    struct Row {
        OsVersion os;
        bool maker_class;
    };
    for (const Row& row : std::vector<Row>{{{1, 4, 10}, true}, {{1, 4, 90}, true}, {{2, 5, 0}, false},
                                            {{2, 4, 0}, false}}) {
        MachineConfig config;
        config.os = row.os;
        config.printers = {usb_printer("A"), usb_printer("B"), lpt_printer(3)};
        auto machine = make(config);
        EXPECT_EQ(machine->usb().member_count(veltport::CORVANE_USB_GUID), row.maker_class ? 2u : 0u);
        EXPECT_EQ(machine->usb().member_count(veltport::MS_USBPRINT_GUID), row.maker_class ? 0u : 2u);
        EXPECT_EQ(machine->printer_count(), 3u);
        std::optional<OsVersion> reported = machine->os_version().query();
        ASSERT_TRUE(reported);
        EXPECT_EQ(reported->minor, row.os.minor);
    }
}

TEST(VirtualMachine, LibraryIsPresentMissingOrIncomplete) {
    struct Row {
        LibraryPresence presence;
        bool loads;
        bool read_export;
    };
    for (const Row& row : std::vector<Row>{{LibraryPresence::Present, true, true},
                                            {LibraryPresence::Missing, false, false},
                                            {LibraryPresence::Incomplete, true, false}}) {
        MachineConfig config;
        config.library = row.presence;
        auto machine = make(config);
        auto library = machine->library_loader().load(".\\veltport.dll");
        ASSERT_EQ(library != nullptr, row.loads);
        EXPECT_EQ(machine->library_loaded(), row.loads);
        if (!library) continue;
        EXPECT_NE(library->find_export("GetDeviceID"), nullptr);
        EXPECT_NE(library->find_export("WriteToUsbPort"), nullptr);
        EXPECT_EQ(library->find_export("ReadFromUsbPort") != nullptr, row.read_export);
        EXPECT_EQ(library->find_export("NoSuchExport"), nullptr);
        library.reset();
        EXPECT_FALSE(machine->library_loaded());
    }
}

TEST(VirtualMachine, OneLibraryInstanceServesOneMachineAtATime) {
    MachineConfig config;
    auto first = make(config);
    auto second = make(config);
    auto library = first->library_loader().load("veltport");
    ASSERT_NE(library, nullptr);
    EXPECT_EQ(second->library_loader().load("veltport"), nullptr);
    // The machine going first must not leave the instance on its device tree.
    first.reset();
    auto again = second->library_loader().load("veltport");
    ASSERT_NE(again, nullptr);
    library.reset();
    EXPECT_TRUE(second->library_loaded()) << "the old handle does not unbind the new owner";
}

TEST(VirtualMachine, RealLibraryFindsTheFirstPrinterThatOpens) {
    MachineConfig config;
    config.printers = {usb_printer("MODEL:Held;"), usb_printer("MODEL:Free;")};
    config.printers[0].openable = false;
    config.printers[1].section = "Printer2";
    auto machine = make(config);
    auto library = machine->library_loader().load("veltport");
    ASSERT_NE(library, nullptr);
    const auto get_device_id = reinterpret_cast<GetDeviceIDFn>(library->find_export("GetDeviceID"));
    std::array<char, 256> id{};
    std::uint32_t capacity = 255;
    ASSERT_EQ(get_device_id(id.data(), &capacity), 1);
    EXPECT_STREQ(id.data(), "MODEL:Free;");
    library.reset();
    EXPECT_EQ(machine->open_usb_handles(), 0);
}

TEST(VirtualMachine, UsbTransfersKeepNoPerCallLog) {
    MachineConfig config;
    config.printers = {usb_printer("MODEL:Any;")};
    auto machine = make(config);
    auto library = machine->library_loader().load("veltport");
    ASSERT_NE(library, nullptr);
    const auto get_device_id = reinterpret_cast<GetDeviceIDFn>(library->find_export("GetDeviceID"));
    const auto write = reinterpret_cast<WriteToUsbPortFn>(library->find_export("WriteToUsbPort"));
    std::array<char, 256> id{};
    std::uint32_t capacity = 255;
    ASSERT_EQ(get_device_id(id.data(), &capacity), 1);
    const std::array<unsigned char, 8192> block{};
    for (int i = 0; i < 50; ++i) {
        std::uint32_t written = 0;
        ASSERT_EQ(write(block.data(), static_cast<std::uint32_t>(block.size()), &written, "10000"), 0);
    }
    // Memory must not grow with the image: only the counters move.
    EXPECT_GE(machine->usb().counters().opens, 50u);
    EXPECT_TRUE(machine->usb().open_calls().empty());
}

TEST(VirtualMachine, TranscriptHasOneTimedHexLinePerCommandAndAppends) {
    TempDir dir;
    const fs::path transcript = dir.path() / "t.txt";
    std::ofstream(transcript) << "earlier line\n";
    MachineConfig config;
    config.clock = ClockKind::Virtual;
    config.printers = {lpt_printer(1)};
    config.printers[0].transcript = transcript;
    {
        auto machine = make(config);
        auto port = machine->parallel_ports().open("LPT1", PortAccess::ReadWrite);
        std::uint32_t written = 0;
        machine->clock().sleep_ms(600);
        ASSERT_TRUE(port->write(kVersionQuery.data(), 7, written));
        machine->clock().sleep_ms(1000);
        const Bytes esc{0x1B, 0xA5, 0x00, 0x04, 0x50, 0xE0, 0x82, 0x05};
        ASSERT_TRUE(port->write(esc.data(), 8, written));
    }
    EXPECT_EQ(slurp(transcript), "earlier line\n600 A5 00 04 50 E0 82 06\n1600 1B A5 00 04 50 E0 82 05\n");
}

TEST(VirtualMachine, ReceivedImageHoldsExactlyTheImageBytesAndStartsEmpty) {
    TempDir dir;
    const fs::path received = dir.path() / "image.bin";
    std::ofstream(received) << "stale content from an earlier run";
    MachineConfig config;
    config.printers = {lpt_printer(2)};
    config.printers[0].received_image = received;
    Bytes image(70000);
    for (std::size_t i = 0; i < image.size(); ++i) image[i] = static_cast<std::uint8_t>(i * 31 + 7);
    {
        auto machine = make(config);
        EXPECT_EQ(fs::file_size(received), 0u);
        auto port = machine->parallel_ports().open("LPT2", PortAccess::ReadWrite);
        std::uint32_t n = 0;
        ASSERT_TRUE(port->write(kDownload.data(), 7, n));
        std::array<std::uint8_t, 255> reply{};
        ASSERT_TRUE(port->read(reply.data(), 255, n));
        for (std::size_t at = 0; at < image.size(); at += 8192) {
            const auto len = static_cast<std::uint32_t>(std::min<std::size_t>(8192, image.size() - at));
            ASSERT_TRUE(port->write(image.data() + at, len, n));
        }
        // Whole on disk once the last block is taken, while the machine runs
        // on (the program then shows "Writing complete...." and waits).
        const std::string got = slurp(received);
        EXPECT_TRUE(Bytes(got.begin(), got.end()) == image) << got.size() << " of " << image.size() << " bytes";
        EXPECT_EQ(machine->printer(0).image_sha256(), sha256_hex(image.data(), image.size()));
        EXPECT_EQ(machine->recording_problem(), "");
    }
    const std::string got = slurp(received);
    EXPECT_TRUE(Bytes(got.begin(), got.end()) == image);
}

TEST(VirtualMachine, RecordingFileThatCannotBeCreatedIsRefusedNamingIt) {
    TempDir dir;
    for (const char* key : {"ReceivedImage", "Transcript"}) {
        MachineConfig config;
        config.file = dir.path() / "vm.ini";
        config.printers = {lpt_printer(1)};
        const fs::path bad = dir.path() / "no-such-folder" / "x.bin";
        (std::string(key) == "Transcript" ? config.printers[0].transcript : config.printers[0].received_image) = bad;
        std::string error;
        EXPECT_FALSE(VirtualMachine::create(config, error));
        EXPECT_EQ(error, config.file.string() + ": [Printer] " + key + "=\"" + bad.string() +
                             "\" is invalid: the file cannot be created");
    }
}

TEST(VirtualMachine, LoadsAFileRelativeToItsFolder) {
    TempDir dir;
    fs::create_directories(dir.path() / "vm");
    std::ofstream(dir.path() / "vm" / "box.ini") << "[Machine]\nPlatform=1\nMinor=10\nClock=virtual\n"
                                                    "[Printer]\nPort=LPT3\nTranscript=t.txt\n";
    std::string error;
    auto machine = load_virtual_machine(dir.path() / "vm" / "box.ini", error);
    ASSERT_TRUE(machine) << error;
    EXPECT_TRUE(fs::exists(dir.path() / "vm" / "t.txt"));
    EXPECT_EQ(machine->config().printers.at(0).lpt, 3);
    machine->clock().sleep_ms(5000);
    EXPECT_EQ(machine->uptime_ms(), 5000u) << "a virtual clock waits no real time";
    EXPECT_FALSE(load_virtual_machine(dir.path() / "vm" / "missing.ini", error));
    EXPECT_NE(error.find("missing.ini: cannot read the virtual machine file"), std::string::npos);
}

}  // namespace
}  // namespace fwup::sim
