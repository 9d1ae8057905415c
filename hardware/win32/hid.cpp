// The HID class driver through SetupAPI, CreateFileW and hid.dll, one call per
// function, with the arguments the transport's algorithms name.
#include "hardware/hid.h"

#include <windows.h>
// After windows.h: these rely on the types it declares. mingw-w64's HID
// headers lack the C++ linkage guard; hidsdi.h brings hidusage.h and
// hidpi.h in the order they need.
#include <setupapi.h>
extern "C" {
#include <hidsdi.h>
}

#include <cstring>
#include <vector>

#include "platform/win32/scoped_handle.h"
#include "platform/win32/wide_text.h"

namespace hardware::hid {
namespace {

// HidD_GetPreparsedData's buffer, released with HidD_FreePreparsedData.
struct PreparsedDataTraits {
  using Type = PHIDP_PREPARSED_DATA;
  static Type invalid() noexcept { return nullptr; }
  static bool isValid(Type p) noexcept { return p != nullptr; }
  static void close(Type p) noexcept { HidD_FreePreparsedData(p); }
};
using ScopedPreparsedData = platform::win32::ScopedGeneric<PreparsedDataTraits>;

GUID toGuid(const InterfaceClass& c) {
  GUID guid;
  guid.Data1 = c.data1;
  guid.Data2 = c.data2;
  guid.Data3 = c.data3;
  std::memcpy(guid.Data4, c.data4, sizeof guid.Data4);
  return guid;
}

HANDLE handleOf(const Device& device) { return static_cast<HANDLE>(device.native()); }

}  // namespace

void destroyInterfaceSet(void* native) noexcept {
  SetupDiDestroyDeviceInfoList(static_cast<HDEVINFO>(native));
}

void closeDevice(void* native) noexcept { CloseHandle(static_cast<HANDLE>(native)); }

InterfaceClass hidInterfaceClass() {
  GUID guid{};
  HidD_GetHidGuid(&guid);
  InterfaceClass result;
  result.data1 = guid.Data1;
  result.data2 = guid.Data2;
  result.data3 = guid.Data3;
  std::memcpy(result.data4, guid.Data4, sizeof result.data4);
  return result;
}

InterfaceSet openPresentInterfaces(const InterfaceClass& interfaceClass) {
  const GUID guid = toGuid(interfaceClass);
  return InterfaceSet(SetupDiGetClassDevsW(&guid, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE));
}

InterfaceStep interfacePath(const InterfaceSet& set, const InterfaceClass& interfaceClass, uint32_t index,
                            bool withDeviceInfo, std::string& path) {
  const GUID guid = toGuid(interfaceClass);
  const auto info = static_cast<HDEVINFO>(set.native());
  SP_DEVICE_INTERFACE_DATA interfaceData{};
  interfaceData.cbSize = sizeof interfaceData;  // 32 on x64
  if (!set.valid() || !SetupDiEnumDeviceInterfaces(info, nullptr, &guid, index, &interfaceData))
    return InterfaceStep::End;

  DWORD required = 0;
  SetupDiGetDeviceInterfaceDetailW(info, &interfaceData, nullptr, 0, &required, nullptr);
  // The size query answers with a size that at least holds the fixed part;
  // anything else is a set we cannot read.
  if (required < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W)) return InterfaceStep::NoDetail;
  std::vector<unsigned char> storage;
  try {
    storage.resize(required);
  } catch (const std::bad_alloc&) {
    return InterfaceStep::OutOfMemory;
  }
  auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(storage.data());
  detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);  // the fixed part: 8 on x64
  SP_DEVINFO_DATA deviceInfo{};
  deviceInfo.cbSize = sizeof deviceInfo;  // 32 on x64
  if (!SetupDiGetDeviceInterfaceDetailW(info, &interfaceData, detail, required, nullptr,
                                        withDeviceInfo ? &deviceInfo : nullptr))
    return InterfaceStep::NoDetail;
  // The path ends at its NUL or at the end of what SetupAPI filled in.
  const size_t room = (required - offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_W, DevicePath)) / sizeof(wchar_t);
  path = platform::win32::toUtf8(std::wstring_view(detail->DevicePath, wcsnlen(detail->DevicePath, room)));
  return InterfaceStep::Path;
}

Device open(std::string_view path, uint32_t access, uint32_t share, uint32_t& error) {
  const std::wstring wide = platform::win32::toWide(path);
  HANDLE handle = CreateFileW(wide.c_str(), access, share, nullptr, OPEN_EXISTING, 0, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    error = GetLastError();
    return Device();
  }
  error = 0;
  return Device(handle);
}

bool getAttributes(const Device& device, Attributes& attributes) {
  HIDD_ATTRIBUTES native{};
  native.Size = sizeof native;  // 12
  if (!device.valid() || !HidD_GetAttributes(handleOf(device), &native)) return false;
  attributes.vendorId = native.VendorID;
  attributes.productId = native.ProductID;
  attributes.versionNumber = native.VersionNumber;
  return true;
}

CapsResult getCapabilities(const Device& device, Capabilities& caps) {
  ScopedPreparsedData preparsed;
  if (!device.valid() || !HidD_GetPreparsedData(handleOf(device), preparsed.receive()))
    return CapsResult::NoPreparsedData;
  HIDP_CAPS native{};
  if (HidP_GetCaps(preparsed.get(), &native) != HIDP_STATUS_SUCCESS) return CapsResult::CapsFailed;
  caps.usage = native.Usage;
  caps.usagePage = native.UsagePage;
  caps.inputReportByteLength = native.InputReportByteLength;
  caps.outputReportByteLength = native.OutputReportByteLength;
  caps.featureReportByteLength = native.FeatureReportByteLength;
  return CapsResult::Ok;
}

bool setFeature(const Device& device, const uint8_t* report, uint32_t length, uint32_t& error) {
  // hid.dll takes a non-const buffer; it does not write to it.
  if (HidD_SetFeature(handleOf(device), const_cast<uint8_t*>(report), length)) {
    error = 0;
    return true;
  }
  error = GetLastError();
  return false;
}

bool getFeature(const Device& device, uint8_t* report, uint32_t length, uint32_t& error) {
  if (HidD_GetFeature(handleOf(device), report, length)) {
    error = 0;
    return true;
  }
  error = GetLastError();
  return false;
}

bool setNumInputBuffers(const Device& device, uint32_t count) {
  return HidD_SetNumInputBuffers(handleOf(device), count) != FALSE;
}

bool writeReport(const Device& device, const uint8_t* report, uint32_t length, uint32_t& written,
                 uint32_t& error) {
  DWORD count = 0;
  const BOOL ok = WriteFile(handleOf(device), report, length, &count, nullptr);
  written = count;
  error = ok ? 0 : GetLastError();
  return ok != FALSE;
}

bool readReport(const Device& device, uint8_t* report, uint32_t length, uint32_t& read, uint32_t& error) {
  DWORD count = 0;
  const BOOL ok = ReadFile(handleOf(device), report, length, &count, nullptr);
  read = count;
  error = ok ? 0 : GetLastError();
  return ok != FALSE;
}

void cancelReads(const Device& device) {
  if (device.valid()) CancelIoEx(handleOf(device), nullptr);
}

bool postMessage(Window window, uint32_t message, uintptr_t wParam, intptr_t lParam) {
  return PostMessageW(static_cast<HWND>(window), message, wParam, lParam) != FALSE;
}

intptr_t sendMessage(Window window, uint32_t message, uintptr_t wParam, intptr_t lParam) {
  return SendMessageW(static_cast<HWND>(window), message, wParam, lParam);
}

}  // namespace hardware::hid
