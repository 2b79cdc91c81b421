#pragma once
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "core/binding/usb_port_api.h"

namespace fwup::test {

// How the USB port library and the printer behind it behave.
struct UsbScript {
    bool connected = true;                 // false: GetDeviceID always answers 0
    std::uint32_t device_id_failures = 0;  // the first N GetDeviceID calls answer 0
    std::optional<std::uint32_t> device_id_answers;  // after N answers the printer falls silent
    std::string device_id = "MFG:Test;CMD:PJL;MODEL:Model X;";
    int command_write_result = VELTPORT_OK;  // for writes with the command time-out
    // One entry per read; when none is left a read brings 0 bytes.
    std::deque<std::vector<std::uint8_t>> replies;
    // A read that leaves the count untouched (a library that reports no count).
    bool read_leaves_count = false;
    // Data bytes taken before a write fails (result 1), or before a write
    // reports success having written fewer bytes than asked.
    std::optional<std::uint64_t> data_fail_after;
    std::optional<std::uint64_t> data_short_after;
};

// A stand-in for the USB port library. Its exports are plain C functions, so
// they reach the one ScriptedUsbPort alive at the time.
class ScriptedUsbPort {
public:
    struct Write {
        std::vector<std::uint8_t> bytes;
        std::string timeout;
    };
    struct Read {
        std::uint32_t length;
        std::string timeout;
    };

    ScriptedUsbPort();
    ~ScriptedUsbPort();
    ScriptedUsbPort(const ScriptedUsbPort&) = delete;
    ScriptedUsbPort& operator=(const ScriptedUsbPort&) = delete;

    // A bound UsbPortApi whose library counts as loaded.
    UsbPortApi api();
    // Bytes written with the data time-out "10000", in order.
    std::vector<std::uint8_t> data() const;
    // Writes with the command time-out "1000".
    std::vector<std::vector<std::uint8_t>> commands() const;

    static int VELTPORT_CALL get_device_id(char* buffer, std::uint32_t* capacity);
    static int VELTPORT_CALL write(const unsigned char* data, std::uint32_t length, std::uint32_t* written,
                                   const char* timeout);
    static int VELTPORT_CALL read(unsigned char* buffer, std::uint32_t length, std::uint32_t* got,
                                  const char* timeout);

    UsbScript script;
    int device_id_calls = 0;
    std::vector<std::uint32_t> device_id_capacities;
    std::vector<Write> writes;
    std::vector<Read> reads;
    std::uint64_t data_taken = 0;
    int libraries_live = 0;  // libraries loaded and not yet released
};

// Loads a library that offers the scripted port's exports, or part of them.
class ScriptedLibraryLoader final : public LibraryLoader {
public:
    explicit ScriptedLibraryLoader(ScriptedUsbPort& port) : port_(port) {}

    std::unique_ptr<LoadedLibrary> load(const std::string& path) override;

    bool present = true;
    std::set<std::string> exports{"GetDeviceID", "WriteToUsbPort", "ReadFromUsbPort"};
    std::vector<std::string> loads;    // paths asked for
    std::vector<std::string> lookups;  // export names asked for, in order

private:
    ScriptedUsbPort& port_;
};

}  // namespace fwup::test
