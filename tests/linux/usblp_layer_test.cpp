// The usblp device layer against nodes faked with umockdev: the layer's own
// system calls run, and the test plays the kernel's USB printer driver.
#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "adapters/linux/usblp_printers.h"
#include "tests/linux/fake_devices.h"
#include "tests/linux/fake_printers.h"
#include "usbport/core/usb_port_library.h"
#include "usbport/linux/usblp_device_layer.h"
#include "veltport.h"

namespace fwup::test {
namespace {

using veltport::Handle;
using veltport::kInvalidHandle;
using veltport::UsblpConfig;
using veltport::UsblpDeviceLayer;

constexpr std::uint32_t kErrorSemTimeout = 121;
constexpr std::uint32_t kErrorInsufficientBuffer = 122;

// Short time-outs keep the silent-printer cases quick; nothing here waits for
// them except those cases.
UsblpConfig test_config(std::vector<std::uint32_t>* sleeps = nullptr, std::string* out = nullptr) {
    UsblpConfig config;
    config.read_timeout_ms = 100;
    config.write_timeout_ms = 200;
    config.sleep = [sleeps](std::uint32_t ms) {
        if (sleeps != nullptr) sleeps->push_back(ms);
    };
    config.debug = [](const char*) {};
    config.out = [out](const char* text) {
        if (out != nullptr) *out += text;
    };
    return config;
}

// Everything the test's end of a node has received within `ms`.
std::string received(int end, int ms = 200) {
    std::string bytes;
    std::array<char, 4096> chunk{};
    pollfd entry{end, POLLIN, 0};
    while (::poll(&entry, 1, ms) > 0 && (entry.revents & POLLIN) != 0) {
        const ssize_t n = ::read(end, chunk.data(), chunk.size());
        if (n <= 0) break;
        bytes.append(chunk.data(), static_cast<std::size_t>(n));
        ms = 20;  // the rest follows at once
    }
    return bytes;
}

class UsblpLayer : public ::testing::Test {
protected:
    void SetUp() override {
        if (!FakeDevices::available()) GTEST_SKIP() << "run under umockdev-wrapper";
    }

    std::vector<std::string> enumerate(UsblpDeviceLayer& layer, const veltport::Guid& cls) {
        std::vector<std::string> paths;
        const veltport::DeviceSet set = layer.create_interface_set(cls);
        for (std::uint32_t index = 0;; ++index) {
            veltport::InterfaceRef ref;
            const veltport::EnumOutcome outcome = layer.enum_interface(set, cls, index, ref);
            if (outcome != veltport::EnumOutcome::Found) {
                EXPECT_EQ(outcome, veltport::EnumOutcome::NoMoreItems);
                EXPECT_EQ(layer.last_error(), veltport::kErrorNoMoreItems);
                break;
            }
            paths.push_back(layer.interface_path(set, ref).value_or("?"));
        }
        layer.destroy_interface_set(set);
        return paths;
    }

    FakeDevices devices;
};

TEST_F(UsblpLayer, TheSystemsPrintingClassListsThePresentNodesLowestFirst) {
    struct Row {
        const char* name;
        std::vector<int> nodes;
        std::vector<std::string> system_class;
        std::string device = {};  // the node an operator chose
    };
    const std::vector<Row> rows{
        {"nothing attached", {}, {}},
        {"one printer", {0}, {"/dev/usb/lp0"}},
        {"added out of order, with a gap", {7, 2}, {"/dev/usb/lp2", "/dev/usb/lp7"}},
        {"the driver's last node", {15}, {"/dev/usb/lp15"}},
        {"the chosen node alone", {0, 3}, {"/dev/usb/lp3"}, "/dev/usb/lp3"},
        {"a chosen node that is not there", {0}, {}, "/dev/usb/lp5"},
    };
    for (const Row& row : rows) {
        FakeDevices bed;
        for (const int node : row.nodes) bed.add_node("usb/lp" + std::to_string(node), "usbmisc");
        UsblpConfig config = test_config();
        config.device = row.device;
        UsblpDeviceLayer layer(config);
        EXPECT_EQ(enumerate(layer, veltport::MS_USBPRINT_GUID), row.system_class) << row.name;
        EXPECT_TRUE(enumerate(layer, veltport::CORVANE_USB_GUID).empty()) << row.name;
    }
}

TEST_F(UsblpLayer, DeviceIdComesWithTheCountOfTheTextThatArrived) {
    const std::string id = "MFG:Virtual;CMD:PJL;MODEL:VP-1000;CLS:PRINTER;";
    const auto raw = [&](std::uint8_t hi, std::uint8_t lo) {
        std::vector<std::uint8_t> bytes;
        bytes.reserve(id.size() + 2);
        bytes.push_back(hi);
        bytes.push_back(lo);
        bytes.insert(bytes.end(), id.begin(), id.end());
        return bytes;
    };
    const auto n = static_cast<std::uint8_t>(id.size());
    struct Row {
        const char* name;
        std::vector<std::uint8_t> device_id;
        std::uint32_t area;
        std::string text;  // what the caller's area holds after the count
    };
    const std::vector<Row> rows{
        {"length counts itself", raw(0, static_cast<std::uint8_t>(n + 2)), 4096, id},
        // The driver copies only as far as the length field says.
        {"length leaves itself out", raw(0, n), 4096, id.substr(0, id.size() - 2)},
        {"little-endian length", raw(static_cast<std::uint8_t>(n + 2), 0), 4096, id},
        {"length beyond the driver's limit", raw(0xFF, 0xFF), 4096, id},
        {"no text", {0, 2}, 4096, ""},
        {"area smaller than the ID", raw(0, static_cast<std::uint8_t>(n + 2)), 20, id.substr(0, 18)},
    };
    const int end = devices.add_node("usb/lp0", "usbmisc");
    static_cast<void>(end);
    UsblpAnswers answers;
    std::mutex mutex;
    devices.on_ioctl("usb/lp0", usblp_requests([&] {
                         const std::lock_guard<std::mutex> lock(mutex);
                         return answers;
                     }));
    UsblpDeviceLayer layer(test_config());
    for (const Row& row : rows) {
        {
            const std::lock_guard<std::mutex> lock(mutex);
            answers.device_id = row.device_id;
        }
        const Handle handle = layer.open("/dev/usb/lp0", veltport::kGenericRead | veltport::kGenericWrite, 3);
        ASSERT_NE(handle, kInvalidHandle) << row.name;
        std::vector<std::uint8_t> out(row.area, 0xEE);
        std::uint32_t returned = 0;
        ASSERT_TRUE(layer.io_control(handle, veltport::GET_DEVICE_ID, "12345678", 8, out.data(), row.area, returned))
            << row.name;
        const std::uint32_t count = static_cast<std::uint32_t>(out[0] << 8 | out[1]);
        EXPECT_EQ(count, row.text.size()) << row.name;
        EXPECT_EQ(returned, row.text.size() + 2) << row.name;
        EXPECT_EQ(std::string(out.begin() + 2, out.begin() + 2 + count), row.text) << row.name;
        // The rest of the area is zero, so a reader that trusts a larger count still stops.
        EXPECT_TRUE(std::all_of(out.begin() + 2 + count, out.end(), [](std::uint8_t b) { return b == 0; }))
            << row.name;
        layer.close(handle);
    }
    EXPECT_EQ(layer.open_handles(), 0u);
}

TEST_F(UsblpLayer, FailedRequestsReportTheSystemsError) {
    devices.add_node("usb/lp0", "usbmisc");
    UsblpAnswers answers;
    answers.device_id = standard_device_id("MODEL:X;");
    std::mutex mutex;
    devices.on_ioctl("usb/lp0", usblp_requests([&] {
                         const std::lock_guard<std::mutex> lock(mutex);
                         return answers;
                     }));
    UsblpDeviceLayer layer(test_config());
    const Handle handle = layer.open("/dev/usb/lp0", veltport::kGenericRead | veltport::kGenericWrite, 3);
    ASSERT_NE(handle, kInvalidHandle);
    std::array<std::uint8_t, 4096> out{};
    std::uint32_t returned = 0;

    EXPECT_FALSE(layer.io_control(handle, veltport::GET_DEVICE_ID, nullptr, 0, out.data(), 1, returned));
    EXPECT_EQ(layer.last_error(), kErrorInsufficientBuffer);
    EXPECT_FALSE(layer.io_control(handle, veltport::GET_DEVICE_DESCRIPTOR, nullptr, 0, out.data(), 17, returned));
    EXPECT_EQ(layer.last_error(), kErrorInsufficientBuffer);
    EXPECT_FALSE(layer.io_control(handle, 0x220004, nullptr, 0, out.data(), 4096, returned));
    EXPECT_EQ(layer.last_error(), veltport::kErrorInvalidFunction);

    const std::vector<std::pair<int, std::uint32_t>> errors{
        {EIO, veltport::kErrorGenFailure}, {ENODEV, veltport::kErrorDeviceNotConnected}};
    for (const auto& [error, system_error] : errors) {
        {
            const std::lock_guard<std::mutex> lock(mutex);
            answers.error = error;
        }
        EXPECT_FALSE(layer.io_control(handle, veltport::GET_DEVICE_ID, nullptr, 0, out.data(), 4096, returned));
        EXPECT_EQ(layer.last_error(), system_error);
        EXPECT_FALSE(layer.io_control(handle, veltport::GET_DEVICE_DESCRIPTOR, nullptr, 0, out.data(), 4096, returned));
        EXPECT_EQ(layer.last_error(), system_error);
    }
    // Time-outs are the layer's own; the requests are accepted and change nothing.
    EXPECT_TRUE(layer.io_control(handle, veltport::SET_WRITE_TIMEOUT, "1000", 8, out.data(), 8, returned));
    EXPECT_TRUE(layer.io_control(handle, veltport::SET_READ_TIMEOUT, "", 8, out.data(), 8, returned));
    layer.close(handle);
    EXPECT_FALSE(layer.io_control(handle, veltport::SET_READ_TIMEOUT, "1000", 8, out.data(), 8, returned));
    EXPECT_EQ(layer.last_error(), veltport::kErrorInvalidHandle);
}

TEST_F(UsblpLayer, DescriptorCarriesTheVendorAndProductIds) {
    devices.add_node("usb/lp0", "usbmisc");
    devices.on_ioctl("usb/lp0", usblp_requests([] {
                         UsblpAnswers answers;
                         answers.vendor = 0x049F;
                         answers.product = 0xA1B2;
                         return answers;
                     }));
    UsblpDeviceLayer layer(test_config());
    const Handle handle = layer.open("/dev/usb/lp0", veltport::kGenericRead | veltport::kGenericWrite, 3);
    std::array<std::uint8_t, 4096> out{};
    out.fill(0xEE);
    std::uint32_t returned = 0;
    ASSERT_TRUE(layer.io_control(handle, veltport::GET_DEVICE_DESCRIPTOR, nullptr, 8, out.data(), 4096, returned));
    EXPECT_EQ(returned, 18u);
    const std::vector<std::uint8_t> descriptor(out.begin(), out.begin() + 18);
    EXPECT_EQ(descriptor, (std::vector<std::uint8_t>{18, 1, 0, 0, 0, 0, 0, 0, 0x9F, 0x04, 0xB2, 0xA1, 0, 0, 0, 0,
                                                      0, 0}));
    layer.close(handle);
}

TEST_F(UsblpLayer, ThePipesAreTheNodeOpenedForWritingAndForReading) {
    const int end = devices.add_node("usb/lp0", "usbmisc");
    UsblpDeviceLayer layer(test_config());

    const Handle out_pipe = layer.open("/dev/usb/lp0\\PIPE00", veltport::kGenericWrite, 3);
    ASSERT_NE(out_pipe, kInvalidHandle);
    const std::string command("\xA5\x00\x04\x50\xE0\x82\x06", 7);
    std::uint32_t written = 0;
    ASSERT_TRUE(layer.write(out_pipe, command.data(), 7, written));
    EXPECT_EQ(written, 7u);
    layer.close(out_pipe);
    EXPECT_EQ(received(end), command);

    const std::string reply("\x00\x01\x02\x03\x04\x05\x06" "106", 10);
    ASSERT_EQ(::write(end, reply.data(), reply.size()), 10);
    const Handle in_pipe = layer.open("/dev/usb/lp0\\PIPE01", veltport::kGenericRead, 3);
    ASSERT_NE(in_pipe, kInvalidHandle);
    std::array<char, 255> buffer{};
    std::uint32_t got = 0;
    ASSERT_TRUE(layer.read(in_pipe, buffer.data(), 10, got));
    EXPECT_EQ(std::string(buffer.data(), got), reply);
    layer.close(in_pipe);
    EXPECT_EQ(layer.open_handles(), 0u);
}

// usblp reads ahead from open and discards that read on close: the node stays
// open between the command's handle and the reply's, what was waiting before
// the command is not taken for its reply, and a node that is gone is let go.
TEST_F(UsblpLayer, TheNodeStaysOpenForTheReplyAndOlderBytesAreDropped) {
    const int end = devices.add_node("usb/lp0", "usbmisc");
    UsblpDeviceLayer layer(test_config());
    ASSERT_EQ(::write(end, "0123456789ABCDEF", 16), 16);

    const Handle out_pipe = layer.open("/dev/usb/lp0\\PIPE00", veltport::kGenericWrite, 3);
    ASSERT_NE(out_pipe, kInvalidHandle);
    const std::string command("\xA5\x00\x04\x50\xE0\x82\x06", 7);
    std::uint32_t written = 0;
    ASSERT_TRUE(layer.write(out_pipe, command.data(), 7, written));
    layer.close(out_pipe);
    EXPECT_EQ(received(end), command);
    EXPECT_EQ(layer.open_handles(), 0u);
    EXPECT_EQ(layer.parked_nodes(), 1u);

    const std::string reply("\xA5\x00\x07\x50\xE0\x82\x06" "106", 10);
    ASSERT_EQ(::write(end, reply.data(), reply.size()), 10);
    const Handle in_pipe = layer.open("/dev/usb/lp0\\PIPE01", veltport::kGenericRead, 3);
    EXPECT_EQ(in_pipe, out_pipe);  // the same open node
    std::array<char, 255> buffer{};
    std::uint32_t got = 0;
    ASSERT_TRUE(layer.read(in_pipe, buffer.data(), 10, got));
    EXPECT_EQ(std::string(buffer.data(), got), reply);
    layer.close(in_pipe);

    devices.remove_node("usb/lp0");
    EXPECT_EQ(layer.open("/dev/usb/lp0\\PIPE00", veltport::kGenericWrite, 3), kInvalidHandle);
    EXPECT_EQ(layer.parked_nodes(), 0u);
}

TEST_F(UsblpLayer, PathsThatNameNoNodeOrPipeDoNotOpen) {
    devices.add_node("usb/lp0", "usbmisc");
    UsblpDeviceLayer layer(test_config());
    const std::vector<std::string> paths{"/dev/usb/lp0\\PIPE02", "/dev/usb/lp0\\", "/dev/usb/lp0\\pipe00",
                                         "/dev/usb/lp1", "/dev/usb/lp1\\PIPE00"};
    for (const std::string& path : paths) {
        EXPECT_EQ(layer.open(path.c_str(), veltport::kGenericWrite, 3), kInvalidHandle) << path;
        EXPECT_EQ(layer.last_error(), veltport::kErrorFileNotFound) << path;
    }
    EXPECT_EQ(layer.open(nullptr, veltport::kGenericWrite, 3), kInvalidHandle);
    EXPECT_EQ(layer.open_handles(), 0u);
}

TEST_F(UsblpLayer, ASilentPrinterEndsAReadAfterTheTimeOut) {
    devices.add_node("usb/lp0", "usbmisc");
    UsblpDeviceLayer layer(test_config());
    const Handle pipe = layer.open("/dev/usb/lp0\\PIPE01", veltport::kGenericRead, 3);
    ASSERT_NE(pipe, kInvalidHandle);
    std::array<char, 16> buffer{};
    std::uint32_t got = 99;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(layer.read(pipe, buffer.data(), 10, got));
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(100));
    EXPECT_EQ(got, 0u);
    EXPECT_EQ(layer.last_error(), kErrorSemTimeout);
    layer.close(pipe);
}

TEST_F(UsblpLayer, APrinterThatTakesNoDataEndsAWriteAfterTheTimeOut) {
    devices.add_node("usb/lp0", "usbmisc");  // nobody reads the test's end
    UsblpDeviceLayer layer(test_config());
    const Handle pipe = layer.open("/dev/usb/lp0\\PIPE00", veltport::kGenericWrite, 3);
    ASSERT_NE(pipe, kInvalidHandle);
    const std::vector<std::uint8_t> block(64 * 1024, 0x5A);
    std::uint32_t written = 0;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(layer.write(pipe, block.data(), static_cast<std::uint32_t>(block.size()), written));
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(200));
    EXPECT_EQ(layer.last_error(), kErrorSemTimeout);
    // What the node took counts as handed over, so nobody sends it twice.
    EXPECT_GT(written, 0u);
    EXPECT_LT(written, block.size());
    layer.close(pipe);
}

// A block larger than the node takes at once: the layer writes what fits,
// waits until the printer has taken it, and goes on, every byte once and in
// order, while the printer reads as fast as it can.
TEST_F(UsblpLayer, ABlockTheNodeTakesInPiecesArrivesWhole) {
    const int end = devices.add_node("usb/lp0", "usbmisc");
    UsblpConfig config = test_config();
    config.write_timeout_ms = 5000;  // a busy machine must not fail the case
    UsblpDeviceLayer layer(config);
    const Handle pipe = layer.open("/dev/usb/lp0\\PIPE00", veltport::kGenericWrite, 3);
    ASSERT_NE(pipe, kInvalidHandle);
    std::vector<std::uint8_t> block(64 * 1024);
    for (std::size_t i = 0; i < block.size(); ++i) block[i] = static_cast<std::uint8_t>(i * 167 + i / 256);
    std::string taken;
    std::thread printer([&] {
        std::array<char, 4096> chunk{};
        pollfd entry{end, POLLIN, 0};
        while (taken.size() < block.size() && ::poll(&entry, 1, 2000) > 0) {
            const ssize_t n = ::read(end, chunk.data(), chunk.size());
            if (n <= 0) break;
            taken.append(chunk.data(), static_cast<std::size_t>(n));
        }
    });
    std::uint32_t written = 0;
    EXPECT_TRUE(layer.write(pipe, block.data(), static_cast<std::uint32_t>(block.size()), written));
    printer.join();
    EXPECT_EQ(written, block.size());
    EXPECT_EQ(taken, std::string(block.begin(), block.end()));
    layer.close(pipe);
}

// ---------------------------------------------------------------------------
// The USB port library over the layer, with virtual printers behind the nodes.

class UsblpLibrary : public UsblpLayer {
protected:
    sim::PrinterConfig printer(const std::string& model, std::uint16_t vendor = 0x043D) {
        sim::PrinterConfig config;
        config.device_id = "MFG:Virtual;CMD:PJL;MODEL:" + model + ";CLS:PRINTER;";
        config.vendor_id = vendor;
        config.version = "103";
        return config;
    }

    std::vector<std::uint32_t> sleeps;
    std::string out;
};

TEST_F(UsblpLibrary, GetDeviceIdAnswersForTheLowestNodeWithAnAcceptedVendor) {
    struct Row {
        const char* name;
        std::vector<std::pair<int, std::uint16_t>> printers;  // node, vendor
        int result;
        std::string model;
    };
    const std::vector<Row> rows{
        {"one printer", {{0, 0x043D}}, 1, "P0"},
        {"the lower node wins", {{3, 0x0550}, {1, 0x0419}}, 1, "P1"},
        {"another maker's printer", {{0, 0x04B8}}, 0, ""},
        {"nothing attached", {}, 0, ""},
    };
    for (const Row& row : rows) {
        FakeDevices bed;
        std::vector<std::unique_ptr<FakePrinter>> printers;
        for (const auto& [node, vendor] : row.printers) {
            // Appended, not "P" + std::to_string(node): GCC 12 at -O2 reports a
            // false overlap inside libstdc++ for the prepending form.
            const std::string number = std::to_string(node);
            std::string path = "usb/lp";
            path += number;
            std::string model = "P";
            model += number;
            printers.push_back(std::make_unique<FakePrinter>(bed, path, printer(model, vendor), FakePrinter::Carrier::Usb));
        }
        UsblpDeviceLayer layer(test_config(&sleeps, &out));
        veltport::UsbPortLibrary library(layer);
        std::array<char, 256> id{};
        std::uint32_t capacity = 255;
        EXPECT_EQ(library.GetDeviceID(id.data(), &capacity), row.result) << row.name;
        if (row.result == 1) {
            const std::string expected = "MFG:Virtual;CMD:PJL;MODEL:" + row.model + ";CLS:PRINTER;";
            EXPECT_EQ(std::string(id.data()), expected) << row.name;
            EXPECT_EQ(capacity, expected.size() + 1) << row.name;
            EXPECT_TRUE(library.win2k()) << row.name;
        }
        EXPECT_EQ(layer.open_handles(), 0u) << row.name;
    }
}

// Listing reads each node's IDs through the driver's requests and writes nothing.
TEST_F(UsblpLibrary, ListingNamesEveryNodeWithItsIds) {
    FakePrinter lp0(devices, "usb/lp0", printer("P0", 0x043D), FakePrinter::Carrier::Usb);
    FakePrinter lp2(devices, "usb/lp2", printer("P2", 0x0550), FakePrinter::Carrier::Usb);
    const std::vector<AttachedPrinter> printers = list_usblp_printers();
    ASSERT_EQ(printers.size(), 2u);
    EXPECT_EQ(printers[0].device, "/dev/usb/lp0");
    EXPECT_EQ(printers[0].vendor_id, 0x043D);
    EXPECT_EQ(printers[1].device, "/dev/usb/lp2");
    EXPECT_EQ(printers[1].vendor_id, 0x0550);
    EXPECT_EQ(printers[1].identification, "MFG:Virtual;CMD:PJL;MODEL:P2;CLS:PRINTER;");
    EXPECT_TRUE(printers[1].answers);
    EXPECT_TRUE(lp0.commands().empty());
    EXPECT_TRUE(lp2.commands().empty());
    EXPECT_EQ(listed_node("/dev/usb/lp2", printers), "/dev/usb/lp2");
    EXPECT_EQ(listed_node("/dev/usb/lp1", printers), std::nullopt);
}

TEST_F(UsblpLibrary, AnUnpluggedPrinterIsNoPrinter) {
    {
        FakePrinter printer_on_lp0(devices, "usb/lp0", printer("VP-1000"), FakePrinter::Carrier::Usb);
        UsblpDeviceLayer layer(test_config(&sleeps, &out));
        veltport::UsbPortLibrary library(layer);
        std::array<char, 256> id{};
        std::uint32_t capacity = 255;
        ASSERT_EQ(library.GetDeviceID(id.data(), &capacity), 1);
        const std::array<unsigned char, 7> query{0xA5, 0x00, 0x04, 0x50, 0xE0, 0x82, 0x06};
        std::uint32_t written = 0;
        ASSERT_EQ(library.WriteToUsbPort(query.data(), 7, &written, "1000"), VELTPORT_OK);

        devices.remove_node("usb/lp0");
        EXPECT_EQ(library.WriteToUsbPort(query.data(), 7, &written, "1000"), VELTPORT_NO_PRINTER);
        capacity = 255;
        EXPECT_EQ(library.GetDeviceID(id.data(), &capacity), 0);
        EXPECT_EQ(layer.open_handles(), 0u);
    }
}

}  // namespace
}  // namespace fwup::test
