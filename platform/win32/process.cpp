// Child processes through CreateProcessW, each in a job object of its own so
// that a kill ends whatever the child started as well. Only what differs from
// the posix backend is here; the rules of a start are in process_common.cpp.
// No posix code belongs in this file.
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cwchar>
#include <mutex>
#include <new>
#include <string>
#include <string_view>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "platform/native_child.h"
#include "platform/simulation.h"
#include "platform/win32/child_job.h"
#include "platform/win32/last_error.h"
#include "platform/win32/output_pipe.h"
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
std::atomic<bool> suspendedEntryForced{false};
std::atomic<win32::JobEntry> lastEntry{win32::JobEntry::AtCreation};

// Reads the child's standard output from the server end of an overlapped
// pipe, so that a stop request can always interrupt a read: a synchronous
// read blocks until every holder of the write end has closed it.
struct OutputReader {
  win32::ScopedHandle pipe;
  win32::ScopedHandle readDone;  // the overlapped read's event
  win32::ScopedHandle stop;      // set: give up on the rest of the output
  win32::ScopedHandle finished;  // set by the thread on its way out
  std::unique_ptr<OutputCollector> collector;
  char buffer[256 * 1024];

  void fail() {
    const DWORD code = GetLastError();
    // The end of the output and our own cancel are not failures.
    if (code == ERROR_BROKEN_PIPE || code == ERROR_HANDLE_EOF || code == ERROR_OPERATION_ABORTED) return;
    collector->readFailed(code);
  }

  void keep(DWORD count) { collector->deliver(buffer, count); }

  void run() {
    for (;;) {
      OVERLAPPED overlapped{};
      overlapped.hEvent = readDone.get();
      DWORD count = 0;
      if (!ReadFile(pipe.get(), buffer, sizeof buffer, nullptr, &overlapped)) {
        if (GetLastError() != ERROR_IO_PENDING) {
          fail();  // ERROR_BROKEN_PIPE: every writer is gone
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
        fail();
        break;
      }
      keep(count);
    }
    collector->finish();
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

// CreateProcessW would run a batch file through cmd.exe, with its own rules
// for the current folder and the environment: only an image is started. The
// DOS header must point to the PE signature.
StartOutcome checkImage(const std::wstring& application, const std::string& operation, Error& error) {
  const win32::ScopedHandle file(CreateFileW(application.c_str(), GENERIC_READ,
                                             FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                             FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) {
    const DWORD code = GetLastError();
    error = makeError(code != 0 ? code : kErrorGenericFailure, operation);
    return isCannotStart(code) ? StartOutcome::CannotStart : StartOutcome::Failed;
  }
  constexpr DWORD kHeaderBytes = 64;
  constexpr DWORD kMaxSignatureOffset = 1 << 20;
  unsigned char header[kHeaderBytes] = {};
  DWORD got = 0;
  bool image = ReadFile(file.get(), header, kHeaderBytes, &got, nullptr) && got == kHeaderBytes &&
               header[0] == 'M' && header[1] == 'Z';
  if (image) {
    const DWORD at =
        header[0x3C] | header[0x3D] << 8 | header[0x3E] << 16 | static_cast<DWORD>(header[0x3F]) << 24;
    char signature[4] = {};
    LARGE_INTEGER offset{};
    offset.QuadPart = at;
    image = at >= kHeaderBytes && at <= kMaxSignatureOffset &&
            SetFilePointerEx(file.get(), offset, nullptr, FILE_BEGIN) &&
            ReadFile(file.get(), signature, sizeof signature, &got, nullptr) && got == sizeof signature &&
            signature[0] == 'P' && signature[1] == 'E' && signature[2] == 0 && signature[3] == 0;
  }
  if (image) return StartOutcome::Started;
  error = makeError(kErrorBadExeFormat, operation + " (not a Windows program image)");
  return StartOutcome::CannotStart;
}

std::wstring systemPath(UINT(WINAPI* get)(LPWSTR, UINT)) {
  wchar_t path[MAX_PATH];
  const UINT length = get(path, MAX_PATH);
  return length > 0 && length < MAX_PATH ? std::wstring(path, length) : std::wstring();
}

std::wstring processorArchitecture(WORD architecture) {
  switch (architecture) {
    case PROCESSOR_ARCHITECTURE_AMD64:
      return L"AMD64";
    case PROCESSOR_ARCHITECTURE_ARM64:
      return L"ARM64";
    case PROCESSOR_ARCHITECTURE_INTEL:
      return L"x86";
    default:
      return L"UNKNOWN";
  }
}

// The system's own variables, never this program's: a tool must not look for
// its programs, libraries or scratch files where the user who started this
// program (or anyone who planted a variable in its environment) said. As a
// block for CreateProcessW: sorted by name, regardless of case.
bool buildEnvironment(const ChildRequest& request, std::wstring& block) {
  const std::wstring windows = systemPath(GetSystemWindowsDirectoryW);
  const std::wstring system = systemPath(GetSystemDirectoryW);
  if (windows.size() < 2 || system.empty()) return false;
  SYSTEM_INFO info{};
  GetNativeSystemInfo(&info);
  wchar_t revision[8];
  std::swprintf(revision, 8, L"%04x", info.wProcessorRevision);
  std::vector<std::pair<std::wstring, std::wstring>> variables = {
      {L"SystemRoot", windows},
      {L"windir", windows},
      {L"SystemDrive", windows.substr(0, 2)},
      {L"ComSpec", system + L"\\cmd.exe"},
      {L"PATHEXT", L".COM;.EXE;.BAT;.CMD;.VBS;.VBE;.JS;.JSE;.WSF;.WSH;.MSC"},
      {L"OS", L"Windows_NT"},
      {L"NUMBER_OF_PROCESSORS", std::to_wstring(info.dwNumberOfProcessors)},
      {L"PROCESSOR_ARCHITECTURE", processorArchitecture(info.wProcessorArchitecture)},
      {L"PROCESSOR_LEVEL", std::to_wstring(info.wProcessorLevel)},
      {L"PROCESSOR_REVISION", revision},
      {L"PATH", system + L";" + system + L"\\Wbem;" + system + L"\\WindowsPowerShell\\v1.0"},
  };
  // Written by the system at its start, where only the administrators may.
  wchar_t identifier[256];
  DWORD size = sizeof identifier;
  if (RegGetValueW(HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment",
                   L"PROCESSOR_IDENTIFIER", RRF_RT_REG_SZ, nullptr, identifier, &size) == ERROR_SUCCESS)
    variables.emplace_back(L"PROCESSOR_IDENTIFIER", identifier);
  if (!request.tempFolder.empty()) {
    variables.emplace_back(L"TEMP", win32::toWide(request.tempFolder));
    variables.emplace_back(L"TMP", win32::toWide(request.tempFolder));
  }
  for (const Variable& variable : request.machineVariables)
    variables.emplace_back(win32::toWide(variable.first), win32::toWide(variable.second));
  std::sort(variables.begin(), variables.end(), [](const auto& a, const auto& b) {
    return CompareStringOrdinal(a.first.c_str(), -1, b.first.c_str(), -1, TRUE) == CSTR_LESS_THAN;
  });
  block.clear();
  for (const auto& [name, value] : variables) {
    block += name + L"=" + value;
    block += L'\0';
  }
  block += L'\0';
  return true;
}

}  // namespace

struct Child {
  std::string program;
  std::wstring application;
  std::wstring commandLine;
  std::wstring folder;
  std::wstring environment;
  bool capture = false;

  // Made before the process, handed over or dropped at its start.
  win32::ScopedHandle childOutput;
  win32::ScopedHandle childNul;

  // The child's tree: the job ends everything in it when it is killed or,
  // unless the child is to outlive us, should this process itself die.
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
      if (waited == WAIT_TIMEOUT) return makeError(kErrorWaitTimeout, "TerminateJobObject " + program);
      if (waited != WAIT_OBJECT_0) return lastError("WaitForSingleObject", program);
      recordExit(terminated);
    }
    for (;;) {
      if (!activeProcesses(job.get(), active)) return lastError("QueryInformationJobObject", program);
      if (active == 0) return {};
      if (left() == 0)
        return makeError(kErrorWaitTimeout,
                         "TerminateJobObject " + program + " (a process it started still runs)");
      Sleep(5);
    }
  }
};

void ChildDeleter::operator()(Child* child) const noexcept { delete child; }

StartOutcome prepareChild(const ChildRequest& request, std::unique_ptr<OutputCollector> output,
                          ChildPtr& child, Error& error) {
  const std::string operation = "CreateProcessW " + request.program;
  auto made = ChildPtr(new Child);
  made->program = request.program;
  made->capture = request.captureOutput;
  made->application = win32::toWide(request.program);
  if (const StartOutcome checked = checkImage(made->application, operation, error);
      checked != StartOutcome::Started)
    return checked;
  // The program is quoted in the command line as well, because the child
  // parses its own argv[0] from it; CreateProcessW uses the application
  // name to find the file, so no search path is involved.
  made->commandLine = L"\"" + made->application + L"\"";
  if (!request.arguments.empty()) made->commandLine += L" " + win32::toWide(request.arguments);
  made->folder = win32::toWide(request.folder);
  if (!buildEnvironment(request, made->environment)) {
    error = lastError("GetSystemDirectoryW", "(environment of " + request.program + ")");
    return StartOutcome::Failed;
  }

  made->job.reset(CreateJobObjectW(nullptr, nullptr));
  if (!made->job) {
    error = lastError("CreateJobObjectW", request.program);
    return StartOutcome::Failed;
  }
  // No breakaway is granted: nothing the child starts can leave the job.
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
  if (!request.outlivesOwner) limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
  if (!SetInformationJobObject(made->job.get(), JobObjectExtendedLimitInformation, &limits, sizeof limits)) {
    error = lastError("SetInformationJobObject", request.program);
    return StartOutcome::Failed;
  }

  if (request.captureOutput) {
    auto reader = std::make_unique<OutputReader>();
    reader->collector = std::move(output);
    win32::OutputPipe pipe;
    if (Error failed = win32::createOutputPipe(pipe); failed.failed()) {
      failed.operation += " for " + request.program;
      error = failed;
      return StartOutcome::Failed;
    }
    reader->pipe = std::move(pipe.server);
    made->childOutput = std::move(pipe.client);
    reader->readDone.reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    reader->stop.reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    reader->finished.reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!reader->readDone || !reader->stop || !reader->finished) {
      error = lastError("CreateEventW", request.program);
      return StartOutcome::Failed;
    }
    SECURITY_ATTRIBUTES inheritable{sizeof inheritable, nullptr, TRUE};
    made->childNul.reset(CreateFileW(L"NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                     &inheritable, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!made->childNul) {
      error = lastError("CreateFileW", "NUL");
      return StartOutcome::Failed;
    }
    made->reader = std::move(reader);
  }
  child = std::move(made);
  return StartOutcome::Started;
}

namespace {

// One CreateProcessW: with the job named in its attributes (the child is in
// it from its first instruction), or suspended until it has been put there.
bool createProcess(Child& child, win32::JobEntry entry, PROCESS_INFORMATION& info) {
  STARTUPINFOEXW startup{};
  startup.StartupInfo.cb = sizeof startup;
  startup.StartupInfo.dwFlags = STARTF_USESHOWWINDOW;
  startup.StartupInfo.wShowWindow = SW_HIDE;
  DWORD flags = CREATE_NO_WINDOW | CREATE_UNICODE_ENVIRONMENT | EXTENDED_STARTUPINFO_PRESENT;
  if (entry == win32::JobEntry::AfterSuspendedStart) flags |= CREATE_SUSPENDED;
  BOOL inheritHandles = FALSE;
  // Only these two handles are inheritable, and the attribute list restricts
  // inheritance to exactly them: the child must not keep any other handle of
  // ours (the log, another child's pipe) alive.
  HANDLE inherited[2] = {child.childOutput.get(), child.childNul.get()};
  HANDLE jobs[1] = {child.job.get()};
  win32::ScopedAttributeList attributes;
  if (!attributes.initialize(2)) return false;
  if (child.capture) {
    startup.StartupInfo.dwFlags |= STARTF_USESTDHANDLES;
    startup.StartupInfo.hStdInput = child.childNul.get();
    startup.StartupInfo.hStdOutput = child.childOutput.get();
    startup.StartupInfo.hStdError = child.childNul.get();
    inheritHandles = TRUE;
    if (!UpdateProcThreadAttribute(attributes.get(), 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, inherited,
                                   sizeof inherited, nullptr, nullptr))
      return false;
  }
  if (entry == win32::JobEntry::AtCreation &&
      !UpdateProcThreadAttribute(attributes.get(), 0, PROC_THREAD_ATTRIBUTE_JOB_LIST, jobs, sizeof jobs,
                                 nullptr, nullptr)) {
    SetLastError(ERROR_NOT_SUPPORTED);  // an attribute this system does not know (Wine 8 among them)
    return false;
  }
  startup.lpAttributeList = attributes.get();
  return CreateProcessW(child.application.c_str(), child.commandLine.data(), nullptr, nullptr, inheritHandles,
                        flags, child.environment.data(), child.folder.c_str(), &startup.StartupInfo,
                        &info) != FALSE;
}

}  // namespace

StartOutcome launchChild(Child& child, Error& error) {
  PROCESS_INFORMATION info{};
  win32::JobEntry entry =
      suspendedEntryForced.load() ? win32::JobEntry::AfterSuspendedStart : win32::JobEntry::AtCreation;
  bool created = createProcess(child, entry, info);
  // Before Windows 10 the job list is an unknown attribute.
  if (!created && entry == win32::JobEntry::AtCreation &&
      (GetLastError() == ERROR_NOT_SUPPORTED || GetLastError() == ERROR_INVALID_PARAMETER)) {
    entry = win32::JobEntry::AfterSuspendedStart;
    created = createProcess(child, entry, info);
  }
  if (!created) {
    const DWORD code = GetLastError();
    error = makeError(code != 0 ? code : kErrorGenericFailure, "CreateProcessW " + child.program);
    return isCannotStart(code) ? StartOutcome::CannotStart : StartOutcome::Failed;
  }
  lastEntry.store(entry);
  win32::ScopedHandle process(info.hProcess);
  const win32::ScopedHandle thread(info.hThread);
  // From here only the child holds the write end, so its exit ends the pipe.
  child.childOutput.reset();
  child.childNul.reset();

  if (entry == win32::JobEntry::AfterSuspendedStart) {
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
  if (child.ended) return true;
  if (WaitForSingleObject(child.process.get(), 0) != WAIT_OBJECT_0) return false;
  child.recordExit(false);
  return true;
}

WaitOutcome waitForExit(Child& child, uint32_t timeoutMs, Error& error) {
  error = Error{};
  if (child.ended) return WaitOutcome::Exited;
  switch (WaitForSingleObject(child.process.get(), timeoutMs)) {
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
  if (Error failed = child.endTree(); failed.failed()) return failed;
  child.finishReader();
  return {};
}

int32_t exitCode(const Child& child) { return child.exitCode; }

std::string takeOutput(Child& child) {
  if (!child.reader) return {};
  // Still running: whatever has arrived so far.
  if (!hasExited(child)) return child.reader->collector->take();
  child.finishReader();
  return child.reader->collector->take();
}

Error outputError(const Child& child) { return child.reader ? child.reader->collector->error() : Error{}; }

}  // namespace platform::native

namespace platform::win32 {

JobEntry lastJobEntry() { return native::lastEntry.load(); }

void forceSuspendedJobEntry(bool on) { native::suspendedEntryForced.store(on); }

}  // namespace platform::win32
