/* Registry access of the test drivers: one state key per driver (the
 * service key's State subkey), opened per request. Kernel mode, C. */
#ifndef OVVB_TEST_DRIVER_REGISTRY_H
#define OVVB_TEST_DRIVER_REGISTRY_H

#include <ntddk.h>

/* "ovvb" as the pool tag shows it. */
#define OVVB_POOL_TAG 0x6276766Fu

/* Remembers <RegistryPath>\State; FALSE when the path does not fit. */
BOOLEAN state_init(const UNICODE_STRING *registry_path);
HANDLE state_open(void);
void state_close(HANDLE key);
ULONG state_get_dword(HANDLE key, const WCHAR *name, ULONG fallback);
void state_set_dword(HANDLE key, const WCHAR *name, ULONG value);
/* Copies at most `size` bytes; returns the value's full length, or -1 when missing. */
LONG state_get_binary(HANDLE key, const WCHAR *name, UCHAR *data, ULONG size);
void state_set_binary(HANDLE key, const WCHAR *name, const UCHAR *data, ULONG size);
/* Appends `size` bytes to a binary value, unless it would grow past `limit`. */
void state_append_binary(HANDLE key, const WCHAR *name, const UCHAR *data, ULONG size, ULONG limit);

#endif
