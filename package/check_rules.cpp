#include "package/check_rules.h"

#include <vector>

#include "common/result_codes.h"
#include "package/config_text.h"
#include "package/version_text.h"

namespace package {

bool isAmdPackageType(std::string_view type) { return type == "AMD" || type == "KRAMD"; }

bool hardwareIdMatches(std::string_view hardwareId, std::string_view prefix) {
  return !prefix.empty() && hardwareId.starts_with(prefix);
}

DriverVersionDecision decideDriverVersion(std::string_view required, std::string_view installed) {
  DriverVersionDecision decision;
  const std::vector<std::string_view> wanted = splitAt(required, '.');
  const std::vector<std::string_view> have = splitAt(installed, '.');
  if (wanted.size() != have.size()) {
    decision.code = result::kDriverTooOld;
    decision.formatMismatch = true;
    return decision;
  }
  const VersionComparison comparison = compareVersionComponents(have, wanted);
  switch (comparison.order) {
    case VersionOrder::Greater:
    case VersionOrder::Equal:
      decision.code = result::kSuccess;
      break;
    case VersionOrder::Less:
      decision.code = result::kDriverTooOld;
      break;
    case VersionOrder::NotANumber:
      decision.code = result::kDriverCheckFailed;
      decision.problem = "driver version component " +
                         describeNumberProblem(comparison.badComponent, comparison.problem, 32);
      break;
  }
  return decision;
}

UptodateDecision decideUptodate(bool amdType, std::string_view current, std::string_view package) {
  UptodateDecision decision;
  if (!amdType) {
    int64_t currentValue = 0, packageValue = 0;
    for (auto [text, value] : {std::pair{current, &currentValue}, std::pair{package, &packageValue}}) {
      if (const NumberParse parsed = parseInt64(text, *value); parsed != NumberParse::Ok) {
        decision.code = result::kUptodateCheckFailed;
        decision.problem = describeNumberProblem(text, parsed, 64);
        return decision;
      }
    }
    decision.code = currentValue >= packageValue ? result::kUpToDate : result::kSuccess;
    return decision;
  }
  const std::vector<std::string_view> packageVersion = splitAt(package, '.');
  const std::vector<std::string_view> currentVersion = splitAt(current, '.');
  if (packageVersion.size() != currentVersion.size() || packageVersion.size() < 2) {
    decision.code = result::kUnknownVersionFormat;
    return decision;
  }
  const VersionComparison comparison = compareVersionComponents(currentVersion, packageVersion);
  switch (comparison.order) {
    case VersionOrder::Greater:
      decision.code = result::kUpToDate;
      decision.newer = true;
      break;
    case VersionOrder::Equal:
      decision.code = result::kUpToDate;
      break;
    case VersionOrder::Less:
      decision.code = result::kSuccess;
      break;
    case VersionOrder::NotANumber:
      decision.code = result::kUptodateCheckFailed;
      decision.problem = describeNumberProblem(comparison.badComponent, comparison.problem, 32);
      break;
  }
  return decision;
}

}  // namespace package
