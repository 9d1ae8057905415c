// The simulated signed-driver device list: the [pnp] device lines of
// machine.ini, filtered the way WMI would filter them for the installer's
// queries.
#include "hardware/pnp_devices.h"

#include <algorithm>
#include <string>
#include <vector>

#include "platform/ascii_text.h"
#include "simulated/machine.h"

namespace hardware {
namespace {

// WBEM_E_FAILED: what the real backend reports when WMI itself gives up.
constexpr uint32_t kWbemFailed = 0x80041001u;

std::string trimmed(std::string_view text) {
  const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
  while (!text.empty() && blank(text.front())) text.remove_prefix(1);
  while (!text.empty() && blank(text.back())) text.remove_suffix(1);
  return std::string(text);
}

// WQL keywords and class names are case-insensitive; blanks are collapsed so
// "DriverVersion!=NULL" and "DriverVersion  !=  NULL" read the same.
std::string normalizedQuery(std::string_view wql) {
  std::string out;
  for (char c : wql) {
    if (c == ' ' || c == '\t' || c == '\r' || c == '\n') continue;
    out.push_back(platform::lowerAscii(c));
  }
  return out;
}

PnpDevice parseDeviceLine(std::string_view line) {
  PnpDevice device;
  const size_t bar = line.find('|');
  device.hardwareId = trimmed(line.substr(0, bar));
  if (bar != std::string_view::npos) {
    device.driverVersion = trimmed(line.substr(bar + 1));
    device.hasDriverVersion = !device.driverVersion.empty();
  }
  return device;
}

enum class FailPoint { None, BeforeMatch, AfterMatch };

FailPoint parseFailPoint(const std::string& text) {
  const std::string value = normalizedQuery(text);
  if (value == "before_match") return FailPoint::BeforeMatch;
  if (value == "after_match") return FailPoint::AfterMatch;
  return FailPoint::None;
}

}  // namespace

struct PnpDeviceQuery::Impl {
  bool running = false;
  std::vector<PnpDevice> devices;
  size_t position = 0;
  size_t returned = 0;
  FailPoint failPoint = FailPoint::None;
};

PnpDeviceQuery::PnpDeviceQuery() : impl_(std::make_unique<Impl>()) {}

PnpDeviceQuery::~PnpDeviceQuery() = default;

platform::Error PnpDeviceQuery::run(std::string_view wql) {
  *impl_ = Impl{};
  simulated::Trace("wmi.query").str("query", wql).write();

  const simulated::MachineIni ini = simulated::MachineIni::load();
  if (!ini.present("pnp")) {
    impl_->running = true;
    return {};
  }
  impl_->failPoint = parseFailPoint(ini.get("pnp", "fail", "none"));
  if (impl_->failPoint == FailPoint::BeforeMatch) {
    return platform::makeError(kWbemFailed, "IWbemServices::ExecQuery " + std::string(wql));
  }

  // An unknown class gives no rows, as WMI does; the only conditions the
  // installer writes are "HardWareID != NULL" and "DriverVersion != NULL".
  const std::string query = normalizedQuery(wql);
  impl_->running = true;
  if (query.find("fromwin32_pnpsigneddriver") == std::string::npos) return {};
  const bool needId = query.find("hardwareid!=null") != std::string::npos;
  const bool needVersion = query.find("driverversion!=null") != std::string::npos;

  for (const std::string& line : ini.getAll("pnp", "device")) {
    PnpDevice device = parseDeviceLine(line);
    if (needId && device.hardwareId.empty()) continue;
    if (needVersion && !device.hasDriverVersion) continue;
    impl_->devices.push_back(std::move(device));
  }
  return {};
}

NextDevice PnpDeviceQuery::next(PnpDevice& device, platform::Error& error) {
  if (!impl_->running) {
    error =
        platform::makeError(platform::kErrorInvalidParameter, "IEnumWbemClassObject::Next without a query");
    return NextDevice::Failed;
  }
  if (impl_->position >= impl_->devices.size()) return NextDevice::End;
  device = impl_->devices[impl_->position++];
  ++impl_->returned;
  return NextDevice::Device;
}

// The rows of machine.ini carry both properties; next() has read them.
platform::Error PnpDeviceQuery::readDriverVersion(PnpDevice&) { return {}; }

platform::Error PnpDeviceQuery::close() {
  const bool failAfterMatch =
      impl_->running && impl_->failPoint == FailPoint::AfterMatch && impl_->returned > 0;
  *impl_ = Impl{};
  if (failAfterMatch) return platform::makeError(kWbemFailed, "IEnumWbemClassObject::Release");
  return {};
}

}  // namespace hardware
