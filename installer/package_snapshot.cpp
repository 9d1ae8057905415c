#include "installer/package_snapshot.h"

#include <string>

#include "common/result_codes.h"
#include "installer/flash_step.h"
#include "package/copy_refusal.h"
#include "package/operation_failure.h"
#include "platform/error.h"

namespace {

constexpr const char* kFunction = "VBiosConfigs.readConfigs";

}  // namespace

PackageSnapshot::~PackageSnapshot() {
  if (folder_.isOpen()) platform::ignoreFailure(folder_.clear());
  if (toolTemp_.isOpen()) platform::ignoreFailure(toolTemp_.clear());
}

void PackageSnapshot::prepareToolTemp(VBiosConfigs& cfg) {
  platform::Error error = toolTemp_.open(kWorkingFolderParent, kToolTempBelow);
  logMovedAside(toolTemp_, *cfg.w);
  // What a run that died left behind is no tool's of this run.
  if (!error.failed()) error = toolTemp_.clear();
  if (error.failed()) {
    // The tools then get no TEMP, and Windows gives them its own folder,
    // which only the administrators may write: never the user's.
    cfg.OvLog("WARNING the tools get no TEMP folder: " + error.operation + ": " + error.message, *cfg.w);
    toolTemp_.close();
    return;
  }
  cfg.toolTemp = toolTemp_.path();
}

int32_t PackageSnapshot::take(const std::string& packageFolder, VBiosConfigs& cfg) {
  auto unreadable = [&](const std::string& detail) {
    // The lines of a configs.txt that could not be read, which is what a
    // package that cannot be taken amounts to.
    cfg.OvLog("Open configs.txt", *cfg.w);
    package::logFailure(cfg, "ERROR problem reading configs.txt ", detail);
    return result::kConfigUnreadable;
  };
  platform::Error error = folder_.open(kWorkingFolderParent, kPackageCopyBelow);
  logMovedAside(folder_, *cfg.w);
  if (error.failed() && error.code == platform::kErrorReparsePointEncountered) {
    return unreadable(package::describeProblem(
        kFunction, error.operation + " is a link or junction that leads elsewhere, so the package cannot be "
                                     "copied below it; nothing of it was read"));
  }
  // What a run that died left behind is not this package.
  if (!error.failed()) error = folder_.clear();
  platform::PinnedFolder::CopyOutcome copy{error, {}, {}};
  if (!error.failed()) copy = folder_.copyFolderIn(packageFolder, package::packageCopyBounds());
  if (copy.failed()) {
    // Nothing of a refused package is used, nor left behind.
    if (folder_.isOpen()) platform::ignoreFailure(folder_.clear());
    if (copy.refused.empty()) return unreadable(platform::describeFailure(copy.error, kFunction));
    const platform::CopyRefusal& refusal = copy.refused.front();
    return unreadable(package::describeProblem(
        kFunction, package::describeCopyRefusal(refusal, refusal.path) + "; nothing of it was read"));
  }
  copied_ = true;
  prepareToolTemp(cfg);
  cfg.myPath = folder_.path();
  cfg.VbConfig = folder_.path() + "\\configs.txt";
  return result::kSuccess;
}

void PackageSnapshot::discard(LogWriter& w) {
  if (toolTemp_.isOpen()) {
    if (const platform::Error error = toolTemp_.clear(); error.failed())
      OvLog(platform::describeFailure(error, "Program.removeToolTemp"), w);
    toolTemp_.close();
  }
  if (!folder_.isOpen()) return;
  if (const platform::Error error = folder_.clear(); error.failed())
    OvLog(platform::describeFailure(error, "Program.removePackageCopy"), w);
  folder_.close();
  copied_ = false;
}
