/* A kernel-mode stand-in for the notebook's platform driver: \Device\ZELACPI
 * with the link \DosDevices\ZELACPI, answering the ACPI method call
 * (0x00222404) and the WMI method call (0x0022240C), both METHOD_BUFFERED.
 * Every input is checked against the layouts the installer sends; a malformed
 * one fails with STATUS_INVALID_PARAMETER. DSTS and DEVS answer as the test
 * set them under the service key (driver_state.h), and every call is recorded
 * there.
 *
 * Test-only: never part of the product or of a distribution. */
#include <ntddk.h>

#include "driver_registry.h"
#include "driver_state.h"

#define METHOD_DSTS 0x53545344u /* "DSTS", first character in the lowest byte */
#define METHOD_DEVS 0x53564544u /* "DEVS" */
#define LINK_SETTING 0x0006005Bu
#define KIND_NO_ARGUMENTS 1
#define KIND_WITH_ARGUMENTS 2
#define ACPI_INPUT_SIZE 24
#define ACPI_OUTPUT_MAX 768
#define WMI_OUTPUT_MAX 1024

static KMUTEX state_mutex;
static DEVICE_OBJECT *control_device;

static ULONG get32(const UCHAR *p) { return p[0] | (p[1] << 8) | (p[2] << 16) | ((ULONG)p[3] << 24); }

static USHORT get16(const UCHAR *p) { return (USHORT)(p[0] | (p[1] << 8)); }

static void put32(UCHAR *p, ULONG v) {
  p[0] = (UCHAR)v;
  p[1] = (UCHAR)(v >> 8);
  p[2] = (UCHAR)(v >> 16);
  p[3] = (UCHAR)(v >> 24);
}

static void record(HANDLE key, ULONG code, const UCHAR *input, ULONG input_size, ULONG output_size,
                   NTSTATUS status) {
  const ULONG kept = input_size > OVVB_ACPI_INPUT_KEPT ? OVVB_ACPI_INPUT_KEPT : input_size;
  UCHAR *entry = ExAllocatePoolWithTag(PagedPool, 16 + kept, OVVB_POOL_TAG);
  if (!entry) return;
  put32(entry, code);
  put32(entry + 4, input_size);
  put32(entry + 8, output_size);
  put32(entry + 12, (ULONG)status);
  if (kept) RtlCopyMemory(entry + 16, input, kept);
  state_append_binary(key, OVVB_ACPI_CALLS, entry, 16 + kept, OVVB_ACPI_CALLS_MAX);
  ExFreePoolWithTag(entry, OVVB_POOL_TAG);
}

/* Copies a reply into the caller's output area; a reply longer than that area
 * is cut and reported as such, as the I/O manager does for METHOD_BUFFERED. */
static NTSTATUS reply(UCHAR *output, ULONG output_size, const UCHAR *data, ULONG size, ULONG_PTR *returned) {
  const ULONG copied = size < output_size ? size : output_size;
  if (copied) RtlCopyMemory(output, data, copied);
  *returned = copied;
  return copied < size ? STATUS_BUFFER_OVERFLOW : STATUS_SUCCESS;
}

/* The two input layouts: inline arguments (kind 2, one integer) and an
 * argument address (kind 1, no arguments, address 0). */
static NTSTATUS acpi_method(HANDLE key, const UCHAR *in, ULONG in_size, UCHAR *out, ULONG out_size,
                            ULONG_PTR *returned) {
  UCHAR answer[ACPI_OUTPUT_MAX];
  LONG raw;
  ULONG kind, method, count, arguments, i;
  if (in_size != ACPI_INPUT_SIZE) return STATUS_INVALID_PARAMETER;
  kind = get32(in);
  method = get32(in + 4);
  count = get32(in + 8);
  arguments = get32(in + 12);
  if (kind == KIND_WITH_ARGUMENTS) {
    if (count != 1 || arguments != 8 || get16(in + 16) != 0 || get16(in + 18) != 4)
      return STATUS_INVALID_PARAMETER;
  } else if (kind == KIND_NO_ARGUMENTS) {
    if (count != 0 || arguments != 0 || get32(in + 16) != 0 || get32(in + 20) != 0)
      return STATUS_INVALID_PARAMETER;
  } else {
    return STATUS_INVALID_PARAMETER;
  }
  raw = state_get_binary(key, OVVB_ACPI_ACPI_RAW, answer, sizeof answer);
  if (raw >= 0)
    return reply(out, out_size, answer, raw < (LONG)sizeof answer ? (ULONG)raw : sizeof answer, returned);
  if (method != METHOD_DSTS) return STATUS_OBJECT_NAME_NOT_FOUND;
  if (kind != KIND_WITH_ARGUMENTS || get32(in + 20) != LINK_SETTING) return STATUS_INVALID_PARAMETER;

  count = state_get_dword(key, OVVB_ACPI_DSTS_ARGS, 1);
  if (count > (ACPI_OUTPUT_MAX - 12) / 8) count = (ACPI_OUTPUT_MAX - 12) / 8;
  RtlZeroMemory(answer, sizeof answer);
  put32(answer, OVVB_ACPI_OUTPUT_SIGNATURE);
  put32(answer + 4, 12 + 8 * count);
  put32(answer + 8, count);
  for (i = 0; i < count; ++i) {
    UCHAR *argument = answer + 12 + 8 * i;
    argument[0] = 0; /* integer */
    argument[2] = 4;
    put32(argument + 4, state_get_dword(key, OVVB_ACPI_DSTS, OVVB_ACPI_DSTS_DEFAULT));
  }
  return reply(out, out_size, answer, 12 + 8 * count, returned);
}

/* Method ID, n, then n bytes of 32-bit arguments. */
static NTSTATUS wmi_method(HANDLE key, const UCHAR *in, ULONG in_size, UCHAR *out, ULONG out_size,
                           ULONG_PTR *returned) {
  UCHAR answer[WMI_OUTPUT_MAX];
  LONG raw;
  ULONG method, n, value, bytes;
  if (in_size < 8) return STATUS_INVALID_PARAMETER;
  method = get32(in);
  n = get32(in + 4);
  if (n != in_size - 8 || n % 4 != 0) return STATUS_INVALID_PARAMETER;
  raw = state_get_binary(key, OVVB_ACPI_WMI_RAW, answer, sizeof answer);
  if (raw >= 0)
    return reply(out, out_size, answer, raw < (LONG)sizeof answer ? (ULONG)raw : sizeof answer, returned);
  if (method != METHOD_DEVS) return STATUS_OBJECT_NAME_NOT_FOUND;
  if (n != 8 || get32(in + 8) != LINK_SETTING || get32(in + 12) != 4) return STATUS_INVALID_PARAMETER;

  value = state_get_dword(key, OVVB_ACPI_DEVS_REPLY, 1);
  bytes = state_get_dword(key, OVVB_ACPI_DEVS_REPLY_BYTES, 4);
  if (bytes > 4) bytes = 4;
  if (value == 1) state_set_dword(key, OVVB_ACPI_DSTS, OVVB_ACPI_GEN4);
  put32(answer, value);
  return reply(out, out_size, answer, bytes, returned);
}

static NTSTATUS WINAPI device_control(DEVICE_OBJECT *device, IRP *irp) {
  IO_STACK_LOCATION *stack = IoGetCurrentIrpStackLocation(irp);
  const ULONG code = stack->Parameters.DeviceIoControl.IoControlCode;
  const ULONG in_size = stack->Parameters.DeviceIoControl.InputBufferLength;
  const ULONG out_size = stack->Parameters.DeviceIoControl.OutputBufferLength;
  UCHAR *buffer = irp->AssociatedIrp.SystemBuffer;
  UCHAR *input = NULL;
  ULONG kept = 0;
  NTSTATUS status;
  HANDLE key;
  (void)device;
  irp->IoStatus.Information = 0;

  /* Input and output share the system buffer: take the input first. */
  if (in_size && buffer) {
    kept = in_size > OVVB_ACPI_INPUT_KEPT ? OVVB_ACPI_INPUT_KEPT : in_size;
    input = ExAllocatePoolWithTag(PagedPool, kept, OVVB_POOL_TAG);
    if (input) RtlCopyMemory(input, buffer, kept);
  }
  KeWaitForSingleObject(&state_mutex, Executive, KernelMode, FALSE, NULL);
  key = state_open();
  if (in_size && !input)
    status = in_size > OVVB_ACPI_INPUT_KEPT ? STATUS_INVALID_PARAMETER : STATUS_INSUFFICIENT_RESOURCES;
  else if (code == OVVB_ACPI_CODE_METHOD)
    status = acpi_method(key, input, in_size, buffer, buffer ? out_size : 0, &irp->IoStatus.Information);
  else if (code == OVVB_ACPI_CODE_WMI)
    status = wmi_method(key, input, in_size, buffer, buffer ? out_size : 0, &irp->IoStatus.Information);
  else
    status = STATUS_INVALID_DEVICE_REQUEST;
  if (!NT_SUCCESS(status) && status != STATUS_BUFFER_OVERFLOW) irp->IoStatus.Information = 0;
  record(key, code, input, in_size, out_size, status);
  state_close(key);
  KeReleaseMutex(&state_mutex, FALSE);
  if (input) ExFreePoolWithTag(input, OVVB_POOL_TAG);

  irp->IoStatus.Status = status;
  IoCompleteRequest(irp, IO_NO_INCREMENT);
  return status;
}

static NTSTATUS WINAPI create_close(DEVICE_OBJECT *device, IRP *irp) {
  (void)device;
  irp->IoStatus.Status = STATUS_SUCCESS;
  irp->IoStatus.Information = 0;
  IoCompleteRequest(irp, IO_NO_INCREMENT);
  return STATUS_SUCCESS;
}

static void WINAPI unload(DRIVER_OBJECT *driver) {
  UNICODE_STRING link;
  (void)driver;
  RtlInitUnicodeString(&link, L"\\DosDevices\\ZELACPI");
  IoDeleteSymbolicLink(&link);
  if (control_device) IoDeleteDevice(control_device);
  control_device = NULL;
}

NTSTATUS WINAPI DriverEntry(DRIVER_OBJECT *driver, UNICODE_STRING *registry_path) {
  UNICODE_STRING name, link;
  NTSTATUS status;
  if (!state_init(registry_path)) return STATUS_INVALID_PARAMETER;
  KeInitializeMutex(&state_mutex, 0);
  driver->MajorFunction[IRP_MJ_CREATE] = create_close;
  driver->MajorFunction[IRP_MJ_CLOSE] = create_close;
  driver->MajorFunction[IRP_MJ_DEVICE_CONTROL] = device_control;
  driver->DriverUnload = unload;

  RtlInitUnicodeString(&name, L"\\Device\\ZELACPI");
  status = IoCreateDevice(driver, 0, &name, FILE_DEVICE_UNKNOWN, 0, FALSE, &control_device);
  if (!NT_SUCCESS(status)) return status;
  control_device->Flags |= DO_BUFFERED_IO;
  RtlInitUnicodeString(&link, L"\\DosDevices\\ZELACPI");
  status = IoCreateSymbolicLink(&link, &name);
  if (!NT_SUCCESS(status)) {
    IoDeleteDevice(control_device);
    control_device = NULL;
  }
  return status;
}
