#pragma once
#include <memory>
#include <string>

#include "veltport.h"

namespace fwup {

// Any exported function, before it is cast to its real type. `void (*)()`
// converts to and from every function-pointer type without warnings.
using ExportAddress = void (*)();

// A loaded shared library. Destroying the object releases the library.
class LoadedLibrary {
public:
    virtual ~LoadedLibrary() = default;
    // nullptr when the library has no export of that name.
    virtual ExportAddress find_export(const char* name) = 0;
};

class LibraryLoader {
public:
    virtual ~LibraryLoader() = default;
    // nullptr when the library cannot be loaded.
    virtual std::unique_ptr<LoadedLibrary> load(const std::string& path) = 0;
};

// The USB port library as the program binds it: the loaded library and the
// three exports the procedures call. `library` is null when it was never loaded.
struct UsbPortApi {
    std::unique_ptr<LoadedLibrary> library;
    GetDeviceIDFn get_device_id = nullptr;
    WriteToUsbPortFn write_to_usb_port = nullptr;
    ReadFromUsbPortFn read_from_usb_port = nullptr;

    bool loaded() const { return library != nullptr; }
    // Loaded with all three exports bound: the procedures may call it.
    bool usable() const {
        return loaded() && get_device_id != nullptr && write_to_usb_port != nullptr &&
               read_from_usb_port != nullptr;
    }
    // Releases the library and forgets the exports, which die with it.
    void release() {
        get_device_id = nullptr;
        write_to_usb_port = nullptr;
        read_from_usb_port = nullptr;
        library.reset();
    }
};

}  // namespace fwup
