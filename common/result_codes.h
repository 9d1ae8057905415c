// Every result code a run can end with; the same value is logged as the
// state line, recorded as State and returned as the exit code.
#pragma once

#include <cstdint>
#include <optional>

namespace result {

inline constexpr int32_t kSuccess = 0;
inline constexpr int32_t kUpToDate = 1;
inline constexpr int32_t kConfigNotFound = 101;
inline constexpr int32_t kConfigUnreadable = 102;
inline constexpr int32_t kConfigIncomplete = 103;
inline constexpr int32_t kPackageNotSigned = 104;
inline constexpr int32_t kDeviceSearchFailed = 201;
inline constexpr int32_t kHwidNotFound = 202;
inline constexpr int32_t kBiosTooOld = 301;
inline constexpr int32_t kBiosCheckFailed = 302;
inline constexpr int32_t kDriverTooOld = 402;
inline constexpr int32_t kDriverCheckFailed = 403;
inline constexpr int32_t kDriverInstallTimeout = 1001;
inline constexpr int32_t kDriverInstallFailed = 1002;
inline constexpr int32_t kDriverInstallError = 1003;
inline constexpr int32_t kDriverRemoveFailed = 1101;
inline constexpr int32_t kDriverRemoveError = 1103;
inline constexpr int32_t kVersionReadTimeout = 2001;
inline constexpr int32_t kVersionReadExitCode = 2002;
inline constexpr int32_t kVersionReadError = 2003;
inline constexpr int32_t kNoVersion = 2004;
inline constexpr int32_t kNvapiInitFailed = 2005;
inline constexpr int32_t kNvapiNoGpu = 2006;
inline constexpr int32_t kNvapiNoRevision = 2007;
inline constexpr int32_t kUnknownVersionFormat = 701;
inline constexpr int32_t kUptodateCheckFailed = 702;
inline constexpr int32_t kPowerStop = 901;
inline constexpr int32_t kFlashTimeout = 902;
inline constexpr int32_t kFlashExitCode = 903;
inline constexpr int32_t kFlashIncomplete = 904;
inline constexpr int32_t kFlashError = 905;
// A completion exit whose closing steps failed ends with
// kClosingStepsBase + the dock controller part + the host link part.
inline constexpr int32_t kClosingStepsBase = 3000;

// The dock controller update's part, 1 to 5.
namespace dock_ec {
inline constexpr int32_t kWritten = 0;
inline constexpr int32_t kGenFailed = 1;  // nothing was written
// GEN written, the VBIOS item not: NVAPI Initialize, EnumPhysicalGPUs, the
// version text, or the write itself failed.
inline constexpr int32_t kNvapiInitializeFailed = 2;
inline constexpr int32_t kNvapiEnumFailed = 3;
inline constexpr int32_t kNvapiVersionFailed = 4;
inline constexpr int32_t kVbiosFailed = 5;
}  // namespace dock_ec

// The host PCIe link restore's part, 10 or 20.
namespace dock_link {
inline constexpr int32_t kDone = 0;           // Gen4 already, or switched back
inline constexpr int32_t kNoDevice = 10;      // \\.\ZELACPI did not open
inline constexpr int32_t kSwitchFailed = 20;  // DEVS did not reply 1
}  // namespace dock_link

// The completion exit's final code: `code` (0 or 1) while both closing steps
// did their work, kClosingStepsBase + the two parts when either failed.
constexpr int32_t foldClosingResults(int32_t code, int32_t dockPart, int32_t linkPart) {
  if (dockPart > 0 || linkPart > 0) return kClosingStepsBase + dockPart + linkPart;
  return code;
}

struct ClosingParts {
  int32_t dock = dock_ec::kWritten;
  int32_t link = dock_link::kDone;
};

// foldClosingResults taken back: the two parts of a closing steps' code, or
// nothing for a code no pair of parts folds into.
constexpr std::optional<ClosingParts> closingParts(int32_t code) {
  // Compared before subtracting: a code read from a log may be INT32_MIN.
  if (code <= kClosingStepsBase) return std::nullopt;
  const int32_t rest = code - kClosingStepsBase;
  const int32_t link = rest >= dock_link::kSwitchFailed ? dock_link::kSwitchFailed
                       : rest >= dock_link::kNoDevice   ? dock_link::kNoDevice
                                                        : dock_link::kDone;
  const int32_t dock = rest - link;
  if (dock > dock_ec::kVbiosFailed) return std::nullopt;
  return ClosingParts{dock, link};
}

}  // namespace result
