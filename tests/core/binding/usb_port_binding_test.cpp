#include "core/binding/usb_port_binding.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "tests/support/recording_dialog.h"
#include "tests/support/scripted_usb_port.h"

namespace fwup {
namespace {

using test::RecordingDialog;
using test::ScriptedLibraryLoader;
using test::ScriptedUsbPort;

const std::vector<std::string> kExportsInOrder{"GetDeviceID", "WriteToUsbPort", "ReadFromUsbPort"};

TEST(UsbPortBinding, Windows98TheNt5FamilyAndNt6OnLoadTheLibrary) {
    struct Row {
        const char* system;
        PlatformFlags flags;
        bool loads;
    };
    const std::vector<Row> rows = {
        {"Windows 95 / ME / unknown", {false, false, false}, false},
        {"Windows NT 4", {true, false, false}, false},
        {"Windows 98", {false, true, false}, true},
        {"Windows 2000", {true, false, true}, true},
        {"Windows Vista and later", {true, false, false, true}, true},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.system);
        ScriptedUsbPort port;
        ScriptedLibraryLoader loader(port);
        RecordingDialog dialog;
        UsbPortApi api;
        const BindResult result = bind_usb_port_library(row.flags, loader, kUsbPortLibraryPath, api, dialog);
        EXPECT_EQ(result, row.loads ? BindResult::Bound : BindResult::NotNeeded);
        EXPECT_EQ(api.usable(), row.loads);
        EXPECT_EQ(loader.loads, row.loads ? std::vector<std::string>{".\\veltport.dll"} : std::vector<std::string>{});
        EXPECT_EQ(loader.lookups, row.loads ? kExportsInOrder : std::vector<std::string>{});
        EXPECT_TRUE(dialog.boxes.empty());
        EXPECT_FALSE(dialog.end_result);
    }
}

TEST(UsbPortBinding, MissingLibraryOrExportIsReportedAndEndsTheDialog) {
    struct Row {
        const char* name;
        bool present;
        std::set<std::string> exports;
        BindResult result;
        const char* text;
    };
    const std::vector<Row> rows = {
        {"no library", false, {}, BindResult::LibraryMissing, "Can't find 'veltport.dll' file"},
        {"no GetDeviceID", true, {"WriteToUsbPort", "ReadFromUsbPort"}, BindResult::ExportMissing,
         "Function inport failed from'veltport.dll' file"},
        {"no WriteToUsbPort", true, {"GetDeviceID", "ReadFromUsbPort"}, BindResult::ExportMissing,
         "Function inport failed from'veltport.dll' file"},
        {"no ReadFromUsbPort", true, {"GetDeviceID", "WriteToUsbPort"}, BindResult::ExportMissing,
         "Function inport failed from'veltport.dll' file"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        ScriptedUsbPort port;
        ScriptedLibraryLoader loader(port);
        loader.present = row.present;
        loader.exports = row.exports;
        RecordingDialog dialog;
        UsbPortApi api;
        EXPECT_EQ(bind_usb_port_library({true, false, true}, loader, "./libveltport.so", api, dialog), row.result);
        EXPECT_EQ(loader.loads, std::vector<std::string>{"./libveltport.so"});
        // Every export is looked up even when an earlier one is missing.
        EXPECT_EQ(loader.lookups, row.present ? kExportsInOrder : std::vector<std::string>{});
        ASSERT_EQ(dialog.boxes.size(), 1u);
        EXPECT_EQ(dialog.boxes[0].text, row.text);
        EXPECT_EQ(dialog.boxes[0].caption, "F/W Upgrade Utility for Windows 95/98");
        EXPECT_EQ(dialog.boxes[0].icon, MessageIcon::Error);
        EXPECT_EQ(dialog.end_result, 0);
        EXPECT_EQ(port.libraries_live, 0) << "Exit released the library";
        EXPECT_FALSE(api.loaded());
        EXPECT_FALSE(api.usable());
    }
}

TEST(UsbPortBinding, ExitReleasesTheLibraryAndEndsWithZero) {
    ScriptedUsbPort port;
    RecordingDialog dialog;
    UsbPortApi api = port.api();
    exit_dialog(api, dialog);
    EXPECT_EQ(port.libraries_live, 0);
    EXPECT_FALSE(api.usable());
    EXPECT_EQ(dialog.end_result, 0);

    UsbPortApi never_loaded;
    RecordingDialog other;
    exit_dialog(never_loaded, other);
    EXPECT_EQ(other.end_result, 0);
}

}  // namespace
}  // namespace fwup
