#pragma once
// One procedure run on a virtual machine, with faults injected through the
// virtual printer, the machine's ports and USB devices, or the seams; and
// everything the checks need to know about it afterwards.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "sim/lpt/virtual_lpt.h"
#include "sim/printer/virtual_printer.h"
#include "sim/usb/usb_device_tree.h"
#include "tests/faults/fault_seams.h"
#include "tests/support/memory_image_files.h"
#include "tests/support/recording_dialog.h"

namespace fwup::faults {

enum class Procedure { Verify, Download };
enum class Carrier { Usb, Lpt };
enum class Platform { Win95, Win98, Nt4, Win2000 };

// One variant of a procedure: where the printer hangs, which command
// variant FWINFO.INI asks for, the mode and the system.
struct Variant {
    Procedure procedure = Procedure::Verify;
    Carrier carrier = Carrier::Usb;
    int esc = 0;
    bool demo = false;
    Platform platform = Platform::Win2000;

    bool nt() const { return platform == Platform::Nt4 || platform == Platform::Win2000; }
    std::string name() const;
};

// Every variant of both procedures. The USB carrier exists only where the
// program loads the USB port library (Windows 98 and 2000).
std::vector<Variant> all_variants();

inline constexpr char kModel[] = "VP-1000";
inline constexpr char kImageName[] = "fw.bin";
inline constexpr std::int32_t kImageVersion = 106;
inline constexpr std::size_t kImageSize = 20000;  // two whole blocks and a tail

// What the machine, the printer, FWINFO.INI and the operator do in one run.
struct Scene {
    sim::PrinterConfig printer;
    sim::VirtualLptPorts::Faults lpt_faults{};
    std::function<void(sim::UsbDevice&)> usb_device;  // changes to the USB printer's device
    std::int32_t lpt_setting = 1;
    bool image_exists = true;
    test::MemoryImage image{test::pattern(kImageSize), {}, {}};
    bool answer_yes = true;
    FaultPlan plan;  // faults through the seams

    // A healthy printer of the configured model, speaking the variant's replies.
    static Scene healthy(const Variant& variant);
};

struct Observed {
    // The dialog.
    std::string status;                  // the status line afterwards ("" when never set)
    std::vector<std::string> statuses;   // every status text set during the run
    std::vector<std::string> events;     // every change to the dialog
    std::string fw_version;              // control 1006
    bool upgrade_enabled = false;
    bool exit_enabled = false;
    bool verify_enabled = false;
    bool progress_visible = false;
    std::uint32_t progress_pos = 0;
    std::vector<test::RecordingDialog::Box> boxes;
    std::size_t questions = 0;
    bool ended = false;  // the program ended (Exit)

    // Which carrier the run took, and whether it reached the data phase.
    bool usb_used = false;
    bool data_phase = false;

    // Resources still held after the run.
    int open_lpt_ports = 0;
    int open_usb_handles = 0;
    int open_images = 0;
    int wait_cursor_depth = 0;
    std::int64_t live_blocks = 0;
    std::int64_t device_sets_left = 0;

    // What the printer received.
    std::vector<std::vector<std::uint8_t>> commands;
    std::vector<std::uint8_t> image;

    // The fallible calls the run made, and which of them failed.
    std::vector<std::string> trace;
    std::vector<std::string> failed;
};

// Builds the machine for the variant and the scene, presses the button of
// the variant's procedure once, and reports. Download runs start from the
// state a verify that found the printer ready leaves ("Upgrade Now" enabled).
Observed run_once(const Variant& variant, Scene scene);

}  // namespace fwup::faults
