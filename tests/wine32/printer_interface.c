/* Puts a printer's device interface where the USB port library looks for one,
 * with no driver behind it: a root device with an interface in the system's
 * USB printing class and one in the printer maker's class, marked linked so
 * that a search for present interfaces lists them. The library then finds a
 * member, reads its detail record and fails to open the path, which its text
 * names; a wrong record size (a 64-bit size in the 32-bit build) ends the
 * search before the path and leaves the text without it.
 *
 *   printer_interface.exe add      registers and links both; prints the paths
 *   printer_interface.exe remove   unlinks them again (as unplugged)
 */
#include <windows.h>
#include <setupapi.h>
#include <stdio.h>
#include <string.h>

static const GUID kClasses[] = {
    {0x28d78fad, 0x5a12, 0x11d1, {0xae, 0x5b, 0x00, 0x00, 0xf8, 0x03, 0xa8, 0xc2}}, /* USB printing */
    {0x76f4b720, 0xf62f, 0x11d1, {0x9c, 0x52, 0x00, 0x00, 0x83, 0x61, 0x2a, 0xa1}}, /* the maker's */
};
static const GUID kPrinterSetupClass = {0x4d36e979, 0xe325, 0x11ce, {0xbf, 0xc1, 0x08, 0x00, 0x2b, 0xe1, 0x03, 0x18}};
static const char kInstance[] = "ROOT\\FWIFTEST\\0000";

/* The interface's key below DeviceClasses: "##?#" and the path after "\\?\",
 * its backslashes as '#'. */
static int set_linked(const GUID* cls, const char* path, DWORD linked) {
    char key[600];
    int at = snprintf(key, sizeof key,
                      "System\\CurrentControlSet\\Control\\DeviceClasses\\{%08lx-%04x-%04x-%02x%02x-"
                      "%02x%02x%02x%02x%02x%02x}\\##?#",
                      (unsigned long)cls->Data1, cls->Data2, cls->Data3, cls->Data4[0], cls->Data4[1],
                      cls->Data4[2], cls->Data4[3], cls->Data4[4], cls->Data4[5], cls->Data4[6], cls->Data4[7]);
    for (const char* c = path + 4; *c != '\0' && at < (int)sizeof key - 20; ++c) key[at++] = *c == '\\' ? '#' : *c;
    strcpy(key + at, "\\#\\Control");
    HKEY control;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, key, 0, NULL, 0, KEY_SET_VALUE, NULL, &control, NULL) != ERROR_SUCCESS)
        return 0;
    const LONG set = RegSetValueExA(control, "Linked", 0, REG_DWORD, (const BYTE*)&linked, sizeof linked);
    RegCloseKey(control);
    return set == ERROR_SUCCESS;
}

int main(int argc, char** argv) {
    const int add = argc == 2 && strcmp(argv[1], "add") == 0;
    if (!add && !(argc == 2 && strcmp(argv[1], "remove") == 0)) {
        fprintf(stderr, "usage: printer_interface.exe add|remove\n");
        return 2;
    }
    HDEVINFO set = SetupDiCreateDeviceInfoList(&kPrinterSetupClass, NULL);
    if (set == INVALID_HANDLE_VALUE) return 1;
    SP_DEVINFO_DATA device;
    device.cbSize = sizeof device;
    /* The device may be there from an earlier run: open it, else create it. */
    if (!SetupDiOpenDeviceInfoA(set, kInstance, NULL, 0, &device) &&
        !(SetupDiCreateDeviceInfoA(set, kInstance, &kPrinterSetupClass, NULL, NULL, 0, &device) &&
          SetupDiRegisterDeviceInfo(set, &device, 0, NULL, NULL, NULL))) {
        fprintf(stderr, "the device cannot be made (error %lu)\n", GetLastError());
        SetupDiDestroyDeviceInfoList(set);
        return 1;
    }
    int status = 0;
    for (size_t i = 0; i < sizeof kClasses / sizeof kClasses[0]; ++i) {
        SP_DEVICE_INTERFACE_DATA data;
        data.cbSize = sizeof data;
        char buffer[512];
        SP_DEVICE_INTERFACE_DETAIL_DATA_A* detail = (SP_DEVICE_INTERFACE_DETAIL_DATA_A*)buffer;
        detail->cbSize = sizeof *detail;
        if (!SetupDiCreateDeviceInterfaceA(set, &device, &kClasses[i], NULL, 0, &data) ||
            !SetupDiGetDeviceInterfaceDetailA(set, &data, detail, sizeof buffer, NULL, NULL) ||
            !set_linked(&kClasses[i], detail->DevicePath, add ? 1 : 0)) {
            fprintf(stderr, "interface %u: error %lu\n", (unsigned)i, GetLastError());
            status = 1;
            continue;
        }
        if (add) printf("%s\n", detail->DevicePath);
    }
    SetupDiDestroyDeviceInfoList(set);
    return status;
}
