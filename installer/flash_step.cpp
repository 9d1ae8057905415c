#include "installer/flash_step.h"

#include <exception>
#include <functional>
#include <random>
#include <string>
#include <string_view>

#include "common/result_codes.h"
#include "common/tool_outcome.h"
#include "common/tool_output.h"
#include "installer/image_check.h"
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
// its detail entry, and the flash step's error code.
int32_t stopWithFlashError(const char* line, const std::string& detail, LogWriter& w) {
  OvLog(line, w);
  OvLog(detail, w);
  return result::kFlashError;
}

int32_t stopWithFlashError(const char* line, const platform::Error& error, LogWriter& w) {
  return stopWithFlashError(line, platform::describeFailure(error, kFunction), w);
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

// In the working folder, or in the folder made beside it when what stands
// there could not be moved.
std::string workingRomCopy(const VBiosConfigs& cfg, const platform::PinnedFolder& folder) {
  return platform::joinPath(folder.isOpen() ? folder.path() : std::string(kWorkingFolder), cfg.VbFlashCmd);
}

void addProgress(int32_t step) { InstallingForm::progress.fetch_add(step); }

// What one flash holds from its start to its end.
struct FlashRun {
  // The working folder's copy is removed at the end of the run; one made
  // beside it goes when the flash has ended, as no later run can find it.
  ~FlashRun() {
    if (workingFolder.isOpen() && workingFolder.path() != kWorkingFolder)
      platform::ignoreFailure(workingFolder.remove(romName));
  }
  // Held until the flash has ended: the tool reads the copy by its path.
  platform::PinnedFolder workingFolder;
  std::string romName;
  ToolOutput toolOutput;
  platform::ProgramRun run;
};

// Copies the ROM the package names into the working folder. Returns 0 or the
// flash step's error code.
int32_t prepareWorkingCopy(const VBiosConfigs& cfg, const std::string& packageFolder,
                           platform::PinnedFolder& workingFolder, LogWriter& w) {
  // Straight into the working folder: a folder below it would be one this
  // program did not make.
  if (!platform::isPlainName(cfg.VbFlashCmd)) {
    return stopWithFlashError(
        "ERROR VbFlashProcess Exception",
        package::describeProblem(kFunction, "the package names '" + cfg.VbFlashCmd +
                                                "', whose copy would go into a folder inside " +
                                                kWorkingFolder + "; nothing was copied or started"),
        w);
  }
  const platform::Error opened = workingFolder.open(kWorkingFolderParent, kWorkingFolderBelow);
  logMovedAside(workingFolder, w);
  if (opened.failed())
    return stopWithFlashError("ERROR VbFlashProcess Exception",
                              folderProblem(opened, "copied into it or started"), w);
  const std::string source = platform::joinPath(packageFolder, cfg.VbFlashCmd);
  OvLog("Copy: " + source + " -> " + workingRomCopy(cfg, workingFolder), w);
  if (auto error = workingFolder.copyIn(source, cfg.VbFlashCmd); error.failed())
    return stopWithFlashError("ERROR VbFlashProcess Exception", error, w);
  return result::kSuccess;
}

// What is run: the package's own flash program, or the flash tool writing a
// working copy of the ROM, its output read as it arrives. Returns 0 or the
// flash step's error code.
int32_t prepareRun(const VBiosConfigs& cfg, const std::string& packageFolder, FlashRun& flash, LogWriter& w) {
  // The name comes from the package. Joined to a folder it must stay inside
  // it: this program runs elevated, copies the file and deletes the copy at
  // every exit, so "..\..\Windows\System32\x.dll" or "C:\x" would reach
  // files that are not ours.
  if (!platform::isContainedRelativePath(cfg.VbFlashCmd)) {
    return stopWithFlashError(
        "ERROR VbFlashProcess Exception",
        package::describeProblem(kFunction, "the package names '" + cfg.VbFlashCmd +
                                                "', which is not a file name inside the "
                                                "package folder; nothing was copied or started"),
        w);
  }
  platform::ProgramRun& run = flash.run;
  run.timeoutMs = kFlashExitTimeoutMs;
  run.folder = packageFolder;
  run.tempFolder = cfg.toolTemp;
  // Should this program die mid-flash, the write goes on to its end: a
  // VBIOS cut off half-way is the surest way to a GPU that does not start.
  run.outlivesOwner = true;
  if (!cfg.isAmdType()) {
    run.program = platform::joinPath(packageFolder, cfg.VbFlashCmd);
    OvLog(run.program, w);
    return result::kSuccess;
  }
  if (const int32_t code = prepareWorkingCopy(cfg, packageFolder, flash.workingFolder, w);
      code != result::kSuccess)
    return code;
  if (const int32_t code = checkImageBeforeFlash(cfg, workingRomCopy(cfg, flash.workingFolder), w);
      code != result::kSuccess)
    return code;
  run.program = platform::joinPath(packageFolder, "amdvbflash.exe");
  OvLog(run.program, w);
  flash.romName = cfg.VbFlashCmd;
  run.arguments = "-fa -p 0 " + platform::quoteWindowsArgument(workingRomCopy(cfg, flash.workingFolder),
                                                               platform::Quoting::Always);
  OvLog(run.arguments, w);
  flash.toolOutput.watchFor(kFlashCompletedText);
  run.captureOutput = true;
  run.outputSink = flash.toolOutput.sink();
  return result::kSuccess;
}

// The bar advances by time, whatever the tool reports, and stops at 70
// until the tool has ended; the 90 s limit counts from there.
std::function<void(platform::RunningProgram&)> paceWhileRunning(
    Pacer& pacer, OvVBiosInstaller::ProgressWindowThread& progressWindow, LogWriter& w) {
  return [&pacer, &progressWindow, &w](platform::RunningProgram& child) {
    progressWindow.start();
    addProgress(10);
    for (;;) {
      pacer.wait(2000, 10000);
      if (InstallingForm::progress.load() < 70) addProgress(10);
      const bool exited = child.hasExited();
      if (!exited) OvLog(kLogFlashRunning, w);
      if (exited || InstallingForm::progress.load() >= 70) break;
    }
  };
}

// Starts the flash program, again after a pause while the start reports that
// no process was started, up to kFlashStartAttempts times.
platform::ProgramResult startWithRetries(const platform::ProgramRun& run, LogWriter& w) {
  for (int attempt = 1;; ++attempt) {
    platform::ProgramResult flashed = platform::runProgram(run);
    if (flashed.outcome != platform::RunOutcome::NoProcess) return flashed;
    OvLog("ERROR VbFlashProcess Start fail ", w);
    if (attempt == kFlashStartAttempts) return flashed;
    platform::sleepMs(kFlashStartRetryMs);
  }
}

// The flash tool's output as the log shows it: its first lines, what was left
// out, its last lines.
void logToolOutput(ToolOutput& toolOutput, LogWriter& w) {
  toolOutput.finish();
  for (std::string_view line : package::splitLines(toolOutput.keptText())) OvLog(line, w);
  if (toolOutput.linesNotKept() == 0) return;
  OvLog(toolOutput.notKeptLine(), w);
  const std::string lastLines = toolOutput.lastKeptText();
  for (std::string_view line : package::splitLines(lastLines)) OvLog(line, w);
}

// The code for how the flash program ended, 0 where its exit code says it
// did its work. After a time-out or a failing exit code the tool's own words
// follow the error line: support reads there why it failed.
int32_t mapOutcome(const platform::ProgramResult& flashed, FlashRun& flash, LogWriter& w) {
  const std::string& program = flash.run.program;
  const ToolVerdict verdict = judgeToolRun(
      flashed, {kFunction, program, "ERROR VbFlashProcess not found", "ERROR VbFlashProcess Exception",
                "ERROR VBIOS Flash Process timeout", "ERROR VbFlashProcess fail: ", result::kFlashTimeout,
                result::kFlashExitCode, result::kFlashError,
                program + " was not started after " + std::to_string(kFlashStartAttempts) + " attempts"});
  for (const std::string& entry : verdict.entries) OvLog(entry, w);
  if (verdict.code == result::kFlashTimeout || verdict.code == result::kFlashExitCode)
    logToolOutput(flash.toolOutput, w);
  return verdict.code;
}

// The flash tool's own word, in its output, that the flash is complete: its
// exit code alone does not say so. The output goes to the log first.
int32_t readToolVerdict(ToolOutput& toolOutput, const platform::ProgramResult& flashed, LogWriter& w) {
  logToolOutput(toolOutput, w);
  // Output cut short cannot prove the flash finished, even if the text is there.
  if (flashed.outcome == platform::RunOutcome::OutputBroken)
    return stopWithFlashError("ERROR VbFlashProcess Exception", flashed.error, w);
  // Anywhere in the output, also past what the log shows.
  if (!toolOutput.watchedSeen()) {
    OvLog("ERROR VbFlashProcess is not completed ", w);
    InstallingForm::progress.store(-1);
    return result::kFlashIncomplete;
  }
  return result::kSuccess;
}

int32_t runFlash(VBiosConfigs& cfg, const std::string& packageFolder, LogWriter& w,
                 OvVBiosInstaller::ProgressWindowThread& progressWindow) {
  Pacer pacer(platform::pacingSeed());
  FlashRun flash;
  if (const int32_t code = prepareRun(cfg, packageFolder, flash, w); code != result::kSuccess) return code;
  flash.run.whileRunning = paceWhileRunning(pacer, progressWindow, w);
  const platform::ProgramResult flashed = startWithRetries(flash.run, w);
  if (const int32_t code = mapOutcome(flashed, flash, w); code != result::kSuccess) return code;
  if (cfg.isAmdType()) {
    if (const int32_t code = readToolVerdict(flash.toolOutput, flashed, w); code != result::kSuccess)
      return code;
  }
  // Done: the bar runs on to its end at the same unhurried pace.
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
  for (const std::string& held : folder.notFreed())
    OvLog("WARNING in the way and cannot be moved aside, so this run works beside it: " + held, w);
}

int32_t flashVBios(VBiosConfigs& cfg, const std::string& packageFolder, LogWriter& w,
                   OvVBiosInstaller::ProgressWindowThread& progressWindow) {
  int32_t code;
  try {
    code = runFlash(cfg, packageFolder, w, progressWindow);
  } catch (const std::exception& failure) {
    return stopWithFlashError("ERROR VbFlashProcess Exception",
                              package::describeProblem(kFunction, failure.what()), w);
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
