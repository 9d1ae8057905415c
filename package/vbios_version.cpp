#include <exception>
#include <string>
#include <vector>

#include "common/result_codes.h"
#include "common/tool_outcome.h"
#include "common/tool_output.h"
#include "hardware/nvapi.h"
#include "package/check_rules.h"
#include "package/config_text.h"
#include "package/operation_failure.h"
#include "package/vbios_configs.h"
#include "package/version_text.h"
#include "platform/process.h"

namespace {

constexpr const char* kGetVersionFunction = "VBiosConfigs.getCurVbVersion";
constexpr const char* kUptodateFunction = "VBiosConfigs.checkUptodate";
constexpr uint32_t kVersionReadTimeoutMs = 20000;

// Runs amdvbflash -ai and takes the version from its "Bios Version" lines.
// What the tool printed counts even after a time-out or a failing exit code.
int32_t readAmdVersion(VBiosConfigs& configs) {
  int32_t code = result::kSuccess;
  try {
    configs.OvLog("Check AMD VBios Version", *configs.w);
    const std::string program = configs.myPath + "\\amdvbflash.exe";
    configs.OvLog(program, *configs.w);
    configs.OvLog("-ai", *configs.w);

    platform::ProgramRun adapterInfo;
    adapterInfo.program = program;
    adapterInfo.arguments = "-ai";
    adapterInfo.captureOutput = true;
    adapterInfo.timeoutMs = kVersionReadTimeoutMs;
    adapterInfo.folder = configs.myPath;
    adapterInfo.tempFolder = configs.toolTemp;
    // Only the version lines are kept; the rest is read and dropped.
    ToolOutput output(package::isBiosVersionLine);
    adapterInfo.outputSink = output.sink();
    const platform::ProgramResult run = platform::runProgram(adapterInfo);
    const ToolVerdict verdict = judgeToolRun(run, {kGetVersionFunction,
                                                   program,
                                                   "ERROR amdvbflash not found",
                                                   "ERROR amdvbflash -ai Exception",
                                                   "ERROR Get AMD VBios Version timeout",
                                                   "ERROR amdvbflash -ai fail: ",
                                                   result::kVersionReadTimeout,
                                                   result::kVersionReadExitCode,
                                                   result::kVersionReadError,
                                                   {}});
    for (const std::string& entry : verdict.entries) package::logNoThrow(configs, entry);
    code = verdict.code;
    // Only what a tool that ended printed counts, by itself or killed after
    // the time-out.
    if (verdict.ended) {
      output.finish();
      const auto takeVersions = [&configs](const std::string& lines) {
        for (std::string_view line : package::splitLines(lines)) {
          configs.OvLog(line, *configs.w);
          configs.CurVbVersion = package::versionFromBiosVersionLine(line);
          configs.OvLog("CurVbVersion: " + configs.CurVbVersion, *configs.w);
        }
      };
      takeVersions(output.keptText());
      // Past the log's bound the last version line still decides: the last
      // lines are always kept.
      if (output.linesNotKept() > 0) configs.OvLog(output.notKeptLine(), *configs.w);
      takeVersions(output.lastKeptText());
    }
    // A pipe that broke after a version line leaves that version in place
    // but the read failed: 2003, or 2004 below if nothing was read.
    if (run.outputError.failed()) {
      package::logFailure(configs, "ERROR amdvbflash -ai Exception", run.outputError, kGetVersionFunction);
      code = result::kVersionReadError;
    }
  } catch (const std::exception& failure) {
    package::logFailure(configs, "ERROR amdvbflash -ai Exception",
                        package::describeProblem(kGetVersionFunction, failure.what()));
    code = result::kVersionReadError;
  }
  if (configs.CurVbVersion == package::kNoVbiosVersion) {
    package::logNoThrow(configs, "ERROR fail to get VBIOS version");
    code = result::kNoVersion;
  }
  return code;
}

// Unloads the interface once, on whichever path leaves after a successful
// Initialize.
class NvApiSession {
 public:
  explicit NvApiSession(hardware::NvApi& api) : api_(api) {}
  ~NvApiSession() { unload(); }
  NvApiSession(const NvApiSession&) = delete;
  NvApiSession& operator=(const NvApiSession&) = delete;
  void unload() {
    if (loaded_) api_.Unload();  // its status tells us nothing we could act on
    loaded_ = false;
  }

 private:
  hardware::NvApi& api_;
  bool loaded_ = true;
};

int32_t readNvidiaVersion(VBiosConfigs& configs) {
  bool initialized = false;
  try {
    hardware::NvApi api;
    if (api.Initialize() != hardware::kNvapiOk) {
      configs.OvLog("ERROR NvAPI_Initialize fail", *configs.w);
      return result::kNvapiInitFailed;
    }
    initialized = true;
    NvApiSession session(api);

    // Zeroed so that a driver reporting success without filling the list
    // hands NVAPI a null handle, which it refuses, rather than stack garbage.
    hardware::NvPhysicalGpuHandle gpus[hardware::kNvapiMaxPhysicalGpus] = {};
    uint32_t gpuCount = 0;
    if (api.EnumPhysicalGPUs(gpus, &gpuCount) != hardware::kNvapiOk) {
      session.unload();
      configs.OvLog("ERROR NvAPI_EnumPhysicalGPUs fail", *configs.w);
      return result::kNvapiNoGpu;
    }
    uint32_t revision = 0;
    if (api.GPU_GetVbiosRevision(gpus[0], &revision) != hardware::kNvapiOk) {
      session.unload();
      configs.OvLog("ERROR NvAPI_GPU_GetVbiosRevision fail", *configs.w);
      return result::kNvapiNoRevision;
    }
    uint32_t oemRevision = 0;
    if (api.GPU_GetVbiosOEMRevision(gpus[0], &oemRevision) != hardware::kNvapiOk) oemRevision = 0;
    // Not masked: an OEM revision above 255 carries into the revision part,
    // as the packages' version numbers were computed that way.
    const int64_t version = static_cast<int64_t>(revision) * 256 + static_cast<int64_t>(oemRevision);
    session.unload();

    configs.CurVbVersion = std::to_string(version);
    configs.OvLog("CurVbVersion: " + configs.CurVbVersion, *configs.w);
    return result::kSuccess;
  } catch (const std::exception& failure) {
    const std::string detail = package::describeProblem(kGetVersionFunction, failure.what());
    if (!initialized) {
      package::logFailure(configs, "ERROR NvAPI_Initialize fail", detail);
      return result::kNvapiInitFailed;
    }
    package::logFailure(configs, "ERROR NvAPI_GPU_GetVbiosRevision fail", detail);
    return result::kNvapiNoRevision;
  }
}

}  // namespace

int32_t VBiosConfigs::getCurVbVersion() {
  return isAmdType() ? readAmdVersion(*this) : readNvidiaVersion(*this);
}

int32_t VBiosConfigs::checkUptodate() {
  package::UptodateDecision decision;
  try {
    decision = package::decideUptodate(isAmdType(), CurVbVersion, VbRomVersion);
  } catch (const std::exception& failure) {
    decision.code = result::kUptodateCheckFailed;
    decision.problem = failure.what();
  }
  switch (decision.code) {
    case result::kUnknownVersionFormat:
      OvLog("ERROR checkUptodate unknown AMD VBios Version format", *w);
      return decision.code;
    case result::kUptodateCheckFailed:
      package::logFailure(*this, "ERROR checkUptodate fail",
                          package::describeProblem(kUptodateFunction, decision.problem));
      return decision.code;
  }
  if (decision.newer) OvLog(kLogUpToDate, *w);
  return decision.code;
}
