#pragma once
#include <memory>
#include <string>

#include "app/binding/usb_port_api.h"

namespace fwup {

// Run-time loading through the system: LoadLibraryA / GetProcAddress on
// Windows, dlopen / dlsym elsewhere.
class SystemLibraryLoader final : public LibraryLoader {
public:
    std::unique_ptr<LoadedLibrary> load(const std::string& path) override;
};

}  // namespace fwup
