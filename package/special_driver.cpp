#include <exception>
#include <string>

#include "common/result_codes.h"
#include "package/config_text.h"
#include "package/operation_failure.h"
#include "package/vbios_configs.h"
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

    platform::ChildProcess child;
    platform::Error error;
    switch (child.start({program, call.arguments, true}, error)) {
      case platform::StartOutcome::Started:
        break;
      case platform::StartOutcome::CannotStart:
        package::logFailure(configs, call.notFoundLine, error, call.function);
        return call.errorResult;
      case platform::StartOutcome::NoProcess:
        package::logFailure(configs, call.exceptionLine,
                            package::describeProblem(call.function, "no process was started for " + program));
        return call.errorResult;
      case platform::StartOutcome::Failed:
        package::logFailure(configs, call.exceptionLine, error, call.function);
        return call.errorResult;
    }

    switch (child.wait(call.timeoutMs, error)) {
      case platform::WaitOutcome::Exited:
        break;
      case platform::WaitOutcome::TimedOut:
        configs.OvLog(call.timeoutLine, *configs.w);
        if (platform::Error killed = child.kill(); killed.failed()) {
          package::logFailure(configs, call.exceptionLine, killed, call.function);
          return call.errorResult;
        }
        return call.timeoutResult;
      case platform::WaitOutcome::Failed:
        package::logFailure(configs, call.exceptionLine, error, call.function);
        return call.errorResult;
    }
    if (const int32_t exitCode = child.exitCode(); exitCode != 0) {
      configs.OvLog(call.exitCodePrefix + std::to_string(exitCode), *configs.w);
      return call.exitCodeResult;
    }
    const std::string output = package::decodeText(child.takeOutput());
    // Output cut short by a broken pipe is a failed read, not a result.
    if (platform::Error broken = child.outputError(); broken.failed()) {
      package::logFailure(configs, call.exceptionLine, broken, call.function);
      return call.errorResult;
    }
    configs.OvLog(output, *configs.w);
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
    return runDeviceConsole(
        *this,
        {"VBiosConfigs.insallSDriver", "Install AMD Special Driver", "install \"" + inf + "\" *AMDTOOLSDEV",
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
