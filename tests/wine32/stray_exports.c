/* The USB port library's nine exports as stubs, linked by scripts/wine32-tests
   into DLLs that scripts/check-exports must refuse: decorated names (no
   --kill-at), a stray export beside the nine (STRAY_EXTRA), an export by ordinal
   only (with ordinal_only.def). */
#include <windows.h>
#include <stdint.h>

#define EXPORT __declspec(dllexport)

EXPORT int __stdcall ReadFromUsbPort(unsigned char* b, uint32_t n, uint32_t* r, const char* t) {
    (void)b, (void)n, (void)r, (void)t;
    return 2;
}
EXPORT int __stdcall WriteToUsbPort(const unsigned char* d, uint32_t n, uint32_t* w, const char* t) {
    (void)d, (void)n, (void)w, (void)t;
    return 2;
}
EXPORT int __stdcall GetDeviceID(char* b, uint32_t* c) { return (void)b, (void)c, 0; }
EXPORT int __stdcall GetModelName(char* b) { return (void)b, 0; }
EXPORT int __stdcall GetVendorID(uint16_t* v) { return (void)v, 0; }
EXPORT int __stdcall GetControlPortName(char* b, uint32_t n) { return (void)b, (void)n, 0; }
EXPORT int __stdcall GetWritePortName(char* b, uint32_t n) { return (void)b, (void)n, 0; }
EXPORT int __stdcall GetReadPortName(char* b, uint32_t n) { return (void)b, (void)n, 0; }
EXPORT BOOL WINAPI DllMain(HINSTANCE i, DWORD r, LPVOID p) { return (void)i, (void)r, (void)p, TRUE; }

#if defined(STRAY_EXTRA)
EXPORT int __stdcall VeltportBuildNumber(void) { return 1; }
#endif

/* Named only in ordinal_only.def, which exports it without a name. */
int __stdcall StrayByOrdinal(void);
int __stdcall StrayByOrdinal(void) { return 1; }
