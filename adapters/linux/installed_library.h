#pragma once
#include <memory>
#include <string>

#include "core/binding/usb_port_api.h"

namespace fwup {

// How the Linux program finds the USB port library. The file it is asked for
// (./libveltport.so, in the current folder as on Windows) wins whenever it is
// there, so an operator's folder with its own library keeps working. Only when
// that file does not exist is the library installed with the program loaded:
// the one at `installed_path`, so that an installed program always takes the
// library of its own installation, whatever the prefix or the current folder.
class InstalledLibraryLoader final : public LibraryLoader {
public:
    InstalledLibraryLoader(LibraryLoader& system, std::string installed_path);
    std::unique_ptr<LoadedLibrary> load(const std::string& path) override;

private:
    LibraryLoader& system_;
    std::string installed_path_;
};

// The library as installed beside this program: <the executable's folder>/
// <the library folder relative to the program folder>/<soname>, for example
// /usr/bin/../lib/x86_64-linux-gnu/libveltport.so.1. Empty when the
// executable's own path cannot be read.
std::string installed_library_path();

}  // namespace fwup
