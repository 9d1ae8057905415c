// The portable half of running a tool: the rules every start obeys, the
// order of start, wait, kill and output collection, and how their results
// fold into one outcome. The backends (platform/native_child.h) only make,
// watch, end and read a child's tree. No code of one platform belongs here.
#include <new>

#include "platform/native_child.h"
#include "platform/process.h"
#include "platform/simulation.h"

namespace platform {

namespace native {

void reportEnded(const std::string& program, int32_t exitCode, bool killed) {
  if (const SimulationHooks* machine = simulation(); machine != nullptr && machine->ended != nullptr)
    machine->ended(program, exitCode, killed);
}

}  // namespace native

struct ChildProcess::Impl {
  native::ChildPtr child;
};

ChildProcess::ChildProcess() = default;
ChildProcess::~ChildProcess() = default;

StartOutcome ChildProcess::start(const ProcessStart& start, Error& error) {
  error = Error{};
  const std::string operation = "CreateProcess " + start.program;
  // A second start must never end a child that may be writing a VBIOS.
  if (impl_ != nullptr && impl_->child != nullptr && !native::hasExited(*impl_->child)) {
    error = makeError(kErrorInvalidParameter, operation + " (a child is still running)");
    return StartOutcome::Failed;
  }
  impl_.reset();  // the previous child's tree, handles and reader

  try {
    const SimulationHooks* machine = simulation();
    SimulatedStart knobs;
    if (machine != nullptr && machine->beforeStart != nullptr) knobs = machine->beforeStart(start.program);
    if (knobs.noProcess) return StartOutcome::NoProcess;

    native::ChildRequest request{start.program, start.arguments, start.captureOutput, knobs.breakOutput,
                                 start.sink};
    auto impl = std::make_unique<Impl>();
    if (const StartOutcome prepared = native::prepareChild(request, impl->child, error);
        prepared != StartOutcome::Started)
      return prepared;
    // Before the process exists, so the trace shows the start ahead of
    // anything the child itself records.
    if (machine != nullptr && machine->started != nullptr) machine->started(start.program, start.arguments);
    if (const StartOutcome launched = native::launchChild(*impl->child, error);
        launched != StartOutcome::Started) {
      if (machine != nullptr && machine->notStarted != nullptr) machine->notStarted(start.program);
      return launched;
    }
    impl_ = std::move(impl);
    return StartOutcome::Started;
  } catch (const std::bad_alloc&) {
    error = makeError(kErrorNotEnoughMemory, operation);
    return StartOutcome::Failed;
  }
}

bool ChildProcess::hasExited() { return impl_ == nullptr || native::hasExited(*impl_->child); }

WaitOutcome ChildProcess::wait(uint32_t timeoutMs, Error& error) {
  error = Error{};
  if (impl_ == nullptr) {
    error = makeError(kErrorInvalidParameter, "WaitForSingleObject (no process)");
    return WaitOutcome::Failed;
  }
  return native::waitForExit(*impl_->child, timeoutMs, error);
}

Error ChildProcess::kill() {
  if (impl_ == nullptr) return makeError(kErrorInvalidParameter, "TerminateProcess (no process)");
  return native::killTree(*impl_->child);
}

int32_t ChildProcess::exitCode() const { return impl_ == nullptr ? 0 : native::exitCode(*impl_->child); }

std::string ChildProcess::takeOutput() {
  return impl_ == nullptr ? std::string() : native::takeOutput(*impl_->child);
}

Error ChildProcess::outputError() const {
  return impl_ == nullptr ? Error{} : native::outputError(*impl_->child);
}

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
    switch (child.start({run.program, run.arguments, run.captureOutput, run.outputSink}, result.error)) {
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
