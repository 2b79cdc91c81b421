// The program's procedures on Linux, end to end: the USB port library as Linux
// ships it (libveltport.so over usblp), loaded at run time, and the printer-port
// adapter, against virtual printers behind nodes faked with umockdev.
#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "core/dialog/upgrade_dialog.h"
#include "adapters/linux/linux_parallel_ports.h"
#include "adapters/linux/linux_system.h"
#include "adapters/linux/dl_library_loader.h"
#include "tests/linux/fake_devices.h"
#include "tests/linux/fake_printers.h"
#include "tests/support/memory_image_files.h"
#include "tests/support/recording_dialog.h"
#include "tests/support/virtual_clock.h"
#include "core/transfer/status_texts.h"

namespace fwup::test {
namespace {

// The identification query of the printer ports, answered by the printer on LPT1.
class PrinterIds final : public DeviceIdSource {
public:
    std::optional<std::string> device_id(std::uint32_t index) override {
        if (printer == nullptr || index != 0) return std::nullopt;
        return printer->identify();
    }
    FakePrinter* printer = nullptr;
};

enum class Attached { Usb, Lpt, SilentUsb, Nothing };

struct Scenario {
    const char* name;
    Attached attached;
    std::string version = "100";
    std::uint8_t download_status = 0;
    std::int32_t demo = 0;
    std::string verify_status;
    std::optional<std::string> download_status_text;  // empty: the button stays off
    bool program_ends = false;
    std::string model = "VP-1000";  // the configured model; the printers are VP-1000s
};

void PrintTo(const Scenario& scenario, std::ostream* out) { *out << scenario.name; }

class LinuxProgram : public ::testing::TestWithParam<Scenario> {
protected:
    void SetUp() override {
        if (!FakeDevices::available()) GTEST_SKIP() << "run under umockdev-wrapper";
    }
};

TEST_P(LinuxProgram, RunsVerifyAndDownloadOnThePortsOfLinux) {
    const Scenario& scenario = GetParam();
    FakeDevices devices;
    sim::PrinterConfig config;
    config.device_id = "MFG:Virtual;CMD:PJL;MODEL:VP-1000;CLS:PRINTER;";
    config.version = scenario.version;
    config.download_status = scenario.download_status;
    config.demo_status = scenario.download_status;
    std::unique_ptr<FakePrinter> printer;
    PrinterIds ids;
    switch (scenario.attached) {
        case Attached::Usb:
            printer = std::make_unique<FakePrinter>(devices, "usb/lp0", config, FakePrinter::Carrier::Usb);
            break;
        case Attached::Lpt:
            printer = std::make_unique<FakePrinter>(devices, "lp0", config, FakePrinter::Carrier::Parallel);
            ids.printer = printer.get();
            break;
        case Attached::SilentUsb:
            devices.add_node("usb/lp0", "usbmisc");
            devices.on_ioctl("usb/lp0", usblp_requests([&] {
                                 UsblpAnswers answers;
                                 answers.device_id = standard_device_id(config.device_id);
                                 return answers;
                             }));
            break;
        case Attached::Nothing:
            break;
    }

    UpgradeSettings settings;
    settings.model_name = scenario.model;
    settings.firmware_file = "fw.bin";
    settings.file_version = 106;
    settings.demo = scenario.demo;
    MemoryImageFiles images;
    const std::vector<std::uint8_t> image = pattern(20'000);
    images.files["fw.bin"].bytes = image;
    VirtualClock clock;
    DlLibraryLoader loader;
    LinuxParallelPorts ports(ids);
    LinuxOsVersion os;
    DialogServices services{ports, images, clock, loader};
    services.library_path = FWUP_USBLP_LIBRARY;

    UpgradeDialog dialog(settings, detect_platform(os), services);
    RecordingDialog controls;
    ASSERT_TRUE(dialog.initialise(controls));
    ASSERT_TRUE(dialog.usb().usable());

    dialog.on_command(IDC_VERIFY, controls);
    EXPECT_EQ(controls.status(), scenario.verify_status);
    if (!scenario.download_status_text) {
        EXPECT_FALSE(controls.enabled(IDC_UPGRADE_NOW));
        return;
    }
    EXPECT_EQ(controls.text(IDC_FW_VERSION), "1.00");
    ASSERT_TRUE(controls.enabled(IDC_UPGRADE_NOW));

    dialog.on_command(IDC_UPGRADE_NOW, controls);
    EXPECT_EQ(controls.status(), *scenario.download_status_text);
    EXPECT_EQ(controls.end_result.has_value(), scenario.program_ends);
    EXPECT_EQ(images.live_files, 0);
    if (*scenario.download_status_text == text::kWritingComplete) {
        EXPECT_EQ(printer->image_of_size(image.size()), image);
        // Linux is an NT-class system: the button comes back after a transfer.
        EXPECT_EQ(controls.enabled(IDC_UPGRADE_NOW), true);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Scenarios, LinuxProgram,
    ::testing::Values(
        Scenario{"UsbUpgrade", Attached::Usb, "100", 0, 0, text::kReadyToUpgrade, text::kWritingComplete, true},
        Scenario{"UsbDemo", Attached::Usb, "100", 0, 1, text::kReadyToDownloadDemo, text::kWritingComplete, false},
        Scenario{"UsbBusy", Attached::Usb, "100", 1, 0, text::kReadyToUpgrade, text::kPrinterBusy, false},
        Scenario{"UsbUpToDate", Attached::Usb, "106", 0, 0, text::kNoUpgradeRequired, std::nullopt, false},
        Scenario{"UsbOtherModel", Attached::Usb, "100", 0, 0, text::kModelNotMatched, std::nullopt, false, "VP-2000"},
        Scenario{"UsbSilent", Attached::SilentUsb, "100", 0, 0, text::kReadingVersionDataError, std::nullopt, false},
        Scenario{"LptUpgrade", Attached::Lpt, "100", 0, 0, text::kReadyToUpgrade, text::kWritingComplete, true},
        Scenario{"LptUpToDate", Attached::Lpt, "106", 0, 0, text::kUpgradeNotNecessary, std::nullopt, false},
        Scenario{"NothingAttached", Attached::Nothing, "100", 0, 0, text::kFailedToOpenLpt, std::nullopt, false}),
    [](const ::testing::TestParamInfo<Scenario>& row) { return std::string(row.param.name); });

}  // namespace
}  // namespace fwup::test
