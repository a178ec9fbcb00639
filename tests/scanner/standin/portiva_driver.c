/* Stand-in for the scanner's kernel driver, for the tests only.
 *
 * Four devices, one per name the tool opens: \\.\PortivaDev (NT family),
 * \\.\QDX and \\.\PV95 (the two 9x choices) and \\.\pvxk95 (9x settings).
 * Each has a device object of its own so that the request record tells
 * which name was opened.
 *
 * The state starts switched on (1). The text form sets it, the read-back
 * answers it, the 5.4x form sets it from a number. How the driver answers is
 * read from the DWORD value "Behaviour" of its service key on every request,
 * so that a test can change it between calls without a restart.
 *
 * Every open, control request and close is appended to
 * C:\portiva-requests.bin as ten little-endian 32-bit fields
 * (kind, device, handle, code, input length, output length, access,
 * options, share access, file attributes) followed by the input bytes
 * (at most 256 of them). Kinds: 1 open, 2 control request, 3 close. A handle
 * number is given to each open in turn, counting from 1. The tool sends one
 * request at a time, so the record needs no lock. */
#include <ntddk.h>

#define BEHAVIOUR_REFUSE_TEXT 0x01      /* 0x7E800 and 0x200 fail */
#define BEHAVIOUR_SILENT_READBACK 0x02  /* 0x7F010 succeeds, writes nothing */
#define BEHAVIOUR_REFUSE_54X 0x04       /* 0x7C454 fails */
#define BEHAVIOUR_REFUSE_READBACK 0x08  /* 0x7F010 fails */
#define BEHAVIOUR_REFUSE_SETTING 0x10   /* 0x7C450 fails */
#define BEHAVIOUR_PEND_READBACK 0x20    /* 0x7F010 completes 500 ms later */

#define CODE_TEXT_NT 0x7E800
#define CODE_READBACK 0x7F010
#define CODE_54X 0x7C454
#define CODE_TEXT_9X 0x200
#define CODE_SETTING 0x7C450

#define RECORD_OPEN 1
#define RECORD_CONTROL 2
#define RECORD_CLOSE 3
#define RECORD_MAX_INPUT 256

#define SETTING_IDENTIFIER "1.3.6.1.4.1.4217.12.1.111.2.10"

typedef struct {
    ULONG id;
} DEVICE_EXTENSION;

typedef struct {
    const WCHAR* device;
    const WCHAR* link;
} DEVICE_NAMES;

static const DEVICE_NAMES deviceNames[] = {
    {L"\\Device\\PortivaDev", L"\\DosDevices\\PortivaDev"},
    {L"\\Device\\PortivaQdx", L"\\DosDevices\\QDX"},
    {L"\\Device\\PortivaPv95", L"\\DosDevices\\PV95"},
    {L"\\Device\\PortivaPvxk95", L"\\DosDevices\\pvxk95"},
};
#define DEVICE_COUNT (sizeof deviceNames / sizeof deviceNames[0])

static WCHAR serviceKeyText[512];
static UNICODE_STRING serviceKey;
static LONG scannerState = 1;
static LONG handleCounter;

static ULONG ReadBehaviour(void) {
    OBJECT_ATTRIBUTES attributes;
    HANDLE key;
    UNICODE_STRING name;
    UCHAR buffer[sizeof(KEY_VALUE_PARTIAL_INFORMATION) + sizeof(ULONG)];
    KEY_VALUE_PARTIAL_INFORMATION* info = (KEY_VALUE_PARTIAL_INFORMATION*)buffer;
    ULONG length = 0;
    ULONG behaviour = 0;

    InitializeObjectAttributes(&attributes, &serviceKey, OBJ_CASE_INSENSITIVE | OBJ_KERNEL_HANDLE, NULL, NULL);
    if (!NT_SUCCESS(ZwOpenKey(&key, KEY_QUERY_VALUE, &attributes))) return 0;
    RtlInitUnicodeString(&name, L"Behaviour");
    if (NT_SUCCESS(ZwQueryValueKey(key, &name, KeyValuePartialInformation, info, sizeof buffer, &length)) &&
        info->Type == REG_DWORD && info->DataLength == sizeof(ULONG)) {
        RtlCopyMemory(&behaviour, info->Data, sizeof behaviour);
    }
    ZwClose(key);
    return behaviour;
}

static void Record(const ULONG fields[10], const void* input, ULONG inputLength) {
    UCHAR entry[10 * sizeof(ULONG) + RECORD_MAX_INPUT];
    ULONG kept = inputLength < RECORD_MAX_INPUT ? inputLength : RECORD_MAX_INPUT;
    UNICODE_STRING path;
    OBJECT_ATTRIBUTES attributes;
    IO_STATUS_BLOCK io;
    HANDLE file;

    if (input == NULL) kept = 0;
    RtlCopyMemory(entry, fields, 10 * sizeof(ULONG));
    if (kept) RtlCopyMemory(entry + 10 * sizeof(ULONG), input, kept);

    RtlInitUnicodeString(&path, L"\\??\\C:\\portiva-requests.bin");
    InitializeObjectAttributes(&attributes, &path, OBJ_CASE_INSENSITIVE | OBJ_KERNEL_HANDLE, NULL, NULL);
    if (NT_SUCCESS(ZwCreateFile(&file, FILE_APPEND_DATA | SYNCHRONIZE, &attributes, &io, NULL, FILE_ATTRIBUTE_NORMAL,
                                FILE_SHARE_READ, FILE_OPEN_IF, FILE_SYNCHRONOUS_IO_NONALERT, NULL, 0))) {
        ZwWriteFile(file, NULL, NULL, NULL, &io, entry, 10 * sizeof(ULONG) + kept, NULL, NULL);
        ZwClose(file);
    }
}

static ULONG DeviceId(PDEVICE_OBJECT device) { return ((DEVICE_EXTENSION*)device->DeviceExtension)->id; }

static NTSTATUS Complete(PIRP irp, NTSTATUS status, ULONG_PTR information) {
    irp->IoStatus.Status = status;
    irp->IoStatus.Information = information;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return status;
}

static NTSTATUS NTAPI DispatchCreate(PDEVICE_OBJECT device, PIRP irp) {
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    ULONG fields[10] = {0};
    const LONG handle = InterlockedIncrement(&handleCounter);

    stack->FileObject->FsContext = (PVOID)(ULONG_PTR)handle;
    fields[0] = RECORD_OPEN;
    fields[1] = DeviceId(device);
    fields[2] = (ULONG)handle;
    fields[6] = stack->Parameters.Create.SecurityContext ? stack->Parameters.Create.SecurityContext->DesiredAccess : 0;
    fields[7] = stack->Parameters.Create.Options;
    fields[8] = stack->Parameters.Create.ShareAccess;
    fields[9] = stack->Parameters.Create.FileAttributes;
    Record(fields, NULL, 0);
    return Complete(irp, STATUS_SUCCESS, 0);
}

static NTSTATUS NTAPI DispatchClose(PDEVICE_OBJECT device, PIRP irp) {
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    ULONG fields[10] = {0};

    fields[0] = RECORD_CLOSE;
    fields[1] = DeviceId(device);
    fields[2] = (ULONG)(ULONG_PTR)stack->FileObject->FsContext;
    Record(fields, NULL, 0);
    return Complete(irp, STATUS_SUCCESS, 0);
}

static void WriteState(PIRP irp, ULONG outputLength) {
    const USHORT word = (USHORT)scannerState;
    if (outputLength >= sizeof word) {
        RtlCopyMemory(irp->AssociatedIrp.SystemBuffer, &word, sizeof word);
        irp->IoStatus.Information = sizeof word;
    }
}

static VOID NTAPI CompleteLater(PVOID context) {
    PIRP irp = (PIRP)context;
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    LARGE_INTEGER delay;

    delay.QuadPart = -500 * 10000LL;
    KeDelayExecutionThread(KernelMode, FALSE, &delay);
    irp->IoStatus.Status = STATUS_SUCCESS;
    irp->IoStatus.Information = 0;
    WriteState(irp, stack->Parameters.DeviceIoControl.OutputBufferLength);
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    PsTerminateSystemThread(STATUS_SUCCESS);
}

static NTSTATUS NTAPI DispatchControl(PDEVICE_OBJECT device, PIRP irp) {
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    const ULONG code = stack->Parameters.DeviceIoControl.IoControlCode;
    const ULONG inputLength = stack->Parameters.DeviceIoControl.InputBufferLength;
    const ULONG outputLength = stack->Parameters.DeviceIoControl.OutputBufferLength;
    const UCHAR* input = (const UCHAR*)irp->AssociatedIrp.SystemBuffer;
    const ULONG behaviour = ReadBehaviour();
    ULONG fields[10] = {0};
    HANDLE thread;

    fields[0] = RECORD_CONTROL;
    fields[1] = DeviceId(device);
    fields[2] = (ULONG)(ULONG_PTR)stack->FileObject->FsContext;
    fields[3] = code;
    fields[4] = inputLength;
    fields[5] = outputLength;
    Record(fields, inputLength ? input : NULL, inputLength);

    switch (code) {
    case CODE_TEXT_NT:
    case CODE_TEXT_9X:
        if (behaviour & BEHAVIOUR_REFUSE_TEXT) return Complete(irp, STATUS_NOT_SUPPORTED, 0);
        if (inputLength < 2 || (input[0] != '0' && input[0] != '1') || input[1] != 0)
            return Complete(irp, STATUS_INVALID_PARAMETER, 0);
        scannerState = input[0] - '0';
        return Complete(irp, STATUS_SUCCESS, 0);
    case CODE_READBACK:
        if (behaviour & BEHAVIOUR_REFUSE_READBACK) return Complete(irp, STATUS_NOT_SUPPORTED, 0);
        if (behaviour & BEHAVIOUR_SILENT_READBACK) return Complete(irp, STATUS_SUCCESS, 0);
        if (behaviour & BEHAVIOUR_PEND_READBACK) {
            IoMarkIrpPending(irp);
            if (!NT_SUCCESS(PsCreateSystemThread(&thread, THREAD_ALL_ACCESS, NULL, NULL, NULL, CompleteLater, irp)))
                return Complete(irp, STATUS_INSUFFICIENT_RESOURCES, 0);
            ZwClose(thread);
            return STATUS_PENDING;
        }
        irp->IoStatus.Information = 0;
        WriteState(irp, outputLength);
        irp->IoStatus.Status = STATUS_SUCCESS;
        IoCompleteRequest(irp, IO_NO_INCREMENT);
        return STATUS_SUCCESS;
    case CODE_54X:
        if (behaviour & BEHAVIOUR_REFUSE_54X) return Complete(irp, STATUS_NOT_SUPPORTED, 0);
        if (inputLength < sizeof(ULONG)) return Complete(irp, STATUS_INVALID_PARAMETER, 0);
        scannerState = (input[0] | input[1] | input[2] | input[3]) ? 1 : 0;
        return Complete(irp, STATUS_SUCCESS, 0);
    case CODE_SETTING:
        /* Only the counted identifier reaches a buffered request; the value
         * behind it is the caller's matter. */
        if (behaviour & BEHAVIOUR_REFUSE_SETTING) return Complete(irp, STATUS_NOT_SUPPORTED, 0);
        if (inputLength != sizeof SETTING_IDENTIFIER ||
            RtlCompareMemory(input, SETTING_IDENTIFIER, sizeof SETTING_IDENTIFIER) != sizeof SETTING_IDENTIFIER)
            return Complete(irp, STATUS_INVALID_PARAMETER, 0);
        return Complete(irp, STATUS_SUCCESS, 0);
    default:
        return Complete(irp, STATUS_INVALID_DEVICE_REQUEST, 0);
    }
}

static VOID NTAPI Unload(PDRIVER_OBJECT driver) {
    UNICODE_STRING link;
    ULONG i;

    for (i = 0; i < DEVICE_COUNT; ++i) {
        RtlInitUnicodeString(&link, deviceNames[i].link);
        IoDeleteSymbolicLink(&link);
    }
    while (driver->DeviceObject) IoDeleteDevice(driver->DeviceObject);
}

NTSTATUS NTAPI DriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING registryPath) {
    UNICODE_STRING name;
    UNICODE_STRING link;
    PDEVICE_OBJECT device;
    NTSTATUS status;
    ULONG i;

    if (registryPath->Length >= sizeof serviceKeyText) return STATUS_NAME_TOO_LONG;
    RtlCopyMemory(serviceKeyText, registryPath->Buffer, registryPath->Length);
    serviceKeyText[registryPath->Length / sizeof(WCHAR)] = 0;
    RtlInitUnicodeString(&serviceKey, serviceKeyText);

    driver->MajorFunction[IRP_MJ_CREATE] = DispatchCreate;
    driver->MajorFunction[IRP_MJ_CLOSE] = DispatchClose;
    driver->MajorFunction[IRP_MJ_DEVICE_CONTROL] = DispatchControl;
    driver->DriverUnload = Unload;

    for (i = 0; i < DEVICE_COUNT; ++i) {
        RtlInitUnicodeString(&name, deviceNames[i].device);
        status = IoCreateDevice(driver, sizeof(DEVICE_EXTENSION), &name, FILE_DEVICE_UNKNOWN, 0, FALSE, &device);
        if (!NT_SUCCESS(status)) break;
        ((DEVICE_EXTENSION*)device->DeviceExtension)->id = i + 1;
        device->Flags |= DO_BUFFERED_IO;
        RtlInitUnicodeString(&link, deviceNames[i].link);
        status = IoCreateSymbolicLink(&link, &name);
        if (!NT_SUCCESS(status)) break;
    }
    if (!NT_SUCCESS(status)) Unload(driver);
    return status;
}
