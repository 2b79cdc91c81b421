// The loaded library: one instance over the system's own device layer.
#include "usbport/core/device_layer.h"
#include "usbport/exports/exported_instance.h"

namespace veltport {

UsbPortLibrary& exported_instance() {
    static UsbPortLibrary library(platform_device_layer());
    return library;
}

}  // namespace veltport
