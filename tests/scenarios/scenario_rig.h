#pragma once
// One run of the program on a virtual machine: the real dialog logic and
// procedures, the real USB port library over the simulated device tree, the
// LPT simulation, and a virtual clock. Images live in memory.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>

#include "core/dialog/upgrade_dialog.h"
#include "sim/machine/virtual_machine.h"
#include "sim/usb/usb_device_tree.h"
#include "tests/support/memory_image_files.h"
#include "tests/support/recording_dialog.h"

namespace fwup::scenario {

inline constexpr OsVersion kWin98{OsVersion::kWindows9x, 4, 10};
inline constexpr OsVersion kMe{OsVersion::kWindows9x, 4, 90};
inline constexpr OsVersion kNt4{OsVersion::kWindowsNt, 4, 0};
inline constexpr OsVersion kWin2000{OsVersion::kWindowsNt, 5, 0};

inline constexpr char kModel[] = "VP-1000";
inline constexpr char kImage[] = "fw.bin";
inline const std::string kDeviceId = "MFG:Virtual;CMD:PJL;MODEL:VP-1000;CLS:PRINTER;";

enum class Carrier { Usb, Lpt1, Lpt2, None };

// What the machine and FWINFO.INI hold.
struct Scene {
    OsVersion os = kWin2000;
    Carrier carrier = Carrier::Usb;
    sim::PrinterConfig printer = healthy_printer();
    sim::LibraryPresence library = sim::LibraryPresence::Present;
    sim::VirtualLptPorts::Faults lpt_faults{};
    UpgradeSettings settings = upgrade_settings();
    test::MemoryImage image{test::pattern(20000), {}, {}};
    bool image_exists = true;
    bool answer_yes = true;

    static sim::PrinterConfig healthy_printer() {
        sim::PrinterConfig p;
        p.device_id = kDeviceId;
        p.version = "100";
        return p;
    }
    static UpgradeSettings upgrade_settings() {
        UpgradeSettings s;
        s.model_name = kModel;
        s.firmware_file = kImage;
        s.file_version = 106;
        return s;
    }
};

class Rig {
public:
    explicit Rig(const Scene& setup) : setup_(setup) {
        sim::MachineConfig config;
        config.os = setup.os;
        config.library = setup.library;
        config.clock = sim::ClockKind::Virtual;
        config.lpt_faults = setup.lpt_faults;
        if (setup.carrier != Carrier::None) {
            sim::PrinterSetup printer;
            printer.section = "Printer";
            printer.lpt = setup.carrier == Carrier::Usb ? 0 : setup.carrier == Carrier::Lpt1 ? 1 : 2;
            printer.printer = setup.printer;
            config.printers.push_back(printer);
        }
        std::string error;
        machine = sim::VirtualMachine::create(config, error);
        EXPECT_TRUE(machine) << error;
        if (setup.image_exists) images.files[kImage] = setup.image;
        dialog.answer_yes = setup.answer_yes;
        ui = std::make_unique<UpgradeDialog>(
            setup.settings, detect_platform(machine->os_version()),
            DialogServices{machine->parallel_ports(), images, machine->clock(), machine->library_loader()});
        initialised = ui->initialise(dialog);
    }
    ~Rig() {
        ui.reset();
        EXPECT_FALSE(machine->library_loaded()) << "the library is released with the dialog";
    }
    Rig(const Rig&) = delete;
    Rig& operator=(const Rig&) = delete;

    // Presses a button; returns the milliseconds the run waited.
    std::uint32_t press(int control_id) {
        const std::uint32_t before = machine->uptime_ms();
        ui->on_command(control_id, dialog);
        return machine->uptime_ms() - before;
    }
    std::uint32_t verify() { return press(IDC_VERIFY); }
    std::uint32_t upgrade() { return press(IDC_UPGRADE_NOW); }

    sim::VirtualPrinter& printer() { return machine->printer(0); }
    sim::UsbDevice& usb_device() {
        const veltport::Guid& cls = setup_.os.platform_id == OsVersion::kWindows9x ? veltport::CORVANE_USB_GUID
                                                                                   : veltport::MS_USBPRINT_GUID;
        return machine->usb().device(cls, 0);
    }

    // Nothing that a finished run opened is still open.
    void expect_all_closed(const std::string& where) {
        EXPECT_EQ(machine->open_lpt_ports(), 0) << where;
        EXPECT_EQ(machine->open_usb_handles(), 0) << where;
        EXPECT_EQ(images.live_files, 0) << where;
        EXPECT_EQ(dialog.wait_cursor_depth, 0) << where;
    }

    std::unique_ptr<sim::VirtualMachine> machine;
    test::MemoryImageFiles images;
    test::RecordingDialog dialog;
    std::unique_ptr<UpgradeDialog> ui;
    bool initialised = false;

private:
    Scene setup_;
};

}  // namespace fwup::scenario
