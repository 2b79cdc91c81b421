#pragma once
#include <memory>

#include "app/dialog/upgrade_dialog.h"
#include "app/platform/platform_flags.h"

namespace fwup::cli {

// The machine the front end runs on when no virtual machine is named: the
// platform's own adapters for ports, files, clock, version and library.
class RealSystem {
public:
    virtual ~RealSystem() = default;
    virtual OsVersionSource& os_version() = 0;
    virtual DialogServices services() = 0;
};

// nullptr where this build has no adapters for real printers.
std::unique_ptr<RealSystem> make_real_system();

}  // namespace fwup::cli
