#pragma once
#include <memory>
#include <string>
#include <string_view>

#include "adapters/linux/device_id_source.h"
#include "core/transfer/parallel_port.h"

namespace fwup {

// "LPT1".."LPT3" as the kernel's printer ports <directory>/lp0..lp2.
//
// The comm time-outs keep their Windows meaning and are carried out with
// poll() on a non-blocking node: a read waits at most the read total time-out
// (multiplier × length + constant) and, once bytes have come, at most the read
// interval for the next ones, and ends with what it got; a write that has not
// gone out whole within its total time-out fails with ETIMEDOUT. A time-out of
// 0 does not limit the wait. The identification query reads the printer's
// device ID from `device_ids`, since the printer port has no request for it.
class LinuxParallelPorts final : public ParallelPorts {
public:
    explicit LinuxParallelPorts(DeviceIdSource& device_ids, std::string device_directory = "/dev");

    std::unique_ptr<ParallelPort> open(std::string_view name, PortAccess access) override;

    // The node behind "LPT1".."LPT3" (any letter case), or empty for other names.
    std::string node_path(std::string_view name) const;

private:
    DeviceIdSource* device_ids_;
    std::string device_directory_;
};

}  // namespace fwup
