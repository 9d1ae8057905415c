#include "installer/flash_step.h"

#include <exception>
#include <random>
#include <string>
#include <string_view>

#include "common/result_codes.h"
#include "common/tool_output.h"
#include "package/config_text.h"
#include "package/operation_failure.h"
#include "platform/command_line.h"
#include "platform/error.h"
#include "platform/files.h"
#include "platform/folder_names.h"
#include "platform/paths.h"
#include "platform/pinned_folder.h"
#include "platform/process.h"
#include "platform/system.h"

using OvVBiosInstaller::InstallingForm;

namespace {

constexpr const char* kFunction = "Program.VbFlashProcess";

class Pacer {
 public:
  explicit Pacer(uint64_t seed) : random_(seed) {}
  // Sleeps a whole number of milliseconds drawn uniformly from [low, high).
  void wait(uint32_t low, uint32_t high) {
    std::uniform_int_distribution<uint32_t> pick(low, high - 1);
    platform::sleepMs(pick(random_));
  }

 private:
  std::mt19937_64 random_;
};

// Every stop of the flash step that is not the tool's own outcome: the log line,
// its detail entry, and 905.
int32_t stopWith905(const char* line, const std::string& detail, LogWriter& w) {
  OvLog(line, w);
  OvLog(detail, w);
  return result::kFlashError;
}

int32_t stopWith905(const char* line, const platform::Error& error, LogWriter& w) {
  return stopWith905(line, platform::describeFailure(error, kFunction), w);
}

std::string redirectionProblem(const std::string& redirected, const char* notDone) {
  return package::describeProblem(kFunction, redirected + " is a link or junction that leads elsewhere, so " +
                                                 kWorkingFolder + " is not the working folder; nothing was " +
                                                 notDone);
}

// The detail entry for a working folder that could not be opened as ours.
std::string folderProblem(const platform::Error& error, const char* notDone) {
  if (error.code == platform::kErrorReparsePointEncountered)
    return redirectionProblem(error.operation, notDone);
  return platform::describeFailure(error, kFunction);
}

void addProgress(int32_t step) { InstallingForm::progress.fetch_add(step); }

int32_t runFlash(VBiosConfigs& cfg, const std::string& packageFolder, LogWriter& w,
                 OvVBiosInstaller::ProgressWindowThread& progressWindow) {
  const bool amd = cfg.isAmdType();
  bool completed = false;
  Pacer pacer(platform::pacingSeed());

  // The name comes from the package. Joined to a folder it must stay inside
  // it: this program runs elevated, copies the file and deletes the copy at
  // every exit, so "..\..\Windows\System32\x.dll" or "C:\x" would reach
  // files that are not ours.
  if (!platform::isContainedRelativePath(cfg.VbFlashCmd)) {
    return stopWith905(
        "ERROR VbFlashProcess Exception",
        package::describeProblem(kFunction, "the package names '" + cfg.VbFlashCmd +
                                                "', which is not a file name inside the "
                                                "package folder; nothing was copied or started"),
        w);
  }

  platform::PinnedFolder workingFolder;
  platform::ProgramRun run;
  ToolOutput toolOutput;
  toolOutput.watchFor(kFlashCompletedText);
  run.timeoutMs = kFlashExitTimeoutMs;
  if (!amd) {
    run.program = platform::joinPath(packageFolder, cfg.VbFlashCmd);
    OvLog(run.program, w);
  } else {
    // Straight into the working folder: a folder below it would be one this
    // program did not make.
    if (!platform::isPlainName(cfg.VbFlashCmd)) {
      return stopWith905(
          "ERROR VbFlashProcess Exception",
          package::describeProblem(kFunction, "the package names '" + cfg.VbFlashCmd +
                                                  "', whose copy would go into a folder inside " +
                                                  kWorkingFolder + "; nothing was copied or started"),
          w);
    }
    // Held until the flash has ended: the tool reads the copy by its path.
    const platform::Error opened = workingFolder.open(kWorkingFolderParent, kWorkingFolderBelow);
    logMovedAside(workingFolder, w);
    if (opened.failed())
      return stopWith905("ERROR VbFlashProcess Exception", folderProblem(opened, "copied into it or started"),
                         w);
    const std::string source = platform::joinPath(packageFolder, cfg.VbFlashCmd);
    const std::string copy = platform::joinPath(kWorkingFolder, cfg.VbFlashCmd);
    OvLog("Copy: " + source + " -> " + copy, w);
    if (auto error = workingFolder.copyIn(source, cfg.VbFlashCmd); error.failed())
      return stopWith905("ERROR VbFlashProcess Exception", error, w);
    run.program = platform::joinPath(packageFolder, "amdvbflash.exe");
    OvLog(run.program, w);
    run.arguments = "-fa -p 0 " + platform::quoteWindowsArgument(copy, platform::Quoting::Always);
    OvLog(run.arguments, w);
    run.captureOutput = true;
    run.outputSink = toolOutput.sink();
  }

  // The bar advances by time, whatever the tool reports, and stops at 70
  // until the tool has ended; the 90 s limit counts from there.
  run.whileRunning = [&](platform::RunningProgram& child) {
    progressWindow.start();
    addProgress(10);
    for (;;) {
      pacer.wait(2000, 10000);
      if (InstallingForm::progress.load() < 70) addProgress(10);
      const bool exited = child.hasExited();
      if (!exited) OvLog("VbFlashProcess is running ", w);
      if (exited || InstallingForm::progress.load() >= 70) break;
    }
  };

  platform::ProgramResult flashed;
  for (int attempt = 1;; ++attempt) {
    flashed = platform::runProgram(run);
    if (flashed.outcome != platform::RunOutcome::NoProcess) break;
    OvLog("ERROR VbFlashProcess Start fail ", w);
    if (attempt == kFlashStartAttempts) {
      return stopWith905(
          "ERROR VbFlashProcess Exception",
          package::describeProblem(kFunction, run.program + " was not started after " +
                                                  std::to_string(kFlashStartAttempts) + " attempts"),
          w);
    }
    platform::sleepMs(kFlashStartRetryMs);
  }

  switch (flashed.outcome) {
    case platform::RunOutcome::CannotStart:
      return stopWith905("ERROR VbFlashProcess not found", flashed.error, w);
    case platform::RunOutcome::NoProcess:  // five times: handled above
    case platform::RunOutcome::Failed:
      return stopWith905("ERROR VbFlashProcess Exception", flashed.error, w);
    case platform::RunOutcome::TimedOut:
      OvLog("ERROR VBIOS Flash Process timeout", w);
      if (flashed.error.failed())  // the kill failed
        return stopWith905("ERROR VbFlashProcess Exception", flashed.error, w);
      return result::kFlashTimeout;
    case platform::RunOutcome::Exited:
    case platform::RunOutcome::OutputBroken:
      break;
  }
  if (flashed.exitCode != 0) {
    OvLog("ERROR VbFlashProcess fail: " + std::to_string(flashed.exitCode), w);
    return result::kFlashExitCode;
  }

  if (!amd) {
    completed = true;
  } else {
    toolOutput.finish();
    for (std::string_view line : package::splitLines(toolOutput.keptText())) OvLog(line, w);
    if (toolOutput.linesNotKept() > 0) OvLog(toolOutput.notKeptLine(), w);
    // Anywhere in the output, also past what the log shows.
    completed = toolOutput.watchedSeen();
    // Output cut short cannot prove the flash finished, even if the text is there.
    if (flashed.outcome == platform::RunOutcome::OutputBroken)
      return stopWith905("ERROR VbFlashProcess Exception", flashed.error, w);
    if (!completed) {
      OvLog("ERROR VbFlashProcess is not completed ", w);
      InstallingForm::progress.store(-1);
      return result::kFlashIncomplete;
    }
  }

  while (InstallingForm::progress.load() < 100) {
    pacer.wait(500, 2500);
    addProgress(10);
  }
  return result::kSuccess;
}

}  // namespace

void logMovedAside(const platform::PinnedFolder& folder, LogWriter& w) {
  for (const std::string& moved : folder.movedAside())
    OvLog("WARNING not the administrators' own, so moved aside: " + moved, w);
}

int32_t flashVBios(VBiosConfigs& cfg, const std::string& packageFolder, LogWriter& w,
                   OvVBiosInstaller::ProgressWindowThread& progressWindow) {
  int32_t code;
  try {
    code = runFlash(cfg, packageFolder, w, progressWindow);
  } catch (const std::exception& failure) {
    return stopWith905("ERROR VbFlashProcess Exception", package::describeProblem(kFunction, failure.what()),
                       w);
  }
  if (code != result::kSuccess) return code;
  // The progress window closes itself in this time.
  platform::sleepMs(2000);
  return result::kSuccess;
}

void removeWorkingRomCopy(const VBiosConfigs& cfg, LogWriter& w) {
  if (cfg.VbFlashCmd.empty()) return;
  // Never delete outside the working folder, whatever the package says; a
  // name with a folder in it was never copied.
  if (!platform::isPlainName(cfg.VbFlashCmd)) return;
  const std::string copy = platform::joinPath(kWorkingFolder, cfg.VbFlashCmd);
  // Nothing there and nothing leading elsewhere: nothing was copied (an
  // NVIDIA package, or a stop before the flash), and no folder is made.
  if (!platform::fileExists(copy) && !platform::isLinkOrReparsePoint(copy) &&
      platform::firstRedirection(kWorkingFolder).empty())
    return;
  platform::PinnedFolder folder;
  if (auto error =
          folder.open(kWorkingFolderParent, kWorkingFolderBelow, platform::PinnedFolder::Make::Never);
      error.failed()) {
    if (error.code == platform::kErrorFileNotFound || error.code == platform::kErrorPathNotFound) return;
    OvLog(folderProblem(error, "deleted"), w);
    return;
  }
  const platform::Error error = folder.remove(cfg.VbFlashCmd);
  if (!error.failed() || error.code == platform::kErrorFileNotFound) return;
  OvLog(error.message, w);
}
