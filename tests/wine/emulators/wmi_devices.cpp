#include "tests/wine/emulators/wmi_devices.h"

namespace winetest::emulators {
namespace {

std::string squeezed(std::wstring_view text) {
  std::string out;
  for (wchar_t c : text) {
    if (c == L' ' || c == L'\t' || c == L'\r' || c == L'\n') continue;
    if (c > 0x7F) return "\x01";  // no WQL we answer holds anything but ASCII
    out.push_back(static_cast<char>(c >= L'A' && c <= L'Z' ? c - L'A' + L'a' : c));
  }
  return out;
}

std::string trimmed(std::string_view text) {
  const auto blank = [](char c) { return c == ' ' || c == '\t'; };
  while (!text.empty() && blank(text.front())) text.remove_prefix(1);
  while (!text.empty() && blank(text.back())) text.remove_suffix(1);
  return std::string(text);
}

// "HardWareID | DriverVersion", the simulation's syntax; an empty part is a
// property WMI reports as NULL.
DeviceRow parseDevice(std::string_view line) {
  DeviceRow row;
  const size_t bar = line.find('|');
  std::string id = trimmed(line.substr(0, bar));
  if (!id.empty()) row.hardwareId = std::move(id);
  if (bar != std::string_view::npos) {
    std::string version = trimmed(line.substr(bar + 1));
    if (!version.empty()) row.driverVersion = std::move(version);
  }
  return row;
}

}  // namespace

DeviceQuery classifyQuery(std::wstring_view wql) {
  const std::string query = squeezed(wql);
  const std::string head = "select*fromwin32_pnpsigneddriver";
  DeviceQuery result;
  if (query.rfind(head, 0) != 0) {
    // "...from Win32_PnPSignedDriverX" or a projection of our class is still
    // ours to refuse, not Wine's to answer with no rows.
    if (query.find("win32_pnpsigneddriver") != std::string::npos) result.kind = QueryKind::Invalid;
    return result;
  }
  const std::string condition = query.substr(head.size());
  result.kind = QueryKind::Devices;
  if (condition.empty()) return result;
  if (condition == "wherehardwareid!=null") {
    result.needHardwareId = true;
  } else if (condition == "wherehardwareid!=nullanddriverversion!=null") {
    result.needHardwareId = result.needDriverVersion = true;
  } else {
    result.kind = QueryKind::Invalid;
  }
  return result;
}

DeviceList listDevices(const MachineFile& machine, const DeviceQuery& query) {
  DeviceList list;
  if (machine.readFailed()) {
    list.failed = true;
    return list;
  }
  if (!machine.present("pnp")) return list;
  std::string fail = machine.get("pnp", "fail").value_or("none");
  for (char& c : fail)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  if (fail == "before_match") {
    list.failed = true;
    list.failPoint = FailPoint::BeforeMatch;
    return list;
  }
  if (fail == "after_match") list.failPoint = FailPoint::AfterMatch;
  const std::vector<std::string> lines = machine.getAll("pnp", "device");
  if (lines.size() > kMaxDevices) {
    list.failed = true;
    return list;
  }
  for (const std::string& line : lines) {
    DeviceRow row = parseDevice(line);
    if (query.needHardwareId && !row.hardwareId) continue;
    if (query.needDriverVersion && !row.driverVersion) continue;
    list.rows.push_back(std::move(row));
  }
  return list;
}

}  // namespace winetest::emulators
