/* fixture_tool.exe: installs the printer fixture in a Wine prefix and talks
 * to it (Wine tests only).
 *   fixture_tool install N C:\...\fixture.inf   root devices ROOT\FWPRN\0000..N-1
 *   fixture_tool hwid UNIT VID                   the unit's USB hardware IDs name VID (hex)
 *   fixture_tool config UNIT [flags=N] [vendor=N] [fail-after=N] [status=N] [version=ABC] [id=TEXT]
 *   fixture_tool record UNIT                     what the unit saw, one key=value a line
 * Exit status 0 on success, 1 on a failure (said on standard output). */
#include <windows.h>
#include <setupapi.h>
#include <newdev.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include "fixture_shared.h"

static const GUID system_device_class =
    {0x4d36e97d, 0xe325, 0x11ce, {0xbf, 0xc1, 0x08, 0x00, 0x2b, 0xe1, 0x03, 0x18}};

/* USB-style IDs first, as a plugged-in printer's node has them; then the ID the INF matches. */
static DWORD hardware_ids(char *out, DWORD size, unsigned vendor)
{
    int n = snprintf(out, size, "USB\\VID_%04X&PID_1234&REV_0100%cUSB\\VID_%04X&PID_1234%cfwprn_fixture%c%c",
                     vendor, 0, vendor, 0, 0, 0);
    return n > 0 ? (DWORD)n : 0;
}

static int install(int count, const char *inf)
{
    char full[MAX_PATH], instance[32], ids[128];
    BOOL reboot = FALSE;
    HDEVINFO set = SetupDiCreateDeviceInfoList(&system_device_class, NULL);
    int i;

    if (set == INVALID_HANDLE_VALUE) { printf("SetupDiCreateDeviceInfoList: %lu\n", GetLastError()); return 1; }
    for (i = 0; i < count && i < FX_UNITS; i++)
    {
        SP_DEVINFO_DATA node;
    memset(&node, 0, sizeof(node));
    node.cbSize = sizeof(node);
        DWORD size = hardware_ids(ids, sizeof(ids), 0x043D);
        snprintf(instance, sizeof(instance), "ROOT\\FWPRN\\%04d", i);
        if (!SetupDiCreateDeviceInfoA(set, instance, &system_device_class, NULL, NULL, 0, &node) ||
            !SetupDiSetDeviceRegistryPropertyA(set, &node, SPDRP_HARDWAREID, (const BYTE *)ids, size) ||
            !SetupDiCallClassInstaller(DIF_REGISTERDEVICE, set, &node))
        {
            printf("registering %s: %lu\n", instance, GetLastError());
            return 1;
        }
    }
    SetupDiDestroyDeviceInfoList(set);
    GetFullPathNameA(inf, sizeof(full), full, NULL);
    if (!UpdateDriverForPlugAndPlayDevicesA(NULL, "fwprn_fixture", full, INSTALLFLAG_FORCE, &reboot))
    {
        printf("UpdateDriverForPlugAndPlayDevicesA(%s): %lu\n", full, GetLastError());
        return 1;
    }
    return 0;
}

static int set_hardware_ids(int unit, unsigned vendor)
{
    SP_DEVINFO_DATA node;
    memset(&node, 0, sizeof(node));
    node.cbSize = sizeof(node);
    char instance[32], ids[128];
    DWORD size = hardware_ids(ids, sizeof(ids), vendor);
    HDEVINFO set = SetupDiCreateDeviceInfoList(NULL, NULL);
    int ok;

    snprintf(instance, sizeof(instance), "ROOT\\FWPRN\\%04d", unit);
    ok = set != INVALID_HANDLE_VALUE && SetupDiOpenDeviceInfoA(set, instance, NULL, 0, &node) &&
         SetupDiSetDeviceRegistryPropertyA(set, &node, SPDRP_HARDWAREID, (const BYTE *)ids, size);
    if (!ok) printf("hardware IDs of %s: %lu\n", instance, GetLastError());
    if (set != INVALID_HANDLE_VALUE) SetupDiDestroyDeviceInfoList(set);
    return ok ? 0 : 1;
}

static int request(DWORD code, void *in, DWORD in_size, void *out, DWORD out_size)
{
    DWORD got = 0;
    HANDLE h = CreateFileA("\\\\.\\FwPrnFixture", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                           NULL, OPEN_EXISTING, 0, NULL);
    BOOL ok;
    if (h == INVALID_HANDLE_VALUE) { printf("opening the fixture's control device: %lu\n", GetLastError()); return 1; }
    ok = DeviceIoControl(h, code, in, in_size, out, out_size, &got, NULL);
    if (!ok) printf("fixture request %#lx: %lu\n", code, GetLastError());
    CloseHandle(h);
    return ok ? 0 : 1;
}

static int configure(int unit, int argc, char **argv)
{
    struct fx_config c;
    int i;
    memset(&c, 0, sizeof(c));
    c.unit = (ULONG)unit;
    c.flags = FX_MAKER_REQUESTS | FX_CLASS_REQUEST;
    c.vendor_id = 0x043D;
    c.write_fail_after = 0xFFFFFFFF;
    strcpy(c.version, "100");
    strcpy(c.device_id, "MFG:Fixture;CMD:ESCP;MODEL:FX-1000;CLS:PRINTER;DES:Wine test printer;");
    for (i = 0; i < argc; i++)
    {
        const char *a = argv[i];
        if (!strncmp(a, "flags=", 6)) c.flags = strtoul(a + 6, NULL, 0);
        else if (!strncmp(a, "vendor=", 7)) c.vendor_id = strtoul(a + 7, NULL, 0);
        else if (!strncmp(a, "fail-after=", 11)) c.write_fail_after = strtoul(a + 11, NULL, 0);
        else if (!strncmp(a, "status=", 7)) c.download_status = strtoul(a + 7, NULL, 0);
        else if (!strncmp(a, "version=", 8)) snprintf(c.version, sizeof(c.version), "%s", a + 8);
        else if (!strncmp(a, "id=", 3)) snprintf(c.device_id, sizeof(c.device_id), "%s", a + 3);
        else { printf("unknown setting %s\n", a); return 1; }
    }
    return request(FX_CONFIGURE, &c, sizeof(c), NULL, 0);
}

static int show_record(int unit)
{
    struct fx_record r;
    ULONG n = (ULONG)unit;
    int i;
    memset(&r, 0, sizeof(r));
    if (request(FX_GET_RECORD, &n, sizeof(n), &r, sizeof(r))) return 1;
    printf("creates=%lu\ncreates_refused=%lu\ncleanups=%lu\ncloses=%lu\n", r.creates, r.creates_refused,
           r.cleanups, r.closes);
    printf("last_access=%#lx\nlast_share=%#lx\nlast_options=%#lx\n", r.last_access, r.last_share, r.last_options);
    printf("requests=%lu\nrequests_refused=%lu\n", r.requests, r.requests_refused);
    printf("last_requests=");
    for (i = 0; i < 8; i++)
        if (r.last_requests[i].code)
            printf("%#lx/%lu/%lu ", r.last_requests[i].code, r.last_requests[i].in_length,
                   r.last_requests[i].out_length);
    printf("\nwrites=%lu\nwrites_partial=%lu\nwrites_refused=%lu\nreads=%lu\nreads_held=%lu\nreads_cancelled=%lu\n",
           r.writes, r.writes_partial, r.writes_refused, r.reads, r.reads_held, r.reads_cancelled);
    printf("commands=%lu\nwrite_timeout=%.7s\nread_timeout=%.7s\n", r.commands, r.write_timeout, r.read_timeout);
    printf("bytes_written=%llu\nimage_bytes=%llu\nimage_digest=%016llx\n", (unsigned long long)r.bytes_written,
           (unsigned long long)r.image_bytes, (unsigned long long)r.image_digest);
    return 0;
}

int main(int argc, char **argv)
{
    if (argc >= 4 && !strcmp(argv[1], "install")) return install(atoi(argv[2]), argv[3]);
    if (argc >= 4 && !strcmp(argv[1], "hwid")) return set_hardware_ids(atoi(argv[2]), (unsigned)strtoul(argv[3], NULL, 16));
    if (argc >= 3 && !strcmp(argv[1], "config")) return configure(atoi(argv[2]), argc - 3, argv + 3);
    if (argc >= 3 && !strcmp(argv[1], "record")) return show_record(atoi(argv[2]));
    printf("usage: fixture_tool install N INF | hwid UNIT VID | config UNIT [k=v...] | record UNIT\n");
    return 2;
}
