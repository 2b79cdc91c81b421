// The library's C interface: every export forwards to one instance of
// UsbPortLibrary, which holds all of the library's state.
#include "usbport/exports/exported_instance.h"
#include "veltport.h"

#if defined(_WIN32) && defined(VELTPORT_BUILDING)
#include <windows.h>
#endif

namespace veltport {
namespace {
UsbPortLibrary& instance() { return exported_instance(); }
}  // namespace
}  // namespace veltport

extern "C" {

VELTPORT_EXPORT int VELTPORT_CALL ReadFromUsbPort(unsigned char* buffer, uint32_t length,
                                                  uint32_t* read, const char* timeout) {
    return veltport::instance().ReadFromUsbPort(buffer, length, read, timeout);
}

VELTPORT_EXPORT int VELTPORT_CALL WriteToUsbPort(const unsigned char* data, uint32_t length,
                                                 uint32_t* written, const char* timeout) {
    return veltport::instance().WriteToUsbPort(data, length, written, timeout);
}

VELTPORT_EXPORT int VELTPORT_CALL GetDeviceID(char* buffer, uint32_t* capacity) {
    return veltport::instance().GetDeviceID(buffer, capacity);
}

VELTPORT_EXPORT int VELTPORT_CALL GetModelName(char* buffer) {
    return veltport::instance().GetModelName(buffer);
}

VELTPORT_EXPORT int VELTPORT_CALL GetVendorID(uint16_t* vendor_id) {
    return veltport::instance().GetVendorID(vendor_id);
}

VELTPORT_EXPORT int VELTPORT_CALL GetControlPortName(char* buffer, uint32_t size) {
    return veltport::instance().GetControlPortName(buffer, size);
}

VELTPORT_EXPORT int VELTPORT_CALL GetWritePortName(char* buffer, uint32_t size) {
    return veltport::instance().GetWritePortName(buffer, size);
}

VELTPORT_EXPORT int VELTPORT_CALL GetReadPortName(char* buffer, uint32_t size) {
    return veltport::instance().GetReadPortName(buffer, size);
}

#if defined(_WIN32) && defined(VELTPORT_BUILDING)
// The entry point does no work: all state starts with its initial values.
BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    (void)instance;
    (void)reason;
    (void)reserved;
    return TRUE;
}
#endif

}  // extern "C"
