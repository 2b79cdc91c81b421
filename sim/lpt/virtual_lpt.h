#pragma once
#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "core/transfer/parallel_port.h"

namespace fwup::sim {

class VirtualPrinter;

// The parallel ports of a virtual machine: "LPT1".."LPT3" always exist, each
// with or without a printer attached. Opens are exclusive, as the program
// opens them without sharing. Port objects may outlive this object.
class VirtualLptPorts : public ParallelPorts {
public:
    static constexpr int kPortCount = 3;

    // Injected faults. Counts are of calls across all ports, from 1; 0 = never.
    struct Faults {
        std::uint32_t fail_open_from = 0;      // the Nth open and every later one fail
        std::uint32_t fail_timeouts_from = 0;  // the Nth time-out read and every later one fail
        std::uint32_t fail_writes_from = 0;    // the Nth write and every later one fail, sending nothing
        std::uint32_t fail_reads_from = 0;     // the Nth read and every later one time out with nothing
        bool fail_set_timeouts = false;        // every time-out write fails
        std::uint32_t short_writes_from = 0;   // the Nth write and every later one lose their last byte
                                               // and report success, as a comm write that timed out
    };

    VirtualLptPorts();
    ~VirtualLptPorts() override;
    VirtualLptPorts(const VirtualLptPorts&) = delete;
    VirtualLptPorts& operator=(const VirtualLptPorts&) = delete;

    // `number` is 1..3; the printer must outlive every open of that port.
    // nullptr detaches.
    void attach(int number, VirtualPrinter* printer);
    void set_faults(const Faults& faults);

    std::unique_ptr<ParallelPort> open(std::string_view name, PortAccess access) override;

    // For the tests: ports open right now, and open attempts on existing ports so far.
    int open_ports() const;
    std::uint32_t opens() const;
    // The time-outs last written to a port (they stay with the device across opens).
    CommTimeouts timeouts(int number) const;

    // Port number for a name ("LPT1" -> 1, case-insensitive), 0 when not a port.
    static int port_number(std::string_view name);

    struct State;

private:
    std::shared_ptr<State> state_;
};

}  // namespace fwup::sim
