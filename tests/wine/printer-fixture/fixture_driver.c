/* fwprnfx.sys: a kernel-mode driver that plays up to FX_UNITS USB printers
 * for the Wine tests; installed by fixture_tool.exe as root-enumerated
 * devices ROOT\FWPRN\0000.. and never shipped.
 *
 * Each unit registers one interface class, chosen per installation by the
 * service's DWORD value FixtureClass (0: the system's USB printing class,
 * 1: the maker's own Windows 98 class). What a unit answers is set through
 * the control device \\.\FwPrnFixture (FX_CONFIGURE): its vendor, ID text,
 * version, which requests it knows, whether it opens (until the driver is
 * loaded again), whether its replies
 * ever come, after how many image bytes its writes fail. The unit keeps a
 * record of the opens, requests and bytes it saw (FX_GET_RECORD), with an
 * FNV-1a 64 digest of the image bytes, so a test compares them with the file.
 *
 * A write of a command (at most 16 bytes, [ESC] A5 ...) is answered by the
 * next read: the version reply for function 6, the download reply for 5 and 7,
 * after which every byte written is an image byte. */
#include <ntddk.h>
#include "fixture_shared.h"

static const GUID system_class =
    {0x28d78fad, 0x5a12, 0x11d1, {0xae, 0x5b, 0x00, 0x00, 0xf8, 0x03, 0xa8, 0xc2}};
static const GUID maker_class =
    {0x76f4b720, 0xf62f, 0x11d1, {0x9c, 0x52, 0x00, 0x00, 0x83, 0x61, 0x2a, 0xa1}};

struct unit
{
    struct fx_config config;
    struct fx_record record;
    BOOLEAN image_mode;
    UCHAR reply[16];
    ULONG reply_length;
};

struct device_ext
{
    DEVICE_OBJECT *lower; /* NULL for the control device */
    ULONG unit;
    UNICODE_STRING symlink;
    BOOLEAN registered;
    BOOLEAN hidden; /* its link is gone: listed, but no open finds it */
};

static struct unit units[FX_UNITS];
static struct device_ext *unit_devices[FX_UNITS];
static KSPIN_LOCK lock; /* guards units and held_reads */
static LIST_ENTRY held_reads;
static ULONG class_choice;
static DEVICE_OBJECT *control_device;
static UNICODE_STRING control_link;

static void default_config(ULONG n)
{
    static const char id[] = "MFG:Fixture;CMD:ESCP;MODEL:FX-1000;CLS:PRINTER;DES:Wine test printer;";
    struct unit *u = &units[n];
    RtlZeroMemory(u, sizeof(*u));
    u->config.unit = n;
    u->config.flags = FX_MAKER_REQUESTS | FX_CLASS_REQUEST;
    u->config.vendor_id = 0x043D;
    u->config.write_fail_after = 0xFFFFFFFF;
    RtlCopyMemory(u->config.version, "100", 4);
    RtlCopyMemory(u->config.device_id, id, sizeof(id));
    u->record.image_digest = FX_FNV_BASIS;
}

static NTSTATUS complete(IRP *irp, NTSTATUS status, ULONG_PTR information)
{
    irp->IoStatus.Status = status;
    irp->IoStatus.Information = information;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return status;
}

static struct device_ext *ext_of(DEVICE_OBJECT *device) { return device->DeviceExtension; }

static NTSTATUS WINAPI dispatch_create(DEVICE_OBJECT *device, IRP *irp)
{
    IO_STACK_LOCATION *stack = IoGetCurrentIrpStackLocation(irp);
    struct device_ext *ext = ext_of(device);
    struct unit *u;
    NTSTATUS status = STATUS_SUCCESS;
    KIRQL irql;

    if (!ext->lower) return complete(irp, STATUS_SUCCESS, 0);
    u = &units[ext->unit];
    KeAcquireSpinLock(&lock, &irql);
    u->record.creates++;
    u->record.last_access = stack->Parameters.Create.SecurityContext
                                ? stack->Parameters.Create.SecurityContext->DesiredAccess : 0;
    u->record.last_share = stack->Parameters.Create.ShareAccess;
    u->record.last_options = stack->Parameters.Create.Options;
    if (u->config.flags & FX_NOT_OPENABLE)
    {
        u->record.creates_refused++;
        status = STATUS_SHARING_VIOLATION;
    }
    KeReleaseSpinLock(&lock, irql);
    return complete(irp, status, 0);
}

/* Completes the held reads of one file object (all with NULL) whose cancel
 * routine has not started; a started one completes its own IRP. */
static void release_reads(FILE_OBJECT *file)
{
    LIST_ENTRY done, *entry, *next;
    KIRQL irql;

    InitializeListHead(&done);
    KeAcquireSpinLock(&lock, &irql);
    for (entry = held_reads.Flink; entry != &held_reads; entry = next)
    {
        IRP *irp = CONTAINING_RECORD(entry, IRP, Tail.Overlay.ListEntry);
        next = entry->Flink;
        if (file && IoGetCurrentIrpStackLocation(irp)->FileObject != file) continue;
        if (!IoSetCancelRoutine(irp, NULL)) continue;
        RemoveEntryList(entry);
        InsertTailList(&done, entry);
    }
    KeReleaseSpinLock(&lock, irql);
    while (!IsListEmpty(&done))
    {
        entry = RemoveHeadList(&done);
        complete(CONTAINING_RECORD(entry, IRP, Tail.Overlay.ListEntry), STATUS_CANCELLED, 0);
    }
}

static NTSTATUS WINAPI dispatch_cleanup(DEVICE_OBJECT *device, IRP *irp)
{
    struct device_ext *ext = ext_of(device);
    if (ext->lower) units[ext->unit].record.cleanups++;
    release_reads(IoGetCurrentIrpStackLocation(irp)->FileObject);
    return complete(irp, STATUS_SUCCESS, 0);
}

static NTSTATUS WINAPI dispatch_close(DEVICE_OBJECT *device, IRP *irp)
{
    struct device_ext *ext = ext_of(device);
    if (ext->lower) units[ext->unit].record.closes++;
    /* Wine sends CLOSE without a CLEANUP, even while a read is held. */
    release_reads(IoGetCurrentIrpStackLocation(irp)->FileObject);
    return complete(irp, STATUS_SUCCESS, 0);
}

static void *irp_data(DEVICE_OBJECT *device, IRP *irp)
{
    if (irp->MdlAddress) return MmGetSystemAddressForMdlSafe(irp->MdlAddress, NormalPagePriority);
    if (device->Flags & DO_BUFFERED_IO) return irp->AssociatedIrp.SystemBuffer;
    return irp->UserBuffer;
}

/* The reply to a command: the header echoed, then the answer field. */
static void answer_command(struct unit *u, const UCHAR *data, ULONG length)
{
    ULONG start = data[0] == 0x1b ? 1 : 0, n, i;
    UCHAR function;

    if (length < start + 7 || data[start] != 0xa5) return;
    function = data[start + 6];
    if (function != 5 && function != 6 && function != 7) return;
    u->record.commands++;
    n = (function == 6 ? 10 : 8) + start;
    i = 0;
    if (start) u->reply[i++] = 0x1b;
    u->reply[i++] = 0xa5;
    u->reply[i++] = 0;
    u->reply[i++] = (UCHAR)(n - start - 3); /* bytes after the count */
    u->reply[i++] = 0x50;
    u->reply[i++] = 0xe0;
    u->reply[i++] = 0x82;
    u->reply[i++] = function;
    if (function == 6)
    {
        u->reply[i++] = (UCHAR)u->config.version[0];
        u->reply[i++] = (UCHAR)u->config.version[1];
        u->reply[i++] = (UCHAR)u->config.version[2];
    }
    else
    {
        u->reply[i++] = (UCHAR)u->config.download_status;
        u->image_mode = u->config.download_status == 0;
    }
    u->reply_length = i;
}

static NTSTATUS WINAPI dispatch_write(DEVICE_OBJECT *device, IRP *irp)
{
    struct device_ext *ext = ext_of(device);
    ULONG length = IoGetCurrentIrpStackLocation(irp)->Parameters.Write.Length, i;
    const UCHAR *data = irp_data(device, irp);
    struct unit *u;
    KIRQL irql;

    if (!ext->lower) return complete(irp, STATUS_INVALID_DEVICE_REQUEST, 0);
    u = &units[ext->unit];
    KeAcquireSpinLock(&lock, &irql);
    u->record.writes++;
    if (!u->image_mode)
    {
        if (data && length <= 16) answer_command(u, data, length);
        u->record.bytes_written += length;
        KeReleaseSpinLock(&lock, irql);
        return complete(irp, STATUS_SUCCESS, length);
    }
    if (u->config.write_fail_after != 0xFFFFFFFF)
    {
        ULONGLONG room = u->record.image_bytes < u->config.write_fail_after
                             ? u->config.write_fail_after - u->record.image_bytes : 0;
        if (!room)
        {
            /* as if the printer had gone away */
            u->record.writes_refused++;
            KeReleaseSpinLock(&lock, irql);
            return complete(irp, STATUS_DEVICE_NOT_CONNECTED, 0);
        }
        if (length > room)
        {
            length = (ULONG)room; /* taken in part, reported as success */
            u->record.writes_partial++;
        }
    }
    for (i = 0; data && i < length; i++) u->record.image_digest = (u->record.image_digest ^ data[i]) * FX_FNV_PRIME;
    u->record.image_bytes += length;
    u->record.bytes_written += length;
    KeReleaseSpinLock(&lock, irql);
    return complete(irp, STATUS_SUCCESS, length);
}

static void WINAPI cancel_read(DEVICE_OBJECT *device, IRP *irp)
{
    struct device_ext *ext = ext_of(device);
    KIRQL irql;

    IoReleaseCancelSpinLock(irp->CancelIrql);
    KeAcquireSpinLock(&lock, &irql);
    RemoveEntryList(&irp->Tail.Overlay.ListEntry);
    if (ext->lower) units[ext->unit].record.reads_cancelled++;
    KeReleaseSpinLock(&lock, irql);
    complete(irp, STATUS_CANCELLED, 0);
}

static NTSTATUS WINAPI dispatch_read(DEVICE_OBJECT *device, IRP *irp)
{
    struct device_ext *ext = ext_of(device);
    ULONG length = IoGetCurrentIrpStackLocation(irp)->Parameters.Read.Length, n = 0;
    UCHAR *data = irp_data(device, irp);
    struct unit *u;
    KIRQL irql;

    if (!ext->lower) return complete(irp, STATUS_INVALID_DEVICE_REQUEST, 0);
    u = &units[ext->unit];
    KeAcquireSpinLock(&lock, &irql);
    u->record.reads++;
    if (u->config.flags & FX_READ_NEVER)
    {
        IoSetCancelRoutine(irp, cancel_read);
        if (irp->Cancel && IoSetCancelRoutine(irp, NULL))
        {
            KeReleaseSpinLock(&lock, irql);
            return complete(irp, STATUS_CANCELLED, 0);
        }
        IoMarkIrpPending(irp);
        InsertTailList(&held_reads, &irp->Tail.Overlay.ListEntry);
        u->record.reads_held++;
        KeReleaseSpinLock(&lock, irql);
        return STATUS_PENDING;
    }
    if (data && u->reply_length)
    {
        n = u->reply_length < length ? u->reply_length : length;
        RtlCopyMemory(data, u->reply, n);
        u->reply_length = 0;
    }
    KeReleaseSpinLock(&lock, irql);
    return complete(irp, STATUS_SUCCESS, n);
}

static void note_request(struct unit *u, ULONG code, ULONG in_length, ULONG out_length, BOOLEAN refused)
{
    ULONG i;
    for (i = 0; i + 1 < 8; i++) u->record.last_requests[i] = u->record.last_requests[i + 1];
    u->record.last_requests[7].code = code;
    u->record.last_requests[7].in_length = in_length;
    u->record.last_requests[7].out_length = out_length;
    u->record.requests++;
    if (refused) u->record.requests_refused++;
}

/* Wine opens a device whatever its CREATE answers, so a unit that must not
 * open loses its link instead: the interface stays listed, as a printer held
 * by another process does, and opening its path fails. Only a reload of the
 * driver (a restart of the Wine server) brings the link back. */
static void hide_unit(ULONG n)
{
    struct device_ext *ext = unit_devices[n];
    if (!ext || !ext->registered || ext->hidden) return;
    IoDeleteSymbolicLink(&ext->symlink);
    ext->hidden = TRUE;
}

/* The private requests of the control device. */
static NTSTATUS control_request(IRP *irp, ULONG code, ULONG in_length, ULONG out_length, UCHAR *buffer)
{
    KIRQL irql;
    if (code == FX_CONFIGURE)
    {
        struct fx_config c;
        if (in_length < sizeof(c)) return complete(irp, STATUS_INVALID_PARAMETER, 0);
        RtlCopyMemory(&c, buffer, sizeof(c));
        if (c.unit >= FX_UNITS) return complete(irp, STATUS_INVALID_PARAMETER, 0);
        c.device_id[sizeof(c.device_id) - 1] = 0;
        c.version[3] = 0;
        KeAcquireSpinLock(&lock, &irql);
        RtlZeroMemory(&units[c.unit], sizeof(units[c.unit]));
        units[c.unit].config = c;
        units[c.unit].record.image_digest = FX_FNV_BASIS;
        KeReleaseSpinLock(&lock, irql);
        /* a unit that now answers releases the reads it held */
        if (!(c.flags & FX_READ_NEVER)) release_reads(NULL);
        if (c.flags & FX_NOT_OPENABLE) hide_unit(c.unit);
        return complete(irp, STATUS_SUCCESS, 0);
    }
    if (code == FX_GET_RECORD)
    {
        ULONG n;
        if (in_length < sizeof(ULONG) || out_length < sizeof(struct fx_record))
            return complete(irp, STATUS_BUFFER_TOO_SMALL, 0);
        RtlCopyMemory(&n, buffer, sizeof(n));
        if (n >= FX_UNITS) return complete(irp, STATUS_INVALID_PARAMETER, 0);
        KeAcquireSpinLock(&lock, &irql);
        RtlCopyMemory(buffer, &units[n].record, sizeof(struct fx_record));
        KeReleaseSpinLock(&lock, irql);
        return complete(irp, STATUS_SUCCESS, sizeof(struct fx_record));
    }
    return complete(irp, STATUS_INVALID_DEVICE_REQUEST, 0);
}

/* IEEE 1284 ID: a big-endian count that includes its own two bytes, the text,
 * and (where there is room) a NUL, as the class driver gives it. */
static ULONG put_device_id(struct unit *u, UCHAR *buffer, ULONG out_length)
{
    ULONG n = 0, total;
    while (n < sizeof(u->config.device_id) && u->config.device_id[n]) n++;
    total = n + 2;
    buffer[0] = (UCHAR)(total >> 8);
    buffer[1] = (UCHAR)total;
    if (n > out_length - 2) n = out_length - 2;
    RtlCopyMemory(buffer + 2, u->config.device_id, n);
    if (n + 2 < out_length) buffer[n + 2] = 0, n++;
    return n + 2;
}

static NTSTATUS WINAPI dispatch_ioctl(DEVICE_OBJECT *device, IRP *irp)
{
    IO_STACK_LOCATION *stack = IoGetCurrentIrpStackLocation(irp);
    struct device_ext *ext = ext_of(device);
    ULONG code = stack->Parameters.DeviceIoControl.IoControlCode;
    ULONG in_length = stack->Parameters.DeviceIoControl.InputBufferLength;
    ULONG out_length = stack->Parameters.DeviceIoControl.OutputBufferLength;
    UCHAR *buffer = irp->AssociatedIrp.SystemBuffer;
    BOOLEAN maker = code == FX_GET_DEVICE_DESCRIPTOR || code == FX_GET_DEVICE_ID ||
                    code == FX_SET_WRITE_TIMEOUT || code == FX_SET_READ_TIMEOUT;
    BOOLEAN known;
    struct unit *u;
    KIRQL irql;
    ULONG n;

    if (!ext->lower) return control_request(irp, code, in_length, out_length, buffer);
    u = &units[ext->unit];
    KeAcquireSpinLock(&lock, &irql);
    known = (maker && (u->config.flags & FX_MAKER_REQUESTS)) ||
            (code == FX_GET_1284_ID && (u->config.flags & FX_CLASS_REQUEST));
    if (known && (code == FX_GET_DEVICE_ID || code == FX_GET_1284_ID) && (u->config.flags & FX_ID_FAILS))
        known = FALSE;
    note_request(u, code, in_length, out_length, !known);
    KeReleaseSpinLock(&lock, irql);
    if (!known) return complete(irp, STATUS_INVALID_DEVICE_REQUEST, 0);

    switch (code)
    {
    case FX_GET_DEVICE_DESCRIPTOR:
        if (out_length < 18) return complete(irp, STATUS_BUFFER_TOO_SMALL, 0);
        RtlZeroMemory(buffer, 18);
        buffer[0] = 18;
        buffer[1] = 1;
        buffer[2] = 0x10;
        buffer[3] = 0x01;
        buffer[7] = 64;
        buffer[8] = (UCHAR)u->config.vendor_id;
        buffer[9] = (UCHAR)(u->config.vendor_id >> 8);
        buffer[10] = 0x34;
        buffer[11] = 0x12;
        buffer[13] = 0x01;
        buffer[17] = 1;
        return complete(irp, STATUS_SUCCESS, 18);
    case FX_GET_DEVICE_ID:
    case FX_GET_1284_ID:
        if (out_length < 3) return complete(irp, STATUS_BUFFER_TOO_SMALL, 0);
        n = put_device_id(u, buffer, out_length);
        return complete(irp, STATUS_SUCCESS, n);
    default:
    {
        char *target = code == FX_SET_WRITE_TIMEOUT ? u->record.write_timeout : u->record.read_timeout;
        if (in_length < 1) return complete(irp, STATUS_INVALID_PARAMETER, 0);
        n = in_length < 7 ? in_length : 7;
        KeAcquireSpinLock(&lock, &irql);
        RtlZeroMemory(target, 8);
        RtlCopyMemory(target, buffer, n);
        KeReleaseSpinLock(&lock, irql);
        return complete(irp, STATUS_SUCCESS, 0);
    }
    }
}

static NTSTATUS WINAPI dispatch_pnp(DEVICE_OBJECT *device, IRP *irp)
{
    IO_STACK_LOCATION *stack = IoGetCurrentIrpStackLocation(irp);
    struct device_ext *ext = ext_of(device);
    DEVICE_OBJECT *lower = ext->lower;
    NTSTATUS status;

    if (!lower) return complete(irp, STATUS_NOT_SUPPORTED, 0);
    switch (stack->MinorFunction)
    {
    case IRP_MN_START_DEVICE:
        if (ext->registered) IoSetDeviceInterfaceState(&ext->symlink, TRUE);
        irp->IoStatus.Status = STATUS_SUCCESS;
        break;
    case IRP_MN_REMOVE_DEVICE:
        if (unit_devices[ext->unit] == ext) unit_devices[ext->unit] = NULL;
        if (ext->registered)
        {
            IoSetDeviceInterfaceState(&ext->symlink, FALSE);
            RtlFreeUnicodeString(&ext->symlink);
            ext->registered = FALSE;
        }
        irp->IoStatus.Status = STATUS_SUCCESS;
        IoSkipCurrentIrpStackLocation(irp);
        status = IoCallDriver(lower, irp);
        IoDetachDevice(lower);
        IoDeleteDevice(device);
        return status;
    case IRP_MN_QUERY_REMOVE_DEVICE:
    case IRP_MN_CANCEL_REMOVE_DEVICE:
    case IRP_MN_SURPRISE_REMOVAL:
    case IRP_MN_STOP_DEVICE:
    case IRP_MN_QUERY_STOP_DEVICE:
    case IRP_MN_CANCEL_STOP_DEVICE:
        irp->IoStatus.Status = STATUS_SUCCESS;
        break;
    }
    IoSkipCurrentIrpStackLocation(irp);
    return IoCallDriver(lower, irp);
}

static NTSTATUS WINAPI dispatch_power(DEVICE_OBJECT *device, IRP *irp)
{
    struct device_ext *ext = ext_of(device);
    PoStartNextPowerIrp(irp);
    if (!ext->lower) return complete(irp, STATUS_SUCCESS, 0);
    IoSkipCurrentIrpStackLocation(irp);
    return PoCallDriver(ext->lower, irp);
}

/* The unit is the instance number in the interface's link name,
 * \??\ROOT#FWPRN#000N#{...}. */
static ULONG unit_of(const UNICODE_STRING *link)
{
    ULONG count = link->Length / sizeof(WCHAR), i;
    for (i = 1; i < count; i++)
    {
        if (link->Buffer[i] == L'{' && link->Buffer[i - 1] == L'#' && i >= 2)
        {
            WCHAR digit = link->Buffer[i - 2];
            if (digit >= L'0' && digit < L'0' + FX_UNITS) return (ULONG)(digit - L'0');
        }
    }
    return 0;
}

static NTSTATUS WINAPI add_device(DRIVER_OBJECT *driver, DEVICE_OBJECT *pdo)
{
    DEVICE_OBJECT *fdo;
    struct device_ext *ext;
    NTSTATUS status;

    status = IoCreateDevice(driver, sizeof(*ext), NULL, FILE_DEVICE_UNKNOWN, 0, FALSE, &fdo);
    if (status) return status;
    ext = ext_of(fdo);
    RtlZeroMemory(ext, sizeof(*ext));
    ext->lower = IoAttachDeviceToDeviceStack(fdo, pdo);
    if (!ext->lower)
    {
        IoDeleteDevice(fdo);
        return STATUS_NO_SUCH_DEVICE;
    }
    status = IoRegisterDeviceInterface(pdo, class_choice ? &maker_class : &system_class, NULL, &ext->symlink);
    ext->registered = status == STATUS_SUCCESS;
    if (ext->registered)
    {
        ext->unit = unit_of(&ext->symlink);
        unit_devices[ext->unit] = ext;
    }
    DbgPrint("fwprnfx: unit %lu, interface %#lx\n", (unsigned long)ext->unit, (unsigned long)status);
    fdo->Flags |= DO_BUFFERED_IO;
    fdo->Flags &= ~DO_DEVICE_INITIALIZING;
    return STATUS_SUCCESS;
}

static void WINAPI driver_unload(DRIVER_OBJECT *driver)
{
    (void)driver;
    if (control_device)
    {
        IoDeleteSymbolicLink(&control_link);
        IoDeleteDevice(control_device);
        control_device = NULL;
    }
}

/* FixtureClass from the service's key; 0 when there is none. */
static ULONG read_class_choice(UNICODE_STRING *registry)
{
    OBJECT_ATTRIBUTES attributes;
    UNICODE_STRING name;
    HANDLE key;
    ULONG got = 0, value = 0;
    union
    {
        KEY_VALUE_PARTIAL_INFORMATION info;
        UCHAR bytes[sizeof(KEY_VALUE_PARTIAL_INFORMATION) + 8];
    } data;

    InitializeObjectAttributes(&attributes, registry, OBJ_CASE_INSENSITIVE | OBJ_KERNEL_HANDLE, NULL, NULL);
    if (ZwOpenKey(&key, KEY_READ, &attributes) != STATUS_SUCCESS) return 0;
    RtlInitUnicodeString(&name, L"FixtureClass");
    if (ZwQueryValueKey(key, &name, KeyValuePartialInformation, &data, sizeof(data), &got) == STATUS_SUCCESS &&
        data.info.Type == REG_DWORD && data.info.DataLength == sizeof(ULONG))
        RtlCopyMemory(&value, data.info.Data, sizeof(value));
    ZwClose(key);
    return value;
}

NTSTATUS WINAPI DriverEntry(DRIVER_OBJECT *driver, UNICODE_STRING *registry)
{
    UNICODE_STRING name;
    struct device_ext *ext;
    ULONG n;

    KeInitializeSpinLock(&lock);
    InitializeListHead(&held_reads);
    for (n = 0; n < FX_UNITS; n++) default_config(n);
    class_choice = read_class_choice(registry);
    DbgPrint("fwprnfx: interface class %lu\n", (unsigned long)class_choice);

    driver->MajorFunction[IRP_MJ_CREATE] = dispatch_create;
    driver->MajorFunction[IRP_MJ_CLEANUP] = dispatch_cleanup;
    driver->MajorFunction[IRP_MJ_CLOSE] = dispatch_close;
    driver->MajorFunction[IRP_MJ_WRITE] = dispatch_write;
    driver->MajorFunction[IRP_MJ_READ] = dispatch_read;
    driver->MajorFunction[IRP_MJ_DEVICE_CONTROL] = dispatch_ioctl;
    driver->MajorFunction[IRP_MJ_PNP] = dispatch_pnp;
    driver->MajorFunction[IRP_MJ_POWER] = dispatch_power;
    driver->DriverExtension->AddDevice = add_device;
    driver->DriverUnload = driver_unload;

    RtlInitUnicodeString(&name, L"\\Device\\FwPrnFixture");
    if (IoCreateDevice(driver, sizeof(*ext), &name, FILE_DEVICE_UNKNOWN, 0, FALSE, &control_device))
    {
        control_device = NULL;
        return STATUS_SUCCESS;
    }
    ext = ext_of(control_device);
    RtlZeroMemory(ext, sizeof(*ext));
    control_device->Flags |= DO_BUFFERED_IO;
    control_device->Flags &= ~DO_DEVICE_INITIALIZING;
    RtlInitUnicodeString(&control_link, L"\\DosDevices\\FwPrnFixture");
    IoCreateSymbolicLink(&control_link, &name);
    return STATUS_SUCCESS;
}
