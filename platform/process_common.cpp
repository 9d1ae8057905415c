// The portable half of running a tool: the order of start, wait, kill and
// output collection, and how their results fold into one outcome. The
// backends only start, wait, kill and read.
#include <new>

#include "platform/process.h"

namespace platform {

namespace {

// Takes the output of a child that has ended (exited or killed).
void collectOutput(ChildProcess& child, ProgramResult& result) {
  result.output = child.takeOutput();
  result.outputError = child.outputError();
}

}  // namespace

ProgramResult runProgram(const ProgramRun& run) {
  ProgramResult result;
  try {
    ChildProcess child;
    switch (child.start({run.program, run.arguments, run.captureOutput}, result.error)) {
      case StartOutcome::Started:
        break;
      case StartOutcome::NoProcess:
        result.outcome = RunOutcome::NoProcess;
        return result;
      case StartOutcome::CannotStart:
        result.outcome = RunOutcome::CannotStart;
        return result;
      case StartOutcome::Failed:
        result.outcome = RunOutcome::Failed;
        return result;
    }

    if (run.whileRunning) {
      RunningProgram running(child);
      run.whileRunning(running);
    }

    switch (child.wait(run.timeoutMs, result.error)) {
      case WaitOutcome::Exited:
        result.exitCode = child.exitCode();
        collectOutput(child, result);
        result.outcome = result.outputError.failed() ? RunOutcome::OutputBroken : RunOutcome::Exited;
        if (result.outcome == RunOutcome::OutputBroken) result.error = result.outputError;
        return result;
      case WaitOutcome::TimedOut:
        result.outcome = RunOutcome::TimedOut;
        // A child that could not be killed still writes; its output is not
        // waited for.
        result.error = child.kill();
        if (!result.error.failed()) collectOutput(child, result);
        return result;
      case WaitOutcome::Failed:
        result.outcome = RunOutcome::Failed;
        return result;
    }
    return result;
  } catch (const std::bad_alloc&) {
    result = ProgramResult{};
    result.error = makeError(kErrorNotEnoughMemory, "CreateProcess " + run.program);
    return result;
  }
}

}  // namespace platform
