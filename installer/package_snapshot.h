// The package as it was when the run started. The packages folder beside the
// program is the user's: any program the user runs may change it while this
// program, elevated, reads its configs.txt, installs its driver and starts
// its tools. So the run copies it once, before anything in it is read, into a
// folder only the administrators and the system can reach, and uses nothing
// but that copy until the end.
#pragma once

#include <cstdint>
#include <string>

#include "common/log.h"
#include "package/vbios_configs.h"
#include "platform/pinned_folder.h"

inline constexpr const char* kPackageCopyBelow = "Orvo\\Package";
// The tools' TEMP and TMP, so that nothing they write lands in the user's.
inline constexpr const char* kToolTempBelow = "Orvo\\Temp";

class PackageSnapshot {
 public:
  PackageSnapshot() = default;
  ~PackageSnapshot();  // removes the copy, as discard() does, without a log
  PackageSnapshot(const PackageSnapshot&) = delete;
  PackageSnapshot& operator=(const PackageSnapshot&) = delete;

  // Copies `packageFolder` into C:\ProgramData\Orvo\Package, clearing what an
  // earlier run that died left there first, and points `cfg` (configs.txt,
  // the tools, the driver) at the copy and the tools at an empty
  // C:\ProgramData\Orvo\Temp. Returns 0, or 102 with the lines of
  // an unreadable configs.txt and a detail entry that names why: no packages
  // folder, a link in the package, a package over the bounds.
  int32_t take(const std::string& packageFolder, VBiosConfigs& cfg);

  // The copy's folder; empty before take() has succeeded.
  const std::string& folder() const { return copied_ ? folder_.path() : empty_; }

  // Deletes the copy and empties the tools' folder; a failure is logged and
  // the next run clears it.
  void discard(LogWriter& w);

 private:
  void prepareToolTemp(VBiosConfigs& cfg);

  platform::PinnedFolder folder_;
  platform::PinnedFolder toolTemp_;
  bool copied_ = false;
  std::string empty_;
};
