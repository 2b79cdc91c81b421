#pragma once
// The seams a procedure run reaches the machine through, wrapped so that any
// one fallible call (or every call from one on) can be made to fail. Each
// fallible call takes the next number of one count shared by all seams, so a
// run without faults tells how many failure points the run has.
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "core/binding/usb_port_api.h"
#include "core/transfer/image_file.h"
#include "core/transfer/parallel_port.h"

namespace fwup::faults {

enum class FaultMode {
    Fail,   // the call reports failure and moves nothing
    Short,  // the call succeeds but moves one byte less (reads: an early end of file)
};

struct FaultPlan {
    std::uint64_t at = 0;  // the fallible call (from 1) that fails; 0: none
    bool sticky = false;   // every later fallible call fails too
    FaultMode mode = FaultMode::Fail;
    std::string only;      // when set, `at` counts only the calls of this name

    std::uint64_t calls = 0;          // fallible calls so far
    std::uint64_t named_calls = 0;    // calls named `only` so far
    std::vector<std::string> trace;   // their names, in order ("lpt.write", "usb.read", ...)
    std::vector<std::string> failed;  // the names of the calls made to fail
    std::vector<int> device_id_answers;  // GetDeviceID's results, in order

    // Counts the call; true when it is to fail.
    bool fault(std::string_view name);
};

// Parallel ports: open, reading and writing the time-outs, the device-ID
// query, write and read can fail.
class FaultingPorts final : public ParallelPorts {
public:
    FaultingPorts(ParallelPorts& inner, FaultPlan& plan) : inner_(inner), plan_(plan) {}
    std::unique_ptr<ParallelPort> open(std::string_view name, PortAccess access) override;

private:
    ParallelPorts& inner_;
    FaultPlan& plan_;
};

// Image files: open and read can fail.
class FaultingImages final : public ImageFiles {
public:
    FaultingImages(ImageFiles& inner, FaultPlan& plan) : inner_(inner), plan_(plan) {}
    std::unique_ptr<ImageFile> open(const std::string& path) override;

private:
    ImageFiles& inner_;
    FaultPlan& plan_;
};

// The USB port library as the program binds it: GetDeviceID, WriteToUsbPort
// and ReadFromUsbPort can fail. Its exports are plain functions, so one
// loader at a time can be in use.
class FaultingLibraryLoader final : public LibraryLoader {
public:
    FaultingLibraryLoader(LibraryLoader& inner, FaultPlan& plan);
    ~FaultingLibraryLoader() override;
    FaultingLibraryLoader(const FaultingLibraryLoader&) = delete;
    FaultingLibraryLoader& operator=(const FaultingLibraryLoader&) = delete;

    std::unique_ptr<LoadedLibrary> load(const std::string& path) override;

private:
    LibraryLoader& inner_;
    FaultPlan& plan_;
};

// Transfer blocks (the arrays of kTransferBlockAllocation bytes they are cut
// from) allocated with new[], plain or aligned,
// and not yet freed, and how many were allocated in all; counted by the test
// program's own operator new[].
std::int64_t live_transfer_blocks();
std::int64_t transfer_blocks_allocated();

}  // namespace fwup::faults
