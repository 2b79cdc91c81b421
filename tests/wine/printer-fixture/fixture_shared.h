/* The printer fixture's private interface: shared by the kernel-mode driver
 * (DDK headers) and the user-mode programs (windows.h) of the Wine tests.
 * Plain types only. Never shipped. */
#ifndef FIXTURE_SHARED_H
#define FIXTURE_SHARED_H

#define FX_UNITS 4

/* Requests of the maker's and NT 5's USB printer drivers, and the one of the
 * system's class driver of NT 6 and later (IOCTL_USBPRINT_GET_1284_ID). */
#define FX_GET_DEVICE_DESCRIPTOR 0x220000
#define FX_GET_DEVICE_ID 0x220010
#define FX_SET_WRITE_TIMEOUT 0x220018
#define FX_SET_READ_TIMEOUT 0x22001C
#define FX_GET_1284_ID 0x220034
/* Private requests, on the control device \\.\FwPrnFixture only. */
#define FX_CONFIGURE 0x220900 /* in: struct fx_config; zeroes the unit's record */
#define FX_GET_RECORD 0x220904 /* in: ULONG unit; out: struct fx_record */

/* fx_config.flags */
#define FX_MAKER_REQUESTS 0x01 /* answers the four requests of the maker's driver */
#define FX_CLASS_REQUEST 0x02 /* answers GET_1284_ID */
#define FX_NOT_OPENABLE 0x04 /* every open fails, as if held by another process, until the driver reloads */
#define FX_READ_NEVER 0x08 /* reads stay pending until cancelled or closed */
#define FX_ID_FAILS 0x10 /* both ID requests fail */

struct fx_config
{
    ULONG unit;
    ULONG flags;
    ULONG vendor_id;        /* idVendor of the device descriptor */
    ULONG write_fail_after; /* image bytes taken before writes fail; 0xFFFFFFFF never */
    ULONG download_status;  /* status byte of the download reply */
    char version[4];        /* three version characters */
    char device_id[248];    /* IEEE 1284 ID, NUL-terminated */
};

struct fx_request
{
    ULONG code, in_length, out_length;
};

/* What a unit saw since it was configured (little-endian, no padding holes
 * that differ between 32- and 64-bit programs). */
struct fx_record
{
    ULONG creates, creates_refused, cleanups, closes;
    ULONG last_access, last_share, last_options; /* of the last open */
    ULONG requests, requests_refused;
    struct fx_request last_requests[8]; /* the newest last */
    ULONG writes, writes_partial, writes_refused, reads, reads_held, reads_cancelled;
    ULONG commands; /* command writes answered */
    char write_timeout[8], read_timeout[8];
    ULONG pad;
    ULONGLONG bytes_written;
    ULONGLONG image_bytes;  /* bytes after a download command was accepted */
    ULONGLONG image_digest; /* FNV-1a 64 of those bytes */
};

#define FX_FNV_BASIS 0xcbf29ce484222325ULL
#define FX_FNV_PRIME 0x00000100000001b3ULL

#endif
