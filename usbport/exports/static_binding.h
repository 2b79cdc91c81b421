#pragma once
#include "usbport/core/device_layer.h"
#include "usbport/core/usb_port_library.h"

namespace veltport {

// For programs that link the library statically (target veltport_static)
// instead of loading it: the C exports of veltport.h then run over the
// instance below. Not exported from the shared library.

// Puts the instance back into its load-time state (no interface class chosen,
// no cached names) and makes it use `layer`, which must outlive its use.
void bind_device_layer(DeviceLayer& layer);
// Detaches the instance from any bound layer: it then finds no printer.
void unbind_device_layer();
// The instance the exports forward to.
const UsbPortLibrary& bound_library();

}  // namespace veltport
