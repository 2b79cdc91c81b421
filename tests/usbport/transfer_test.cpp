// The transfer exports and the port-name cache, against the simulated device tree.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "usbport_test_support.h"
#include "veltport.h"

namespace veltport::testing {
namespace {

using fwup::sim::UsbDevice;
using fwup::sim::UsbDeviceTree;
using fwup::sim::UsbFaults;
using Bytes = std::vector<std::uint8_t>;

const Bytes kVersionQuery{0xA5, 0x00, 0x04, 0x50, 0xE0, 0x82, 0x06};
constexpr std::uint32_t kUntouched = 0xDEAD;

// A machine of the given system with one printer, on which the program has
// already asked for the device ID (which selects the interface class).
struct PrinterRig : Rig {
    explicit PrinterRig(const OsVersionInfo& os) : Rig(os), device(add_printer(class_for(os), kPrinterPath)) {
        char id[256];
        std::uint32_t capacity = 255;
        EXPECT_EQ(lib.GetDeviceID(id, &capacity), 1);
        tree.clear_records();
    }
    fwup::sim::VirtualPrinter& printer() { return *device.printer; }

    UsbDevice& device;
};

TEST(PortNameCacheTest, ASecondLookupDoesNotTouchTheDevice) {
    PrinterRig rig(kWin98);
    ASSERT_EQ(rig.lib.GetUsbPortName(), 1);
    EXPECT_STREQ(rig.lib.control_port(), kPrinterPath.c_str());
    EXPECT_EQ(rig.lib.write_port(), kPrinterPath + "\\PIPE00");
    EXPECT_EQ(rig.lib.read_port(), kPrinterPath + "\\PIPE01");
    const std::uint64_t opens = rig.tree.counters().opens;
    const std::uint64_t enumerations = rig.tree.counters().enumerations;
    ASSERT_EQ(rig.lib.GetUsbPortName(), 1);
    EXPECT_EQ(rig.tree.counters().opens, opens);
    EXPECT_EQ(rig.tree.counters().enumerations, enumerations);
    expect_all_released(rig.tree);
}

// Each row starts with the port-name cache filled and makes one transfer.
TEST(TransferTest, ResultsAndTheCacheAfterEachFault) {
    enum class Op { Write, Read };
    struct Row {
        const char* name;
        OsVersionInfo os;
        Op op;
        std::function<void(PrinterRig&)> fault;
        int result;
        bool cached_after;
        std::uint32_t count;             // written or read count after the call
        std::size_t printer_bytes_seen;  // bytes of the version query the printer took
    };
    const auto faults = [](void (*set)(UsbFaults&)) {
        return [set](PrinterRig& r) { set(r.device.faults); };
    };
    const std::vector<Row> rows = {
        {"write", kWin98, Op::Write, [](PrinterRig&) {}, 0, true, 7, 7},
        {"write, pipe opens after a rediscovery", kWin98, Op::Write,
         faults([](UsbFaults& f) { f.write_pipe_open_failures = 1; }), 0, true, 7, 7},
        {"write, pipe never opens", kWin2000, Op::Write,
         faults([](UsbFaults& f) { f.write_pipe_open_failures = UsbFaults::kAlways; }), 3, false, kUntouched, 0},
        {"write fails once with nothing sent", kWin2000, Op::Write,
         faults([](UsbFaults& f) { f.write_failures = 1; }), 0, true, 7, 7},
        {"write fails twice", kWin98, Op::Write, faults([](UsbFaults& f) { f.write_failures = 2; }), 1, false,
         0, 0},
        {"write delivers nothing, then all", kWin98, Op::Write,
         faults([](UsbFaults& f) { f.short_writes = 1; f.short_write_length = 0; }), 0, true, 7, 7},
        {"write delivers part: not sent again", kWin98, Op::Write,
         faults([](UsbFaults& f) { f.short_writes = 1; f.short_write_length = 3; }), 1, false, 3, 3},
        {"write time-out cannot be set", kWin98, Op::Write,
         faults([](UsbFaults& f) { f.write_timeout_failures = 1; }), 4, false, kUntouched, 0},
        {"write time-out is never sent on NT 5", kWin2000, Op::Write,
         faults([](UsbFaults& f) { f.write_timeout_failures = UsbFaults::kAlways; }), 0, true, 7, 7},
        {"write, printer unplugged", kWin98, Op::Write,
         [](PrinterRig& r) { UsbDeviceTree::unplug(r.device); }, 2, false, kUntouched, 0},
        {"read", kWin98, Op::Read, [](PrinterRig&) {}, 0, true, 10, 0},
        {"read, pipe opens after a rediscovery", kWin2000, Op::Read,
         faults([](UsbFaults& f) { f.read_pipe_open_failures = 1; }), 0, true, 10, 0},
        {"read, pipe never opens", kWin98, Op::Read,
         faults([](UsbFaults& f) { f.read_pipe_open_failures = UsbFaults::kAlways; }), 3, false, kUntouched, 0},
        {"read time-out cannot be set: the cache stays", kWin98, Op::Read,
         faults([](UsbFaults& f) { f.read_timeout_failures = 1; }), 4, true, kUntouched, 0},
        {"read returns nothing", kWin98, Op::Read, faults([](UsbFaults& f) { f.empty_reads = 1; }), 1, false,
         0, 0},
        {"read fails", kWin2000, Op::Read, faults([](UsbFaults& f) { f.read_failures = 1; }), 1, false, 0, 0},
        {"read, printer unplugged", kWin2000, Op::Read, [](PrinterRig& r) { UsbDeviceTree::unplug(r.device); },
         2, false, kUntouched, 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        PrinterRig rig(row.os);
        if (row.op == Op::Read) rig.device.queued_reads.push_back(Bytes(10, 0x11));
        ASSERT_EQ(rig.lib.GetUsbPortName(), 1);
        row.fault(rig);
        std::uint32_t count = kUntouched;
        int result = 0;
        if (row.op == Op::Write) {
            result = rig.lib.WriteToUsbPort(kVersionQuery.data(), 7, &count, "1000");
        } else {
            Bytes buffer(255);
            result = rig.lib.ReadFromUsbPort(buffer.data(), 255, &count, "1000");
        }
        EXPECT_EQ(result, row.result);
        EXPECT_EQ(rig.lib.port_names_cached(), row.cached_after);
        EXPECT_EQ(count, row.count);
        EXPECT_EQ(rig.tree.counters().bytes_written, row.printer_bytes_seen);
        EXPECT_EQ(rig.printer().commands().size(), row.printer_bytes_seen == 7 ? 1u : 0u);
        // Transfers print nothing of their own; a failed rediscovery says so.
        EXPECT_EQ(rig.tree.standard_text(), row.result == 2 ? "Failed to GetUsbDeviceFileName\n" : "");
        EXPECT_EQ(rig.tree.debug_text(), "");
        expect_all_released(rig.tree);
    }
}

TEST(TransferTest, TheWriteOpensOnlyWhatItNeeds) {
    PrinterRig rig(kWin98);
    std::uint32_t count = 0;
    ASSERT_EQ(rig.lib.WriteToUsbPort(kVersionQuery.data(), 7, &count, "10000"), 0);
    Bytes reply(255);
    ASSERT_EQ(rig.lib.ReadFromUsbPort(reply.data(), 10, &count, "1000"), 0);
    EXPECT_EQ(count, 10u);
    EXPECT_EQ(reply[9], '0');
    const auto& calls = rig.tree.open_calls();
    const std::uint32_t rw = kGenericRead | kGenericWrite;
    const std::uint32_t share = kFileShareRead | kFileShareWrite;
    const std::vector<std::tuple<std::string, std::uint32_t>> expected = {
        {kPrinterPath, rw},  // discovery fills the cache
        {kPrinterPath + "\\PIPE00", kGenericWrite},
        {kPrinterPath, rw},  // the write time-out, beside the open pipe
        {kPrinterPath + "\\PIPE01", kGenericRead},
        {kPrinterPath, rw},  // the read time-out
    };
    ASSERT_EQ(calls.size(), expected.size());
    for (std::size_t i = 0; i < calls.size(); ++i) {
        EXPECT_EQ(calls[i].path, std::get<0>(expected[i]));
        EXPECT_EQ(calls[i].access, std::get<1>(expected[i]));
        EXPECT_EQ(calls[i].share, share);
    }
    EXPECT_EQ(rig.device.write_timeouts, std::vector<std::string>{"10000"});
    EXPECT_EQ(rig.device.read_timeouts, std::vector<std::string>{"1000"});
    expect_all_released(rig.tree);
}

TEST(TransferTest, TimeOutTextMustFitTheDriversBlockWhereItIsSent) {
    struct Row {
        OsVersionInfo os;
        const char* timeout;
        int result;
        std::vector<std::string> sent;
    };
    const std::vector<Row> rows = {
        {kWin98, "1000", 0, {"1000"}},
        {kWin98, "1234567", 0, {"1234567"}},
        {kWin98, "", 0, {""}},
        {kWin98, "12345678", 4, {}},
        {kWin98, nullptr, 4, {}},
        {kWin2000, "12345678", 0, {}},
        {kWin2000, "", 0, {}},
        {kWin2000, nullptr, 0, {}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.timeout ? row.timeout : "(null)");
        PrinterRig rig(row.os);
        ASSERT_EQ(rig.lib.GetUsbPortName(), 1);
        rig.printer().receive(kVersionQuery.data(), kVersionQuery.size());
        const std::uint64_t opens = rig.tree.counters().opens;
        std::uint32_t count = kUntouched;
        EXPECT_EQ(rig.lib.WriteToUsbPort(kVersionQuery.data(), 7, &count, row.timeout), row.result);
        Bytes reply(255);
        EXPECT_EQ(rig.lib.ReadFromUsbPort(reply.data(), 255, &count, row.timeout), row.result);
        EXPECT_EQ(rig.device.write_timeouts, row.sent);
        EXPECT_EQ(rig.device.read_timeouts, row.sent);
        if (row.result == 4) {
            EXPECT_EQ(rig.tree.counters().opens, opens) << "nothing is opened for a refused text";
            EXPECT_EQ(count, kUntouched);
            EXPECT_EQ(rig.printer().commands().size(), 1u) << "nothing is sent";
            EXPECT_TRUE(rig.lib.port_names_cached());
        }
        expect_all_released(rig.tree);
    }
}

TEST(TransferTest, WholePacketRepliesAreFollowedByATrailingRead) {
    struct Row {
        OsVersionInfo os;
        std::size_t reply;
        bool trailing;
    };
    const std::vector<Row> rows = {
        {kWin98, 63, false}, {kWin98, 64, true},    {kWin98, 65, false},   {kWin98, 128, true},
        {kWin2000, 64, true}, {kWin2000, 65, false}, {kWin2000, 32, false}, {kWin2000, 192, true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::to_string(row.reply) + (row.os.major == 5 ? " on NT 5" : " on 98"));
        PrinterRig rig(row.os);
        Bytes reply(row.reply);
        for (std::size_t i = 0; i < reply.size(); ++i) reply[i] = static_cast<std::uint8_t>(i + 1);
        rig.device.queued_reads.push_back(reply);
        rig.device.queued_reads.push_back(Bytes(10, 0xEE));
        Bytes buffer(255, 0);
        std::uint32_t count = 0;
        EXPECT_EQ(rig.lib.ReadFromUsbPort(buffer.data(), 255, &count, "777"), 0);
        EXPECT_EQ(count, row.reply);
        EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(row.reply)), reply);
        EXPECT_EQ(buffer[row.reply], 0) << "the trailing bytes are not the caller's";
        EXPECT_EQ(rig.tree.counters().sleeps, row.trailing ? std::vector<std::uint32_t>{500}
                                                           : std::vector<std::uint32_t>{});
        EXPECT_EQ(rig.clock.tick_ms(), row.trailing ? 500u : 0u);
        EXPECT_EQ(rig.tree.counters().reads, row.trailing ? 2u : 1u);
        EXPECT_EQ(rig.device.queued_reads.empty(), row.trailing);
        std::vector<std::string> timeouts;
        if (row.os.major != 5) {
            timeouts.push_back("777");
            if (row.trailing) timeouts.push_back("1000");
        }
        EXPECT_EQ(rig.device.read_timeouts, timeouts);
        EXPECT_TRUE(rig.lib.port_names_cached());
        expect_all_released(rig.tree);
    }
}

TEST(TransferTest, UnplugAndReplugBetweenCalls) {
    PrinterRig rig(kWin98);
    std::uint32_t count = 0;
    Bytes reply(255);
    ASSERT_EQ(rig.lib.WriteToUsbPort(kVersionQuery.data(), 7, &count, "1000"), 0);
    UsbDeviceTree::unplug(rig.device);
    EXPECT_EQ(rig.lib.ReadFromUsbPort(reply.data(), 10, &count, "1000"), 2);
    EXPECT_FALSE(rig.lib.port_names_cached());
    EXPECT_EQ(rig.lib.WriteToUsbPort(kVersionQuery.data(), 7, &count, "1000"), 2);
    expect_all_released(rig.tree);

    UsbDeviceTree::replug(rig.device);
    EXPECT_EQ(rig.lib.WriteToUsbPort(kVersionQuery.data(), 7, &count, "1000"), 0);
    EXPECT_EQ(rig.lib.ReadFromUsbPort(reply.data(), 10, &count, "1000"), 0);
    EXPECT_EQ(count, 10u);
    EXPECT_EQ(rig.printer().commands().size(), 2u);
    expect_all_released(rig.tree);
}

TEST(TransferTest, ARediscoveryFindsThePrinterUnderItsNewPath) {
    PrinterRig rig(kWin2000);
    std::uint32_t count = 0;
    ASSERT_EQ(rig.lib.WriteToUsbPort(kVersionQuery.data(), 7, &count, "1000"), 0);
    UsbDeviceTree::unplug(rig.device);
    UsbDevice& moved = rig.tree.add_printer(MS_USBPRINT_GUID, kPrinterPath + "-2", rig.device.printer);
    EXPECT_EQ(rig.lib.WriteToUsbPort(kVersionQuery.data(), 7, &count, "1000"), 0);
    EXPECT_EQ(rig.lib.write_port(), moved.path + "\\PIPE00");
    EXPECT_EQ(rig.printer().commands().size(), 2u);
    expect_all_released(rig.tree);
}

TEST(TransferTest, PartialImageBlockIsNotSentTwice) {
    fwup::sim::PrinterConfig config;
    config.fail_write_after = 100;
    Rig rig(kWin2000);
    UsbDevice& device = rig.add_printer(MS_USBPRINT_GUID, "P", config);
    char id[256];
    std::uint32_t capacity = 255;
    ASSERT_EQ(rig.lib.GetDeviceID(id, &capacity), 1);
    const Bytes download{0xA5, 0x00, 0x04, 0x50, 0xE0, 0x82, 0x05};
    std::uint32_t written = 0;
    ASSERT_EQ(rig.lib.WriteToUsbPort(download.data(), 7, &written, "1000"), 0);
    Bytes block(256);
    for (std::size_t i = 0; i < block.size(); ++i) block[i] = static_cast<std::uint8_t>(i);
    EXPECT_EQ(rig.lib.WriteToUsbPort(block.data(), 256, &written, "10000"), 1);
    EXPECT_EQ(written, 100u);
    EXPECT_EQ(device.printer->image_sha256(), fwup::sim::sha256_hex(block.data(), 100));
    EXPECT_EQ(rig.tree.counters().writes, 2u);
    expect_all_released(rig.tree);
}

// NT 6 and later: transfers on the interface path itself, the time-out text
// honoured in milliseconds, and no request the class driver does not know.
TEST(ClassDriverTransferTest, TransfersOnTheInterfacePath) {
    enum class Op { Write, Read };
    struct Row {
        const char* name;
        Op op;
        const char* timeout;
        std::function<void(UsbDevice&)> fault;
        int result;
        std::uint32_t count;
        std::vector<std::uint32_t> waits;  // the time-outs the transfers were given
        std::uint64_t elapsed_ms;
    };
    const std::vector<Row> rows = {
        {"command", Op::Write, "1000", [](UsbDevice&) {}, 0, 7, {1000}, 0},
        {"image block", Op::Write, "10000", [](UsbDevice&) {}, 0, 7, {10000}, 0},
        {"taken in part: not sent again", Op::Write, "10000",
         [](UsbDevice& d) { d.faults.short_writes = 1; d.faults.short_write_length = 3; }, 1, 3, {10000}, 0},
        {"fails once with nothing sent", Op::Write, "1000", [](UsbDevice& d) { d.faults.write_failures = 1; }, 0, 7,
         {1000, 1000}, 0},
        {"a text that is no number", Op::Write, "10s", [](UsbDevice&) {}, 4, kUntouched, {}, 0},
        {"an empty text", Op::Read, "", [](UsbDevice&) {}, 4, kUntouched, {}, 0},
        {"reply", Op::Read, "1000", [](UsbDevice&) {}, 0, 10, {1000}, 0},
        {"a reply that never comes ends after the time-out", Op::Read, "1000",
         [](UsbDevice& d) { d.faults.silent_reads = 1; }, 1, 0, {1000}, 1000},
        {"a whole packet: the trailing read waits too", Op::Read, "1000",
         [](UsbDevice& d) {
             d.queued_reads.clear();
             d.queued_reads.push_back(Bytes(64, 0x22));
             d.faults.silent_reads = 0;
         },
         0, 64, {1000, 1000}, 500},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Rig rig(OsVersionInfo{OsVersionInfo::kWin32Nt, 10, 0});
        UsbDevice& device = rig.add_printer(MS_USBPRINT_GUID, kPrinterPath);
        device.class_driver = true;
        char id[256];
        std::uint32_t capacity = 255;
        ASSERT_EQ(rig.lib.GetDeviceID(id, &capacity), 1);
        ASSERT_EQ(rig.lib.GetUsbPortName(), 1);
        EXPECT_STREQ(rig.lib.write_port(), kPrinterPath.c_str()) << "no pipe names";
        EXPECT_STREQ(rig.lib.read_port(), kPrinterPath.c_str());
        if (row.op == Op::Read) device.queued_reads.push_back(Bytes(10, 0x11));
        row.fault(device);
        rig.tree.clear_records();
        const std::uint64_t start = rig.clock.tick_ms();
        std::uint32_t count = kUntouched;
        Bytes buffer(255);
        const int result = row.op == Op::Write ? rig.lib.WriteToUsbPort(kVersionQuery.data(), 7, &count, row.timeout)
                                               : rig.lib.ReadFromUsbPort(buffer.data(), 255, &count, row.timeout);
        EXPECT_EQ(result, row.result);
        EXPECT_EQ(count, row.count);
        EXPECT_EQ(rig.tree.counters().transfer_timeouts, row.waits);
        EXPECT_EQ(rig.clock.tick_ms() - start, row.elapsed_ms);
        EXPECT_EQ(rig.tree.counters().requests.size(), 0u) << "no time-out request is sent";
        // Transfers open the path so that they can be cancelled; a rediscovery
        // before a retry opens it as discovery always does.
        bool cancellable = false;
        for (const fwup::sim::UsbOpenCall& open : rig.tree.open_calls()) {
            EXPECT_EQ(open.path, kPrinterPath);
            EXPECT_EQ(open.access, kGenericRead | kGenericWrite);
            EXPECT_EQ(open.share, kFileShareRead | kFileShareWrite);
            cancellable = cancellable || open.cancellable;
        }
        EXPECT_EQ(cancellable, !row.waits.empty());
        expect_all_released(rig.tree);
    }
}

TEST(TransferTest, OddButHarmlessArguments) {
    PrinterRig rig(kWin98);
    EXPECT_EQ(rig.lib.WriteToUsbPort(nullptr, 0, nullptr, "1000"), 0) << "an empty write is accepted";
    EXPECT_EQ(rig.lib.WriteToUsbPort(kVersionQuery.data(), 7, nullptr, "1000"), 0);
    Bytes reply(255);
    EXPECT_EQ(rig.lib.ReadFromUsbPort(reply.data(), 255, nullptr, "1000"), 0);
    EXPECT_EQ(reply[0], 0xA5);
    std::uint32_t count = kUntouched;
    EXPECT_EQ(rig.lib.WriteToUsbPort(nullptr, 7, &count, "1000"), 1);
    EXPECT_EQ(rig.lib.ReadFromUsbPort(nullptr, 7, &count, "1000"), 1);
    EXPECT_EQ(count, kUntouched);
    EXPECT_EQ(rig.printer().commands().size(), 1u);
    expect_all_released(rig.tree);
}

}  // namespace
}  // namespace veltport::testing
