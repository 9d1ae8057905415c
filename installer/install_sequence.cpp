#include "installer/install_sequence.h"

#include <string>

#include "common/log.h"
#include "common/result_codes.h"
#include "hardware/power.h"
#include "installer/closing_steps.h"
#include "installer/flash_step.h"
#include "installer/package_snapshot.h"
#include "installer/state_record.h"
#include "package/vbios_configs.h"
#include "platform/error.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "platform/run_lock.h"
#include "platform/system.h"
#include "ui/dialogs.h"
#include "ui/toolkit/desktop_visibility.h"

using namespace OvVBiosInstaller;

namespace {

enum class ExitPath { Plain, Failure, DriverUpdate, Completion };

struct Outcome {
  int32_t code = result::kSuccess;
  ExitPath exit = ExitPath::Completion;
};

void logState(int32_t code, LogWriter& w) { OvLog("state " + std::to_string(code), w); }

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

// Steps 1 to 9. The first non-zero code ends them and picks the exit path.
Outcome runSteps(VBiosConfigs& cfg, const std::string& packageFolder, PackageSnapshot& snapshot, LogWriter& w,
                 BiosCheckForm& biosCheckForm, PowerModeForm& powerModeForm,
                 ProgressWindowThread& progressWindow) {
  Outcome out;
  auto fail = [&](int32_t code, ExitPath exit) {
    out.code = code;
    out.exit = exit;
    return out;
  };
  auto failAfterDriver = [&](int32_t code) {
    cfg.removeSDriver();
    return fail(code, ExitPath::Failure);
  };

  OvLog("STEP1: read configs", w);
  if (int32_t code = snapshot.take(packageFolder, cfg); code != 0) return fail(code, ExitPath::Failure);
  const int32_t readCode = cfg.readConfigs();
  BiosCheckForm::version = cfg.VbReqBiosText;
  if (readCode != 0) return fail(readCode, ExitPath::Failure);

  OvLog("STEP2: check HWID and set target device", w);
  if (int32_t code = cfg.setTargetVGA(); code != 0) return fail(code, ExitPath::Failure);

  OvLog("STEP3: check BIOS version", w);
  if (int32_t code = cfg.checkTargetBIOS(); code == result::kBiosTooOld) {
    showDialog(biosCheckForm, w);
    return fail(code, ExitPath::Plain);
  } else if (code != 0) {
    return fail(code, ExitPath::Failure);
  }

  OvLog("STEP4: check VGA driver version", w);
  if (int32_t code = cfg.checkTargetVGA(); code != 0) return fail(code, ExitPath::DriverUpdate);

  OvLog("STEP5: check VBIOS version", w);
  if (int32_t code = cfg.insallSDriver(); code != 0) return fail(code, ExitPath::Failure);

  OvLog("STEP6: get VBIOS version", w);
  if (int32_t code = cfg.getCurVbVersion(); code == result::kNvapiInitFailed) {
    // Only NVIDIA packages get here, and they install no driver.
    return fail(code, ExitPath::DriverUpdate);
  } else if (code != 0) {
    return failAfterDriver(code);
  }

  OvLog("STEP7: check VBIOS uptodate", w);
  if (int32_t code = cfg.checkUptodate(); code == result::kUpToDate) {
    RestartForm::restart = false;
    return fail(code, ExitPath::Completion);
  } else if (code != 0) {
    return failAfterDriver(code);
  }

  OvLog("STEP8: Check power mode", w);
  if (hardware::acLineStatus() == hardware::kAcOffline) {
    OvLog("DC mode", w);
    // A power dialog that could not be shown asked nobody: flashing on
    // battery is the user's choice only, so that counts as a stop.
    const bool asked = showDialog(powerModeForm, w);
    if (!asked) platform::writeStandardOutput("WARNING the power dialog could not be shown\n");
    if (!asked || PowerModeForm::results == 0) {
      OvLog("WARNING DC mode! Stop VBIOS installation process", w);
      cfg.removeSDriver();
      return fail(result::kPowerStop, ExitPath::Plain);
    }
  }
  OvLog("AC mode", w);

  OvLog("STEP9: Install VBIOS", w);
  int32_t flashCode;
  {
    // A notebook that sleeps while the tool writes can be left with no
    // readable VBIOS: awake until the flash step has ended, on every path.
    const platform::StayAwake awake;
    flashCode = flashVBios(cfg, snapshot.folder(), w, progressWindow);
  }
  if (flashCode != 0) return failAfterDriver(flashCode);
  return fail(result::kSuccess, ExitPath::Completion);
}

}  // namespace

int32_t runInstallation() {
  // First and last of all: one run at a time (a second double-click, a
  // deployment tool's retry), so that no two runs share the GPU, the driver,
  // the working folder or the log. A second run waits here for the first.
  platform::RunLock runLock;
  const platform::Error lockError = runLock.acquire();

  toolkit::EnableVisualStyles();
  toolkit::SetCompatibleTextRenderingDefault(false);

  // Released in reverse order on every path out, InstallFail first.
  RestartForm restartForm;
  SupportSiteForm supportSiteForm;
  PowerModeForm powerModeForm;
  BiosCheckForm biosCheckForm;
  InstallFail installFail;
  // Closed and joined before the dialogs go: a progress window left open by
  // a failed flash stays up behind the failure dialog until then.
  ProgressWindowThread progressWindow;

  // Without the folder the log cannot be opened; the run goes on regardless
  // and its lines still reach standard output.
  platform::ignoreFailure(platform::createDirectories(kLogFolder));
  const std::string programFolder = platform::programFolder();
  const std::string packageFolder = platform::joinPath(programFolder, "packages");
  LogWriter w;
  if (auto error = w.open(kLogPath); error.failed()) {
    platform::writeStandardOutput("WARNING cannot open " + std::string(kLogPath) + ": " + error.message +
                                  "\n");
  }
  OvLog(" ", w);
  OvLog("=== VBIOS Installer ===", w);
  if (lockError.failed())
    OvLog("WARNING another run is not kept out: " + lockError.operation + ": " + lockError.message, w);

  VBiosConfigs cfg(w);
  cfg.VbConfig = packageFolder + "\\configs.txt";
  // Everything after STEP1 reads the package from here.
  PackageSnapshot snapshot;

  Outcome outcome;
  if (programFolder.empty()) {
    // A bare "packages" would be read from wherever the program was started.
    OvLog("STEP1: read configs", w);
    OvLog("ERROR problem reading configs.txt ", w);
    OvLog(platform::describeProblem("VBiosConfigs.readConfigs",
                                    "the program's own folder has no Windows name, so the packages "
                                    "folder beside it cannot be named; nothing was read"),
          w);
    outcome = {result::kConfigUnreadable, ExitPath::Failure};
  } else {
    outcome = runSteps(cfg, packageFolder, snapshot, w, biosCheckForm, powerModeForm, progressWindow);
  }
  int32_t code = outcome.code;

  switch (outcome.exit) {
    case ExitPath::Plain:
      OvLog(" ", w);
      logState(code, w);
      recordState(code);
      break;
    case ExitPath::Failure:
      announceIfUnseen(installFail, w);
      OvLog(" ", w);
      logState(code, w);
      InstallFail::errorNum = code;
      InstallFail::VbType = cfg.VbType;
      recordState(code);
      toolkit::Run(installFail);
      break;
    case ExitPath::DriverUpdate:
      announceIfUnseen(supportSiteForm, w);
      OvLog(" ", w);
      platform::sleepMs(5000);
      logState(code, w);
      recordState(code);
      toolkit::Run(supportSiteForm);
      break;
    case ExitPath::Completion:
      code = runClosingSteps(code, cfg, w);
      announceIfUnseen(restartForm, w);
      logState(code, w);
      recordCompletion(code, cfg.VbReleaseVersion);
      toolkit::Run(restartForm);
      break;
  }
  removeWorkingRomCopy(cfg, w);
  snapshot.discard(w);
  return code;
}
