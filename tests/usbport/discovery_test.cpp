// Discovery, the environment check and the identification exports, against the
// simulated device tree.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "usbport_test_support.h"

namespace veltport::testing {
namespace {

using fwup::sim::PrinterConfig;
using fwup::sim::UsbDevice;
using fwup::sim::UsbDeviceTree;
using fwup::sim::UsbFaults;

PrinterConfig vendor(std::uint16_t id) {
    PrinterConfig config;
    config.vendor_id = id;
    return config;
}

PrinterConfig device_id(std::string text) {
    PrinterConfig config;
    config.device_id = std::move(text);
    return config;
}

TEST(EnvironmentCheckTest, SelectsTheInterfaceClassFromTheSystemVersion) {
    struct Row {
        const char* name;
        std::optional<OsVersionInfo> os;
        std::uint32_t result;
        bool win2k;
        const char* debug;
        const char* path_tried;
    };
    const std::string ok = "VELTPORT : GetDescriptor OK\n";
    const std::vector<Row> rows = {
        {"Windows 98 (4.10)", kWin98, 1, false, "VELTPORT : Windows98\n", "maker"},
        {"Windows 9x family, minor 10 whatever the major", OsVersionInfo{1, 5, 10}, 1, false,
         "VELTPORT : Windows98\n", "maker"},
        {"Windows 95 (4.0)", kWin95, 0, false, "", ""},
        {"Windows Me (4.90)", kWinMe, 0, false, "", ""},
        {"Windows 2000 (5.0)", kWin2000, 1, true, "VELTPORT : Windows2000\n", "system"},
        {"Windows XP (5.1)", kWinXp, 1, true, "VELTPORT : Windows2000\n", "system"},
        {"NT 4.0", kNt4, 0, false, "", ""},
        {"NT with minor 10", OsVersionInfo{2, 4, 10}, 0, false, "", ""},
        {"version query refused", std::nullopt, 0, false, "", ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Rig rig(row.os);
        rig.add_printer(CORVANE_USB_GUID, "maker");
        rig.add_printer(MS_USBPRINT_GUID, "system");
        EXPECT_EQ(rig.lib.USBCheckEnvironment(), row.result);
        EXPECT_EQ(rig.lib.win2k(), row.win2k);
        EXPECT_EQ(rig.tree.debug_text(), row.result ? row.debug + ok : std::string(row.debug));
        EXPECT_EQ(rig.tree.standard_text(), "");
        EXPECT_STREQ(rig.lib.complete_device_name(), row.path_tried);
        EXPECT_EQ(rig.tree.counters().sets_created, row.result ? 1u : 0u)
            << "an unsupported system is not searched";
        expect_all_released(rig.tree);
    }
}

// NT 6 and later: the system's own class driver behind the system's class.
TEST(ClassDriverTest, IdentificationThroughTheClassDriver) {
    struct Row {
        const char* name;
        std::optional<OsVersionInfo> os;
        std::function<void(Rig&)> setup;
        int device_id_result;
        std::uint16_t vendor;  // GetVendorID's, 0: refused
        std::uint64_t id_requests;  // GET_1284_ID requests made by GetDeviceID
        const char* debug;
    };
    const OsVersionInfo vista{2, 6, 0};
    const OsVersionInfo win10{2, 10, 0};
    const auto class_printer = [](Rig& r) -> UsbDevice& {
        UsbDevice& d = r.add_printer(MS_USBPRINT_GUID, kPrinterPath, vendor(0x0550));
        d.class_driver = true;
        return d;
    };
    const std::string found = "VELTPORT : Windows Vista or later\nVELTPORT : HardwareID OK\n";
    const std::vector<Row> rows = {
        {"Vista (6.0)", vista, [&](Rig& r) { class_printer(r); }, 1, 0x0550, 1, "VELTPORT : GetDeviceid OK\n"},
        {"Windows 10 (10.0)", win10, [&](Rig& r) { class_printer(r); }, 1, 0x0550, 1, "VELTPORT : GetDeviceid OK\n"},
        {"the vendor only on the parent node", win10,
         [&](Rig& r) {
             UsbDevice& d = class_printer(r);
             d.hardware_ids = std::vector<std::string>{"USBPRINT\\FIXTUREFX-10004A2B", "GENERIC_IEEE_1284"};
             d.parent_hardware_ids = std::vector<std::string>{"USB\\VID_0419&PID_0001&REV_0100"};
         },
         1, 0x0419, 1, "VELTPORT : GetDeviceid OK\n"},
        {"a vendor that is not accepted", win10,
         [&](Rig& r) { class_printer(r).hardware_ids = std::vector<std::string>{"USB\\VID_1234&PID_0001"}; }, 0,
         0x1234, 0, "VELTPORT : GetDeviceid fail(USBCheckEnvironment)\n"},
        {"no USB hardware ID anywhere", win10,
         [&](Rig& r) { class_printer(r).hardware_ids = std::vector<std::string>{"ROOT\\FWPRN"}; }, 0, 0, 0,
         "VELTPORT : GetDeviceid fail(USBCheckEnvironment)\n"},
        {"the ID request fails five times", win10,
         [&](Rig& r) { class_printer(r).faults.device_id_failures = 5; }, 0, 0x0550, 5,
         "VELTPORT : GetDeviceid fail\n"},
        {"the first interface is held by another process", win10,
         [&](Rig& r) {
             UsbDevice& held = class_printer(r);
             held.openable = false;
             held.path = "held";
             class_printer(r);
         },
         1, 0x0550, 1, "VELTPORT : GetDeviceid OK\n"},
        {"a driver that knows only the maker's requests", win10,
         [&](Rig& r) { r.add_printer(MS_USBPRINT_GUID, kPrinterPath, vendor(0x0550)); }, 0, 0x0550, 5,
         "VELTPORT : GetDeviceid fail\n"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Rig rig(row.os);
        rig.add_printer(CORVANE_USB_GUID, "maker", vendor(0x043D));
        row.setup(rig);
        std::uint16_t id = 0;
        EXPECT_EQ(rig.lib.GetVendorID(&id), row.vendor != 0 ? 1 : 0) << "no check is needed first";
        EXPECT_EQ(id, row.vendor);
        rig.tree.clear_records();
        char text[256] = {};
        std::uint32_t capacity = 255;
        EXPECT_EQ(rig.lib.GetDeviceID(text, &capacity), row.device_id_result);
        EXPECT_TRUE(rig.lib.class_driver());
        EXPECT_FALSE(rig.lib.win2k());
        if (row.device_id_result == 1) {
            // The count includes its own two bytes; the same rules copy them too.
            EXPECT_STREQ(text, PrinterConfig{}.device_id.c_str());
            EXPECT_EQ(capacity, PrinterConfig{}.device_id.size() + 3);
        }
        const fwup::sim::UsbCounters& c = rig.tree.counters();
        for (const std::uint32_t old : {GET_DEVICE_DESCRIPTOR, GET_DEVICE_ID, SET_WRITE_TIMEOUT, SET_READ_TIMEOUT}) {
            EXPECT_EQ(c.requests_of(old), 0u) << "the class driver does not know " << old;
        }
        EXPECT_EQ(c.requests_of(GET_1284_ID), row.id_requests);
        const std::string hardware = row.vendor == 0 ? "VELTPORT : Windows Vista or later\nVELTPORT : HardwareID fail\n"
                                                     : found;
        EXPECT_EQ(rig.tree.debug_text(), hardware + row.debug);
        expect_all_released(rig.tree);
    }
}

TEST(ClassDriverTest, HardwareIdsAndTimeOutTexts) {
    struct IdRow {
        const char* id;
        std::uint16_t vendor;
    };
    for (const IdRow& row : std::vector<IdRow>{{"USB\\VID_043D&PID_1234&REV_0100", 0x043D},
                                               {"usb\\vid_04a2&pid_0001", 0x04A2},
                                               {"USB\\VID_0550", 0x0550},
                                               {"USB\\VID_05501&PID_0001", 0},
                                               {"USB\\VID_05G0&PID_0001", 0},
                                               {"USBPRINT\\VID_0550", 0},
                                               {"ROOT\\USB\\VID_0550", 0},
                                               {"USB\\VID_05", 0},
                                               {"", 0}}) {
        EXPECT_EQ(vendor_in_hardware_id(row.id), row.vendor) << row.id;
    }
    struct TimeoutRow {
        const char* text;
        std::optional<std::uint32_t> ms;
    };
    for (const TimeoutRow& row : std::vector<TimeoutRow>{{"1000", 1000u},
                                                         {"10000", 10000u},
                                                         {"0", 0u},
                                                         {"9999999", 9999999u},
                                                         {"12345678", std::nullopt},
                                                         {"", std::nullopt},
                                                         {"10s", std::nullopt},
                                                         {"-1", std::nullopt},
                                                         {nullptr, std::nullopt}}) {
        EXPECT_EQ(timeout_milliseconds(row.text), row.ms) << (row.text ? row.text : "(null)");
    }
}

TEST(EnvironmentCheckTest, TheSystemClassStaysChosenOnceFound) {
    Rig rig(kWin2000);
    rig.add_printer(CORVANE_USB_GUID, "maker", vendor(0x0419));
    rig.add_printer(MS_USBPRINT_GUID, "system", vendor(0x049F));
    std::uint16_t id = 0;
    ASSERT_EQ(rig.lib.GetVendorID(&id), 1);
    EXPECT_EQ(id, 0x0419) << "before any check the maker's class is searched";
    ASSERT_EQ(rig.lib.USBCheckEnvironment(), 1u);
    rig.tree.set_os_version(kWin98);
    EXPECT_EQ(rig.lib.USBCheckEnvironment(), 1u);
    EXPECT_TRUE(rig.lib.win2k());
    ASSERT_EQ(rig.lib.GetVendorID(&id), 1);
    EXPECT_EQ(id, 0x049F);
    expect_all_released(rig.tree);
}

// A member whose enumeration fails is passed over, but a run of failures ends
// the search: an enumeration that has broken down never reports its end.
TEST(DiscoveryTest, ARunOfEnumerationFailuresEndsTheSearch) {
    struct Row {
        const char* name;
        std::string members;  // f: its enumeration fails; h: held by another process; p: a printer
        bool found;
        std::uint64_t enumerations;
    };
    const std::vector<Row> rows = {
        {"63 failing members, then the printer", std::string(63, 'f') + "p", true, 64},
        {"64 failing members end the search", std::string(64, 'f') + "p", false, 64},
        {"a member between two runs starts the count again",
         std::string(40, 'f') + "h" + std::string(40, 'f') + "p", true, 82},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Rig rig(kWin2000);
        for (std::size_t i = 0; i < row.members.size(); ++i) {
            // (Appended, not "M" + ...: GCC 12 at -O3 sees a false overlap in that.)
            std::string name = "M";
            name += std::to_string(i);
            UsbDevice& member = rig.add_printer(MS_USBPRINT_GUID, name);
            if (row.members[i] == 'f') member.faults.enumeration_failures = UsbFaults::kAlways;
            if (row.members[i] == 'h') member.openable = false;
        }
        char path[UsbPortLibrary::kDeviceNameSize] = {};
        UniqueHandle device = rig.lib.OpenUsbDevice(MS_USBPRINT_GUID, path);
        EXPECT_EQ(static_cast<bool>(device), row.found);
        EXPECT_EQ(rig.tree.counters().enumerations, row.enumerations);
        device.reset();
        expect_all_released(rig.tree);
    }
}

TEST(DiscoveryTest, TakesTheLowestMemberThatOpens) {
    struct Row {
        const char* name;
        bool printers;
        std::function<void(Rig&)> setup;
        std::uint16_t vendor;  // 0: nothing found
        const char* path_tried;
        const char* standard;
        const char* debug;
    };
    const std::string long_path(256, 'L');
    const std::vector<Row> rows = {
        {"no printer", false, [](Rig&) {}, 0, "", "Failed to open () = 259",
         "VELTPORT : USBGetVendorID fail(INVALID_HANDLE)\n"},
        {"two printers", true, [](Rig&) {}, 0x0419, "A", "", "VELTPORT : GetDescriptor OK\n"},
        {"first held by another process", true,
         [](Rig& r) { r.tree.device(MS_USBPRINT_GUID, 0).openable = false; }, 0x049F, "B",
         "FAILED to open A\n", "VELTPORT : GetDescriptor OK\n"},
        {"both held by another process", true,
         [](Rig& r) {
             r.tree.device(MS_USBPRINT_GUID, 0).openable = false;
             r.tree.device(MS_USBPRINT_GUID, 1).openable = false;
         },
         0, "B", "FAILED to open A\nFAILED to open B\nFailed to open (B) = 259",
         "VELTPORT : USBGetVendorID fail(INVALID_HANDLE)\n"},
        {"enumerating the first fails", true,
         [](Rig& r) { r.tree.device(MS_USBPRINT_GUID, 0).faults.enumeration_failures = 1; }, 0x049F,
         "B", "", "VELTPORT : GetDescriptor OK\n"},
        {"the first's path cannot be read", true,
         [](Rig& r) { r.tree.device(MS_USBPRINT_GUID, 0).faults.path_failures = 1; }, 0x049F, "B", "",
         "VELTPORT : GetDescriptor OK\n"},
        {"the first is unplugged", true, [](Rig& r) { UsbDeviceTree::unplug(r.tree.device(MS_USBPRINT_GUID, 0)); },
         0x049F, "B", "", "VELTPORT : GetDescriptor OK\n"},
        {"the first's path does not fit", true,
         [&](Rig& r) { r.tree.device(MS_USBPRINT_GUID, 0).path = long_path; }, 0x049F, "B", "",
         "VELTPORT : GetDescriptor OK\n"},
        {"no device information set", true, [](Rig& r) { r.tree.fail_set_creation(1); }, 0, "",
         "Failed to open () = 31", "VELTPORT : USBGetVendorID fail(INVALID_HANDLE)\n"},
        {"descriptor request fails", true,
         [](Rig& r) { r.tree.device(MS_USBPRINT_GUID, 0).faults.descriptor_failures = 1; }, 0, "A",
         "USB32DLL: DeviceIoCtl(GET_DEVICE_DESCRIPTOR) failed with error:31\n",
         "VELTPORT : GetDescriptor fail\n"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Rig rig(kWin2000);
        ASSERT_EQ(rig.lib.USBCheckEnvironment(), 0u);  // selects the system class
        rig.tree.clear_records();
        if (row.printers) {
            rig.add_printer(MS_USBPRINT_GUID, "A", vendor(0x0419));
            rig.add_printer(MS_USBPRINT_GUID, "B", vendor(0x049F));
        }
        row.setup(rig);
        std::uint16_t id = 0xBEEF;
        EXPECT_EQ(rig.lib.GetVendorID(&id), row.vendor != 0 ? 1 : 0);
        EXPECT_EQ(id, row.vendor != 0 ? row.vendor : 0xBEEF) << "a failure stores nothing";
        EXPECT_STREQ(rig.lib.complete_device_name(), row.path_tried);
        EXPECT_EQ(rig.tree.standard_text(), row.standard);
        EXPECT_EQ(rig.tree.debug_text(), row.debug);
        expect_all_released(rig.tree);
    }
}

TEST(IdentificationTest, OnlyAcceptedVendorsPassTheGate) {
    struct Row {
        std::uint16_t vendor;
        bool accepted;
    };
    const std::vector<Row> rows = {{0x043D, true},  {0x0419, true},  {0x049F, true}, {0x0550, true},
                                   {0x04B8, false}, {0x043E, false}, {0x0000, false}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.vendor);
        Rig rig(kWin2000);
        rig.add_printer(MS_USBPRINT_GUID, "P", vendor(row.vendor));
        const int expected = row.accepted ? 1 : 0;
        char id[256];
        std::uint32_t capacity = 255;
        EXPECT_EQ(rig.lib.GetDeviceID(id, &capacity), expected);
        expect_all_released(rig.tree);
        std::vector<char> big(4096);
        EXPECT_EQ(rig.lib.GetModelName(big.data()), expected);
        EXPECT_EQ(rig.lib.GetControlPortName(big.data(), 4096), expected);
        EXPECT_EQ(rig.lib.GetWritePortName(big.data(), 4096), expected);
        EXPECT_EQ(rig.lib.GetReadPortName(big.data(), 4096), expected);
        std::uint16_t found = 0;
        EXPECT_EQ(rig.lib.GetVendorID(&found), row.vendor != 0 ? 1 : 0);
        EXPECT_EQ(found, row.vendor);
        const std::string gate_failure = "VELTPORT : GetDeviceid fail(USBCheckEnvironment)\n";
        EXPECT_EQ(rig.tree.debug_text().find(gate_failure) != std::string::npos, !row.accepted);
        expect_all_released(rig.tree);
    }
}

TEST(IdentificationTest, DeviceIdCountIsLimitedByTheAreaAndTheCapacity) {
    struct Row {
        const char* name;
        std::uint16_t count;
        std::size_t text_length;
        std::uint32_t capacity;
        std::size_t expected_text;  // characters before the NUL
        std::uint32_t reported;
    };
    const std::vector<Row> rows = {
        {"count 0", 0, 30, 255, 0, 1},
        {"count 20", 20, 30, 255, 20, 21},
        {"count 300 against 255", 300, 300, 255, 254, 255},
        {"count over 4096 against 255", 5000, 5000, 255, 254, 255},
        {"count over 4096 is taken as 4096", 5000, 5000, 8192, 4094, 4097},
        {"count 4096 filling the capacity", 4096, 4094, 4096, 4094, 4096},
        {"count equal to the capacity", 20, 30, 20, 19, 20},
        {"count one below the capacity", 20, 30, 21, 20, 21},
        {"capacity 1", 20, 30, 1, 0, 1},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Rig rig(kWin2000);
        UsbDevice& device = rig.add_printer(MS_USBPRINT_GUID, "P");
        std::string text;
        for (std::size_t i = 0; i < row.text_length; ++i) text += static_cast<char>('a' + i % 26);
        device.device_id = text;
        device.device_id_count = row.count;
        // Exactly the capacity, so that the sanitizer sees any byte past it.
        std::vector<char> buffer(row.capacity, '\x7F');
        std::uint32_t capacity = row.capacity;
        ASSERT_EQ(rig.lib.GetDeviceID(buffer.data(), &capacity), 1);
        EXPECT_EQ(capacity, row.reported);
        EXPECT_EQ(std::string(buffer.data(), strnlen(buffer.data(), buffer.size())),
                  text.substr(0, row.expected_text));
        for (std::size_t i = row.reported; i < buffer.size(); ++i) {
            ASSERT_EQ(buffer[i], '\x7F') << "byte " << i << " past the reported count was written";
        }
        expect_all_released(rig.tree);
    }
}

TEST(IdentificationTest, RefusesABufferWithoutRoomOrPointers) {
    Rig rig(kWin2000);
    rig.add_printer(MS_USBPRINT_GUID, "P");
    char buffer[4] = {'x', 'y', 'z', 'w'};
    std::uint32_t capacity = 0;
    EXPECT_EQ(rig.lib.GetDeviceID(buffer, &capacity), 0);
    EXPECT_EQ(capacity, 0u);
    EXPECT_EQ(std::string(buffer, 4), "xyzw");
    capacity = 4;
    EXPECT_EQ(rig.lib.GetDeviceID(nullptr, &capacity), 0);
    EXPECT_EQ(rig.lib.GetDeviceID(buffer, nullptr), 0);
    EXPECT_EQ(rig.lib.GetModelName(nullptr), 0);
    EXPECT_EQ(rig.lib.GetVendorID(nullptr), 0);
    EXPECT_EQ(rig.lib.GetControlPortName(nullptr, 100), 0);
    EXPECT_EQ(rig.lib.GetWritePortName(nullptr, 100), 0);
    EXPECT_EQ(rig.lib.GetReadPortName(nullptr, 100), 0);
    EXPECT_EQ(rig.tree.counters().version_queries, 0u) << "nothing was touched";
    EXPECT_EQ(rig.tree.counters().sets_created, 0u);
}

TEST(IdentificationTest, DeviceIdRequestIsTriedFiveTimesWithPauses) {
    struct Row {
        std::uint32_t failures;
        int result;
        std::uint64_t pauses;
    };
    const std::vector<Row> rows = {{0, 1, 0}, {1, 1, 1}, {4, 1, 4}, {5, 0, 5}, {UsbFaults::kAlways, 0, 5}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.failures);
        Rig rig(kWin2000);
        UsbDevice& device = rig.add_printer(MS_USBPRINT_GUID, "P", device_id("MODEL:Q;"));
        device.faults.device_id_failures = row.failures;
        char buffer[256] = "untouched";
        std::uint32_t capacity = 255;
        EXPECT_EQ(rig.lib.GetDeviceID(buffer, &capacity), row.result);
        EXPECT_EQ(rig.tree.counters().sleeps, std::vector<std::uint32_t>(row.pauses, 100));
        EXPECT_EQ(rig.clock.tick_ms(), row.pauses * 100);
        EXPECT_EQ(rig.tree.counters().requests_of(GET_DEVICE_ID), std::min<std::uint64_t>(row.failures, 4) + 1);
        const std::string prefix = "VELTPORT : Windows2000\nVELTPORT : GetDescriptor OK\n";
        if (row.result == 1) {
            EXPECT_STREQ(buffer, "MODEL:Q;");
            EXPECT_EQ(capacity, 9u);
            EXPECT_EQ(rig.tree.debug_text(), prefix + "VELTPORT : GetDeviceid OK\n");
            EXPECT_EQ(rig.tree.standard_text(), "");
        } else {
            EXPECT_STREQ(buffer, "untouched");
            EXPECT_EQ(capacity, 255u);
            EXPECT_EQ(rig.tree.debug_text(), prefix + "VELTPORT : GetDeviceid fail\n");
            EXPECT_EQ(rig.tree.standard_text(), "USB32DLL: DeviceIoCtl(GET_DEVICE_ID) failed with error:31\n");
        }
        EXPECT_EQ(rig.tree.counters().sets_created, 2u) << "one search in the check, one for the request";
        expect_all_released(rig.tree);
    }
}

TEST(IdentificationTest, DeviceIdReadWithoutAPrinterSaysSo) {
    Rig rig(kWin2000);
    char buffer[16] = {};
    std::uint32_t capacity = 16;
    EXPECT_EQ(rig.lib.USBGetDeviceID(buffer, &capacity), 0);
    EXPECT_EQ(rig.tree.debug_text(), "VELTPORT : GetDeviceid fail(INVALID_HANDEL)\n");
    EXPECT_EQ(rig.tree.standard_text(), "Failed to open () = 259");
    EXPECT_EQ(rig.lib.GetDeviceID(buffer, &capacity), 0);
    EXPECT_EQ(rig.tree.debug_text(),
              "VELTPORT : GetDeviceid fail(INVALID_HANDEL)\nVELTPORT : Windows2000\n"
              "VELTPORT : USBGetVendorID fail(INVALID_HANDLE)\n"
              "VELTPORT : GetDeviceid fail(USBCheckEnvironment)\n");
    expect_all_released(rig.tree);
}

TEST(IdentificationTest, ModelNameIsTheValueOfTheModelKey) {
    struct Row {
        const char* name;
        std::string device_id;
        std::optional<std::uint16_t> count;
        int result;
        std::string model;
    };
    const std::string long_value(4090, 'm');
    const std::vector<Row> rows = {
        {"value with a blank", "MFG:X;MODEL:Y Z;CMD:A;", {}, 1, "Y Z"},
        {"only MDL", "MFG:X;MDL:Y;CMD:A;", {}, 0, ""},
        {"key in lower case", "MFG:X;model:Y;", {}, 0, ""},
        {"last key without ';'", "MFG:X;MODEL:Y", {}, 1, "Y"},
        {"key inside another key", "MFG:X;XMODEL:Q;MODEL:R;", {}, 1, "Q"},
        {"empty value", "MODEL:;MFG:X;", {}, 1, ""},
        {"count cuts the value", "MODEL:ABCDEF;", 9, 1, "ABC"},
        {"count cuts the key", "MFG:X;MODEL:ABC;", 9, 0, ""},
        // The driver's area leaves 4094 bytes of text; the count reaches two bytes past it.
        {"longest value", "MODEL:" + long_value, 4096, 1, long_value.substr(0, 4088)},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Rig rig(kWin98);
        UsbDevice& device = rig.add_printer(CORVANE_USB_GUID, "P", device_id(row.device_id));
        device.device_id_count = row.count;
        std::vector<char> model(4090, '\x7F');
        EXPECT_EQ(rig.lib.GetModelName(model.data()), row.result);
        if (row.result == 1) {
            EXPECT_EQ(std::string(model.data()), row.model);
        }
        EXPECT_EQ(rig.tree.standard_text(), "");
        expect_all_released(rig.tree);
    }
}

TEST(IdentificationTest, ModelNameFailsWhenTheDeviceIdCannotBeRead) {
    Rig rig(kWin98);
    UsbDevice& device = rig.add_printer(CORVANE_USB_GUID, "P");
    device.faults.device_id_failures = UsbFaults::kAlways;
    char model[64] = "untouched";
    EXPECT_EQ(rig.lib.GetModelName(model), 0);
    EXPECT_STREQ(model, "untouched");
    EXPECT_EQ(rig.tree.standard_text(),
              "USB32DLL: DeviceIoCtl(GET_DEVICE_ID) failed with error:31\nGetDeviceID failed!!\n\n");
    EXPECT_EQ(rig.tree.debug_text(), "VELTPORT : Windows98\nVELTPORT : GetDescriptor OK\n");
    expect_all_released(rig.tree);
}

TEST(PortNameTest, NamesNeedRoomForThePathAndItsNul) {
    enum class Export { Control, Write, Read };
    struct Row {
        Export which;
        std::string expected;
        std::uint32_t size;
        bool fits;
    };
    const std::string p = kPrinterPath;
    const auto len = [](const std::string& s) { return static_cast<std::uint32_t>(s.size()); };
    const std::vector<Row> rows = {
        {Export::Control, p, len(p), false},
        {Export::Control, p, len(p) + 1, true},
        {Export::Write, p + "\\PIPE00", len(p) + 7, false},
        {Export::Write, p + "\\PIPE00", len(p) + 8, true},
        {Export::Read, p + "\\PIPE01", len(p) + 7, false},
        {Export::Read, p + "\\PIPE01", len(p) + 8, true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.expected + " in " + std::to_string(row.size));
        Rig rig(kWin2000);
        rig.add_printer(MS_USBPRINT_GUID, p);
        std::vector<char> buffer(row.size, '\x7F');
        int result = 0;
        for (int call = 0; call < 2; ++call) {  // a second call must not pile up suffixes
            switch (row.which) {
                case Export::Control: result = rig.lib.GetControlPortName(buffer.data(), row.size); break;
                case Export::Write: result = rig.lib.GetWritePortName(buffer.data(), row.size); break;
                case Export::Read: result = rig.lib.GetReadPortName(buffer.data(), row.size); break;
            }
            EXPECT_EQ(result, row.fits ? 1 : 0);
            if (row.fits) {
                EXPECT_EQ(std::string(buffer.data()), row.expected);
            }
        }
        EXPECT_EQ(rig.tree.standard_text(), row.fits ? "" : "buffer size too small!!\n\nbuffer size too small!!\n\n");
        EXPECT_FALSE(rig.lib.port_names_cached()) << "the exports neither use nor fill the cache";
        expect_all_released(rig.tree);
    }
}

TEST(PortNameTest, PipeNamesWithoutAPrinter) {
    Rig rig(kWin2000);
    char buffer[300];
    EXPECT_EQ(rig.lib.USBGetWritePortName(buffer, sizeof buffer), 0);
    EXPECT_EQ(rig.lib.USBGetReadPortName(buffer, sizeof buffer), 0);
    EXPECT_EQ(rig.lib.USBGetControlPortName(buffer, sizeof buffer), 0);
    EXPECT_EQ(rig.tree.standard_text(),
              "Failed to GetUsbDeviceFileName\nFailed to GetUsbDeviceFileName\n"
              "Failed to GetUsbDeviceFileName\n");
    expect_all_released(rig.tree);
}

// Device paths near the length of the library's texts: every use refuses a
// path that a cached pipe name could not hold, as if no interface were there,
// so identification and transfers never part ways; nothing is written past a
// buffer (the sanitizer would see it).
TEST(PortNameTest, OverlongDevicePathsCountAsNotFound) {
    struct Row {
        std::size_t length;
        int identified;   // GetDeviceID
        int control;      // GetControlPortName into 300 bytes
        int pipe_names;   // GetWritePortName / GetReadPortName into 300 bytes
        int write;        // WriteToUsbPort result
    };
    const std::vector<Row> rows = {
        {247, 1, 1, 1, 0}, {248, 0, 0, 0, 2}, {249, 0, 0, 0, 2},
        {254, 0, 0, 0, 2}, {255, 0, 0, 0, 2}, {256, 0, 0, 0, 2}, {600, 0, 0, 0, 2},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.length);
        Rig rig(kWin2000);
        const std::string path = "\\\\?\\" + std::string(row.length - 4, 'p');
        rig.add_printer(MS_USBPRINT_GUID, path);
        char id[256];
        std::uint32_t capacity = 255;
        EXPECT_EQ(rig.lib.GetDeviceID(id, &capacity), row.identified);
        ASSERT_EQ(rig.lib.USBCheckEnvironment(), static_cast<std::uint32_t>(row.identified));
        std::vector<char> name(300);
        EXPECT_EQ(rig.lib.USBGetControlPortName(name.data(), 300), row.control);
        if (row.control) {
            EXPECT_EQ(std::string(name.data()), path);
        }
        EXPECT_EQ(rig.lib.USBGetWritePortName(name.data(), 300), row.pipe_names);
        if (row.pipe_names) {
            EXPECT_EQ(std::string(name.data()), path + "\\PIPE00");
        }
        EXPECT_EQ(rig.lib.USBGetReadPortName(name.data(), 300), row.pipe_names);
        const unsigned char data[1] = {0};
        std::uint32_t written = 0;
        EXPECT_EQ(rig.lib.WriteToUsbPort(data, 1, &written, "1000"), row.write);
        if (row.write == 0) {
            EXPECT_EQ(std::string(rig.lib.write_port()), path + "\\PIPE00");
        }
        EXPECT_LE(std::strlen(rig.lib.complete_device_name()), 255u);
        expect_all_released(rig.tree);
    }
}

TEST(PortNameTest, AnOverlongFirstPathLeavesTheNextPrinter) {
    Rig rig(kWin2000);
    rig.add_printer(MS_USBPRINT_GUID, std::string(250, 'x'), device_id("MODEL:LONG;"));
    rig.add_printer(MS_USBPRINT_GUID, "short", device_id("MODEL:SHORT;"));
    char id[256];
    std::uint32_t capacity = 255;
    ASSERT_EQ(rig.lib.GetDeviceID(id, &capacity), 1);
    EXPECT_STREQ(id, "MODEL:SHORT;") << "identified where the transfers go";
    const unsigned char data[1] = {0};
    std::uint32_t written = 0;
    ASSERT_EQ(rig.lib.WriteToUsbPort(data, 1, &written, "1000"), 0);
    EXPECT_STREQ(rig.lib.write_port(), "short\\PIPE00");
    char name[64];
    ASSERT_EQ(rig.lib.USBGetWritePortName(name, sizeof name), 1);
    EXPECT_STREQ(name, "short\\PIPE00");
    expect_all_released(rig.tree);
}

}  // namespace
}  // namespace veltport::testing
