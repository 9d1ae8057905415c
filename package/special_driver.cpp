#include <exception>
#include <string>

#include "common/result_codes.h"
#include "common/tool_output.h"
#include "package/config_text.h"
#include "package/operation_failure.h"
#include "package/vbios_configs.h"
#include "platform/command_line.h"
#include "platform/process.h"

namespace {

// What differs between installing and removing the flash tool's driver.
struct DeviceConsoleCall {
  const char* function;
  const char* openingLine;
  std::string arguments;
  std::string loggedArguments;
  uint32_t timeoutMs;
  const char* timeoutLine;
  const char* exitCodePrefix;
  const char* notFoundLine;
  const char* exceptionLine;
  int32_t timeoutResult;
  int32_t exitCodeResult;
  int32_t errorResult;
};

int32_t runDeviceConsole(VBiosConfigs& configs, const DeviceConsoleCall& call) {
  try {
    configs.OvLog(call.openingLine, *configs.w);
    const std::string program = configs.myPath + "\\devcon64.exe";
    configs.OvLog(program, *configs.w);
    configs.OvLog(call.loggedArguments, *configs.w);

    platform::ProgramRun devcon;
    devcon.program = program;
    devcon.arguments = call.arguments;
    devcon.captureOutput = true;
    devcon.timeoutMs = call.timeoutMs;
    devcon.folder = configs.myPath;
    devcon.tempFolder = configs.toolTemp;
    ToolOutput output;
    devcon.outputSink = output.sink();
    const platform::ProgramResult run = platform::runProgram(devcon);
    switch (run.outcome) {
      case platform::RunOutcome::CannotStart:
        package::logFailure(configs, call.notFoundLine, run.error, call.function);
        return call.errorResult;
      case platform::RunOutcome::NoProcess:
        package::logFailure(configs, call.exceptionLine,
                            package::describeProblem(call.function, "no process was started for " + program));
        return call.errorResult;
      case platform::RunOutcome::Failed:
        package::logFailure(configs, call.exceptionLine, run.error, call.function);
        return call.errorResult;
      case platform::RunOutcome::TimedOut:
        configs.OvLog(call.timeoutLine, *configs.w);
        if (run.error.failed()) {  // the kill failed
          package::logFailure(configs, call.exceptionLine, run.error, call.function);
          return call.errorResult;
        }
        return call.timeoutResult;
      case platform::RunOutcome::Exited:
      case platform::RunOutcome::OutputBroken:
        break;
    }
    if (run.exitCode != 0) {
      configs.OvLog(call.exitCodePrefix + std::to_string(run.exitCode), *configs.w);
      return call.exitCodeResult;
    }
    // Output cut short by a broken pipe is a failed read, not a result.
    if (run.outcome == platform::RunOutcome::OutputBroken) {
      package::logFailure(configs, call.exceptionLine, run.error, call.function);
      return call.errorResult;
    }
    output.finish();
    configs.OvLog(output.keptText(), *configs.w);
    if (output.linesNotKept() > 0) {
      configs.OvLog(output.notKeptLine(), *configs.w);
      configs.OvLog(output.lastKeptText(), *configs.w);
    }
    return result::kSuccess;
  } catch (const std::exception& failure) {
    package::logFailure(configs, call.exceptionLine, package::describeProblem(call.function, failure.what()));
    return call.errorResult;
  }
}

}  // namespace

int32_t VBiosConfigs::insallSDriver() {
  if (!isAmdType()) return result::kSuccess;
  try {
    const std::string inf = myPath + "\\amdtools.inf";
    // Quoted so that a packages folder with blanks stays one argument.
    const std::string quotedInf = platform::quoteWindowsArgument(inf, platform::Quoting::Always);
    return runDeviceConsole(
        *this,
        {"VBiosConfigs.insallSDriver", "Install AMD Special Driver", "install " + quotedInf + " *AMDTOOLSDEV",
         "install " + inf + " *AMDTOOLSDEV", 20000, "ERROR Install AMD Special Driver timeout",
         "ERROR Install AMD Special Driver fail: ", "ERROR AMD Special Driver Installer not found",
         "ERROR AMD Special Driver Installer Exception", result::kDriverInstallTimeout,
         result::kDriverInstallFailed, result::kDriverInstallError});
  } catch (const std::exception& failure) {
    package::logFailure(*this, "ERROR AMD Special Driver Installer Exception",
                        package::describeProblem("VBiosConfigs.insallSDriver", failure.what()));
    return result::kDriverInstallError;
  }
}

int32_t VBiosConfigs::removeSDriver() {
  if (!isAmdType()) return result::kSuccess;
  try {
    return runDeviceConsole(
        *this, {"VBiosConfigs.removeSDriver", "Remove AMD Special Driver", "remove *AMDTOOLSDEV",
                "remove *AMDTOOLSDEV", 10000, "ERROR Remove AMD Special Driver timeout",
                "ERROR Remove AMD Special Driver fail: ", "ERROR AMD Special Driver Remover not found",
                "ERROR AMD Special Driver Remover Exception", result::kDriverRemoveFailed,
                result::kDriverRemoveFailed, result::kDriverRemoveError});
  } catch (const std::exception& failure) {
    package::logFailure(*this, "ERROR AMD Special Driver Remover Exception",
                        package::describeProblem("VBiosConfigs.removeSDriver", failure.what()));
    return result::kDriverRemoveError;
  }
}
