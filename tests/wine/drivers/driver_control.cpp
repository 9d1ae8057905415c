#include "tests/wine/drivers/driver_control.h"

// setupapi.h and newdev.h after windows.h: they rely on its types.
#include <devguid.h>
#include <initguid.h>
#include <newdev.h>
#include <setupapi.h>
extern "C" {
#include <hidsdi.h>
}

#include <cwctype>
#include <fstream>
#include <iterator>

namespace winetest::drivers {
namespace {

// {4D1E55B2-F16F-11CF-88CB-001111000030}, the HID interface class.
const GUID kHidInterface = {0x4D1E55B2, 0xF16F, 0x11CF, {0x88, 0xCB, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}};
// {745A17A0-74D3-11D0-B6FE-00A0C90F57DA}, the HIDClass setup class.
const GUID kHidSetupClass = {0x745A17A0, 0x74D3, 0x11D0, {0xB6, 0xFE, 0x00, 0xA0, 0xC9, 0x0F, 0x57, 0xDA}};

constexpr DWORD kMaxDeviceId = 200;  // cfgmgr32's MAX_DEVICE_ID_LEN

Outcome failed(const std::string& call, DWORD error = GetLastError()) {
  return call + " failed with error " + std::to_string(error);
}

std::string narrow(const std::wstring& text) { return std::string(text.begin(), text.end()); }

bool sameText(const std::wstring& a, const std::wstring& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (std::towlower(a[i]) != std::towlower(b[i])) return false;
  return true;
}

std::string fileBytes(const std::wstring& path) {
  std::ifstream in(path.c_str(), std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool sameFile(const std::wstring& a, const std::wstring& b) {
  const std::string left = fileBytes(a);
  return !left.empty() && left == fileBytes(b);
}

std::wstring systemDriversFolder() {
  wchar_t system[MAX_PATH] = {};
  GetSystemDirectoryW(system, MAX_PATH);
  return std::wstring(system) + L"\\drivers";
}

// Polls `done` every 20 ms for up to `ms`.
template <typename Done>
bool waitFor(Done done, DWORD ms) {
  for (DWORD waited = 0;; waited += 20) {
    if (done()) return true;
    if (waited >= ms) return false;
    Sleep(20);
  }
}

class Service {
 public:
  Service() : manager_(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS)) {}
  ~Service() {
    if (service_) CloseServiceHandle(service_);
    if (manager_) CloseServiceHandle(manager_);
  }
  Service(const Service&) = delete;
  Service& operator=(const Service&) = delete;

  SC_HANDLE manager() const { return manager_; }
  SC_HANDLE get() const { return service_; }
  bool open(const wchar_t* name) {
    close();
    service_ = manager_ ? OpenServiceW(manager_, name, SERVICE_ALL_ACCESS) : nullptr;
    return service_ != nullptr;
  }
  void adopt(SC_HANDLE service) {
    close();
    service_ = service;
  }
  void close() {
    if (service_) CloseServiceHandle(service_);
    service_ = nullptr;
  }
  DWORD state() const {
    SERVICE_STATUS status{};
    return service_ && QueryServiceStatus(service_, &status) ? status.dwCurrentState : 0;
  }
  Outcome stop() {
    if (!service_ || state() == SERVICE_STOPPED) return {};
    SERVICE_STATUS status{};
    if (!ControlService(service_, SERVICE_CONTROL_STOP, &status) &&
        GetLastError() != ERROR_SERVICE_NOT_ACTIVE)
      return failed("ControlService(SERVICE_CONTROL_STOP)");
    if (!waitFor([&] { return state() == SERVICE_STOPPED; }, 5000))
      return "the service did not stop within 5 s (state " + std::to_string(state()) + ")";
    return {};
  }
  Outcome start() {
    if (!StartServiceW(service_, 0, nullptr) && GetLastError() != ERROR_SERVICE_ALREADY_RUNNING)
      return failed("StartServiceW");
    if (!waitFor([&] { return state() == SERVICE_RUNNING; }, 5000))
      return "the service did not run within 5 s (state " + std::to_string(state()) + ")";
    return {};
  }

 private:
  SC_HANDLE manager_ = nullptr;
  SC_HANDLE service_ = nullptr;
};

// The present HID interface paths, as SetupAPI spells them.
std::vector<std::wstring> hidInterfaces() {
  std::vector<std::wstring> paths;
  HDEVINFO set =
      SetupDiGetClassDevsW(&kHidInterface, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
  if (set == INVALID_HANDLE_VALUE) return paths;
  SP_DEVICE_INTERFACE_DATA data{};
  data.cbSize = sizeof data;
  for (DWORD i = 0; SetupDiEnumDeviceInterfaces(set, nullptr, &kHidInterface, i, &data); ++i) {
    DWORD size = 0;
    SetupDiGetDeviceInterfaceDetailW(set, &data, nullptr, 0, &size, nullptr);
    if (size < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W)) continue;
    std::vector<unsigned char> storage(size);
    auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(storage.data());
    detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
    if (SetupDiGetDeviceInterfaceDetailW(set, &data, detail, size, nullptr, nullptr))
      paths.emplace_back(detail->DevicePath);
  }
  SetupDiDestroyDeviceInfoList(set);
  return paths;
}

// DIF_REMOVE on every root device with our instance ID.
Outcome removeDockDevice() {
  HDEVINFO set = SetupDiGetClassDevsW(nullptr, L"ROOT", nullptr, DIGCF_ALLCLASSES);
  if (set == INVALID_HANDLE_VALUE) return failed("SetupDiGetClassDevsW(ROOT)");
  Outcome outcome;
  SP_DEVINFO_DATA device{};
  device.cbSize = sizeof device;
  for (DWORD i = 0; SetupDiEnumDeviceInfo(set, i, &device); ++i) {
    wchar_t id[kMaxDeviceId] = {};
    if (!SetupDiGetDeviceInstanceIdW(set, &device, id, kMaxDeviceId, nullptr)) continue;
    if (sameText(id, kDockInstanceId) && !SetupDiCallClassInstaller(DIF_REMOVE, set, &device))
      outcome = failed("SetupDiCallClassInstaller(DIF_REMOVE)");
  }
  SetupDiDestroyDeviceInfoList(set);
  return outcome;
}

}  // namespace

std::wstring driverFolder() {
  wchar_t path[MAX_PATH] = {};
  const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring folder(path, length);
  folder.erase(folder.find_last_of(L"\\/") + 1);
  return folder + L"drivers";
}

bool acpiOpens() {
  HANDLE device = CreateFileW(L"\\\\.\\ZELACPI", GENERIC_READ | GENERIC_WRITE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
  if (device == INVALID_HANDLE_VALUE) return false;
  CloseHandle(device);
  return true;
}

Outcome installAcpi(const std::wstring& folder) {
  const std::wstring source = folder + L"\\ovvbacpi.sys";
  const std::wstring target = systemDriversFolder() + L"\\ovvbacpi.sys";
  if (GetFileAttributesW(source.c_str()) == INVALID_FILE_ATTRIBUTES) return "no " + narrow(source);
  Service service;
  if (!service.manager()) return failed("OpenSCManagerW");
  if (service.open(OVVB_ACPI_SERVICE)) {
    if (sameFile(source, target)) {
      if (service.state() == SERVICE_RUNNING && acpiOpens()) return {};
      if (service.state() == SERVICE_STOPPED) return startAcpi();
    }
    if (Outcome stopped = service.stop(); !stopped.empty()) return stopped;
    if (!DeleteService(service.get())) return failed("DeleteService");
    service.close();
  }
  if (!CopyFileW(source.c_str(), target.c_str(), FALSE)) return failed("CopyFileW(" + narrow(target) + ")");
  SC_HANDLE created = nullptr;
  waitFor(
      [&] {
        created =
            CreateServiceW(service.manager(), OVVB_ACPI_SERVICE, L"ZELACPI platform driver stand-in",
                           SERVICE_ALL_ACCESS, SERVICE_KERNEL_DRIVER, SERVICE_DEMAND_START,
                           SERVICE_ERROR_NORMAL, target.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr);
        return created != nullptr || GetLastError() != ERROR_SERVICE_MARKED_FOR_DELETE;
      },
      5000);
  if (!created) return failed("CreateServiceW(SERVICE_KERNEL_DRIVER)");
  service.adopt(created);
  // Started at boot, so it is there again after a wineserver restart. Wine's
  // `sc config start=` does nothing; ChangeServiceConfigW does.
  if (!ChangeServiceConfigW(service.get(), SERVICE_NO_CHANGE, SERVICE_AUTO_START, SERVICE_NO_CHANGE, nullptr,
                            nullptr, nullptr, nullptr, nullptr, nullptr, nullptr))
    return failed("ChangeServiceConfigW(SERVICE_AUTO_START)");
  if (Outcome started = service.start(); !started.empty()) return started;
  if (!waitFor(acpiOpens, 2000)) return failed("CreateFileW(\\\\.\\ZELACPI) after the start");
  return {};
}

Outcome startAcpi() {
  Service service;
  if (!service.open(OVVB_ACPI_SERVICE)) return failed("OpenServiceW(ovvbacpi)");
  if (Outcome started = service.start(); !started.empty()) return started;
  if (!waitFor(acpiOpens, 2000)) return failed("CreateFileW(\\\\.\\ZELACPI) after the start");
  return {};
}

Outcome stopAcpi() {
  Service service;
  if (!service.open(OVVB_ACPI_SERVICE)) return {};
  if (Outcome stopped = service.stop(); !stopped.empty()) return stopped;
  if (!waitFor([] { return !acpiOpens(); }, 2000)) return "\\\\.\\ZELACPI still opens after the stop";
  return {};
}

Outcome removeAcpi() {
  Service service;
  if (!service.open(OVVB_ACPI_SERVICE)) return {};
  if (Outcome stopped = service.stop(); !stopped.empty()) return stopped;
  if (!DeleteService(service.get())) return failed("DeleteService");
  return {};
}

bool dockListed() {
  for (const std::wstring& path : hidInterfaces())
    if (sameText(path, std::wstring(kDockInterfacePath, kDockInterfacePath + sizeof kDockInterfacePath - 1)))
      return true;
  return false;
}

uint32_t dockFeatureLength() {
  const std::wstring path(kDockInterfacePath, kDockInterfacePath + sizeof kDockInterfacePath - 1);
  HANDLE device =
      CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
  if (device == INVALID_HANDLE_VALUE) return 0;
  uint32_t length = 0;
  PHIDP_PREPARSED_DATA preparsed = nullptr;
  if (HidD_GetPreparsedData(device, &preparsed)) {
    HIDP_CAPS caps{};
    if (HidP_GetCaps(preparsed, &caps) == HIDP_STATUS_SUCCESS) length = caps.FeatureReportByteLength;
    HidD_FreePreparsedData(preparsed);
  }
  CloseHandle(device);
  return length;
}

Outcome installDock(const std::wstring& folder) {
  const std::wstring inf = folder + L"\\ovvbdock.inf";
  const std::wstring sys = folder + L"\\ovvbdock.sys";
  if (GetFileAttributesW(inf.c_str()) == INVALID_FILE_ATTRIBUTES) return "no " + narrow(inf);
  if (dockListed()) {
    // The report length is read when the device starts.
    const uint32_t wanted =
        State(OVVB_DOCK_SERVICE).dword(OVVB_DOCK_FEATURE_LENGTH, OVVB_DOCK_DEFAULT_FEATURE_LENGTH);
    if (sameFile(sys, systemDriversFolder() + L"\\ovvbdock.sys") && dockFeatureLength() == wanted) return {};
    if (Outcome removed = removeDock(); !removed.empty()) return removed;
  }
  // A device left without its driver (an interrupted run) is registered but
  // not listed: start again from nothing.
  if (Outcome removed = removeDockDevice(); !removed.empty()) return removed;

  HDEVINFO set = SetupDiCreateDeviceInfoList(&kHidSetupClass, nullptr);
  if (set == INVALID_HANDLE_VALUE) return failed("SetupDiCreateDeviceInfoList");
  Outcome outcome;
  SP_DEVINFO_DATA device{};
  device.cbSize = sizeof device;
  // REG_MULTI_SZ: the ID, then the empty string that ends the list.
  std::wstring hardwareIds(kDockHardwareId);
  hardwareIds.push_back(L'\0');
  hardwareIds.push_back(L'\0');
  if (!SetupDiCreateDeviceInfoW(set, kDockInstanceId, &kHidSetupClass, nullptr, nullptr, 0, &device))
    outcome = failed("SetupDiCreateDeviceInfoW(" + narrow(kDockInstanceId) + ")");
  else if (!SetupDiSetDeviceRegistryPropertyW(set, &device, SPDRP_HARDWAREID,
                                              reinterpret_cast<const BYTE*>(hardwareIds.data()),
                                              static_cast<DWORD>(hardwareIds.size() * sizeof(wchar_t))))
    outcome = failed("SetupDiSetDeviceRegistryPropertyW(SPDRP_HARDWAREID)");
  else if (!SetupDiCallClassInstaller(DIF_REGISTERDEVICE, set, &device))
    outcome = failed("SetupDiCallClassInstaller(DIF_REGISTERDEVICE)");
  SetupDiDestroyDeviceInfoList(set);
  if (!outcome.empty()) return outcome;

  BOOL reboot = FALSE;
  if (!UpdateDriverForPlugAndPlayDevicesW(nullptr, kDockHardwareId, inf.c_str(), INSTALLFLAG_FORCE, &reboot))
    return failed("UpdateDriverForPlugAndPlayDevicesW");
  // The HID interface shows up a little after the call returns.
  if (!waitFor(dockListed, 5000)) return "the dock's HID interface did not appear within 5 s";
  return {};
}

Outcome removeDock() {
  if (Outcome removed = removeDockDevice(); !removed.empty()) return removed;
  if (!waitFor([] { return !dockListed(); }, 5000))
    return "the dock's HID interface is still listed after 5 s";
  // Unloads the driver, so that a rebuilt one is loaded next time.
  Service service;
  if (service.open(OVVB_DOCK_SERVICE)) return service.stop();
  return {};
}

State::State(const wchar_t* service) {
  const std::wstring path =
      std::wstring(L"SYSTEM\\CurrentControlSet\\Services\\") + service + L"\\" + OVVB_STATE_SUBKEY;
  RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS | KEY_WOW64_64KEY, nullptr,
                  &key_, nullptr);
}

State::~State() {
  if (key_) RegCloseKey(key_);
}

bool State::setDword(const wchar_t* name, uint32_t value) {
  const DWORD data = value;
  return key_ && RegSetValueExW(key_, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&data),
                                sizeof data) == ERROR_SUCCESS;
}

uint32_t State::dword(const wchar_t* name, uint32_t fallback) const {
  DWORD data = 0, size = sizeof data, type = 0;
  if (!key_ ||
      RegQueryValueExW(key_, name, nullptr, &type, reinterpret_cast<BYTE*>(&data), &size) != ERROR_SUCCESS ||
      type != REG_DWORD)
    return fallback;
  return data;
}

bool State::setBinary(const wchar_t* name, const std::vector<uint8_t>& data) {
  return key_ && RegSetValueExW(key_, name, 0, REG_BINARY, data.data(), static_cast<DWORD>(data.size())) ==
                     ERROR_SUCCESS;
}

std::vector<uint8_t> State::binary(const wchar_t* name) const {
  DWORD size = 0;
  if (!key_ || RegQueryValueExW(key_, name, nullptr, nullptr, nullptr, &size) != ERROR_SUCCESS) return {};
  std::vector<uint8_t> data(size);
  if (size && RegQueryValueExW(key_, name, nullptr, nullptr, data.data(), &size) != ERROR_SUCCESS) return {};
  data.resize(size);
  return data;
}

bool State::has(const wchar_t* name) const {
  return key_ && RegQueryValueExW(key_, name, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
}

bool State::isDword(const wchar_t* name) const {
  DWORD type = REG_NONE;
  return key_ && RegQueryValueExW(key_, name, nullptr, &type, nullptr, nullptr) == ERROR_SUCCESS &&
         type == REG_DWORD;
}

void State::remove(const wchar_t* name) {
  if (key_) RegDeleteValueW(key_, name);
}

void State::clear() {
  if (!key_) return;
  wchar_t name[256];
  for (;;) {
    DWORD length = 256;
    if (RegEnumValueW(key_, 0, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
    if (RegDeleteValueW(key_, name) != ERROR_SUCCESS) break;
  }
}

std::vector<WireRecord> parseWire(const std::vector<uint8_t>& wire) {
  std::vector<WireRecord> records;
  size_t at = 0;
  while (at + 4 <= wire.size()) {
    const size_t length = wire[at + 2] | (wire[at + 3] << 8);
    if (at + 4 + length > wire.size()) break;
    WireRecord record;
    record.kind = static_cast<char>(wire[at]);
    record.ok = wire[at + 1] != 0;
    record.bytes.assign(wire.begin() + at + 4, wire.begin() + at + 4 + length);
    records.push_back(std::move(record));
    at += 4 + length;
  }
  return records;
}

std::vector<ControlRecord> parseCalls(const std::vector<uint8_t>& calls) {
  auto get32 = [&](size_t at) {
    return static_cast<uint32_t>(calls[at] | (calls[at + 1] << 8) | (calls[at + 2] << 16) |
                                 (static_cast<uint32_t>(calls[at + 3]) << 24));
  };
  std::vector<ControlRecord> records;
  size_t at = 0;
  while (at + 16 <= calls.size()) {
    ControlRecord record;
    record.code = get32(at);
    record.inputSize = get32(at + 4);
    record.outputSize = get32(at + 8);
    record.status = get32(at + 12);
    const size_t kept = record.inputSize > OVVB_ACPI_INPUT_KEPT ? OVVB_ACPI_INPUT_KEPT : record.inputSize;
    if (at + 16 + kept > calls.size()) break;
    record.input.assign(calls.begin() + at + 16, calls.begin() + at + 16 + kept);
    records.push_back(std::move(record));
    at += 16 + kept;
  }
  return records;
}

}  // namespace winetest::drivers
