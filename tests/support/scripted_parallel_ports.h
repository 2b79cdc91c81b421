#pragma once
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/transfer/parallel_port.h"

namespace fwup::test {

// How the ports and the printer behind them behave.
struct LptScript {
    bool open_read_write = true;
    bool open_write_only = true;
    bool timeouts_read_write = true;  // whether get_timeouts works on each kind of handle
    bool timeouts_write_only = true;
    CommTimeouts initial_timeouts{10, 11, 12, 13, 14};
    std::string device_id = "MFG:Test;CMD:PJL;MODEL:Model X;";
    std::uint32_t device_id_failures = 0;  // the first N queries answer nothing
    bool device_id_overflow = false;       // answered queries fail, as when the ID overflows the buffer
    // One entry per read, copied from its start; when none is left a read brings 0 bytes.
    std::deque<std::vector<std::uint8_t>> replies;
    bool command_write_fails = false;  // writes on the read-write handle
    bool command_write_short = false;  // ... report success with the last byte lost
    // Data bytes (write-only handle) taken before a write call fails, or before
    // a write reports success having written fewer bytes than asked.
    std::optional<std::uint64_t> data_fail_after;
    std::optional<std::uint64_t> data_short_after;
    std::string error_text = "The device is not ready.";
};

// "LPT1".."LPT3", each backed by the one scripted printer.
class ScriptedParallelPorts final : public ParallelPorts {
public:
    struct Open {
        std::string name;
        PortAccess access;
    };

    std::unique_ptr<ParallelPort> open(std::string_view name, PortAccess access) override;

    LptScript script;

    std::vector<Open> opens;    // successful opens only
    int live_handles = 0;       // open now
    int max_live_handles = 0;   // most ever open at once
    std::vector<CommTimeouts> timeouts_set;
    int device_id_queries = 0;
    std::vector<std::vector<std::uint8_t>> commands;  // writes on read-write handles
    std::vector<std::uint8_t> data;                   // bytes taken on write-only handles
    std::vector<std::uint32_t> read_lengths;
};

}  // namespace fwup::test
