/* exports_probe.exe: calls the USB port library's nine exports the way a
 * caller other than the upgrade program may, and prints each result on a line
 * of its own (Wine tests only). veltport.dll is taken from the current folder. */
#include <windows.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>

typedef int(__stdcall *id_fn)(char *, uint32_t *);
typedef int(__stdcall *text_fn)(char *);
typedef int(__stdcall *vendor_fn)(uint16_t *);
typedef int(__stdcall *name_fn)(char *, uint32_t);
typedef int(__stdcall *write_fn)(const unsigned char *, uint32_t, uint32_t *, const char *);
typedef int(__stdcall *read_fn)(unsigned char *, uint32_t, uint32_t *, const char *);

static FARPROC need(HMODULE library, const char *name)
{
    FARPROC f = GetProcAddress(library, name);
    if (!f) { printf("missing export %s\n", name); exit(1); }
    return f;
}

int main(void)
{
    static const unsigned char version_query[] = {0xA5, 0x00, 0x04, 0x50, 0xE0, 0x82, 0x06};
    static char model[4096];
    HMODULE library = LoadLibraryA(".\\veltport.dll");
    char text[256];
    unsigned char reply[255];
    uint32_t capacity = 255, count = 0xDEAD;
    uint16_t vendor = 0;
    int result;

    if (!library) { printf("LoadLibraryA: %lu\n", GetLastError()); return 1; }
    /* The vendor before any other call: no environment check has run yet. */
    result = ((vendor_fn)(uintptr_t)need(library, "GetVendorID"))(&vendor);
    printf("GetVendorID first=%d %04X\n", result, vendor);
    memset(text, 0, sizeof(text));
    result = ((id_fn)(uintptr_t)need(library, "GetDeviceID"))(text, &capacity);
    printf("GetDeviceID=%d capacity=%u text=%s\n", result, capacity, text);
    result = ((text_fn)(uintptr_t)need(library, "GetModelName"))(model);
    printf("GetModelName=%d %s\n", result, result ? model : "");
    vendor = 0;
    result = ((vendor_fn)(uintptr_t)need(library, "GetVendorID"))(&vendor);
    printf("GetVendorID=%d %04X\n", result, vendor);
    result = ((name_fn)(uintptr_t)need(library, "GetControlPortName"))(text, sizeof(text));
    printf("GetControlPortName=%d %s\n", result, result ? text : "");
    result = ((name_fn)(uintptr_t)need(library, "GetWritePortName"))(text, sizeof(text));
    printf("GetWritePortName=%d %s\n", result, result ? text : "");
    result = ((name_fn)(uintptr_t)need(library, "GetReadPortName"))(text, sizeof(text));
    printf("GetReadPortName=%d %s\n", result, result ? text : "");
    result = ((write_fn)(uintptr_t)need(library, "WriteToUsbPort"))(version_query, sizeof(version_query), &count, "1000");
    printf("WriteToUsbPort=%d count=%u\n", result, count);
    count = 0xDEAD;
    result = ((read_fn)(uintptr_t)need(library, "ReadFromUsbPort"))(reply, sizeof(reply), &count, "1000");
    printf("ReadFromUsbPort=%d count=%u\n", result, count);
    need(library, "DllMain");
    FreeLibrary(library);
    return 0;
}
