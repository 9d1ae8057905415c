// Installing, configuring, reading back and removing the two test drivers in
// the Wine prefix, with the calls a driver package's installer would make:
// the service control manager for the platform driver, SetupAPI and newdev
// for the root-enumerated HID device. Used by ovvb_drivers.exe and the tests.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "tests/wine/drivers/driver_state.h"

namespace winetest::drivers {

// An empty text means success; otherwise it names the call that failed and
// its error, so a missing piece of Wine is reported by name.
using Outcome = std::string;

// The interface path Wine derives from the root instance ID.
inline constexpr wchar_t kDockInstanceId[] = L"ROOT\\VID_6A3D&PID_1C58&MI_01\\0000";
inline constexpr wchar_t kDockHardwareId[] = L"ROOT\\VID_6A3D&PID_1C58&MI_01";
inline constexpr char kDockInterfacePath[] =
    "\\\\?\\hid#vid_6a3d&pid_1c58&mi_01#0000#{4d1e55b2-f16f-11cf-88cb-001111000030}";

// The folder holding ovvbacpi.sys, ovvbdock.sys and ovvbdock.inf: "drivers"
// beside the running program.
std::wstring driverFolder();

// The platform driver as a kernel service started at boot (Start = 2), so it
// survives a wineserver restart. Installing again replaces an older binary.
Outcome installAcpi(const std::wstring& folder);
Outcome startAcpi();
Outcome stopAcpi();
Outcome removeAcpi();
bool acpiOpens();  // \\.\ZELACPI can be opened

// The dock controller: the root device, our .inf through
// UpdateDriverForPlugAndPlayDevicesW, then a wait for its HID interface.
// Installing again replaces an older binary, and a device whose feature
// report length is not the State's FeatureLength (300 by default).
Outcome installDock(const std::wstring& folder);
Outcome removeDock();
bool dockListed();             // the interface is among the present HID interfaces
uint32_t dockFeatureLength();  // HidP_GetCaps' FeatureReportByteLength, 0 when not listed

// The service key's State subkey of one driver (driver_state.h).
class State {
 public:
  explicit State(const wchar_t* service);
  ~State();
  State(const State&) = delete;
  State& operator=(const State&) = delete;

  bool setDword(const wchar_t* name, uint32_t value);
  uint32_t dword(const wchar_t* name, uint32_t fallback) const;
  bool setBinary(const wchar_t* name, const std::vector<uint8_t>& data);
  std::vector<uint8_t> binary(const wchar_t* name) const;  // empty when missing
  bool has(const wchar_t* name) const;
  bool isDword(const wchar_t* name) const;
  void remove(const wchar_t* name);
  void clear();  // every value: the driver's defaults apply again

 private:
  HKEY key_ = nullptr;
};

// One feature report as the dock driver recorded it.
struct WireRecord {
  char kind = 0;  // 'S' sent to the device, 'G' fetched from it
  bool ok = false;
  std::vector<uint8_t> bytes;
};
std::vector<WireRecord> parseWire(const std::vector<uint8_t>& wire);

// One control call as the platform driver recorded it.
struct ControlRecord {
  uint32_t code = 0;
  uint32_t inputSize = 0;
  uint32_t outputSize = 0;
  uint32_t status = 0;  // NTSTATUS
  std::vector<uint8_t> input;
};
std::vector<ControlRecord> parseCalls(const std::vector<uint8_t>& calls);

}  // namespace winetest::drivers
