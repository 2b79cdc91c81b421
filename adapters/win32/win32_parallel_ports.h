#pragma once
#include <memory>
#include <string_view>

#include "core/transfer/parallel_port.h"

namespace fwup {

// "LPT1".."LPT3" through the Windows file API: CreateFileA without sharing on an
// existing device, the comm time-outs, and device I/O control code 17 for the
// printer's device ID.
class Win32ParallelPorts final : public ParallelPorts {
public:
    std::unique_ptr<ParallelPort> open(std::string_view name, PortAccess access) override;
};

}  // namespace fwup
