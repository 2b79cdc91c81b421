#pragma once
#include "usbport/core/usb_port_library.h"

namespace veltport {

// The one instance the C exports forward to. The shared library's instance runs
// over the system's device layer; the in-process binding's instance runs over
// whatever layer was bound to it (static_binding.h).
UsbPortLibrary& exported_instance();

}  // namespace veltport
