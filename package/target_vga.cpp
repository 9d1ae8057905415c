#include <exception>

#include "common/result_codes.h"
#include "hardware/pnp_devices.h"
#include "package/check_rules.h"
#include "package/operation_failure.h"
#include "package/vbios_configs.h"

namespace {

constexpr const char* kSetTargetFunction = "VBiosConfigs.setTargetVGA";
constexpr const char* kCheckTargetFunction = "VBiosConfigs.checkTargetVGA";
constexpr const char* kQueryWithDriverVersion =
    "Select * from Win32_PnPSignedDriver Where HardWareID != NULL And DriverVersion != NULL";
constexpr const char* kQueryAnyDriver = "Select * from Win32_PnPSignedDriver Where HardWareID != NULL";

}  // namespace

int32_t VBiosConfigs::setTargetVGA() {
  bool found = false;
  try {
    // An AMD package without a driver requirement never looks at the driver
    // version, so it also accepts a device that WMI lists without one.
    const bool needDriverVersion = !(isAmdType() && VbReqVGAVersion == "0.0.0.0");
    hardware::PnpDeviceQuery query;
    platform::Error failure = query.run(needDriverVersion ? kQueryWithDriverVersion : kQueryAnyDriver);
    while (!failure.failed() && !found) {
      hardware::PnpDevice device;
      const hardware::NextDevice next = query.next(device, failure);
      if (next == hardware::NextDevice::Failed && !failure.failed()) {
        failure = platform::makeError(platform::kErrorGenericFailure, "IEnumWbemClassObject::Next");
      }
      if (next != hardware::NextDevice::Device) break;
      for (int32_t i = 0; i < VbCount && i < kMaxRomEntries; ++i) {
        const VBiosInfo& entry = vb[i];
        if (!package::hardwareIdMatches(device.hardwareId, entry.vbHWID)) continue;
        if (needDriverVersion) {
          // Read once the device matches: a failure here comes after the match.
          if (failure = query.readDriverVersion(device); failure.failed()) {
            found = true;
            break;
          }
          // The query already excludes these; a backend that lists one anyway
          // must not make an empty text the target's driver version.
          if (!device.hasDriverVersion) break;
          CurVGAVersion = device.driverVersion;
          OvLog("VGAVersion: " + CurVGAVersion, *w);
        }
        CurHWID = entry.vbHWID;
        CurDeviceHWID = device.hardwareId;
        VbFlashCmd = entry.vbRom;
        VbRomVersion = entry.vbRomVersion;
        VbIsRawRom = entry.vbIsRawRom;
        OvLog("HWID: " + CurHWID + " is found", *w);
        OvLog("TargetID: " + std::to_string(i), *w);
        found = true;
        break;
      }
    }
    // Closed on every path; a failure to close counts like any other failure
    // of the enumeration, after the match or before it.
    const platform::Error closed = query.close();
    if (!failure.failed()) failure = closed;
    if (failure.failed()) {
      package::logFailure(*this, "ERROR check Win32_PnPSignedDriver fail", failure, kSetTargetFunction);
      if (found) return result::kDeviceSearchFailed;
    }
  } catch (const std::exception& error) {
    package::logFailure(*this, "ERROR check Win32_PnPSignedDriver fail",
                        package::describeProblem(kSetTargetFunction, error.what()));
    if (found) return result::kDeviceSearchFailed;
  }
  if (!found) {
    package::logNoThrow(*this, "ERROR HWID not found");
    return result::kHwidNotFound;
  }
  return result::kSuccess;
}

int32_t VBiosConfigs::checkTargetVGA() {
  try {
    if (VbReqVGAVersion == "0.0.0.0") return result::kSuccess;
    const package::DriverVersionDecision decision =
        package::decideDriverVersion(VbReqVGAVersion, CurVGAVersion);
    switch (decision.code) {
      case result::kSuccess:
        OvLog("VGA Version matches the requirement", *w);
        return decision.code;
      case result::kDriverTooOld:
        if (decision.formatMismatch) OvLog("ERROR checkTargetVGA unknown version format", *w);
        OvLog("WARNING VGA Version doesn't match the requirement", *w);
        return decision.code;
    }
    package::logFailure(*this, "ERROR checkTargetVGA fail",
                        package::describeProblem(kCheckTargetFunction, decision.problem));
    return result::kDriverCheckFailed;
  } catch (const std::exception& error) {
    package::logFailure(*this, "ERROR checkTargetVGA fail",
                        package::describeProblem(kCheckTargetFunction, error.what()));
    return result::kDriverCheckFailed;
  }
}
