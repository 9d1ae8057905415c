#include <exception>
#include <string>

#include "common/result_codes.h"
#include "common/tool_outcome.h"
#include "common/tool_output.h"
#include "package/config_text.h"
#include "package/operation_failure.h"
#include "package/vbios_configs.h"
#include "platform/command_line.h"
#include "platform/process.h"

namespace {

// What differs between installing and removing the flash tool's driver.
struct DeviceConsoleCall {
  const char* openingLine;
  std::string arguments;
  std::string loggedArguments;
  uint32_t timeoutMs;
  ToolCall tool;  // its program is filled in here
};

int32_t runDeviceConsole(VBiosConfigs& configs, const DeviceConsoleCall& call) {
  const ToolCall& tool = call.tool;
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
    ToolCall judged = tool;
    judged.program = program;
    const ToolVerdict verdict = judgeToolRun(run, judged);
    for (const std::string& entry : verdict.entries) package::logNoThrow(configs, entry);
    if (verdict.code != result::kSuccess) return verdict.code;
    // Output cut short by a broken pipe is a failed read, not a result.
    if (run.outcome == platform::RunOutcome::OutputBroken) {
      package::logFailure(configs, tool.exceptionLine, run.error, tool.function);
      return tool.failed;
    }
    output.finish();
    configs.OvLog(output.keptText(), *configs.w);
    if (output.linesNotKept() > 0) {
      configs.OvLog(output.notKeptLine(), *configs.w);
      configs.OvLog(output.lastKeptText(), *configs.w);
    }
    return result::kSuccess;
  } catch (const std::exception& failure) {
    package::logFailure(configs, tool.exceptionLine, package::describeProblem(tool.function, failure.what()));
    return tool.failed;
  }
}

}  // namespace

int32_t VBiosConfigs::insallSDriver() {
  if (!isAmdType()) return result::kSuccess;
  try {
    const std::string inf = myPath + "\\amdtools.inf";
    // Quoted so that a packages folder with blanks stays one argument.
    const std::string quotedInf = platform::quoteWindowsArgument(inf, platform::Quoting::Always);
    return runDeviceConsole(*this, {"Install AMD Special Driver",
                                    "install " + quotedInf + " *AMDTOOLSDEV",
                                    "install " + inf + " *AMDTOOLSDEV",
                                    20000,
                                    {"VBiosConfigs.insallSDriver",
                                     {},
                                     "ERROR AMD Special Driver Installer not found",
                                     "ERROR AMD Special Driver Installer Exception",
                                     "ERROR Install AMD Special Driver timeout",
                                     "ERROR Install AMD Special Driver fail: ",
                                     result::kDriverInstallTimeout,
                                     result::kDriverInstallFailed,
                                     result::kDriverInstallError,
                                     {}}});
  } catch (const std::exception& failure) {
    package::logFailure(*this, "ERROR AMD Special Driver Installer Exception",
                        package::describeProblem("VBiosConfigs.insallSDriver", failure.what()));
    return result::kDriverInstallError;
  }
}

int32_t VBiosConfigs::removeSDriver() {
  if (!isAmdType()) return result::kSuccess;
  try {
    return runDeviceConsole(*this, {"Remove AMD Special Driver",
                                    "remove *AMDTOOLSDEV",
                                    "remove *AMDTOOLSDEV",
                                    10000,
                                    {"VBiosConfigs.removeSDriver",
                                     {},
                                     "ERROR AMD Special Driver Remover not found",
                                     "ERROR AMD Special Driver Remover Exception",
                                     "ERROR Remove AMD Special Driver timeout",
                                     "ERROR Remove AMD Special Driver fail: ",
                                     result::kDriverRemoveFailed,
                                     result::kDriverRemoveFailed,
                                     result::kDriverRemoveError,
                                     {}}});
  } catch (const std::exception& failure) {
    package::logFailure(*this, "ERROR AMD Special Driver Remover Exception",
                        package::describeProblem("VBiosConfigs.removeSDriver", failure.what()));
    return result::kDriverRemoveError;
  }
}
