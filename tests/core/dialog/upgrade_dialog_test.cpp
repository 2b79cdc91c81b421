#include "core/dialog/upgrade_dialog.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "core/dialog/upgrade_app.h"
#include "tests/support/transfer_rig.h"
#include "core/transfer/status_texts.h"

namespace fwup {
namespace {

using test::RecordingDialog;
using test::ScriptedLibraryLoader;
using test::TransferRig;

const PlatformFlags kWindows95{};
const PlatformFlags kWindows2000{.is_nt = true, .is_win2000 = true, .usb_model_check = false};

// The seams from a transfer rig, plus a library loader over its USB port.
struct DialogRig : TransferRig {
    DialogServices services() { return {ports, images, clock, loader, kUsbPortLibraryPath, nullptr}; }

    ScriptedLibraryLoader loader{usb_port};
};

TEST(UpgradeDialog, InitialisesTextsAndTitleInBothModes) {
    struct Row {
        int demo;
        std::string virtual_machine;
        std::string title;
        std::string upgrade_caption;
        std::string printer = {};
    };
    const std::vector<Row> rows = {
        {0, "", "F/W Upgrade Utility for Windows 95/98 (V1.06)", "Upgrade Now"},
        {1, "", "Download Demo Utility for Windows 95/98 (V1.01)", "Download Now"},
        // A virtual machine is never taken for a real printer.
        {0, "vm.ini", "[Virtual printer] F/W Upgrade Utility for Windows 95/98 (V1.06)", "Upgrade Now"},
        {1, "vm.ini", "[Virtual printer] Download Demo Utility for Windows 95/98 (V1.01)", "Download Now"},
        // The printer the start-up chose is named after the title.
        {0, "vm.ini", "[Virtual printer] F/W Upgrade Utility for Windows 95/98 (V1.06) - [Printer2] (VP-1000)",
         "Upgrade Now", "[Printer2] (VP-1000)"},
    };
    for (const auto& row : rows) {
        DialogRig rig;
        rig.settings.demo = row.demo;
        rig.settings.file_version = 100;
        DialogServices services = rig.services();
        services.virtual_machine = row.virtual_machine;
        services.printer = row.printer;
        UpgradeDialog dialog(rig.settings, kWindows95, services);
        RecordingDialog controls;
        EXPECT_TRUE(dialog.initialise(controls));
        EXPECT_EQ(controls.title, row.title);
        EXPECT_EQ(controls.text(IDC_UPGRADE_NOW), row.upgrade_caption);
        EXPECT_FALSE(controls.enabled(IDC_UPGRADE_NOW));
        EXPECT_EQ(controls.text(IDC_MODEL_NAME), "Model X");
        EXPECT_EQ(controls.text(IDC_FW_FILE), "fw.bin");
        EXPECT_EQ(controls.text(IDC_FILE_VERSION), "1.00");
        EXPECT_EQ(controls.text(IDC_FW_VERSION), "...");
        EXPECT_EQ(dialog.image_version_text(), "1.00");
        EXPECT_TRUE(rig.loader.loads.empty()) << "Windows 95 never looks for the library";
        EXPECT_FALSE(controls.end_result);
    }
}

TEST(UpgradeDialog, BindsTheLibraryAfterTheTitleAndStopsWhenItIsMissing) {
    for (const bool present : {true, false}) {
        DialogRig rig;
        rig.loader.present = present;
        UpgradeDialog dialog(rig.settings, kWindows2000, rig.services());
        RecordingDialog controls;
        EXPECT_EQ(dialog.initialise(controls), present);
        EXPECT_EQ(controls.title, "F/W Upgrade Utility for Windows 95/98 (V1.06)");
        EXPECT_EQ(dialog.usb().usable(), present);
        if (present) {
            EXPECT_EQ(controls.text(IDC_MODEL_NAME), "Model X");
            EXPECT_FALSE(controls.end_result);
        } else {
            ASSERT_EQ(controls.boxes.size(), 1u);
            EXPECT_EQ(controls.boxes[0].text, "Can't find 'veltport.dll' file");
            EXPECT_EQ(controls.end_result, 0);
            EXPECT_EQ(controls.text(IDC_MODEL_NAME), "") << "the texts were never filled in";
        }
    }
}

TEST(UpgradeDialog, ButtonsRunTheirCommands) {
    DialogRig rig;
    rig.ports.script.replies = {test::version_reply(0, "105")};
    // Only the download is reported for the history, with the status it ended on.
    std::vector<std::string> downloads;
    DialogServices services = rig.services();
    services.after_download = [&](const RunFacts& facts, const std::string& status) {
        downloads.push_back(status + " " + std::to_string(facts.bytes_sent));
    };
    UpgradeDialog dialog(rig.settings, kWindows2000, services);
    RecordingDialog controls;
    ASSERT_TRUE(dialog.initialise(controls));
    rig.usb_port.script.replies = {test::version_reply(0, "105")};

    EXPECT_TRUE(dialog.on_command(IDC_VERIFY, controls));
    EXPECT_EQ(controls.status(), text::kReadyToUpgrade);
    EXPECT_TRUE(controls.enabled(IDC_UPGRADE_NOW));
    EXPECT_FALSE(dialog.busy());

    EXPECT_FALSE(dialog.on_command(1 /* IDOK belongs to the front end */, controls));

    // The download goes over USB and, having upgraded the firmware, exits.
    rig.images.files["fw.bin"] = {test::pattern(100), {}, {}};
    rig.usb_port.script.replies = {test::download_reply(0, 0)};
    EXPECT_TRUE(dialog.on_command(IDC_UPGRADE_NOW, controls));
    EXPECT_EQ(rig.usb_port.data(), test::pattern(100));
    EXPECT_EQ(controls.end_result, 0);
    EXPECT_FALSE(dialog.usb().loaded()) << "Exit released the library";
    EXPECT_EQ(downloads, std::vector<std::string>{std::string(text::kWritingComplete) + " 100"});
}

TEST(UpgradeDialog, ExitButtonReleasesTheLibrary) {
    DialogRig rig;
    UpgradeDialog dialog(rig.settings, kWindows2000, rig.services());
    RecordingDialog controls;
    ASSERT_TRUE(dialog.initialise(controls));
    EXPECT_EQ(rig.usb_port.libraries_live, 1);
    EXPECT_TRUE(dialog.on_command(IDC_EXIT, controls));
    EXPECT_EQ(controls.end_result, kDialogResultExit);
    EXPECT_EQ(rig.usb_port.libraries_live, 0);
}

class FixedOsVersion final : public OsVersionSource {
public:
    explicit FixedOsVersion(std::optional<OsVersion> version) : version_(version) {}
    std::optional<OsVersion> query() override { return version_; }

private:
    std::optional<OsVersion> version_;
};

TEST(UpgradeApp, ReadsSettingsDetectsThePlatformRunsTheDialogAndReturnsFalse) {
    const auto dir = std::filesystem::path(::testing::TempDir()) / "upgrade_app_test";
    std::filesystem::create_directories(dir);
    const auto ini = dir / "FWINFO.INI";
    std::ofstream(ini) << "[Download]\nModel=Model Z\n[Model Z]\nFW_File=z.bin\nFile_Ver=106\nDemo=1\n";

    DialogRig rig;
    FixedOsVersion os(OsVersion{OsVersion::kWindows9x, 4, 10});
    UpgradeApp app({os, rig.services(), ini});
    int runs = 0;
    RecordingDialog controls;
    EXPECT_FALSE(app.init_instance([&](UpgradeDialog& dialog) {
        ++runs;
        EXPECT_TRUE(dialog.initialise(controls));
    }));
    EXPECT_EQ(runs, 1);
    EXPECT_EQ(app.settings().model_name, "Model Z");
    EXPECT_TRUE(app.flags().is_win98);
    EXPECT_EQ(controls.title, "Download Demo Utility for Windows 95/98 (V1.01)");
    EXPECT_EQ(controls.text(IDC_FW_FILE), "z.bin");
    EXPECT_EQ(controls.text(IDC_FILE_VERSION), "1.06");
    EXPECT_EQ(rig.loader.loads, std::vector<std::string>{".\\veltport.dll"});

    // Without the file every default shows.
    UpgradeApp bare({os, rig.services(), dir / "missing.ini"});
    RecordingDialog bare_controls;
    EXPECT_FALSE(bare.init_instance([&](UpgradeDialog& dialog) { dialog.initialise(bare_controls); }));
    EXPECT_EQ(bare_controls.text(IDC_MODEL_NAME), "Unknown");
    EXPECT_EQ(bare_controls.text(IDC_FW_FILE), "Unknown");
    EXPECT_EQ(bare_controls.text(IDC_FILE_VERSION), "1.00");
    std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace fwup
