#include "tests/faults/fault_rig.h"

#include <gtest/gtest.h>

#include <memory>
#include <utility>

#include "core/dialog/upgrade_dialog.h"
#include "sim/machine/virtual_machine.h"

namespace fwup::faults {

namespace {

OsVersion os_of(Platform platform) {
    switch (platform) {
        case Platform::Win95: return {OsVersion::kWindows9x, 4, 0};
        case Platform::Win98: return {OsVersion::kWindows9x, 4, 10};
        case Platform::Nt4: return {OsVersion::kWindowsNt, 4, 0};
        case Platform::Win2000: return {OsVersion::kWindowsNt, 5, 0};
    }
    return {};
}

const char* platform_name(Platform platform) {
    switch (platform) {
        case Platform::Win95: return "95";
        case Platform::Win98: return "98";
        case Platform::Nt4: return "NT4";
        case Platform::Win2000: return "2000";
    }
    return "?";
}

}  // namespace

std::string Variant::name() const {
    return std::string(procedure == Procedure::Verify ? "verify" : "download") + "/" +
           (carrier == Carrier::Usb ? "usb" : "lpt") + "/esc" + std::to_string(esc) + "/" +
           (demo ? "demo" : "firmware") + "/" + platform_name(platform);
}

std::vector<Variant> all_variants() {
    std::vector<Variant> variants;
    for (const Procedure procedure : {Procedure::Verify, Procedure::Download}) {
        for (const Carrier carrier : {Carrier::Usb, Carrier::Lpt}) {
            for (const int esc : {0, 1}) {
                for (const bool demo : {false, true}) {
                    for (const Platform platform : {Platform::Win95, Platform::Win98, Platform::Nt4, Platform::Win2000}) {
                        const bool loads_library = platform == Platform::Win98 || platform == Platform::Win2000;
                        if (carrier == Carrier::Usb && !loads_library) continue;
                        variants.push_back({procedure, carrier, esc, demo, platform});
                    }
                }
            }
        }
    }
    return variants;
}

Scene Scene::healthy(const Variant& variant) {
    Scene scene;
    scene.printer.device_id = "MFG:Virtual;CMD:PJL;MODEL:VP-1000;CLS:PRINTER;";
    scene.printer.version = "100";
    scene.printer.esc = variant.esc;
    return scene;
}

Observed run_once(const Variant& variant, Scene scene) {
    sim::MachineConfig config;
    config.os = os_of(variant.platform);
    config.clock = sim::ClockKind::Virtual;
    config.lpt_faults = scene.lpt_faults;
    sim::PrinterSetup printer;
    printer.section = "Printer";
    printer.lpt = variant.carrier == Carrier::Usb ? 0 : 1;
    printer.printer = scene.printer;
    config.printers.push_back(printer);

    std::string error;
    const std::unique_ptr<sim::VirtualMachine> machine = sim::VirtualMachine::create(config, error);
    EXPECT_TRUE(machine) << error;
    if (!machine) return {};
    if (variant.carrier == Carrier::Usb && scene.usb_device) {
        const veltport::Guid& usb_class =
            variant.nt() ? veltport::MS_USBPRINT_GUID : veltport::CORVANE_USB_GUID;
        scene.usb_device(machine->usb().device(usb_class, 0));
    }

    UpgradeSettings settings;
    settings.model_name = kModel;
    settings.firmware_file = kImageName;
    settings.file_version = kImageVersion;
    settings.esc = variant.esc;
    settings.lpt = scene.lpt_setting;
    settings.demo = variant.demo ? 1 : 0;

    test::MemoryImageFiles memory_images;
    if (scene.image_exists) memory_images.files[kImageName] = scene.image;
    FaultPlan& plan = scene.plan;
    FaultingPorts ports(machine->parallel_ports(), plan);
    FaultingImages images(memory_images, plan);
    FaultingLibraryLoader loader(machine->library_loader(), plan);

    test::RecordingDialog dialog;
    dialog.answer_yes = scene.answer_yes;
    const std::int64_t blocks_before = transfer_blocks_allocated();
    Observed seen;
    machine->printer(0).set_image_sink(
        [&seen](const std::uint8_t* data, std::size_t n) { seen.image.insert(seen.image.end(), data, data + n); });
    {
        UpgradeDialog ui(settings, detect_platform(machine->os_version()),
                         DialogServices{ports, images, machine->clock(), loader, kUsbPortLibraryPath, nullptr});
        EXPECT_TRUE(ui.initialise(dialog)) << variant.name();
        // Start from what a verify that found the printer ready leaves.
        if (variant.procedure == Procedure::Download) dialog.enable(IDC_UPGRADE_NOW, true);
        dialog.events.clear();
        // Binding the library is no part of the run.
        plan.trace.clear();
        plan.failed.clear();
        plan.device_id_answers.clear();
        plan.calls = 0;
        plan.named_calls = 0;

        ui.on_command(variant.procedure == Procedure::Verify ? IDC_VERIFY : IDC_UPGRADE_NOW, dialog);

        seen.ended = dialog.end_result.has_value();
        seen.open_lpt_ports = machine->open_lpt_ports();
        seen.open_usb_handles = machine->open_usb_handles();
        seen.open_images = memory_images.live_files;
        seen.wait_cursor_depth = dialog.wait_cursor_depth;
        seen.live_blocks = live_transfer_blocks();
    }
    const sim::UsbCounters& usb = machine->usb().counters();
    seen.device_sets_left = static_cast<std::int64_t>(usb.sets_created - usb.sets_destroyed);

    seen.status = dialog.status();
    const std::string status_prefix = "text " + std::to_string(IDC_STATUS) + " ";
    for (const std::string& event : dialog.events) {
        if (event.starts_with(status_prefix)) seen.statuses.push_back(event.substr(status_prefix.size()));
    }
    seen.events = dialog.events;
    seen.fw_version = dialog.text(IDC_FW_VERSION);
    seen.upgrade_enabled = dialog.enabled(IDC_UPGRADE_NOW);
    seen.exit_enabled = dialog.enabled(IDC_EXIT);
    seen.verify_enabled = dialog.enabled(IDC_VERIFY);
    seen.progress_visible = dialog.visible(IDC_PROGRESS);
    seen.progress_pos = dialog.progress_pos;
    seen.boxes = dialog.boxes;
    seen.questions = dialog.questions.size();
    seen.usb_used = !plan.device_id_answers.empty() && plan.device_id_answers.front() != 0;
    seen.data_phase = transfer_blocks_allocated() > blocks_before;
    seen.commands = machine->printer(0).commands();
    seen.trace = plan.trace;
    seen.failed = plan.failed;
    return seen;
}

}  // namespace fwup::faults
