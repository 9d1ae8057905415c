// Child processes through CreateProcessW, each in a job object of its own so
// that a kill ends whatever the child started as well. Only what differs from
// the posix backend is here; the rules of a start are in process_common.cpp.
// No posix code belongs in this file.
#include <windows.h>

#include <algorithm>
#include <mutex>
#include <new>
#include <string>
#include <string_view>
#include <system_error>
#include <thread>
#include <utility>

#include "platform/native_child.h"
#include "platform/simulation.h"
#include "platform/win32/output_pipe.h"
#include "platform/win32/last_error.h"
#include "platform/win32/scoped_handle.h"
#include "platform/win32/wide_text.h"

namespace platform::native {

namespace {

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

using win32::lastError;

// Reads the child's standard output from the server end of an overlapped
// pipe, so that a stop request can always interrupt a read: a synchronous
// read blocks until every holder of the write end has closed it.
struct OutputReader {
  win32::ScopedHandle pipe;
  win32::ScopedHandle readDone;  // the overlapped read's event
  win32::ScopedHandle stop;      // set: give up on the rest of the output
  win32::ScopedHandle finished;  // set by the thread on its way out

  OutputSink sink;  // when set, the output goes here and none is kept
  std::mutex mutex;
  std::string output;      // guarded by mutex while the thread runs
  Error readError;         // a read that failed other than by the pipe's end
  bool failAtEnd = false;  // a simulated machine breaks the pipe after the output
  char buffer[256 * 1024];

  void fail(const char* function) {
    const DWORD code = GetLastError();
    // The end of the output and our own cancel are not failures.
    if (code == ERROR_BROKEN_PIPE || code == ERROR_HANDLE_EOF || code == ERROR_OPERATION_ABORTED) return;
    std::lock_guard<std::mutex> lock(mutex);
    readError =
        makeError(code != 0 ? code : kErrorGenericFailure, std::string(function) + " (standard output)");
  }

  void keep(DWORD count) {
    if (sink) {
      sink(std::string_view(buffer, count));
      return;
    }
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

// How many processes of the job still run; false if the system cannot say.
bool activeProcesses(HANDLE job, DWORD& count) {
  JOBOBJECT_BASIC_ACCOUNTING_INFORMATION accounting{};
  if (!QueryInformationJobObject(job, JobObjectBasicAccountingInformation, &accounting, sizeof accounting,
                                 nullptr))
    return false;
  count = accounting.ActiveProcesses;
  return true;
}

}  // namespace

struct Child {
  std::string program;
  std::wstring application;
  std::wstring commandLine;
  bool capture = false;

  // Made before the process, handed over or dropped at its start.
  win32::ScopedHandle childOutput;
  win32::ScopedHandle childNul;
  win32::ScopedAttributeList attributes;
  HANDLE inherited[2] = {};

  // The child's tree: the job ends everything in it when it is killed or,
  // should this process itself die, when its last handle closes.
  win32::ScopedHandle job;
  win32::ScopedHandle process;
  bool ended = false;  // exit code recorded
  int32_t exitCode = 0;
  std::unique_ptr<OutputReader> reader;
  std::thread readerThread;

  ~Child() {
    // After a normal end too: a helper the child left behind goes with it.
    if (process) static_cast<void>(endTree());
    finishReader();
  }

  void recordExit(bool killed) {
    DWORD code = 0;
    if (GetExitCodeProcess(process.get(), &code)) exitCode = static_cast<int32_t>(code);
    ended = true;
    reportEnded(program, exitCode, killed);
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

  // Ends every process of the job and waits, kKillWaitMs in all, until the
  // child has ended and the job is empty.
  Error endTree() {
    const ULONGLONG deadline = GetTickCount64() + kKillWaitMs;
    const auto left = [deadline] {
      const ULONGLONG now = GetTickCount64();
      return now >= deadline ? DWORD{0} : static_cast<DWORD>(deadline - now);
    };
    DWORD active = 0;
    if (ended && activeProcesses(job.get(), active) && active == 0) return {};
    const bool terminated = TerminateJobObject(job.get(), 1) != FALSE;
    if (!terminated) {
      const Error error = lastError("TerminateJobObject", program);
      // Access is denied to a process that has just ended on its own.
      if (!ended && WaitForSingleObject(process.get(), 0) != WAIT_OBJECT_0) return error;
    }
    if (!ended) {
      const DWORD waited = WaitForSingleObject(process.get(), left());
      if (waited == WAIT_TIMEOUT) return makeError(WAIT_TIMEOUT, "TerminateJobObject " + program);
      if (waited != WAIT_OBJECT_0) return lastError("WaitForSingleObject", program);
      recordExit(terminated);
    }
    for (;;) {
      if (!activeProcesses(job.get(), active)) return lastError("QueryInformationJobObject", program);
      if (active == 0) return {};
      if (left() == 0)
        return makeError(WAIT_TIMEOUT,
                         "TerminateJobObject " + program + " (a process it started still runs)");
      Sleep(5);
    }
  }
};

void ChildDeleter::operator()(Child* child) const noexcept { delete child; }

StartOutcome prepareChild(const ChildRequest& request, ChildPtr& child, Error& error) {
  auto made = ChildPtr(new Child);
  made->program = request.program;
  made->capture = request.captureOutput;
  made->application = win32::toWide(request.program);
  // The program is quoted in the command line as well, because the child
  // parses its own argv[0] from it; CreateProcessW uses the application
  // name to find the file, so no search path is involved.
  made->commandLine = L"\"" + made->application + L"\"";
  if (!request.arguments.empty()) made->commandLine += L" " + win32::toWide(request.arguments);

  made->job.reset(CreateJobObjectW(nullptr, nullptr));
  if (!made->job) {
    error = lastError("CreateJobObjectW", request.program);
    return StartOutcome::Failed;
  }
  // No breakaway is granted: nothing the child starts can leave the job.
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
  limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
  if (!SetInformationJobObject(made->job.get(), JobObjectExtendedLimitInformation, &limits, sizeof limits)) {
    error = lastError("SetInformationJobObject", request.program);
    return StartOutcome::Failed;
  }

  if (request.captureOutput) {
    auto reader = std::make_unique<OutputReader>();
    reader->failAtEnd = request.breakOutput;
    reader->sink = request.sink;
    win32::OutputPipe pipe;
    if (Error failed = win32::createOutputPipe(pipe); failed.failed()) {
      failed.operation += " for " + request.program;
      error = failed;
      return StartOutcome::Failed;
    }
    reader->pipe = std::move(pipe.server);
    reader->readDone.reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    reader->stop.reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    reader->finished.reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!reader->readDone || !reader->stop || !reader->finished) {
      error = lastError("CreateEventW", request.program);
      return StartOutcome::Failed;
    }
    // Only these two handles are made inheritable, and the attribute list
    // restricts inheritance to exactly them: the child must not keep any
    // other handle of ours (the log, another child's pipe) alive.
    SECURITY_ATTRIBUTES inheritable{sizeof inheritable, nullptr, TRUE};
    made->childOutput.reset(CreateFileW(pipe.name.c_str(), GENERIC_WRITE, 0, &inheritable, OPEN_EXISTING,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!made->childOutput) {
      error = lastError("CreateFileW", "(output pipe of " + request.program + ")");
      return StartOutcome::Failed;
    }
    made->childNul.reset(CreateFileW(L"NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                     &inheritable, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!made->childNul) {
      error = lastError("CreateFileW", "NUL");
      return StartOutcome::Failed;
    }
    made->inherited[0] = made->childOutput.get();
    made->inherited[1] = made->childNul.get();
    if (!made->attributes.initialize(1) ||
        !UpdateProcThreadAttribute(made->attributes.get(), 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST,
                                   made->inherited, sizeof made->inherited, nullptr, nullptr)) {
      error = lastError("UpdateProcThreadAttribute", request.program);
      return StartOutcome::Failed;
    }
    made->reader = std::move(reader);
  }
  child = std::move(made);
  return StartOutcome::Started;
}

StartOutcome launchChild(Child& child, Error& error) {
  STARTUPINFOEXW startup{};
  startup.StartupInfo.cb = sizeof startup;
  startup.StartupInfo.dwFlags = STARTF_USESHOWWINDOW;
  startup.StartupInfo.wShowWindow = SW_HIDE;
  // Suspended until it is in its job, so nothing it starts can be outside.
  DWORD flags = CREATE_NO_WINDOW | CREATE_UNICODE_ENVIRONMENT | CREATE_SUSPENDED;
  BOOL inheritHandles = FALSE;
  if (child.capture) {
    startup.StartupInfo.dwFlags |= STARTF_USESTDHANDLES;
    startup.StartupInfo.hStdInput = child.childNul.get();
    startup.StartupInfo.hStdOutput = child.childOutput.get();
    startup.StartupInfo.hStdError = child.childNul.get();
    startup.lpAttributeList = child.attributes.get();
    flags |= EXTENDED_STARTUPINFO_PRESENT;
    inheritHandles = TRUE;
  }

  PROCESS_INFORMATION info{};
  if (!CreateProcessW(child.application.c_str(), child.commandLine.data(), nullptr, nullptr, inheritHandles,
                      flags, nullptr, nullptr, &startup.StartupInfo, &info)) {
    const DWORD code = GetLastError();
    error = makeError(code != 0 ? code : kErrorGenericFailure, "CreateProcessW " + child.program);
    return isCannotStart(code) ? StartOutcome::CannotStart : StartOutcome::Failed;
  }
  win32::ScopedHandle process(info.hProcess);
  const win32::ScopedHandle thread(info.hThread);
  // From here only the child holds the write end, so its exit ends the pipe.
  child.childOutput.reset();
  child.childNul.reset();
  child.attributes.reset();

  // Fails where this program runs in a job that allows no job inside it
  // (before Windows 8, or a job made so): the child is not run untracked.
  if (!AssignProcessToJobObject(child.job.get(), process.get())) {
    error = lastError("AssignProcessToJobObject", child.program);
    TerminateProcess(process.get(), 1);
    WaitForSingleObject(process.get(), kKillWaitMs);
    return StartOutcome::Failed;
  }
  if (ResumeThread(thread.get()) == static_cast<DWORD>(-1)) {
    error = lastError("ResumeThread", child.program);
    TerminateJobObject(child.job.get(), 1);
    WaitForSingleObject(process.get(), kKillWaitMs);
    return StartOutcome::Failed;
  }
  child.process = std::move(process);

  if (child.reader) {
    try {
      child.readerThread = std::thread([reader = child.reader.get()] { reader->run(); });
    } catch (const std::system_error& failure) {
      // Without a reader the child would block on a full pipe; it is ended
      // (by the owner's release) rather than left running unobserved.
      error = makeError(kErrorGenericFailure, "reader thread for " + child.program + ": " + failure.what());
      return StartOutcome::Failed;
    }
  }
  return StartOutcome::Started;
}

bool hasExited(Child& child) {
  if (!child.process) return true;  // nothing is running
  if (child.ended) return true;
  if (WaitForSingleObject(child.process.get(), 0) != WAIT_OBJECT_0) return false;
  child.recordExit(false);
  return true;
}

WaitOutcome waitForExit(Child& child, uint32_t timeoutMs, Error& error) {
  error = Error{};
  if (!child.process) {
    error = makeError(ERROR_INVALID_HANDLE, "WaitForSingleObject (no process)");
    return WaitOutcome::Failed;
  }
  if (child.ended) return WaitOutcome::Exited;
  switch (WaitForSingleObject(child.process.get(), simulatedTimeoutMs(timeoutMs))) {
    case WAIT_OBJECT_0:
      child.recordExit(false);
      return WaitOutcome::Exited;
    case WAIT_TIMEOUT:
      return WaitOutcome::TimedOut;
    default:
      error = lastError("WaitForSingleObject", child.program);
      return WaitOutcome::Failed;
  }
}

Error killTree(Child& child) {
  if (!child.process) return makeError(ERROR_INVALID_HANDLE, "TerminateProcess (no process)");
  if (Error failed = child.endTree(); failed.failed()) return failed;
  child.finishReader();
  return {};
}

int32_t exitCode(const Child& child) { return child.exitCode; }

std::string takeOutput(Child& child) {
  if (!child.reader) return {};
  if (!hasExited(child)) {
    // Still running: whatever has arrived so far.
    std::lock_guard<std::mutex> lock(child.reader->mutex);
    return std::exchange(child.reader->output, std::string());
  }
  child.finishReader();
  return std::exchange(child.reader->output, std::string());
}

Error outputError(const Child& child) {
  if (!child.reader) return {};
  std::lock_guard<std::mutex> lock(child.reader->mutex);
  return child.reader->readError;
}

}  // namespace platform::native
