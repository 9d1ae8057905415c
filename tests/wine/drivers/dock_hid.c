/* A kernel-mode stand-in for the dock controller: a HID minidriver for the
 * root-enumerated device ROOT\VID_6A3D&PID_1C58&MI_01\0000 with one
 * vendor-defined feature report (ID 0x5E). It speaks the controller's
 * configuration protocol (greeting, read request 0xCE, write 0xCF, block group
 * 0x03, text group 0x01) and keeps its items, its injected faults and a record
 * of every report under its service key (driver_state.h), so that the Wine
 * tests reach it through the real SetupAPI, hid.dll and hidclass.
 *
 * Test-only: never part of the product or of a distribution. */
#include <ntddk.h>

#include "driver_registry.h"
#include "driver_state.h"

/* mingw-w64 has no hidport.h, and its hidclass.h carries placeholder values
 * for the minidriver requests: these are the class driver's real codes. */
#define DOCK_HID_CTL_CODE(id) CTL_CODE(FILE_DEVICE_KEYBOARD, (id), METHOD_NEITHER, FILE_ANY_ACCESS)
#define DOCK_IOCTL_GET_DEVICE_DESCRIPTOR DOCK_HID_CTL_CODE(0)
#define DOCK_IOCTL_GET_REPORT_DESCRIPTOR DOCK_HID_CTL_CODE(1)
#define DOCK_IOCTL_READ_REPORT DOCK_HID_CTL_CODE(2)
#define DOCK_IOCTL_WRITE_REPORT DOCK_HID_CTL_CODE(3)
#define DOCK_IOCTL_GET_STRING DOCK_HID_CTL_CODE(4)
#define DOCK_IOCTL_ACTIVATE_DEVICE DOCK_HID_CTL_CODE(7)
#define DOCK_IOCTL_DEACTIVATE_DEVICE DOCK_HID_CTL_CODE(8)
#define DOCK_IOCTL_GET_DEVICE_ATTRIBUTES DOCK_HID_CTL_CODE(9)
#define DOCK_IOCTL_GET_FEATURE CTL_CODE(FILE_DEVICE_KEYBOARD, 100, METHOD_OUT_DIRECT, FILE_ANY_ACCESS)
#define DOCK_IOCTL_SET_FEATURE CTL_CODE(FILE_DEVICE_KEYBOARD, 100, METHOD_IN_DIRECT, FILE_ANY_ACCESS)

typedef struct {
  ULONG Revision;
  PDRIVER_OBJECT DriverObject;
  PUNICODE_STRING RegistryPath;
  ULONG DeviceExtensionSize;
  BOOLEAN DevicesArePolled;
  UCHAR Reserved[3];
} DOCK_MINIDRIVER_REGISTRATION;

NTSTATUS NTAPI HidRegisterMinidriver(DOCK_MINIDRIVER_REGISTRATION *registration);

/* What the class driver keeps at the start of the FDO's extension. */
typedef struct {
  PDEVICE_OBJECT PhysicalDeviceObject;
  PDEVICE_OBJECT NextDeviceObject;
  PVOID MiniDeviceExtension;
} DOCK_HID_DEVICE_EXTENSION;

typedef struct {
  PUCHAR reportBuffer;
  ULONG reportBufferLen;
  UCHAR reportId;
} DOCK_XFER_PACKET;

#include <pshpack1.h>
typedef struct {
  UCHAR bLength;
  UCHAR bDescriptorType;
  USHORT bcdHID;
  UCHAR bCountry;
  UCHAR bNumDescriptors;
  UCHAR bReportType;
  USHORT wReportLength;
} DOCK_HID_DESCRIPTOR;
#include <poppack.h>

typedef struct {
  ULONG Size;
  USHORT VendorID;
  USHORT ProductID;
  USHORT VersionNumber;
  USHORT Reserved[11];
} DOCK_HID_ATTRIBUTES;

#define STRING_ID_MANUFACTURER 14
#define STRING_ID_PRODUCT 15
#define STRING_ID_SERIAL 16

#define GROUP_TEXT 0x01
#define GROUP_BLOCK 0x03
#define COMMAND_READ 0xCE
#define COMMAND_WRITE 0xCF

typedef struct {
  KSPIN_LOCK reads_lock;
  LIST_ENTRY pending_reads;
  BOOLEAN removed;
  USHORT feature_length;
  UCHAR report_descriptor[32];
  USHORT report_descriptor_length;
} DOCK_EXTENSION;

static KMUTEX state_mutex;

static const char greeting[OVVB_DOCK_GREETING_LENGTH + 1] = OVVB_DOCK_GREETING;

static DOCK_EXTENSION *extension_of(DEVICE_OBJECT *device) {
  return ((DOCK_HID_DEVICE_EXTENSION *)device->DeviceExtension)->MiniDeviceExtension;
}

static PDEVICE_OBJECT lower_of(DEVICE_OBJECT *device) {
  return ((DOCK_HID_DEVICE_EXTENSION *)device->DeviceExtension)->NextDeviceObject;
}

/* Vendor page 0xFF00, one application collection, one feature report with ID
 * 0x5E carrying length - 1 data bytes: HidP_GetCaps then reports `length`. */
static void build_report_descriptor(DOCK_EXTENSION *ext) {
  const USHORT count = (USHORT)(ext->feature_length - 1);
  const UCHAR descriptor[] = {
      0x06,
      0x00,
      0xFF, /* Usage Page (vendor 0xFF00) */
      0x09,
      0x01, /* Usage (1) */
      0xA1,
      0x01, /* Collection (Application) */
      0x85,
      OVVB_DOCK_REPORT_ID, /*   Report ID */
      0x09,
      0x02, /*   Usage (2) */
      0x15,
      0x00, /*   Logical Minimum (0) */
      0x26,
      0xFF,
      0x00, /*   Logical Maximum (255) */
      0x75,
      0x08, /*   Report Size (8) */
      0x96,
      (UCHAR)count,
      (UCHAR)(count >> 8), /*   Report Count */
      0xB1,
      0x02, /*   Feature (Data, Var, Abs) */
      0xC0, /* End Collection */
  };
  RtlCopyMemory(ext->report_descriptor, descriptor, sizeof descriptor);
  ext->report_descriptor_length = sizeof descriptor;
}

static void record(HANDLE key, UCHAR kind, BOOLEAN ok, const UCHAR *data, ULONG length) {
  UCHAR *entry;
  if (length > 0xFFFF) length = 0xFFFF;
  entry = ExAllocatePoolWithTag(PagedPool, length + 4, OVVB_POOL_TAG);
  if (!entry) return;
  entry[0] = kind;
  entry[1] = ok ? 1 : 0;
  entry[2] = (UCHAR)length;
  entry[3] = (UCHAR)(length >> 8);
  if (length && data) RtlCopyMemory(entry + 4, data, length);
  state_append_binary(key, OVVB_DOCK_WIRE, entry, length + 4, OVVB_DOCK_WIRE_MAX);
  ExFreePoolWithTag(entry, OVVB_POOL_TAG);
}

/* Counts a fault knob down; TRUE when this transfer is to fail. */
static BOOLEAN take_fault(HANDLE key, const WCHAR *name) {
  const ULONG left = state_get_dword(key, name, 0);
  if (left == 0) return FALSE;
  state_set_dword(key, name, left - 1);
  return TRUE;
}

static BOOLEAN all_fill(const UCHAR *bytes, ULONG from, ULONG to) {
  ULONG i;
  for (i = from; i < to; ++i)
    if (bytes[i] != 0xFF) return FALSE;
  return TRUE;
}

/* A GEN or VBIOS field is erased (all 0xFF) or its tag, a length within the
 * field, the text and 0xFF to the field's end. */
static BOOLEAN valid_tagged_field(const UCHAR *field, ULONG size, const char *tag) {
  ULONG length;
  if (all_fill(field, 0, size)) return TRUE;
  if (RtlCompareMemory(field, tag, 3) != 3) return FALSE;
  length = field[3];
  if (length < 1 || length > size - 4) return FALSE;
  return all_fill(field, 4 + length, size);
}

/* The report the next fetch returns: report ID, the request's command and
 * group, the group's bytes (a text with its NUL, cut at the report's end),
 * then 0xFF. */
static void take_response(HANDLE key, UCHAR group, ULONG length) {
  UCHAR response[OVVB_DOCK_MAX_FEATURE_LENGTH];
  RtlFillMemory(response, sizeof response, 0xFF);
  response[0] = OVVB_DOCK_REPORT_ID;
  response[1] = COMMAND_READ;
  response[2] = group;
  if (group == GROUP_BLOCK) {
    UCHAR block[OVVB_DOCK_BLOCK_SIZE];
    ULONG room = length - 3 < sizeof block ? length - 3 : sizeof block;
    RtlFillMemory(block, sizeof block, 0xFF);
    state_get_binary(key, OVVB_DOCK_BLOCK, block, sizeof block);
    RtlCopyMemory(response + 3, block, room);
  } else {
    UCHAR text[OVVB_DOCK_TEXT_MAX + 1];
    LONG size = state_get_binary(key, OVVB_DOCK_TEXT, text, OVVB_DOCK_TEXT_MAX);
    ULONG with_nul;
    if (size < 0) size = 0;
    if (size > OVVB_DOCK_TEXT_MAX) size = OVVB_DOCK_TEXT_MAX;
    text[size] = 0;
    with_nul = (ULONG)size + 1;
    RtlCopyMemory(response + 3, text, with_nul < length - 3 ? with_nul : length - 3);
  }
  state_set_binary(key, OVVB_DOCK_RESPONSE, response, length);
}

/* One frame of `length` bytes (the whole report). Strict, as the simulated
 * controller: a layout or a 0xFF fill that is not what the client must send
 * is refused, so a fault shows as a failed exchange, not as stored garbage. */
static NTSTATUS handle_frame(HANDLE key, const UCHAR *frame, ULONG length) {
  if (length >= 2 + OVVB_DOCK_GREETING_LENGTH &&
      RtlCompareMemory(frame + 1, greeting, OVVB_DOCK_GREETING_LENGTH) == OVVB_DOCK_GREETING_LENGTH &&
      frame[1 + OVVB_DOCK_GREETING_LENGTH] == 0 && all_fill(frame, 2 + OVVB_DOCK_GREETING_LENGTH, length)) {
    if (!state_get_dword(key, OVVB_DOCK_ACCEPT_GREETING, 1)) return STATUS_UNSUCCESSFUL;
    state_set_dword(key, OVVB_DOCK_GREETED, 1);
    return STATUS_SUCCESS;
  }
  if (!state_get_dword(key, OVVB_DOCK_GREETED, 0) || length < 3) return STATUS_UNSUCCESSFUL;
  if (frame[2] != GROUP_BLOCK && frame[2] != GROUP_TEXT) return STATUS_UNSUCCESSFUL;
  if (frame[1] == COMMAND_READ) {
    if (!all_fill(frame, 3, length)) return STATUS_UNSUCCESSFUL;
    take_response(key, frame[2], length);
    return STATUS_SUCCESS;
  }
  if (frame[1] != COMMAND_WRITE) return STATUS_UNSUCCESSFUL;
  if (frame[2] == GROUP_BLOCK) {
    /* A block cut short by a small report would leave half an old and half
     * a new block: refused. */
    const UCHAR *block = frame + 3;
    if (length < 3 + OVVB_DOCK_BLOCK_SIZE || !valid_tagged_field(block + 16, 16, "GEN") ||
        !valid_tagged_field(block + 32, 32, "VER") || !all_fill(frame, 3 + OVVB_DOCK_BLOCK_SIZE, length))
      return STATUS_UNSUCCESSFUL;
    state_set_binary(key, OVVB_DOCK_BLOCK, block, OVVB_DOCK_BLOCK_SIZE);
  } else {
    ULONG end = 3;
    while (end < length && frame[end] != 0) ++end;
    if (end < length && !all_fill(frame, end + 1, length)) return STATUS_UNSUCCESSFUL;
    if (end - 3 > OVVB_DOCK_TEXT_MAX) return STATUS_UNSUCCESSFUL;
    state_set_binary(key, OVVB_DOCK_TEXT, frame + 3, end - 3);
  }
  return STATUS_SUCCESS;
}

/* The report taken at the last read request; before any, an empty report. */
static NTSTATUS build_response(HANDLE key, UCHAR *report, ULONG length) {
  UCHAR response[OVVB_DOCK_MAX_FEATURE_LENGTH];
  if (!state_get_dword(key, OVVB_DOCK_GREETED, 0)) return STATUS_UNSUCCESSFUL;
  RtlZeroMemory(response, sizeof response);
  state_get_binary(key, OVVB_DOCK_RESPONSE, response, sizeof response);
  response[0] = OVVB_DOCK_REPORT_ID;
  RtlCopyMemory(report, response, length);
  return STATUS_SUCCESS;
}

/* One feature report, sent (`set`) or fetched. The class driver hands the
 * packet in as the request's input for a send and as its output for a fetch;
 * its length is bounded by the report's before any byte is touched. */
static NTSTATUS transfer(DOCK_EXTENSION *ext, IRP *irp, BOOLEAN set) {
  DOCK_XFER_PACKET *packet = irp->UserBuffer;
  IO_STACK_LOCATION *stack = IoGetCurrentIrpStackLocation(irp);
  const ULONG packet_size = set ? stack->Parameters.DeviceIoControl.InputBufferLength
                                : stack->Parameters.DeviceIoControl.OutputBufferLength;
  NTSTATUS status;
  HANDLE key;
  ULONG length;
  if (!packet || packet_size < sizeof *packet) return STATUS_INVALID_PARAMETER;
  length = packet->reportBufferLen;
  if (!packet->reportBuffer && length) return STATUS_INVALID_PARAMETER;
  if (length > ext->feature_length) length = ext->feature_length;

  KeWaitForSingleObject(&state_mutex, Executive, KernelMode, FALSE, NULL);
  key = state_open();
  if (packet->reportId != OVVB_DOCK_REPORT_ID || length < (set ? 1u : 4u) ||
      (set && packet->reportBuffer[0] != OVVB_DOCK_REPORT_ID))
    status = STATUS_INVALID_PARAMETER;
  else if (state_get_dword(key, OVVB_DOCK_SILENT, 0))
    status = STATUS_IO_TIMEOUT;
  else if (take_fault(key, set ? OVVB_DOCK_FAIL_SETS : OVVB_DOCK_FAIL_GETS))
    status = STATUS_UNSUCCESSFUL;
  else if (set)
    status = handle_frame(key, packet->reportBuffer, length);
  else
    status = build_response(key, packet->reportBuffer, length);
  if (set)
    record(key, 'S', NT_SUCCESS(status), packet->reportBuffer, length);
  else
    record(key, 'G', NT_SUCCESS(status), packet->reportBuffer, NT_SUCCESS(status) ? length : 0);
  state_close(key);
  KeReleaseMutex(&state_mutex, FALSE);
  if (NT_SUCCESS(status)) irp->IoStatus.Information = length;
  return status;
}

static NTSTATUS get_string(IRP *irp) {
  IO_STACK_LOCATION *stack = IoGetCurrentIrpStackLocation(irp);
  const ULONG id = (ULONG)(ULONG_PTR)stack->Parameters.DeviceIoControl.Type3InputBuffer & 0xFFFF;
  const ULONG size = stack->Parameters.DeviceIoControl.OutputBufferLength;
  const WCHAR *text;
  ULONG bytes;
  /* Wine asks for strings 1, 2 and 3; Windows for 14, 15 and 16. */
  switch (id) {
    case 1:
    case STRING_ID_MANUFACTURER:
      text = L"Ovvb test devices";
      break;
    case 2:
    case STRING_ID_PRODUCT:
      text = L"Dock controller stand-in";
      break;
    case 3:
    case STRING_ID_SERIAL:
      text = L"0000";
      break;
    default:
      return STATUS_INVALID_PARAMETER;
  }
  bytes = (ULONG)(wcslen(text) + 1) * sizeof(WCHAR);
  if (!irp->UserBuffer || size < bytes) return STATUS_BUFFER_TOO_SMALL;
  RtlCopyMemory(irp->UserBuffer, text, bytes);
  irp->IoStatus.Information = bytes;
  return STATUS_SUCCESS;
}

static void WINAPI cancel_read(DEVICE_OBJECT *device, IRP *irp) {
  DOCK_EXTENSION *ext = extension_of(device);
  KIRQL irql;
  IoReleaseCancelSpinLock(irp->CancelIrql);
  KeAcquireSpinLock(&ext->reads_lock, &irql);
  RemoveEntryList(&irp->Tail.Overlay.ListEntry);
  KeReleaseSpinLock(&ext->reads_lock, irql);
  irp->IoStatus.Status = STATUS_CANCELLED;
  irp->IoStatus.Information = 0;
  IoCompleteRequest(irp, IO_NO_INCREMENT);
}

/* The controller sends no input reports: a read waits until the device goes
 * away. Failing it instead would make the class driver ask again at once. */
static NTSTATUS queue_read(DEVICE_OBJECT *device, IRP *irp) {
  DOCK_EXTENSION *ext = extension_of(device);
  KIRQL irql;
  KeAcquireSpinLock(&ext->reads_lock, &irql);
  if (ext->removed) {
    KeReleaseSpinLock(&ext->reads_lock, irql);
    return STATUS_DELETE_PENDING;
  }
  IoSetCancelRoutine(irp, cancel_read);
  if (irp->Cancel && IoSetCancelRoutine(irp, NULL)) {
    KeReleaseSpinLock(&ext->reads_lock, irql);
    return STATUS_CANCELLED;
  }
  IoMarkIrpPending(irp);
  InsertTailList(&ext->pending_reads, &irp->Tail.Overlay.ListEntry);
  KeReleaseSpinLock(&ext->reads_lock, irql);
  return STATUS_PENDING;
}

static void complete_reads(DOCK_EXTENSION *ext) {
  KIRQL irql;
  KeAcquireSpinLock(&ext->reads_lock, &irql);
  ext->removed = TRUE;
  while (!IsListEmpty(&ext->pending_reads)) {
    LIST_ENTRY *entry = RemoveHeadList(&ext->pending_reads);
    IRP *irp = CONTAINING_RECORD(entry, IRP, Tail.Overlay.ListEntry);
    if (!IoSetCancelRoutine(irp, NULL)) {
      /* Its cancel routine runs and completes it. */
      InitializeListHead(&irp->Tail.Overlay.ListEntry);
      continue;
    }
    KeReleaseSpinLock(&ext->reads_lock, irql);
    irp->IoStatus.Status = STATUS_DELETE_PENDING;
    irp->IoStatus.Information = 0;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    KeAcquireSpinLock(&ext->reads_lock, &irql);
  }
  KeReleaseSpinLock(&ext->reads_lock, irql);
}

static NTSTATUS WINAPI internal_ioctl(DEVICE_OBJECT *device, IRP *irp) {
  IO_STACK_LOCATION *stack = IoGetCurrentIrpStackLocation(irp);
  DOCK_EXTENSION *ext = extension_of(device);
  const ULONG size = stack->Parameters.DeviceIoControl.OutputBufferLength;
  NTSTATUS status;
  irp->IoStatus.Information = 0;
  switch (stack->Parameters.DeviceIoControl.IoControlCode) {
    case DOCK_IOCTL_GET_DEVICE_DESCRIPTOR: {
      DOCK_HID_DESCRIPTOR descriptor = {sizeof(DOCK_HID_DESCRIPTOR),  0x21, 0x0100, 0, 1, 0x22,
                                        ext->report_descriptor_length};
      if (!irp->UserBuffer || size < sizeof descriptor) {
        status = STATUS_BUFFER_TOO_SMALL;
        break;
      }
      RtlCopyMemory(irp->UserBuffer, &descriptor, sizeof descriptor);
      irp->IoStatus.Information = sizeof descriptor;
      status = STATUS_SUCCESS;
      break;
    }
    case DOCK_IOCTL_GET_REPORT_DESCRIPTOR:
      if (!irp->UserBuffer || size < ext->report_descriptor_length) {
        status = STATUS_BUFFER_TOO_SMALL;
        break;
      }
      RtlCopyMemory(irp->UserBuffer, ext->report_descriptor, ext->report_descriptor_length);
      irp->IoStatus.Information = ext->report_descriptor_length;
      status = STATUS_SUCCESS;
      break;
    case DOCK_IOCTL_GET_DEVICE_ATTRIBUTES: {
      DOCK_HID_ATTRIBUTES attributes;
      if (!irp->UserBuffer || size < sizeof attributes) {
        status = STATUS_BUFFER_TOO_SMALL;
        break;
      }
      RtlZeroMemory(&attributes, sizeof attributes);
      attributes.Size = sizeof attributes;
      attributes.VendorID = OVVB_DOCK_VENDOR_ID;
      attributes.ProductID = OVVB_DOCK_PRODUCT_ID;
      attributes.VersionNumber = OVVB_DOCK_VERSION;
      RtlCopyMemory(irp->UserBuffer, &attributes, sizeof attributes);
      irp->IoStatus.Information = sizeof attributes;
      status = STATUS_SUCCESS;
      break;
    }
    case DOCK_IOCTL_GET_STRING:
      status = get_string(irp);
      break;
    case DOCK_IOCTL_READ_REPORT:
      status = queue_read(device, irp);
      if (status == STATUS_PENDING) return status;
      break;
    case DOCK_IOCTL_GET_FEATURE:
      status = transfer(ext, irp, FALSE);
      break;
    case DOCK_IOCTL_SET_FEATURE:
      status = transfer(ext, irp, TRUE);
      break;
    case DOCK_IOCTL_ACTIVATE_DEVICE:
    case DOCK_IOCTL_DEACTIVATE_DEVICE:
      status = STATUS_SUCCESS;
      break;
    default:
      status = STATUS_NOT_SUPPORTED;
      break;
  }
  irp->IoStatus.Status = status;
  IoCompleteRequest(irp, IO_NO_INCREMENT);
  return status;
}

static NTSTATUS WINAPI start_completed(DEVICE_OBJECT *device, IRP *irp, void *context) {
  (void)device;
  (void)irp;
  KeSetEvent((KEVENT *)context, IO_NO_INCREMENT, FALSE);
  return STATUS_MORE_PROCESSING_REQUIRED;
}

static NTSTATUS WINAPI pnp(DEVICE_OBJECT *device, IRP *irp) {
  IO_STACK_LOCATION *stack = IoGetCurrentIrpStackLocation(irp);
  DOCK_EXTENSION *ext = extension_of(device);
  switch (stack->MinorFunction) {
    case IRP_MN_START_DEVICE: {
      KEVENT done;
      NTSTATUS status;
      KeInitializeEvent(&done, NotificationEvent, FALSE);
      IoCopyCurrentIrpStackLocationToNext(irp);
      IoSetCompletionRoutine(irp, start_completed, &done, TRUE, TRUE, TRUE);
      if (IoCallDriver(lower_of(device), irp) == STATUS_PENDING)
        KeWaitForSingleObject(&done, Executive, KernelMode, FALSE, NULL);
      status = irp->IoStatus.Status;
      IoCompleteRequest(irp, IO_NO_INCREMENT);
      return status;
    }
    case IRP_MN_SURPRISE_REMOVAL:
    case IRP_MN_REMOVE_DEVICE:
      complete_reads(ext);
      break;
    default:
      break;
  }
  IoSkipCurrentIrpStackLocation(irp);
  return IoCallDriver(lower_of(device), irp);
}

static NTSTATUS WINAPI power(DEVICE_OBJECT *device, IRP *irp) {
  PoStartNextPowerIrp(irp);
  IoSkipCurrentIrpStackLocation(irp);
  return PoCallDriver(lower_of(device), irp);
}

static NTSTATUS WINAPI add_device(DRIVER_OBJECT *driver, DEVICE_OBJECT *fdo) {
  DOCK_EXTENSION *ext = extension_of(fdo);
  HANDLE key;
  ULONG length;
  (void)driver;
  RtlZeroMemory(ext, sizeof *ext);
  KeInitializeSpinLock(&ext->reads_lock);
  InitializeListHead(&ext->pending_reads);
  key = state_open();
  length = state_get_dword(key, OVVB_DOCK_FEATURE_LENGTH, OVVB_DOCK_DEFAULT_FEATURE_LENGTH);
  state_close(key);
  if (length < 1 || length > OVVB_DOCK_MAX_FEATURE_LENGTH) length = OVVB_DOCK_DEFAULT_FEATURE_LENGTH;
  ext->feature_length = (USHORT)length;
  build_report_descriptor(ext);
  return STATUS_SUCCESS;
}

static void WINAPI unload(DRIVER_OBJECT *driver) { (void)driver; }

NTSTATUS WINAPI DriverEntry(DRIVER_OBJECT *driver, UNICODE_STRING *registry_path) {
  DOCK_MINIDRIVER_REGISTRATION registration;
  if (!state_init(registry_path)) return STATUS_INVALID_PARAMETER;
  KeInitializeMutex(&state_mutex, 0);
  driver->MajorFunction[IRP_MJ_PNP] = pnp;
  driver->MajorFunction[IRP_MJ_POWER] = power;
  driver->MajorFunction[IRP_MJ_INTERNAL_DEVICE_CONTROL] = internal_ioctl;
  driver->DriverExtension->AddDevice = add_device;
  driver->DriverUnload = unload;

  RtlZeroMemory(&registration, sizeof registration);
  registration.Revision = 1; /* HID_REVISION */
  registration.DriverObject = driver;
  registration.RegistryPath = registry_path;
  registration.DeviceExtensionSize = sizeof(DOCK_EXTENSION);
  registration.DevicesArePolled = FALSE;
  return HidRegisterMinidriver(&registration);
}
