/* The test drivers' state as the tests see it: registry values under each
 * driver's service key, read and written by the driver on every request, so a
 * test sets a fault, runs the product code and reads back what the device saw.
 * Shared by the drivers (C, kernel mode) and the test programs (C++). */
#ifndef OVVB_TEST_DRIVER_STATE_H
#define OVVB_TEST_DRIVER_STATE_H

/* Service names; the state lives in HKLM\SYSTEM\CurrentControlSet\Services\<name>\State. */
#define OVVB_DOCK_SERVICE L"ovvbdock"
#define OVVB_ACPI_SERVICE L"ovvbacpi"
#define OVVB_STATE_SUBKEY L"State"

/* The dock controller (HID minidriver, root device ROOT\VID_6A3D&PID_1C58&MI_01\0000). */
#define OVVB_DOCK_VENDOR_ID 0x6A3D
#define OVVB_DOCK_PRODUCT_ID 0x1C58
#define OVVB_DOCK_VERSION 0x0100
#define OVVB_DOCK_REPORT_ID 0x5E
#define OVVB_DOCK_DEFAULT_FEATURE_LENGTH 300
#define OVVB_DOCK_MAX_FEATURE_LENGTH 1024
#define OVVB_DOCK_BLOCK_SIZE 64
#define OVVB_DOCK_TEXT_MAX 512

/* DWORD, read when the device starts: HidP_GetCaps' FeatureReportByteLength (1..1024). */
#define OVVB_DOCK_FEATURE_LENGTH L"FeatureLength"
/* DWORD: 0 the greeting is refused. */
#define OVVB_DOCK_ACCEPT_GREETING L"AcceptGreeting"
/* DWORD: the next N feature sends / fetches fail (count down, written back). */
#define OVVB_DOCK_FAIL_SETS L"FailSets"
#define OVVB_DOCK_FAIL_GETS L"FailGets"
/* DWORD: 1 the controller answers nothing: every send and fetch times out. */
#define OVVB_DOCK_SILENT L"Silent"
/* Written by the driver, the controller's RAM: DWORD 1 after an accepted
 * greeting; BINARY the report the next fetch returns, taken at the last read
 * request. Clearing them is a power cycle. */
#define OVVB_DOCK_GREETED L"Greeted"
#define OVVB_DOCK_RESPONSE L"Response"
/* BINARY: the 64-byte block group (offsets 3..66 of the frames). */
#define OVVB_DOCK_BLOCK L"Block"
/* BINARY: the text group's text, without a terminating NUL. */
#define OVVB_DOCK_TEXT L"Text"
/* BINARY, appended by the driver: every feature report, as records of
 * kind ('S' sent to the device, 'G' fetched from it), ok (0 or 1),
 * length (2 bytes, little-endian) and that many bytes. The fetched bytes
 * are what the device answered, or for a failed fetch the buffer it got. */
#define OVVB_DOCK_WIRE L"Wire"
#define OVVB_DOCK_WIRE_MAX (256 * 1024)

/* The controller's greeting: 14 printable characters after the report ID. */
#define OVVB_DOCK_GREETING "DockCfg-Unlock"
#define OVVB_DOCK_GREETING_LENGTH 14

/* The platform driver (\Device\ZELACPI, \DosDevices\ZELACPI). */
#define OVVB_ACPI_CODE_METHOD 0x00222404u
#define OVVB_ACPI_CODE_WMI 0x0022240Cu
#define OVVB_ACPI_OUTPUT_SIGNATURE 0x426F6541u /* "AeoB", the ACPI evaluation output's */
/* DWORD: DSTS's integer answer, and how many output arguments carry it (0 = an empty reply). */
#define OVVB_ACPI_DSTS L"Dsts"
#define OVVB_ACPI_DSTS_ARGS L"DstsArgs"
/* DWORD: DEVS's answer and the bytes of it returned (0..4); an answer of 1 sets Dsts to Gen4. */
#define OVVB_ACPI_DEVS_REPLY L"DevsReply"
#define OVVB_ACPI_DEVS_REPLY_BYTES L"DevsReplyBytes"
/* BINARY: when present, the verbatim reply to every well-formed ACPI / WMI
 * call (for replies whose counts and lengths lie). */
#define OVVB_ACPI_ACPI_RAW L"AcpiRaw"
#define OVVB_ACPI_WMI_RAW L"WmiRaw"
/* BINARY, appended by the driver: every control call, as records of code,
 * input length, output length, NTSTATUS (4 bytes each, little-endian) and the
 * input bytes. */
#define OVVB_ACPI_CALLS L"Calls"
#define OVVB_ACPI_INPUT_KEPT 4096 /* input bytes recorded per call, at most */
#define OVVB_ACPI_CALLS_MAX (256 * 1024)

#define OVVB_ACPI_GEN4 0x00010004u
#define OVVB_ACPI_DSTS_DEFAULT 0x00010003u

#endif
