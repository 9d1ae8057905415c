#include "platform/process.h"

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <new>
#include <string>
#include <system_error>
#include <thread>
#include <utility>

#include "platform/simulation.h"
#include "platform/win32/scoped_handle.h"
#include "platform/win32/wide_text.h"

namespace platform {

namespace {

constexpr DWORD kPipeBufferBytes = 64 * 1024;

bool isCannotStart(DWORD code) {
  switch (code) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_ACCESS_DENIED:
    case ERROR_BAD_EXE_FORMAT:
    case ERROR_EXE_MACHINE_TYPE_MISMATCH:
      return true;
    default:
      return false;
  }
}

Error lastError(const char* function, std::string_view subject) {
  const DWORD code = GetLastError();
  return makeError(code != 0 ? code : kErrorGenericFailure,
                   std::string(function) + " " + std::string(subject));
}

// Reads the child's standard output from the server end of an overlapped
// pipe, so that a stop request can always interrupt a read: a synchronous
// read blocks until every holder of the write end has closed it.
struct OutputReader {
  win32::ScopedHandle pipe;
  win32::ScopedHandle readDone;  // the overlapped read's event
  win32::ScopedHandle stop;      // set: give up on the rest of the output
  win32::ScopedHandle finished;  // set by the thread on its way out

  std::mutex mutex;
  std::string output;      // guarded by mutex while the thread runs
  Error readError;         // a read that failed other than by the pipe's end
  bool failAtEnd = false;  // a simulated machine breaks the pipe after the output
  char buffer[16 * 1024];

  void fail(const char* function) {
    const DWORD code = GetLastError();
    // The end of the output and our own cancel are not failures.
    if (code == ERROR_BROKEN_PIPE || code == ERROR_HANDLE_EOF || code == ERROR_OPERATION_ABORTED) return;
    std::lock_guard<std::mutex> lock(mutex);
    readError =
        makeError(code != 0 ? code : kErrorGenericFailure, std::string(function) + " (standard output)");
  }

  void keep(DWORD count) {
    std::lock_guard<std::mutex> lock(mutex);
    const size_t room = kMaxCapturedOutput - std::min(output.size(), kMaxCapturedOutput);
    try {
      output.append(buffer, std::min<size_t>(count, room));
    } catch (const std::bad_alloc&) {
      // What fits is kept; the rest is drained and dropped like any excess.
    }
  }

  void run() {
    for (;;) {
      OVERLAPPED overlapped{};
      overlapped.hEvent = readDone.get();
      DWORD count = 0;
      if (!ReadFile(pipe.get(), buffer, sizeof buffer, nullptr, &overlapped)) {
        if (GetLastError() != ERROR_IO_PENDING) {
          fail("ReadFile");  // ERROR_BROKEN_PIPE: every writer is gone
          break;
        }
        const HANDLE events[2] = {readDone.get(), stop.get()};
        if (WaitForMultipleObjects(2, events, FALSE, INFINITE) != WAIT_OBJECT_0) {
          CancelIoEx(pipe.get(), &overlapped);
          // The buffer stays in use until the cancelled read completes.
          if (GetOverlappedResult(pipe.get(), &overlapped, &count, TRUE)) keep(count);
          break;
        }
      }
      if (!GetOverlappedResult(pipe.get(), &overlapped, &count, FALSE)) {
        fail("GetOverlappedResult");
        break;
      }
      keep(count);
    }
    if (failAtEnd) {
      std::lock_guard<std::mutex> lock(mutex);
      if (!readError.failed()) readError = makeError(kErrorGenericFailure, "ReadFile (standard output)");
    }
    SetEvent(finished.get());
  }
};

std::wstring uniquePipeName() {
  static std::atomic<unsigned> counter{0};
  return L"\\\\.\\pipe\\ovvb-output-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
         std::to_wstring(counter.fetch_add(1)) + L"-" + std::to_wstring(GetTickCount64());
}

}  // namespace

struct ChildProcess::Impl {
  std::string program;
  win32::ScopedHandle process;
  bool ended = false;  // exit code recorded
  int32_t exitCode = 0;
  std::unique_ptr<OutputReader> reader;
  std::thread readerThread;

  ~Impl() {
    if (process && !ended && WaitForSingleObject(process.get(), 0) == WAIT_TIMEOUT) {
      TerminateProcess(process.get(), 1);
      if (WaitForSingleObject(process.get(), kKillWaitMs) == WAIT_OBJECT_0) recordExit(true);
    }
    finishReader();
  }

  void recordExit(bool killed = false) {
    DWORD code = 0;
    if (GetExitCodeProcess(process.get(), &code)) exitCode = static_cast<int32_t>(code);
    ended = true;
    if (const SimulationHooks* machine = simulation(); machine != nullptr && machine->ended != nullptr)
      machine->ended(program, exitCode, killed);
  }

  // Called once the child is gone: lets the output drain, then stops the
  // reader if something else still holds the pipe open.
  void finishReader() {
    if (!readerThread.joinable()) return;
    // Only a grandchild that inherited the write end can keep the pipe
    // open this long, and it is not waited for.
    if (WaitForSingleObject(reader->finished.get(), kOutputDrainAfterExitMs) != WAIT_OBJECT_0)
      SetEvent(reader->stop.get());
    readerThread.join();
  }

  StartOutcome startCaptured(std::wstring& commandLine, const std::wstring& application, Error& error);
};

ChildProcess::ChildProcess() = default;
ChildProcess::~ChildProcess() = default;

StartOutcome ChildProcess::start(const ProcessStart& start, Error& error) {
  error = Error{};
  if (impl_ && impl_->process && !hasExited()) {
    error =
        makeError(ERROR_INVALID_PARAMETER, "CreateProcessW " + start.program + " (a child is still running)");
    return StartOutcome::Failed;
  }
  impl_.reset();  // the previous child's handles and reader
  const SimulationHooks* machine = simulation();
  SimulatedStart knobs;
  if (machine != nullptr && machine->beforeStart != nullptr) knobs = machine->beforeStart(start.program);
  if (knobs.noProcess) return StartOutcome::NoProcess;
  try {
    impl_ = std::make_unique<Impl>();
    impl_->program = start.program;
    const std::wstring application = win32::toWide(start.program);
    // The program is quoted in the command line as well, because the child
    // parses its own argv[0] from it; CreateProcessW uses the application
    // name to find the file, so no search path is involved.
    std::wstring commandLine = L"\"" + application + L"\"";
    if (!start.arguments.empty()) commandLine += L" " + win32::toWide(start.arguments);

    STARTUPINFOEXW startup{};
    startup.StartupInfo.cb = sizeof startup;
    startup.StartupInfo.dwFlags = STARTF_USESHOWWINDOW;
    startup.StartupInfo.wShowWindow = SW_HIDE;
    DWORD flags = CREATE_NO_WINDOW | CREATE_UNICODE_ENVIRONMENT;
    BOOL inheritHandles = FALSE;

    win32::ScopedHandle childOutput;
    win32::ScopedHandle childNul;
    win32::ScopedAttributeList attributes;
    HANDLE inherited[2] = {};
    if (start.captureOutput) {
      auto reader = std::make_unique<OutputReader>();
      reader->failAtEnd = knobs.breakOutput;
      const std::wstring pipeName = uniquePipeName();
      reader->pipe.reset(CreateNamedPipeW(
          pipeName.c_str(), PIPE_ACCESS_INBOUND | FILE_FLAG_OVERLAPPED | FILE_FLAG_FIRST_PIPE_INSTANCE,
          PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS, 1, kPipeBufferBytes,
          kPipeBufferBytes, 0, nullptr));
      if (!reader->pipe) {
        error = lastError("CreateNamedPipeW", start.program);
        return StartOutcome::Failed;
      }
      reader->readDone.reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
      reader->stop.reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
      reader->finished.reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
      if (!reader->readDone || !reader->stop || !reader->finished) {
        error = lastError("CreateEventW", start.program);
        return StartOutcome::Failed;
      }
      // Only these two handles are made inheritable, and the attribute list
      // below restricts inheritance to exactly them: the child must not keep
      // any other handle of ours (the log, another child's pipe) alive.
      SECURITY_ATTRIBUTES inheritable{sizeof inheritable, nullptr, TRUE};
      childOutput.reset(CreateFileW(pipeName.c_str(), GENERIC_WRITE, 0, &inheritable, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
      if (!childOutput) {
        error = lastError("CreateFileW", "(output pipe of " + start.program + ")");
        return StartOutcome::Failed;
      }
      childNul.reset(CreateFileW(L"NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                 &inheritable, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
      if (!childNul) {
        error = lastError("CreateFileW", "NUL");
        return StartOutcome::Failed;
      }
      inherited[0] = childOutput.get();
      inherited[1] = childNul.get();
      if (!attributes.initialize(1) ||
          !UpdateProcThreadAttribute(attributes.get(), 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, inherited,
                                     sizeof inherited, nullptr, nullptr)) {
        error = lastError("UpdateProcThreadAttribute", start.program);
        return StartOutcome::Failed;
      }
      startup.StartupInfo.dwFlags |= STARTF_USESTDHANDLES;
      startup.StartupInfo.hStdInput = childNul.get();
      startup.StartupInfo.hStdOutput = childOutput.get();
      startup.StartupInfo.hStdError = childNul.get();
      startup.lpAttributeList = attributes.get();
      flags |= EXTENDED_STARTUPINFO_PRESENT;
      inheritHandles = TRUE;
      impl_->reader = std::move(reader);
    }

    if (machine != nullptr && machine->started != nullptr) machine->started(start.program, start.arguments);
    PROCESS_INFORMATION info{};
    if (!CreateProcessW(application.c_str(), commandLine.data(), nullptr, nullptr, inheritHandles, flags,
                        nullptr, nullptr, &startup.StartupInfo, &info)) {
      const DWORD code = GetLastError();
      if (machine != nullptr && machine->notStarted != nullptr) machine->notStarted(start.program);
      error = makeError(code != 0 ? code : kErrorGenericFailure, "CreateProcessW " + start.program);
      impl_.reset();
      return isCannotStart(code) ? StartOutcome::CannotStart : StartOutcome::Failed;
    }
    impl_->process.reset(info.hProcess);
    win32::ScopedHandle thread(info.hThread);
    // From here only the child holds the write end, so its exit ends the pipe.
    childOutput.reset();
    childNul.reset();

    if (impl_->reader) {
      try {
        impl_->readerThread = std::thread([reader = impl_->reader.get()] { reader->run(); });
      } catch (const std::system_error& failure) {
        // Without a reader the child would block on a full pipe; it is
        // stopped rather than left running unobserved.
        error = makeError(kErrorGenericFailure, "reader thread for " + start.program + ": " + failure.what());
        impl_.reset();
        return StartOutcome::Failed;
      }
    }
    return StartOutcome::Started;
  } catch (const std::bad_alloc&) {
    impl_.reset();
    error = makeError(ERROR_NOT_ENOUGH_MEMORY, "CreateProcessW " + start.program);
    return StartOutcome::Failed;
  }
}

bool ChildProcess::hasExited() {
  if (!impl_ || !impl_->process) return true;  // nothing is running
  if (impl_->ended) return true;
  if (WaitForSingleObject(impl_->process.get(), 0) != WAIT_OBJECT_0) return false;
  impl_->recordExit();
  return true;
}

WaitOutcome ChildProcess::wait(uint32_t timeoutMs, Error& error) {
  error = Error{};
  if (!impl_ || !impl_->process) {
    error = makeError(ERROR_INVALID_HANDLE, "WaitForSingleObject (no process)");
    return WaitOutcome::Failed;
  }
  if (impl_->ended) return WaitOutcome::Exited;
  switch (WaitForSingleObject(impl_->process.get(), simulatedTimeoutMs(timeoutMs))) {
    case WAIT_OBJECT_0:
      impl_->recordExit();
      return WaitOutcome::Exited;
    case WAIT_TIMEOUT:
      return WaitOutcome::TimedOut;
    default:
      error = lastError("WaitForSingleObject", impl_->program);
      return WaitOutcome::Failed;
  }
}

Error ChildProcess::kill() {
  if (!impl_ || !impl_->process) return makeError(ERROR_INVALID_HANDLE, "TerminateProcess (no process)");
  if (!impl_->ended) {
    const bool terminated = TerminateProcess(impl_->process.get(), 1);
    if (!terminated) {
      // Access is denied to a process that has just ended on its own.
      const Error error = lastError("TerminateProcess", impl_->program);
      if (WaitForSingleObject(impl_->process.get(), 0) != WAIT_OBJECT_0) return error;
    }
    const DWORD waited = WaitForSingleObject(impl_->process.get(), kKillWaitMs);
    if (waited == WAIT_TIMEOUT) return makeError(WAIT_TIMEOUT, "TerminateProcess " + impl_->program);
    if (waited != WAIT_OBJECT_0) return lastError("WaitForSingleObject", impl_->program);
    impl_->recordExit(terminated);
  }
  impl_->finishReader();
  return {};
}

int32_t ChildProcess::exitCode() const { return impl_ ? impl_->exitCode : 0; }

std::string ChildProcess::takeOutput() {
  if (!impl_ || !impl_->reader) return {};
  if (!hasExited()) {
    // Still running: whatever has arrived so far.
    std::lock_guard<std::mutex> lock(impl_->reader->mutex);
    return std::exchange(impl_->reader->output, std::string());
  }
  impl_->finishReader();
  return std::exchange(impl_->reader->output, std::string());
}

Error ChildProcess::outputError() const {
  if (!impl_ || !impl_->reader) return {};
  std::lock_guard<std::mutex> lock(impl_->reader->mutex);
  return impl_->reader->readError;
}

}  // namespace platform
