// The data phase against the virtual printer on a virtual clock, next to a
// plain copy of the same bytes in 8192-byte blocks into the same printer, and
// the heap a whole upgrade needs as the image grows.
//
// Arguments: carrier (0 USB through the simulated driver, 1 LPT, 2 USB
// through a driver that costs nothing), image source (0 synthetic, 1 a
// temporary file), image size in bytes.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "core/dialog/upgrade_dialog.h"
#include "bench/heap_meter.h"
#include "bench/image_source.h"
#include "bench/lean_usb_layer.h"
#include "sim/clock/virtual_clock.h"
#include "sim/lpt/virtual_lpt.h"
#include "sim/machine/virtual_machine.h"
#include "sim/printer/virtual_printer.h"
#include "core/transfer/command_set.h"
#include "core/transfer/procedures.h"
#include "core/transfer/status_texts.h"
#include "core/transfer/transfer_block.h"
#include "usbport/exports/static_binding.h"
#include "veltport.h"

namespace fwup::bench {
namespace {

constexpr std::int64_t kMiB = 1 << 20;
constexpr std::int64_t kGiB = kMiB << 10;

enum Carrier : std::int64_t { kUsb = 0, kLpt = 1, kLeanUsb = 2 };

const char* carrier_name(Carrier carrier) {
    switch (carrier) {
        case kUsb: return "usb";
        case kLpt: return "lpt";
        case kLeanUsb: return "usb, driver that costs nothing";
    }
    return "?";
}

// A dialog that answers Yes, keeps only the status line and notes when the
// data phase was over (the completion text is set right after the data loop
// has closed the image and released its block).
class QuietDialog final : public DialogControls {
public:
    void set_title(const std::string&) override {}
    void set_text(int id, const std::string& text) override {
        if (id != IDC_STATUS) return;
        status = text;
        if (text == text::kWritingComplete) completed_at = std::chrono::steady_clock::now();
    }
    void enable(int, bool) override {}
    void show(int, bool) override {}
    void set_progress_range(std::uint32_t) override {}
    void set_progress_pos(std::uint32_t) override {}
    void begin_wait_cursor() override {}
    void end_wait_cursor() override {}
    bool ask_yes_no(const std::string&, const std::string&) override { return true; }
    void message_box(const std::string&, const std::string&, MessageIcon) override {}
    void end_dialog(int) override {}

    std::string status;
    std::chrono::steady_clock::time_point completed_at{};
};

sim::PrinterConfig printer_config() {
    sim::PrinterConfig printer;
    printer.device_id = "MFG:Virtual;CMD:PJL;MODEL:VP-1000;CLS:PRINTER;";
    printer.version = "100";
    return printer;
}

UpgradeSettings settings_for(const std::string& image) {
    UpgradeSettings settings;
    settings.model_name = "VP-1000";
    settings.firmware_file = image;
    settings.file_version = 106;
    return settings;
}

struct UpgradeResult {
    std::uint64_t received = 0;
    std::string status;
    std::chrono::steady_clock::time_point completed_at{};
};

bool succeeded(const UpgradeResult& result, std::uint64_t size) {
    return result.status == text::kWritingComplete && result.received == size;
}

// "Upgrade Now" (after "Verify Information" when asked) on a fresh Windows
// 2000 (or 98) machine whose printer hangs on USB or LPT1. The printer is the
// one the machine builds: it counts the image and keeps its SHA-256, never its
// bytes, unless `digest` is off; the machine's simulated USB driver keeps
// counters only, so nothing of the run is left out of the heap measured.
UpgradeResult upgrade_on_machine(Carrier carrier, ImageFiles& images, const std::string& image, bool verify_first,
                                 bool digest, bool win98 = false) {
    sim::MachineConfig config;
    config.os = win98 ? OsVersion{OsVersion::kWindows9x, 4, 10} : OsVersion{OsVersion::kWindowsNt, 5, 0};
    config.clock = sim::ClockKind::Virtual;
    sim::PrinterSetup printer;
    printer.lpt = carrier == kUsb ? 0 : 1;
    printer.printer = printer_config();
    config.printers.push_back(printer);
    std::string error;
    const std::unique_ptr<sim::VirtualMachine> machine = sim::VirtualMachine::create(config, error);
    if (!machine) return {0, error};

    UpgradeResult result;
    machine->printer(0).set_image_digest(digest);

    QuietDialog dialog;
    {
        UpgradeDialog ui(settings_for(image), detect_platform(machine->os_version()),
                         DialogServices{machine->parallel_ports(), images, machine->clock(),
                                        machine->library_loader()});
        ui.initialise(dialog);
        if (verify_first) ui.on_command(IDC_VERIFY, dialog);
        ui.on_command(IDC_UPGRADE_NOW, dialog);
    }
    result.received = machine->printer(0).image_bytes();
    result.status = dialog.status;
    result.completed_at = dialog.completed_at;
    return result;
}

// The download procedure with the real USB port library bound over a driver
// that costs nothing.
UpgradeResult upgrade_over_lean_usb(ImageFiles& images, const std::string& image) {
    class Bound final : public LoadedLibrary {
        ExportAddress find_export(const char*) override { return nullptr; }
    };
    UpgradeResult result;
    sim::VirtualPrinter printer(printer_config());
    printer.set_image_digest(false);
    LeanUsbLayer layer(printer);
    veltport::bind_device_layer(layer);

    const UpgradeSettings settings = settings_for(image);
    const PlatformFlags flags{.is_nt = true, .is_win2000 = true, .usb_model_check = false};
    UsbPortApi usb;
    usb.library = std::make_unique<Bound>();
    usb.get_device_id = &::GetDeviceID;
    usb.write_to_usb_port = &::WriteToUsbPort;
    usb.read_from_usb_port = &::ReadFromUsbPort;
    sim::VirtualLptPorts ports;
    sim::VirtualClock clock;
    QuietDialog dialog;
    TransferState state;
    TransferContext context{settings, flags, usb, ports, images, clock, dialog, state, [] {}, nullptr};
    fwup::download(context);
    veltport::unbind_device_layer();
    result.received = printer.image_bytes();
    result.status = dialog.status;
    result.completed_at = dialog.completed_at;
    return result;
}

UpgradeResult upgrade(Carrier carrier, ImageFiles& images, const std::string& image) {
    return carrier == kLeanUsb ? upgrade_over_lean_usb(images, image)
                               : upgrade_on_machine(carrier, images, image, false, false);
}

// The reference: the same image read in 8192-byte blocks and handed to the
// same printer, already in its data phase, with no protocol around it.
// Returns the seconds from the first read of the image to the end.
double plain_copy(ImageFiles& images, const std::string& name, std::uint64_t size, bool& ok) {
    // The same kind of block the procedure reads into, so that both copies
    // land on the same alignment.
    const TransferBlock block = make_transfer_block();
    sim::VirtualPrinter printer(printer_config());
    printer.set_image_digest(false);
    const CommandBytes download = command_bytes(Command::Download, 0);
    printer.receive(download.bytes.data(), download.length);
    FirstReadClock timed(images);
    {
        const std::unique_ptr<ImageFile> file = timed.open(name);
        std::uint32_t got = 0;
        while (file->read(block.get(), kTransferBlockSize, got) && got > 0) printer.receive(block.get(), got);
    }
    const double seconds = timed.seconds_since_first_read();
    ok = printer.image_bytes() == size;
    return seconds;
}

// The download procedure's data phase, timed from its first read of the
// image to its completion text, against a plain copy of the same image.
// The two run in turns, in alternating order, so that drift of the machine
// (page cache, clock speed) falls on both alike; the share is the plain
// copy's time over the data phase's, summed over all turns.
void BM_DataPhase(benchmark::State& state) {
    const auto carrier = static_cast<Carrier>(state.range(0));
    const auto source = static_cast<Source>(state.range(1));
    const auto size = static_cast<std::uint64_t>(state.range(2));
    const ImageSource image = image_source(source, size);
    double data_seconds = 0.0;
    double plain_seconds = 0.0;
    bool plain_first = false;
    for (auto _ : state) {
        plain_first = !plain_first;
        bool copied = false;
        if (plain_first) plain_seconds += plain_copy(*image.files, image.name, size, copied);
        FirstReadClock timed(*image.files);
        const UpgradeResult result = upgrade(carrier, timed, image.name);
        // A run that never completed is skipped below; its time is only kept positive.
        const auto end = result.completed_at == std::chrono::steady_clock::time_point{}
                             ? std::chrono::steady_clock::now()
                             : result.completed_at;
        const double seconds = timed.seconds_from_first_read(end);
        if (!plain_first) plain_seconds += plain_copy(*image.files, image.name, size, copied);
        data_seconds += seconds;
        state.SetIterationTime(seconds);
        if (!succeeded(result, size) || !copied) {
            state.SkipWithError(("the upgrade failed: " + result.status).c_str());
            break;
        }
    }
    const double bytes = static_cast<double>(size) * static_cast<double>(state.iterations());
    state.counters["plain_copy_bytes_per_second"] = bytes / plain_seconds;
    state.counters["share"] = plain_seconds / data_seconds;
    state.SetBytesProcessed(state.iterations() * state.range(2));
    state.SetLabel(std::string(carrier_name(carrier)) + ", " + source_name(source));
}

// The most heap a whole upgrade (verify, then download) holds at once, above
// what was live before the machine was built. Arguments: carrier, size,
// Windows 98 (1) or 2000 (0).
void BM_UpgradePeakHeap(benchmark::State& state) {
    const auto carrier = static_cast<Carrier>(state.range(0));
    const auto size = static_cast<std::uint64_t>(state.range(1));
    const bool win98 = state.range(2) != 0;
    const ImageSource image = image_source(kSynthetic, size);
    std::int64_t peak = 0;
    for (auto _ : state) {
        const std::int64_t before = heap_live_bytes();
        reset_heap_peak();
        const UpgradeResult result = upgrade_on_machine(carrier, *image.files, image.name, true, true, win98);
        peak = heap_peak_bytes() - before;
        if (!succeeded(result, size)) state.SkipWithError(("the upgrade failed: " + result.status).c_str());
    }
    state.counters["peak_heap_bytes"] = benchmark::Counter(static_cast<double>(peak));
    state.SetLabel(std::string(carrier_name(carrier)) + (win98 ? ", Windows 98" : ", Windows 2000"));
}

// What the virtual printer's SHA-256 costs per byte, fed in 8192-byte blocks
// as the program sends them: the floor under any run on a virtual machine
// (the data-phase rows above switch it off to measure the program). Argument:
// 0 the portable code, 1 the processor's SHA instructions (skipped where the
// processor has none).
void BM_ImageDigest(benchmark::State& state) {
    const auto engine = state.range(0) == 0 ? sim::Sha256::Engine::Portable : sim::Sha256::Engine::Processor;
    if (!sim::Sha256::available(engine)) {
        state.SkipWithError("this processor has no SHA instructions");
        return;
    }
    std::vector<std::uint8_t> block(kTransferBlockSize);
    for (std::size_t i = 0; i < block.size(); ++i) block[i] = static_cast<std::uint8_t>(i * 167);
    sim::Sha256 hash(engine);
    for (auto _ : state) {
        hash.update(block.data(), block.size());
        benchmark::DoNotOptimize(hash);
    }
    benchmark::DoNotOptimize(hash.digest());
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(block.size()));
}

BENCHMARK(BM_DataPhase)
    ->ArgsProduct({{kUsb, kLpt, kLeanUsb}, {kSynthetic, kTempFile}, {kMiB, 64 * kMiB, kGiB}})
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_UpgradePeakHeap)
    ->ArgsProduct({{kUsb, kLpt}, {kMiB, kGiB}, {0}})
    ->Args({kUsb, kMiB, 1})
    ->Args({kUsb, kGiB, 1})
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ImageDigest)->Arg(0)->Arg(1);

}  // namespace
}  // namespace fwup::bench
