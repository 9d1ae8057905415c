// The Windows HID class driver, one call per function: SetupAPI's list of HID
// interfaces, CreateFileW on an interface path, and hid.dll's attribute,
// capability and feature-report calls. The transport logic (which call when,
// what a failure means) lives in dock/usb; this layer only reaches the OS.
//
// win32: SetupAPI, CreateFileW, hid.dll. sim: the HID bus of machine.ini,
// [hid] other interfaces first, then the [dock] controller.
//
// Every length is the caller's buffer length; a backend never touches more.
// System error codes are Windows codes in both backends (platform/error.h).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "hardware/native_owner.h"

namespace hardware::hid {

// CreateFileW's desired access and share mode as the transport passes them.
inline constexpr uint32_t kAccessNone = 0;                 // probe: attributes and capabilities only
inline constexpr uint32_t kAccessReadWrite = 0xC0000000u;  // GENERIC_READ | GENERIC_WRITE
inline constexpr uint32_t kShareReadWrite = 3;             // FILE_SHARE_READ | FILE_SHARE_WRITE

// GUID of the HID device interface class (HidD_GetHidGuid).
struct InterfaceClass {
  uint32_t data1 = 0;
  uint16_t data2 = 0;
  uint16_t data3 = 0;
  uint8_t data4[8] = {};
};

// HIDD_ATTRIBUTES without its size field.
struct Attributes {
  uint16_t vendorId = 0;
  uint16_t productId = 0;
  uint16_t versionNumber = 0;
};

// The fields of HIDP_CAPS the transport reads. Every report length counts
// the leading report ID byte.
struct Capabilities {
  uint16_t usage = 0;
  uint16_t usagePage = 0;
  uint16_t inputReportByteLength = 0;
  uint16_t outputReportByteLength = 0;
  uint16_t featureReportByteLength = 0;
};

// A device information set of present HID interfaces (HDEVINFO). Move-only;
// destroyed exactly once (SetupDiDestroyDeviceInfoList).
void destroyInterfaceSet(void* native) noexcept;  // backend: SetupDiDestroyDeviceInfoList
using InterfaceSet = NativeOwner<destroyInterfaceSet>;

// An open HID interface (a file HANDLE on win32). Move-only; closed exactly
// once (CloseHandle).
void closeDevice(void* native) noexcept;  // backend: CloseHandle
using Device = NativeOwner<closeDevice>;

// HidD_GetHidGuid.
InterfaceClass hidInterfaceClass();

// SetupDiGetClassDevsW(&interfaceClass, no enumerator, no window,
// DIGCF_PRESENT | DIGCF_DEVICEINTERFACE). An invalid result means failure.
InterfaceSet openPresentInterfaces(const InterfaceClass& interfaceClass);

enum class InterfaceStep {
  Path,         // `path` holds the interface's device path, as SetupAPI reports it
  NoDetail,     // the interface exists but its detail record could not be fetched
  OutOfMemory,  // the detail record could not be allocated
  End,          // SetupDiEnumDeviceInterfaces failed: no interface at `index`
};

// Interface number `index` of `set`: SetupDiEnumDeviceInterfaces (record size
// set to the record's size), then SetupDiGetDeviceInterfaceDetailW twice
// (size query, then the fetch with the fixed part's size in the size field).
// `withDeviceInfo` also asks the fetch for the device information element.
// `path` is UTF-8.
InterfaceStep interfacePath(const InterfaceSet& set, const InterfaceClass& interfaceClass, uint32_t index,
                            bool withDeviceInfo, std::string& path);

// CreateFileW(path, access, share, no security, OPEN_EXISTING, flags 0 -
// synchronous, no template). On failure the result is not valid and `error`
// holds GetLastError.
Device open(std::string_view path, uint32_t access, uint32_t share, uint32_t& error);

// HidD_GetAttributes (size field set to the record's size, 12).
bool getAttributes(const Device& device, Attributes& attributes);

enum class CapsResult {
  Ok,
  NoPreparsedData,  // HidD_GetPreparsedData failed; `caps` untouched
  CapsFailed,       // HidP_GetCaps returned a status other than HIDP_STATUS_SUCCESS; `caps` untouched
};

// HidD_GetPreparsedData, HidP_GetCaps, HidD_FreePreparsedData (the preparsed
// data never outlives the call).
CapsResult getCapabilities(const Device& device, Capabilities& caps);

// HidD_SetFeature / HidD_GetFeature with exactly `length` bytes of `report`,
// report ID first. On failure `error` holds GetLastError.
bool setFeature(const Device& device, const uint8_t* report, uint32_t length, uint32_t& error);
bool getFeature(const Device& device, uint8_t* report, uint32_t length, uint32_t& error);

// HidD_SetNumInputBuffers.
bool setNumInputBuffers(const Device& device, uint32_t count);

// WriteFile of one output report, synchronous, no overlapped record.
bool writeReport(const Device& device, const uint8_t* report, uint32_t length, uint32_t& written,
                 uint32_t& error);

// ReadFile of one input report, synchronous, no overlapped record: blocks
// until the device delivers a report, the read fails, or cancelReads ends it.
bool readReport(const Device& device, uint8_t* report, uint32_t length, uint32_t& read, uint32_t& error);

// Ends every read pending on `device` in any thread of this process with
// failure (ERROR_OPERATION_ABORTED, 995) - win32: CancelIoEx(handle, NULL).
// A read that starts afterwards is not affected, so a caller that wants a
// reader thread gone sets its stop flag first and repeats this until the
// thread has ended.
void cancelReads(const Device& device);

// The window that receives input reports (an HWND on win32), and the two
// ways a message reaches it: PostMessageW and SendMessageW.
using Window = void*;
bool postMessage(Window window, uint32_t message, uintptr_t wParam, intptr_t lParam);
intptr_t sendMessage(Window window, uint32_t message, uintptr_t wParam, intptr_t lParam);

}  // namespace hardware::hid
