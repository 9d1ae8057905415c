#include "driver_registry.h"

#include "driver_state.h"

static WCHAR state_path[512];
static UNICODE_STRING state_name;

BOOLEAN state_init(const UNICODE_STRING *registry_path) {
  const ULONG suffix = sizeof(L"\\" OVVB_STATE_SUBKEY) - sizeof(WCHAR);
  if (registry_path->Length + suffix + sizeof(WCHAR) > sizeof(state_path)) return FALSE;
  RtlCopyMemory(state_path, registry_path->Buffer, registry_path->Length);
  RtlCopyMemory((UCHAR *)state_path + registry_path->Length, L"\\" OVVB_STATE_SUBKEY, suffix);
  state_path[(registry_path->Length + suffix) / sizeof(WCHAR)] = 0;
  RtlInitUnicodeString(&state_name, state_path);
  return TRUE;
}

HANDLE state_open(void) {
  OBJECT_ATTRIBUTES attributes;
  HANDLE key = NULL;
  ULONG disposition = 0;
  InitializeObjectAttributes(&attributes, &state_name, OBJ_CASE_INSENSITIVE | OBJ_KERNEL_HANDLE, NULL, NULL);
  if (!NT_SUCCESS(
          ZwCreateKey(&key, KEY_ALL_ACCESS, &attributes, 0, NULL, REG_OPTION_NON_VOLATILE, &disposition)))
    return NULL;
  return key;
}

void state_close(HANDLE key) {
  if (key) ZwClose(key);
}

/* A partial-information record with room for the largest value we keep. */
static KEY_VALUE_PARTIAL_INFORMATION *query(HANDLE key, const WCHAR *name, ULONG *length) {
  UNICODE_STRING value_name;
  ULONG needed = 0;
  KEY_VALUE_PARTIAL_INFORMATION *info;
  NTSTATUS status;
  if (!key) return NULL;
  RtlInitUnicodeString(&value_name, name);
  status = ZwQueryValueKey(key, &value_name, KeyValuePartialInformation, NULL, 0, &needed);
  if (status != STATUS_BUFFER_TOO_SMALL && status != STATUS_BUFFER_OVERFLOW) return NULL;
  if (needed == 0 || needed > 2 * OVVB_DOCK_WIRE_MAX) return NULL;
  info = ExAllocatePoolWithTag(PagedPool, needed, OVVB_POOL_TAG);
  if (!info) return NULL;
  if (!NT_SUCCESS(ZwQueryValueKey(key, &value_name, KeyValuePartialInformation, info, needed, &needed))) {
    ExFreePoolWithTag(info, OVVB_POOL_TAG);
    return NULL;
  }
  *length = needed;
  return info;
}

ULONG state_get_dword(HANDLE key, const WCHAR *name, ULONG fallback) {
  ULONG length = 0, value = fallback;
  KEY_VALUE_PARTIAL_INFORMATION *info = query(key, name, &length);
  if (!info) return fallback;
  if (info->Type == REG_DWORD && info->DataLength == sizeof(ULONG))
    RtlCopyMemory(&value, info->Data, sizeof value);
  ExFreePoolWithTag(info, OVVB_POOL_TAG);
  return value;
}

void state_set_dword(HANDLE key, const WCHAR *name, ULONG value) {
  UNICODE_STRING value_name;
  if (!key) return;
  RtlInitUnicodeString(&value_name, name);
  ZwSetValueKey(key, &value_name, 0, REG_DWORD, &value, sizeof value);
}

LONG state_get_binary(HANDLE key, const WCHAR *name, UCHAR *data, ULONG size) {
  ULONG length = 0;
  LONG full;
  KEY_VALUE_PARTIAL_INFORMATION *info = query(key, name, &length);
  if (!info) return -1;
  full = (LONG)info->DataLength;
  RtlCopyMemory(data, info->Data, info->DataLength < size ? info->DataLength : size);
  ExFreePoolWithTag(info, OVVB_POOL_TAG);
  return full;
}

void state_set_binary(HANDLE key, const WCHAR *name, const UCHAR *data, ULONG size) {
  UNICODE_STRING value_name;
  if (!key) return;
  RtlInitUnicodeString(&value_name, name);
  ZwSetValueKey(key, &value_name, 0, REG_BINARY, (void *)data, size);
}

void state_append_binary(HANDLE key, const WCHAR *name, const UCHAR *data, ULONG size, ULONG limit) {
  ULONG length = 0, old = 0;
  UCHAR *joined;
  KEY_VALUE_PARTIAL_INFORMATION *info = query(key, name, &length);
  if (info) old = info->DataLength;
  if (old + size <= limit && (joined = ExAllocatePoolWithTag(PagedPool, old + size + 1, OVVB_POOL_TAG))) {
    if (old) RtlCopyMemory(joined, info->Data, old);
    RtlCopyMemory(joined + old, data, size);
    state_set_binary(key, name, joined, old + size);
    ExFreePoolWithTag(joined, OVVB_POOL_TAG);
  }
  if (info) ExFreePoolWithTag(info, OVVB_POOL_TAG);
}
