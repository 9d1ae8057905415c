// The portable half of running a tool: the rules every start obeys, the
// order of start, wait, kill and output collection, and how their results
// fold into one outcome. The backends (platform/native_child.h) only make,
// watch, end and read a child's tree. No code of one platform belongs here.
#include <algorithm>
#include <exception>
#include <new>

#include "platform/ascii_text.h"
#include "platform/native_child.h"
#include "platform/process.h"
#include "platform/simulation.h"

namespace platform {

namespace native {

void reportEnded(const std::string& program, int32_t exitCode, bool killed) {
  if (const SimulationHooks* machine = simulation(); machine != nullptr && machine->ended != nullptr)
    machine->ended(program, exitCode, killed);
}

OutputCollector::OutputCollector(OutputSink sink, bool breakAtEnd, std::string program)
    : sink_(std::move(sink)), breakAtEnd_(breakAtEnd), program_(std::move(program)) {}

void OutputCollector::fail(uint32_t code, const std::string& why) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!error_.failed()) error_ = makeError(code, "ReadFile (standard output of " + program_ + ")" + why);
}

void OutputCollector::deliver(const char* data, size_t size) {
  if (sink_) {
    if (dropping_) return;
    try {
      sink_(std::string_view(data, size));
    } catch (const std::bad_alloc&) {
      dropping_ = true;
      fail(kErrorNotEnoughMemory, "");
    } catch (const std::exception& failure) {
      dropping_ = true;
      fail(kErrorGenericFailure, std::string(": ") + failure.what());
    } catch (...) {
      dropping_ = true;
      fail(kErrorGenericFailure, "");
    }
    return;
  }
  std::lock_guard<std::mutex> lock(mutex_);
  const size_t room = kMaxCapturedOutput - std::min(kept_.size(), kMaxCapturedOutput);
  try {
    kept_.append(data, std::min(size, room));
  } catch (const std::bad_alloc&) {
    // What fits is kept; the rest is drained and dropped like any excess.
  }
}

void OutputCollector::readFailed(uint32_t code) { fail(code != 0 ? code : kErrorGenericFailure, ""); }

void OutputCollector::finish() {
  if (breakAtEnd_) fail(kErrorGenericFailure, "");
}

std::string OutputCollector::take() {
  std::lock_guard<std::mutex> lock(mutex_);
  return std::exchange(kept_, std::string());
}

Error OutputCollector::error() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return error_;
}

}  // namespace native

bool isWindowsProgramName(std::string_view program) {
  const size_t dot = program.find_last_of(".\\/");
  if (dot == std::string_view::npos || program[dot] != '.') return false;
  const std::string extension = lowerAscii(program.substr(dot));
  return extension == ".exe" || extension == ".com";
}

namespace {

std::string folderOf(const std::string& program) {
  const size_t slash = program.find_last_of("\\/");
  return slash == std::string::npos ? std::string() : program.substr(0, slash == 2 ? 3 : slash);
}

}  // namespace

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
    if (!isWindowsProgramName(start.program)) {
      error = makeError(kErrorBadExeFormat,
                        operation + " (only a Windows program, a .exe or .com file, is started)");
      return StartOutcome::CannotStart;
    }
    const SimulationHooks* machine = simulation();
    SimulatedStart knobs;
    if (machine != nullptr && machine->beforeStart != nullptr) knobs = machine->beforeStart(start.program);
    if (knobs.noProcess) return StartOutcome::NoProcess;

    native::ChildRequest request;
    request.program = start.program;
    request.arguments = start.arguments;
    request.captureOutput = start.captureOutput;
    request.outlivesOwner = start.outlivesOwner;
    request.folder = start.folder.empty() ? folderOf(start.program) : start.folder;
    request.tempFolder = start.tempFolder;
    if (machine != nullptr && machine->childVariables != nullptr) {
      for (const std::string& variable : machine->childVariables()) {
        const size_t equals = variable.find('=');
        if (equals != std::string::npos)
          request.machineVariables.emplace_back(variable.substr(0, equals), variable.substr(equals + 1));
      }
    }
    std::unique_ptr<native::OutputCollector> output;
    if (start.captureOutput)
      output = std::make_unique<native::OutputCollector>(start.sink, knobs.breakOutput, start.program);
    auto impl = std::make_unique<Impl>();
    if (const StartOutcome prepared = native::prepareChild(request, std::move(output), impl->child, error);
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
  return native::waitForExit(*impl_->child, simulatedTimeoutMs(timeoutMs), error);
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
    ProcessStart start{run.program, run.arguments, run.captureOutput, run.outputSink};
    start.folder = run.folder;
    start.tempFolder = run.tempFolder;
    start.outlivesOwner = run.outlivesOwner;
    switch (child.start(start, result.error)) {
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
      try {
        run.whileRunning(running);
      } catch (...) {
        // A failure of ours does not cut a flash short: it gets its limit.
        Error ignored;
        if (run.outlivesOwner && child.wait(run.timeoutMs, ignored) == WaitOutcome::TimedOut)
          ignoreFailure(child.kill());
        throw;
      }
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
