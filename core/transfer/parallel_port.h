#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace fwup {

// The serial-style time-outs of a port handle, in milliseconds.
struct CommTimeouts {
    std::uint32_t read_interval = 0;
    std::uint32_t read_total_multiplier = 0;
    std::uint32_t read_total_constant = 0;
    std::uint32_t write_total_multiplier = 0;
    std::uint32_t write_total_constant = 0;
};

enum class PortAccess { ReadWrite, WriteOnly };

// One open parallel port. Destroying the object closes the port.
class ParallelPort {
public:
    virtual ~ParallelPort() = default;
    virtual bool get_timeouts(CommTimeouts& out) = 0;
    virtual bool set_timeouts(const CommTimeouts& in) = 0;
    // The printer's IEEE 1284 device ID as bare text from buf[0] (control code 17
    // on Windows). `returned` is the byte count the request reported, also
    // when it failed (0 when it stored nothing): the procedures count a query
    // as answered by its bytes, not by its result.
    virtual bool query_device_id(std::uint8_t* buf, std::uint32_t capacity, std::uint32_t& returned) = 0;
    virtual bool write(const std::uint8_t* data, std::uint32_t length, std::uint32_t& written) = 0;
    virtual bool read(std::uint8_t* buf, std::uint32_t length, std::uint32_t& got) = 0;
    // The system's text for the error of the last failed call on this port.
    virtual std::string last_error_text() = 0;
};

// Opens "LPT1".."LPT3" exclusively, as existing devices.
class ParallelPorts {
public:
    virtual ~ParallelPorts() = default;
    // nullptr when the port cannot be opened.
    virtual std::unique_ptr<ParallelPort> open(std::string_view name, PortAccess access) = 0;
};

}  // namespace fwup
