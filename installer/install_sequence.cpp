#include "installer/install_sequence.h"

#include <string>

#include "common/log.h"
#include "common/result_code_table.h"
#include "common/result_codes.h"
#include "hardware/power.h"
#include "installer/closing_steps.h"
#include "installer/flash_step.h"
#include "installer/package_signature_step.h"
#include "installer/package_snapshot.h"
#include "installer/state_record.h"
#include "package/vbios_configs.h"
#include "platform/error.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "platform/run_lock.h"
#include "platform/shell.h"
#include "platform/system.h"
#include "ui/dialogs.h"
#include "ui/support_site.h"
#include "ui/toolkit/desktop_visibility.h"

using namespace OvVBiosInstaller;

namespace {

// A run that waits this long for another says so, lest it look hung.
constexpr uint32_t kRunLockNoticeMs = 5000;

void logState(int32_t code, LogWriter& w) { OvLog(std::string(kLogStatePrefix) + std::to_string(code), w); }

std::string unseenLine(const toolkit::Form& form) {
  return form.className + " taken as answered (" + toolkit::buttonName(form.safeButton) +
         ") because no one could see it";
}

// Shows a dialog modally. Where no one can see the desktop the toolkit takes
// its safe answer without showing it; the log is the only place that can say
// so, and it is written by this thread alone.
bool showDialog(toolkit::Form& form, LogWriter& w) {
  const bool shown = toolkit::Run(form);
  if (form.answeredUnseen) OvLog(unseenLine(form), w);
  return shown;
}

// The exit dialogs come after the state line, which stays the last line of
// the run with the blank line just before it (support staff and the log
// explainer read them there): a dialog that no one will see is said first.
void announceIfUnseen(const toolkit::Form& form, LogWriter& w) {
  if (!toolkit::DesktopVisible()) OvLog(unseenLine(form), w);
}

// The BIOS and driver dialogs open a support page through the desktop's
// shell, never from this elevated process; where there is no such shell the
// page is not opened, and the log says so with the address while it is still
// written (the driver dialog comes after the state line). A dialog no one can
// see opens nothing and is logged apart.
void announceIfPageCannotOpen(SupportPage page, LogWriter& w) {
  if (!toolkit::DesktopVisible()) return;
  const std::string whyNot = platform::webPagesCannotOpen();
  if (whyNot.empty()) return;
  OvLog("WARNING the support page " + currentSupportPageAddress(page) + " cannot be opened: " + whyNot, w);
}

// Steps 1 to 9. The first non-zero code ends them; where the run goes from
// there is the result code table's to say.
int32_t runSteps(VBiosConfigs& cfg, const std::string& packageFolder, PackageSnapshot& snapshot, LogWriter& w,
                 PowerModeForm& powerModeForm, ProgressWindowThread& progressWindow) {
  OvLog(logStepLine(1), w);
  if (int32_t code = snapshot.take(packageFolder, cfg); code != 0) return code;
  if (int32_t code = checkPackageCopySignature(snapshot.folder(), w); code != 0) return code;
  const int32_t readCode = cfg.readConfigs();
  BiosCheckForm::version = cfg.VbReqBiosText;
  if (readCode != 0) return readCode;

  OvLog(logStepLine(2), w);
  if (int32_t code = cfg.setTargetVGA(); code != 0) return code;

  OvLog(logStepLine(3), w);
  if (int32_t code = cfg.checkTargetBIOS(); code != 0) return code;

  OvLog(logStepLine(4), w);
  if (int32_t code = cfg.checkTargetVGA(); code != 0) return code;

  OvLog(logStepLine(5), w);
  if (int32_t code = cfg.insallSDriver(); code != 0) return code;

  OvLog(logStepLine(6), w);
  if (int32_t code = cfg.getCurVbVersion(); code != 0) return code;

  OvLog(logStepLine(7), w);
  if (int32_t code = cfg.checkUptodate(); code != 0) return code;

  OvLog(logStepLine(8), w);
  if (hardware::acLineStatus() == hardware::kAcOffline) {
    OvLog("DC mode", w);
    // A power dialog that could not be shown asked nobody: flashing on
    // battery is the user's choice only, so that counts as a stop.
    const bool asked = showDialog(powerModeForm, w);
    if (!asked) platform::writeStandardOutput("WARNING the power dialog could not be shown\n");
    if (!asked || PowerModeForm::results == 0) {
      OvLog("WARNING DC mode! Stop VBIOS installation process", w);
      return result::kPowerStop;
    }
  }
  OvLog("AC mode", w);

  OvLog(logStepLine(9), w);
  // A notebook that sleeps while the tool writes can be left with no
  // readable VBIOS: awake until the flash step has ended, on every path.
  const platform::StayAwake awake;
  return flashVBios(cfg, snapshot.folder(), w, progressWindow);
}

// The dialogs the main thread may show, released in reverse order on every
// path out, InstallFail first.
struct Dialogs {
  RestartForm restartForm;
  SupportSiteForm supportSiteForm;
  PowerModeForm powerModeForm;
  BiosCheckForm biosCheckForm;
  InstallFail installFail;
};

// Opens the log and writes a run's first lines. Without its folder the log
// cannot be opened; the run goes on regardless and its lines still reach
// standard output.
void startLog(LogWriter& w, const platform::Error& lockError, const platform::RunLock& runLock) {
  platform::ignoreFailure(platform::createDirectories(kLogFolder));
  if (auto error = w.open(kLogPath); error.failed() && !w.isOpen()) {
    platform::writeStandardOutput("WARNING cannot open " + std::string(kLogPath) + ": " + error.message +
                                  "\n");
  } else if (error.failed()) {
    // Written beside the log: said first there and on standard output, so
    // that whoever looks for the run in the log learns where it went.
    OvLog(loggedApartNotice(kLogPath, error, w.path()), w);
  }
  OvLog(kLogBlankLine, w);
  OvLog(kLogRunStart, w);
  for (const std::string& moved : runLock.movedAside())
    OvLog("WARNING not the administrators' own, so moved aside: " + moved, w);
  if (lockError.failed())
    OvLog("WARNING another run is not kept out: " + lockError.operation + ": " + lockError.message, w);
}

// A bare "packages" would be read from wherever the program was started.
int32_t stopWithoutProgramFolder(LogWriter& w) {
  OvLog(logStepLine(1), w);
  OvLog("ERROR problem reading configs.txt ", w);
  OvLog(platform::describeProblem("VBiosConfigs.readConfigs",
                                  "the program's own folder has no Windows name, so the packages "
                                  "folder beside it cannot be named; nothing was read"),
        w);
  return result::kConfigUnreadable;
}

// The exit the result code table gives `code`: the flash tool's driver
// removed where it was installed, the state line, the record and the exit's
// dialog. Returns the run's final code, which only the closing steps change.
int32_t takeExit(int32_t code, VBiosConfigs& cfg, Dialogs& dialogs, LogWriter& w) {
  const result::Explanation exit = result::explain(code);
  // Only after the codes that come once the flash tool's driver was
  // installed: a removal run before that would still show in the log.
  if (exit.removesDriver) cfg.removeSDriver();
  switch (exit.exit) {
    case result::ExitPath::BiosRequirement:
      announceIfPageCannotOpen(SupportPage::Bios, w);
      showDialog(dialogs.biosCheckForm, w);
      [[fallthrough]];
    case result::ExitPath::NoDialog:
      OvLog(kLogBlankLine, w);
      logState(code, w);
      recordState(code);
      break;
    case result::ExitPath::Completion:
      RestartForm::restart = exit.asksRestart;
      code = runClosingSteps(code, cfg, w);
      announceIfUnseen(dialogs.restartForm, w);
      logState(code, w);
      recordCompletion(code, cfg.VbReleaseVersion);
      toolkit::Run(dialogs.restartForm);
      break;
    case result::ExitPath::DriverUpdate:
      announceIfUnseen(dialogs.supportSiteForm, w);
      announceIfPageCannotOpen(SupportPage::Download, w);
      OvLog(kLogBlankLine, w);
      platform::sleepMs(5000);
      logState(code, w);
      recordState(code);
      toolkit::Run(dialogs.supportSiteForm);
      break;
    case result::ExitPath::Failure:
    case result::ExitPath::NotFinal:  // no step ends with one; shown as the failure it would be
      announceIfUnseen(dialogs.installFail, w);
      OvLog(kLogBlankLine, w);
      logState(code, w);
      InstallFail::errorNum = code;
      InstallFail::VbType = cfg.VbType;
      recordState(code);
      toolkit::Run(dialogs.installFail);
      break;
  }
  return code;
}

}  // namespace

int32_t runInstallation() {
  // First and last of all: one run at a time (a second double-click, a
  // deployment tool's retry), so that no two runs share the GPU, the driver,
  // the working folder or the log. A second run waits here for the first.
  platform::RunLock runLock;
  const platform::Error lockError = runLock.acquire(kRunLockNoticeMs, [] {
    platform::writeStandardOutput(
        "Another run of the installer is not finished yet; waiting for it to end\n");
  });

  toolkit::EnableVisualStyles();
  Dialogs dialogs;
  // Closed and joined before the dialogs go: a progress window left open by
  // a failed flash stays up behind the failure dialog until then.
  ProgressWindowThread progressWindow;

  const std::string programFolder = platform::programFolder();
  const std::string packageFolder = platform::joinPath(programFolder, "packages");
  LogWriter w;
  startLog(w, lockError, runLock);

  VBiosConfigs cfg(w);
  cfg.VbConfig = packageFolder + "\\configs.txt";
  // Everything after STEP1 reads the package from here.
  PackageSnapshot snapshot;

  int32_t code = programFolder.empty()
                     ? stopWithoutProgramFolder(w)
                     : runSteps(cfg, packageFolder, snapshot, w, dialogs.powerModeForm, progressWindow);
  code = takeExit(code, cfg, dialogs, w);
  removeWorkingRomCopy(cfg, w);
  snapshot.discard(w);
  return code;
}
