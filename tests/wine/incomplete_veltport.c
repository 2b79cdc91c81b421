/* A USB port library that lacks ReadFromUsbPort: the program must refuse it
   with "Function inport failed from'veltport.dll' file". */
#include <stdint.h>

__declspec(dllexport) int __stdcall GetDeviceID(char* buffer, uint32_t* capacity) {
    (void)buffer;
    (void)capacity;
    return 0;
}

__declspec(dllexport) int __stdcall WriteToUsbPort(const unsigned char* data, uint32_t length, uint32_t* written,
                                                   const char* timeout) {
    (void)data;
    (void)length;
    (void)written;
    (void)timeout;
    return 1;
}
