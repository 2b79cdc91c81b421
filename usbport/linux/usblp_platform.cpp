// The system's device layer on Linux: the kernel's USB printer driver.
#include "usbport/core/device_layer.h"
#include "usbport/linux/usblp_device_layer.h"

namespace veltport {

DeviceLayer& platform_device_layer() { return usblp_device_layer(); }

}  // namespace veltport
