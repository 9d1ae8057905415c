#include "installer/image_check.h"

#include "common/result_codes.h"
#include "package/vbios_image.h"
#include "platform/error.h"
#include "platform/files.h"

namespace {

constexpr const char* kFunction = "Program.VbFlashProcess";

int32_t stop(const std::string& detailEntry, LogWriter& w) {
  OvLog("ERROR VbFlashProcess Exception", w);
  OvLog(detailEntry, w);
  return result::kFlashError;
}

int32_t refuse(const std::string& why, LogWriter& w) {
  return stop(platform::describeProblem(kFunction, why), w);
}

}  // namespace

int32_t checkImageBeforeFlash(const VBiosConfigs& cfg, const std::string& copy, LogWriter& w) {
  const std::string& name = cfg.VbFlashCmd;
  std::string bytes;
  if (const platform::Error read = platform::readFile(copy, bytes, package::kMaxVbiosImageBytes);
      read.failed()) {
    if (read.code == platform::kErrorFileTooLarge)
      return refuse(name + " " + package::kImageTooLarge + "; nothing was flashed", w);
    return stop(platform::describeFailure(read, kFunction), w);
  }
  const package::ImageReading image = package::readVbiosImage(bytes);
  if (!image.ok()) return refuse(name + " " + image.problem + "; nothing was flashed", w);
  const package::PciIds device = package::pciIdsOf(cfg.CurDeviceHWID);
  if (!device.vendor || !device.device)
    return refuse("this GPU's hardware ID '" + cfg.CurDeviceHWID + "' names no vendor and device to check " +
                      name + " against; nothing was flashed",
                  w);
  const package::ImageFit fit = package::fitImageToDevice(image.image, device, "this GPU is");
  if (!fit.refusal.empty()) return refuse(name + " " + fit.refusal + "; nothing was flashed", w);
  if (!fit.subsystemWarning.empty()) OvLog("WARNING " + name + " " + fit.subsystemWarning, w);
  return result::kSuccess;
}
