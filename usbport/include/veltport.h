/* veltport: the USB port library's exported interface.
   The upgrade program includes this header for the function types it binds by
   name at run time; the library includes it for its definitions. Every export
   has an undecorated C name and the calling convention VELTPORT_CALL. */
#ifndef VELTPORT_H
#define VELTPORT_H

#include <stdint.h>

#if defined(_WIN32)
#define VELTPORT_CALL __stdcall
#else
#define VELTPORT_CALL
#endif

#if defined(VELTPORT_BUILDING) && !defined(_WIN32)
#define VELTPORT_EXPORT __attribute__((visibility("default")))
#else
#define VELTPORT_EXPORT
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Transfer results. */
#define VELTPORT_OK 0
#define VELTPORT_TRANSFER_FAILED 1
#define VELTPORT_NO_PRINTER 2
#define VELTPORT_PIPE_NOT_OPENED 3
#define VELTPORT_TIMEOUT_NOT_SET 4

/* Sends `length` bytes down the bulk OUT pipe. `timeout` is a decimal text of at
   most 7 characters handed to the driver; where the driver takes it (not on
   NT 5.x), a longer or missing text gives VELTPORT_TIMEOUT_NOT_SET before
   anything is opened or sent. `written` may be null; it receives the bytes the
   last attempt transferred. A write that fails having sent nothing is made once
   more, whole, after the printer has been searched again. A short write, one
   that sent part of the data, is not repeated, since the printer would take
   that part twice: it gives VELTPORT_TRANSFER_FAILED at once, with the part's
   size in `written`. Returns one of the results above. */
VELTPORT_EXPORT int VELTPORT_CALL WriteToUsbPort(const unsigned char* data, uint32_t length,
                                                 uint32_t* written, const char* timeout);
/* Reads up to `length` bytes from the bulk IN pipe into `buffer`; `read` may be null. */
VELTPORT_EXPORT int VELTPORT_CALL ReadFromUsbPort(unsigned char* buffer, uint32_t length,
                                                  uint32_t* read, const char* timeout);

/* Identification: 1 on success, 0 on failure. GetDeviceID's `capacity` is the
   buffer's size on entry (0 is refused) and the bytes stored, NUL included, on
   success. GetModelName's buffer must hold 4089 characters and a NUL. Null
   pointers are refused with 0. On Windows the library also exports its entry
   point DllMain, which does nothing. */
VELTPORT_EXPORT int VELTPORT_CALL GetDeviceID(char* buffer, uint32_t* capacity);
VELTPORT_EXPORT int VELTPORT_CALL GetModelName(char* buffer);
VELTPORT_EXPORT int VELTPORT_CALL GetVendorID(uint16_t* vendor_id);
VELTPORT_EXPORT int VELTPORT_CALL GetControlPortName(char* buffer, uint32_t size);
VELTPORT_EXPORT int VELTPORT_CALL GetWritePortName(char* buffer, uint32_t size);
VELTPORT_EXPORT int VELTPORT_CALL GetReadPortName(char* buffer, uint32_t size);

/* Linux: when this environment variable names a printer's device node
   (/dev/usb/lp1), the library reaches that printer alone instead of the first
   one that opens; a node that does not exist is no printer. Windows has no
   such variable: its library always takes the first printer that opens. */
#define VELTPORT_DEVICE_VARIABLE "VELTPORT_DEVICE"

typedef int(VELTPORT_CALL* WriteToUsbPortFn)(const unsigned char*, uint32_t, uint32_t*, const char*);
typedef int(VELTPORT_CALL* ReadFromUsbPortFn)(unsigned char*, uint32_t, uint32_t*, const char*);
typedef int(VELTPORT_CALL* GetDeviceIDFn)(char*, uint32_t*);

#ifdef __cplusplus
}
#endif

#endif
