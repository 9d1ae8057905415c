#include <exception>
#include <vector>

#include "common/result_codes.h"
#include "package/config_text.h"
#include "package/operation_failure.h"
#include "package/read_configs.h"
#include "package/vbios_configs.h"
#include "package/version_text.h"
#include "platform/registry.h"

namespace {

constexpr const char* kFunction = "VBiosConfigs.checkTargetBIOS";

}  // namespace

int32_t VBiosConfigs::checkTargetBIOS() {
  try {
    if (VbReqBios == 1) return result::kSuccess;

    platform::RegistryString bios = platform::readRegistryString(package::kBiosRegistryKey, "BIOSVersion");
    std::string fullVersion;
    switch (bios.status) {
      case platform::RegistryStatus::Ok:
        fullVersion = bios.value;
        break;
      case platform::RegistryStatus::ValueMissing:
        // No value is no build at all, so any real requirement is unmet.
        fullVersion = "0.0";
        break;
      case platform::RegistryStatus::KeyMissing:
      case platform::RegistryStatus::Failed:
        package::logFailure(*this, "ERROR checkTargetBIOS fail", bios.error, kFunction);
        return result::kBiosCheckFailed;
    }
    OvLog("Full BIOS Version : " + fullVersion, *w);

    const std::vector<std::string_view> pieces = package::splitAt(fullVersion, '.');
    if (pieces.size() >= 2) {
      int32_t build = 0;
      const package::NumberParse parsed = package::parseInt32(pieces[1], build);
      if (parsed != package::NumberParse::Ok) {
        package::logFailure(
            *this, "ERROR checkTargetBIOS fail",
            package::describeProblem(kFunction,
                                     "BIOS build " + package::describeNumberProblem(pieces[1], parsed, 32)));
        return result::kBiosCheckFailed;
      }
      CurBios = build;
      OvLog("BIOS Version: " + std::to_string(CurBios), *w);
    } else {
      CurBios = 1;
    }

    if (CurBios < VbReqBios) {
      OvLog("WARNING BIOS Version: " + std::to_string(CurBios) +
                " < Req BIOS Version: " + std::to_string(VbReqBios),
            *w);
      return result::kBiosTooOld;
    }
    return result::kSuccess;
  } catch (const std::exception& error) {
    package::logFailure(*this, "ERROR checkTargetBIOS fail",
                        package::describeProblem(kFunction, error.what()));
    return result::kBiosCheckFailed;
  }
}
