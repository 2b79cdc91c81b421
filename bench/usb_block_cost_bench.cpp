// What one 8192-byte block costs the USB port library in device-layer calls
// (opens, closes, driver requests, enumerations) on both OS classes, once
// the port names are cached; and what the first transfer, which fills the
// cache, costs.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "bench/lean_usb_layer.h"
#include "sim/clock/virtual_clock.h"
#include "sim/printer/virtual_printer.h"
#include "sim/usb/usb_device_tree.h"
#include "core/transfer/command_set.h"
#include "usbport/core/usb_port_library.h"
#include "veltport.h"

namespace fwup::bench {
namespace {

enum OsClass : std::int64_t { kWindows98 = 0, kWindows2000 = 1 };

// A library over a simulated tree with one healthy printer of the class the
// OS class's driver registers, identified and in its data phase.
struct UsbRig {
    explicit UsbRig(OsClass os)
        : tree(clock, os == kWindows98 ? sim::UsbDeviceTree::kWindows98 : sim::UsbDeviceTree::kWindows2000),
          printer(std::make_shared<sim::VirtualPrinter>()),
          library(tree) {
        // The library and the driver are measured, not the printer's digest.
        printer->set_image_digest(false);
        // As on a virtual machine: counters only, no record of each call.
        tree.keep_call_log(false);
        tree.add_printer(os == kWindows98 ? veltport::CORVANE_USB_GUID : veltport::MS_USBPRINT_GUID,
                         "\\\\?\\usb#vid_043d&pid_0001#bench#{printer}", printer);
        std::vector<char> id(256);
        std::uint32_t capacity = 255;
        identified = library.GetDeviceID(id.data(), &capacity) == 1;
    }

    bool enter_data_phase() {
        const CommandBytes download = command_bytes(Command::Download, 0);
        std::uint32_t count = 0;
        std::vector<unsigned char> reply(8);
        return library.WriteToUsbPort(download.bytes.data(), download.length, &count, "1000") == VELTPORT_OK &&
               library.ReadFromUsbPort(reply.data(), 8, &count, "1000") == VELTPORT_OK && printer->in_data_mode();
    }

    void report(benchmark::State& state, std::uint64_t calls) const {
        const sim::UsbCounters& c = tree.counters();
        std::uint64_t requests = 0;
        for (const auto& [code, n] : c.requests) requests += n;
        const auto per = [calls](std::uint64_t n) { return static_cast<double>(n) / static_cast<double>(calls); };
        state.counters["opens"] = per(c.opens + c.failed_opens);
        state.counters["closes"] = per(c.closes);
        state.counters["requests"] = per(requests);
        state.counters["enumerations"] = per(c.enumerations);
        state.counters["sets"] = per(c.sets_created);
    }

    sim::VirtualClock clock;
    sim::UsbDeviceTree tree;
    std::shared_ptr<sim::VirtualPrinter> printer;
    veltport::UsbPortLibrary library;
    bool identified = false;
};

// Steady state: the names are cached by the command exchange before.
void BM_UsbBlockCost(benchmark::State& state) {
    UsbRig rig(static_cast<OsClass>(state.range(0)));
    if (!rig.identified || !rig.enter_data_phase()) {
        state.SkipWithError("the printer did not take the download command");
        return;
    }
    std::vector<unsigned char> block(kTransferBlockSize, 0x5A);
    rig.tree.clear_records();
    std::uint64_t blocks = 0;
    for (auto _ : state) {
        std::uint32_t written = 0;
        if (rig.library.WriteToUsbPort(block.data(), kTransferBlockSize, &written, "10000") != VELTPORT_OK) {
            state.SkipWithError("a block failed");
            break;
        }
        ++blocks;
    }
    if (blocks > 0) rig.report(state, blocks);
    state.SetBytesProcessed(static_cast<std::int64_t>(blocks) * kTransferBlockSize);
    state.SetLabel(state.range(0) == kWindows98 ? "98" : "2000");
}

// The first transfer after identification, which fills the port-name cache.
void BM_UsbFirstBlockCost(benchmark::State& state) {
    std::unique_ptr<UsbRig> last;
    std::vector<unsigned char> block(kTransferBlockSize, 0x5A);
    for (auto _ : state) {
        state.PauseTiming();
        auto rig = std::make_unique<UsbRig>(static_cast<OsClass>(state.range(0)));
        rig->tree.clear_records();
        state.ResumeTiming();
        std::uint32_t written = 0;
        if (rig->library.WriteToUsbPort(block.data(), kTransferBlockSize, &written, "10000") != VELTPORT_OK) {
            state.SkipWithError("the first block failed");
            break;
        }
        state.PauseTiming();
        last = std::move(rig);
        state.ResumeTiming();
    }
    if (last) last->report(state, 1);
    state.SetLabel(state.range(0) == kWindows98 ? "98" : "2000");
}

// The same steady state over a driver that costs nothing: what the library
// itself spends per block, apart from the simulated driver.
void BM_UsbBlockCostLeanDriver(benchmark::State& state) {
    sim::VirtualPrinter printer;
    printer.set_image_digest(false);
    LeanUsbLayer layer(printer);
    veltport::UsbPortLibrary library(layer);
    std::vector<char> id(256);
    std::uint32_t capacity = 255;
    const CommandBytes download = command_bytes(Command::Download, 0);
    std::uint32_t count = 0;
    std::vector<unsigned char> reply(8);
    if (library.GetDeviceID(id.data(), &capacity) != 1 ||
        library.WriteToUsbPort(download.bytes.data(), download.length, &count, "1000") != VELTPORT_OK ||
        library.ReadFromUsbPort(reply.data(), 8, &count, "1000") != VELTPORT_OK) {
        state.SkipWithError("the printer did not take the download command");
        return;
    }
    std::vector<unsigned char> block(kTransferBlockSize, 0x5A);
    for (auto _ : state) {
        std::uint32_t written = 0;
        benchmark::DoNotOptimize(library.WriteToUsbPort(block.data(), kTransferBlockSize, &written, "10000"));
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(kTransferBlockSize));
    state.SetLabel("2000, driver that costs nothing");
}

BENCHMARK(BM_UsbBlockCost)->Arg(kWindows98)->Arg(kWindows2000);
BENCHMARK(BM_UsbBlockCostLeanDriver);
BENCHMARK(BM_UsbFirstBlockCost)->Arg(kWindows98)->Arg(kWindows2000);

}  // namespace
}  // namespace fwup::bench
