#pragma once
#include <memory>
#include <string>

#include "core/binding/usb_port_api.h"

namespace fwup {

// Run-time loading through dlopen / dlsym.
class DlLibraryLoader final : public LibraryLoader {
public:
    std::unique_ptr<LoadedLibrary> load(const std::string& path) override;
};

}  // namespace fwup
