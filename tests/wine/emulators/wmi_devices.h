// What the WMI emulator answers for Win32_PnPSignedDriver: the [pnp] lines
// of the machine, filtered as WMI filters them for the installer's queries.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tests/wine/emulators/machine_file.h"

namespace winetest::emulators {

// Past this a machine is not a notebook; the query fails instead of
// handing out a list no real WMI would build.
inline constexpr size_t kMaxDevices = 100000;

struct DeviceRow {
  std::optional<std::string> hardwareId;     // nullopt: WMI has no value (VT_NULL)
  std::optional<std::string> driverVersion;  // nullopt: reported without one
};

// [pnp] fail: before_match fails the query itself; after_match lets the
// rows out but fails every read of a driver version, the one property a
// device search reads after its hardware ID has matched.
enum class FailPoint { None, BeforeMatch, AfterMatch };

enum class QueryKind {
  NotOurs,  // another class: Wine's own WMI answers it
  Invalid,  // Win32_PnPSignedDriver with a condition we do not know
  Devices,
};

struct DeviceQuery {
  QueryKind kind = QueryKind::NotOurs;
  bool needHardwareId = false;
  bool needDriverVersion = false;
};

// WQL is case-insensitive and blanks between tokens do not matter.
DeviceQuery classifyQuery(std::wstring_view wql);

struct DeviceList {
  bool failed = false;  // the query fails (before_match, or too many devices)
  FailPoint failPoint = FailPoint::None;
  std::vector<DeviceRow> rows;
};

DeviceList listDevices(const MachineFile& machine, const DeviceQuery& query);

}  // namespace winetest::emulators
