#include "sim/usb/usb_device_tree.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "sim/clock/virtual_clock.h"

namespace fwup::sim {
namespace {

using veltport::CORVANE_USB_GUID;
using veltport::EnumOutcome;
using veltport::Handle;
using veltport::InterfaceRef;
using veltport::kInvalidHandle;
using veltport::MS_USBPRINT_GUID;

constexpr std::uint32_t kReadWrite = veltport::kGenericRead | veltport::kGenericWrite;
constexpr std::uint32_t kShare = veltport::kFileShareRead | veltport::kFileShareWrite;

class UsbDeviceTreeTest : public ::testing::Test {
protected:
    std::shared_ptr<VirtualPrinter> printer_ = std::make_shared<VirtualPrinter>();
    VirtualClock clock_;
    UsbDeviceTree tree_{clock_};

    std::vector<std::string> enumerate(const veltport::Guid& cls) {
        std::vector<std::string> paths;
        const veltport::DeviceSet set = tree_.create_interface_set(cls);
        for (std::uint32_t i = 0;; ++i) {
            InterfaceRef ref;
            const EnumOutcome outcome = tree_.enum_interface(set, cls, i, ref);
            if (outcome == EnumOutcome::NoMoreItems) break;
            if (outcome == EnumOutcome::Failed) {
                paths.push_back("<failed>");
                continue;
            }
            paths.push_back(tree_.interface_path(set, ref).value_or("<no path>"));
        }
        tree_.destroy_interface_set(set);
        return paths;
    }
};

TEST_F(UsbDeviceTreeTest, EnumeratesPresentMembersOfOneClassInOrder) {
    tree_.add_printer(CORVANE_USB_GUID, "\\\\?\\a", printer_);
    UsbDevice& hidden = tree_.add_printer(CORVANE_USB_GUID, "\\\\?\\b", printer_);
    UsbDevice& flaky = tree_.add_printer(CORVANE_USB_GUID, "\\\\?\\c", printer_);
    tree_.add_printer(MS_USBPRINT_GUID, "\\\\?\\other", printer_);
    UsbDeviceTree::unplug(hidden);
    flaky.faults.enumeration_failures = 1;

    EXPECT_EQ(enumerate(CORVANE_USB_GUID), (std::vector<std::string>{"\\\\?\\a", "<failed>"}));
    EXPECT_EQ(enumerate(CORVANE_USB_GUID), (std::vector<std::string>{"\\\\?\\a", "\\\\?\\c"}));
    UsbDeviceTree::replug(hidden);
    EXPECT_EQ(enumerate(CORVANE_USB_GUID).size(), 3u);
    EXPECT_TRUE(enumerate(veltport::Guid{}).empty());
    EXPECT_EQ(tree_.last_error(), veltport::kErrorNoMoreItems);
    EXPECT_EQ(tree_.counters().sets_created, 4u);
    EXPECT_EQ(tree_.counters().sets_destroyed, 4u);

    tree_.fail_set_creation(1);
    EXPECT_EQ(tree_.create_interface_set(CORVANE_USB_GUID), veltport::kInvalidDeviceSet);
}

TEST_F(UsbDeviceTreeTest, OpensTheDevicePathAndItsPipes) {
    UsbDevice& device = tree_.add_printer(CORVANE_USB_GUID, "\\\\?\\usb#1", printer_);
    struct Row {
        const char* path;
        std::uint32_t access;
        bool opens;
        std::uint32_t error;
    };
    const std::vector<Row> rows = {
        {"\\\\?\\usb#1", kReadWrite, true, 0},
        {"\\\\?\\usb#1\\PIPE00", veltport::kGenericWrite, true, 0},
        {"\\\\?\\usb#1\\PIPE01", veltport::kGenericRead, true, 0},
        {"\\\\?\\usb#1\\PIPE02", kReadWrite, false, veltport::kErrorFileNotFound},
        {"\\\\?\\USB#1", kReadWrite, false, veltport::kErrorFileNotFound},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.path);
        const Handle h = tree_.open(row.path, row.access, kShare);
        EXPECT_EQ(h != kInvalidHandle, row.opens);
        if (h != kInvalidHandle) {
            tree_.close(h);
        } else {
            EXPECT_EQ(tree_.last_error(), row.error);
        }
    }
    device.openable = false;
    EXPECT_EQ(tree_.open("\\\\?\\usb#1", kReadWrite, kShare), kInvalidHandle);
    EXPECT_EQ(tree_.last_error(), veltport::kErrorSharingViolation);
    device.openable = true;
    UsbDeviceTree::unplug(device);
    EXPECT_EQ(tree_.open("\\\\?\\usb#1", kReadWrite, kShare), kInvalidHandle);

    EXPECT_EQ(tree_.counters().opens, 3u);
    EXPECT_EQ(tree_.counters().closes, 3u);
    EXPECT_EQ(tree_.counters().failed_opens, 4u);
    EXPECT_EQ(tree_.counters().open_handles, 0);
    tree_.close(0x7777);
    EXPECT_EQ(tree_.counters().bad_closes, 1u);
    ASSERT_EQ(tree_.open_calls().size(), 7u);
    EXPECT_EQ(tree_.open_calls()[1].access, veltport::kGenericWrite);
    EXPECT_EQ(tree_.open_calls()[1].share, kShare);
}

TEST_F(UsbDeviceTreeTest, AnswersDriverRequestsInTheDriversFormats) {
    PrinterConfig config;
    config.vendor_id = 0x0550;
    config.device_id = "MFG:V;MODEL:P;";
    auto printer = std::make_shared<VirtualPrinter>(config);
    UsbDevice& device = tree_.add_printer(MS_USBPRINT_GUID, "p", printer);
    const Handle h = tree_.open("p", kReadWrite, kShare);
    std::array<std::uint8_t, 4096> out{};
    std::array<std::uint8_t, 8> in{};
    std::uint32_t returned = 0;

    ASSERT_TRUE(tree_.io_control(h, veltport::GET_DEVICE_DESCRIPTOR, in.data(), 8, out.data(), 4096, returned));
    EXPECT_EQ(returned, 18u);
    EXPECT_EQ(out[8], 0x50);
    EXPECT_EQ(out[9], 0x05);

    ASSERT_TRUE(tree_.io_control(h, veltport::GET_DEVICE_ID, in.data(), 8, out.data(), 4096, returned));
    EXPECT_EQ(returned, 2u + 14u);
    EXPECT_EQ(out[0], 0);
    EXPECT_EQ(out[1], 14);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(out.data() + 2), 14), "MFG:V;MODEL:P;");

    device.device_id = "X";
    device.device_id_count = 5000;
    ASSERT_TRUE(tree_.io_control(h, veltport::GET_DEVICE_ID, in.data(), 8, out.data(), 4096, returned));
    EXPECT_EQ(out[0] << 8 | out[1], 5000);
    EXPECT_EQ(out[2], 'X');

    const char timeout[8] = "1000";
    EXPECT_TRUE(tree_.io_control(h, veltport::SET_WRITE_TIMEOUT, timeout, 8, out.data(), 8, returned));
    EXPECT_TRUE(tree_.io_control(h, veltport::SET_READ_TIMEOUT, timeout, 8, out.data(), 8, returned));
    EXPECT_EQ(device.write_timeouts, std::vector<std::string>{"1000"});
    EXPECT_EQ(device.read_timeouts, std::vector<std::string>{"1000"});
    EXPECT_FALSE(tree_.io_control(h, 0x220004, in.data(), 8, out.data(), 8, returned));
    EXPECT_EQ(tree_.last_error(), veltport::kErrorInvalidFunction);

    EXPECT_EQ(tree_.counters().requests_of(veltport::GET_DEVICE_ID), 2u);
    EXPECT_EQ(tree_.counters().requests_of(0x220004), 1u);
    tree_.close(h);
}

// The driver takes 8 bytes in with every request, and 4096 bytes out for the
// descriptor and the device ID, 8 for the time-outs: any other size is refused.
TEST_F(UsbDeviceTreeTest, RefusesRequestsOfAnotherSize) {
    tree_.add_printer(MS_USBPRINT_GUID, "p", printer_);
    const Handle h = tree_.open("p", kReadWrite, kShare);
    struct Row {
        std::uint32_t code;
        std::uint32_t in_size;
        std::uint32_t out_size;
        bool answered;
    };
    const std::vector<Row> rows = {
        {veltport::GET_DEVICE_DESCRIPTOR, 8, 4096, true}, {veltport::GET_DEVICE_DESCRIPTOR, 8, 18, false},
        {veltport::GET_DEVICE_ID, 7, 4096, false},        {veltport::GET_DEVICE_ID, 8, 4098, false},
        {veltport::SET_WRITE_TIMEOUT, 8, 8, true},        {veltport::SET_WRITE_TIMEOUT, 5, 8, false},
        {veltport::SET_READ_TIMEOUT, 8, 4096, false},
    };
    std::array<std::uint8_t, 4098> out{};
    const std::array<char, 9> in{"1000"};
    for (const Row& row : rows) {
        SCOPED_TRACE(std::to_string(row.code) + " in " + std::to_string(row.in_size) + " out " +
                     std::to_string(row.out_size));
        std::uint32_t returned = 0;
        EXPECT_EQ(tree_.io_control(h, row.code, in.data(), row.in_size, out.data(), row.out_size, returned),
                  row.answered);
        if (!row.answered) {
            EXPECT_EQ(tree_.last_error(), 87u);
        }
    }
    tree_.close(h);
}

TEST_F(UsbDeviceTreeTest, RequestFaultsHappenTheConfiguredNumberOfTimes) {
    PrinterConfig config;
    config.device_id_failures = 1;  // the printer's own silence counts too
    auto printer = std::make_shared<VirtualPrinter>(config);
    UsbDevice& device = tree_.add_printer(MS_USBPRINT_GUID, "p", printer);
    device.faults.device_id_failures = 2;
    device.faults.descriptor_failures = UsbFaults::kAlways;
    const Handle h = tree_.open("p", kReadWrite, kShare);
    std::array<std::uint8_t, 4096> out{};
    std::array<std::uint8_t, 8> in{};
    std::uint32_t returned = 0;
    std::vector<bool> answers;
    for (int i = 0; i < 4; ++i) {
        answers.push_back(tree_.io_control(h, veltport::GET_DEVICE_ID, in.data(), 8, out.data(), 4096, returned));
    }
    EXPECT_EQ(answers, (std::vector<bool>{false, false, false, true}));
    for (int i = 0; i < 3; ++i) {
        EXPECT_FALSE(tree_.io_control(h, veltport::GET_DEVICE_DESCRIPTOR, in.data(), 8, out.data(), 4096, returned));
    }
    tree_.close(h);
}

TEST_F(UsbDeviceTreeTest, PipesCarryBytesToAndFromThePrinter) {
    UsbDevice& device = tree_.add_printer(CORVANE_USB_GUID, "p", printer_);
    const std::vector<std::uint8_t> query{0xA5, 0x00, 0x04, 0x50, 0xE0, 0x82, 0x06};
    const Handle out = tree_.open("p\\PIPE00", veltport::kGenericWrite, kShare);
    const Handle in = tree_.open("p\\PIPE01", veltport::kGenericRead, kShare);
    std::uint32_t count = 0;
    ASSERT_TRUE(tree_.write(out, query.data(), 7, count));
    EXPECT_EQ(count, 7u);
    std::array<std::uint8_t, 64> reply{};
    ASSERT_TRUE(tree_.read(in, reply.data(), 64, count));
    EXPECT_EQ(count, 10u);
    EXPECT_FALSE(tree_.read(out, reply.data(), 64, count)) << "the OUT pipe cannot be read";
    EXPECT_FALSE(tree_.write(in, query.data(), 7, count)) << "the IN pipe cannot be written";

    device.faults.short_writes = 1;
    device.faults.short_write_length = 3;
    device.faults.write_failures = 1;
    EXPECT_FALSE(tree_.write(out, query.data(), 7, count));
    EXPECT_EQ(count, 0u);
    EXPECT_TRUE(tree_.write(out, query.data(), 7, count));
    EXPECT_EQ(count, 3u);

    device.faults.empty_reads = 1;
    device.queued_reads.push_back({1, 2, 3});
    EXPECT_TRUE(tree_.read(in, reply.data(), 64, count));
    EXPECT_EQ(count, 0u);
    EXPECT_TRUE(tree_.read(in, reply.data(), 2, count));
    EXPECT_EQ(count, 2u);
    EXPECT_TRUE(device.queued_reads.empty());

    UsbDeviceTree::unplug(device);
    EXPECT_FALSE(tree_.write(out, query.data(), 7, count));
    EXPECT_EQ(tree_.last_error(), veltport::kErrorDeviceNotConnected);
    tree_.close(out);
    tree_.close(in);
    EXPECT_EQ(tree_.counters().open_handles, 0);
    EXPECT_EQ(printer_->commands().size(), 1u) << "the partial second query never completed";
}

TEST_F(UsbDeviceTreeTest, SleepingAdvancesTheVirtualClockOnly) {
    VirtualClock clock(UINT32_MAX - 50);
    UsbDeviceTree tree(clock);
    tree.sleep_ms(100);
    tree.sleep_ms(500);
    EXPECT_EQ(clock.tick_ms(), 549u) << "the tick wraps like the system's";
    EXPECT_EQ(clock.slept_ms(), 600u);
    EXPECT_EQ(clock.sleeps(), 2u);
    EXPECT_EQ(tree.counters().sleeps, (std::vector<std::uint32_t>{100, 500}));
}

}  // namespace
}  // namespace fwup::sim
