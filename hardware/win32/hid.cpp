// The HID class driver through SetupAPI, CreateFileW and hid.dll, one call per
// function, with the arguments the transport's algorithms name. hid.dll is
// not a KnownDLL: it is loaded from System32 on first use, never imported.
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
#include "platform/win32/system_library.h"
#include "platform/win32/wide_text.h"

namespace hardware::hid {
namespace {

// hid.dll's calls, each null when the library or the export is missing: the
// call then fails as a device that does not answer would.
struct HidLibrary {
  platform::win32::ScopedModule module = platform::win32::loadSystemLibrary(L"hid.dll");
  decltype(&HidD_GetHidGuid) getHidGuid = resolve<decltype(&HidD_GetHidGuid)>("HidD_GetHidGuid");
  decltype(&HidD_GetAttributes) getAttributes = resolve<decltype(&HidD_GetAttributes)>("HidD_GetAttributes");
  decltype(&HidD_GetPreparsedData) getPreparsedData =
      resolve<decltype(&HidD_GetPreparsedData)>("HidD_GetPreparsedData");
  decltype(&HidD_FreePreparsedData) freePreparsedData =
      resolve<decltype(&HidD_FreePreparsedData)>("HidD_FreePreparsedData");
  decltype(&HidP_GetCaps) getCaps = resolve<decltype(&HidP_GetCaps)>("HidP_GetCaps");
  decltype(&HidD_SetFeature) setFeature = resolve<decltype(&HidD_SetFeature)>("HidD_SetFeature");
  decltype(&HidD_GetFeature) getFeature = resolve<decltype(&HidD_GetFeature)>("HidD_GetFeature");
  decltype(&HidD_SetNumInputBuffers) setNumInputBuffers =
      resolve<decltype(&HidD_SetNumInputBuffers)>("HidD_SetNumInputBuffers");

  template <typename Fn>
  Fn resolve(const char* name) const {
    return platform::win32::exportedFunction<Fn>(module, name);
  }
};

// Loaded once and kept for the life of the process: a reader thread of the
// transport may still be inside hid.dll when static objects are destroyed.
const HidLibrary& hidDll() {
  static const HidLibrary* library = new HidLibrary;
  return *library;
}

// Stands for the failed call's own error when hid.dll could not be loaded.
DWORD missingLibraryError() { return hidDll().module ? ERROR_PROC_NOT_FOUND : ERROR_MOD_NOT_FOUND; }

// HidD_GetPreparsedData's buffer, released with HidD_FreePreparsedData (only
// ever held when hid.dll gave it).
struct PreparsedDataTraits {
  using Type = PHIDP_PREPARSED_DATA;
  static Type invalid() noexcept { return nullptr; }
  static bool isValid(Type p) noexcept { return p != nullptr; }
  static void close(Type p) noexcept {
    if (hidDll().freePreparsedData != nullptr) hidDll().freePreparsedData(p);
  }
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
  // Without hid.dll the class stays all zero, and no interface is found.
  GUID guid{};
  if (hidDll().getHidGuid != nullptr) hidDll().getHidGuid(&guid);
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
  const auto call = hidDll().getAttributes;
  if (!device.valid() || call == nullptr || !call(handleOf(device), &native)) return false;
  attributes.vendorId = native.VendorID;
  attributes.productId = native.ProductID;
  attributes.versionNumber = native.VersionNumber;
  return true;
}

CapsResult getCapabilities(const Device& device, Capabilities& caps) {
  ScopedPreparsedData preparsed;
  const HidLibrary& hid = hidDll();
  if (!device.valid() || hid.getPreparsedData == nullptr || hid.freePreparsedData == nullptr ||
      !hid.getPreparsedData(handleOf(device), preparsed.receive()))
    return CapsResult::NoPreparsedData;
  HIDP_CAPS native{};
  if (hid.getCaps == nullptr || hid.getCaps(preparsed.get(), &native) != HIDP_STATUS_SUCCESS)
    return CapsResult::CapsFailed;
  caps.usage = native.Usage;
  caps.usagePage = native.UsagePage;
  caps.inputReportByteLength = native.InputReportByteLength;
  caps.outputReportByteLength = native.OutputReportByteLength;
  caps.featureReportByteLength = native.FeatureReportByteLength;
  return CapsResult::Ok;
}

bool setFeature(const Device& device, const uint8_t* report, uint32_t length, uint32_t& error) {
  // hid.dll takes a non-const buffer; it does not write to it.
  const auto call = hidDll().setFeature;
  if (call == nullptr) {
    error = missingLibraryError();
    return false;
  }
  if (call(handleOf(device), const_cast<uint8_t*>(report), length)) {
    error = 0;
    return true;
  }
  error = GetLastError();
  return false;
}

bool getFeature(const Device& device, uint8_t* report, uint32_t length, uint32_t& error) {
  const auto call = hidDll().getFeature;
  if (call == nullptr) {
    error = missingLibraryError();
    return false;
  }
  if (call(handleOf(device), report, length)) {
    error = 0;
    return true;
  }
  error = GetLastError();
  return false;
}

bool setNumInputBuffers(const Device& device, uint32_t count) {
  const auto call = hidDll().setNumInputBuffers;
  return call != nullptr && call(handleOf(device), count) != FALSE;
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
