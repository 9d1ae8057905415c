// Child processes on the simulated machine: real processes, started without a
// shell from a Windows path and a Windows command-line text, each in its own
// process group so a kill also takes down whatever it started.
#include "platform/process.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/command_line.h"
#include "platform/posix/path_mapping.h"
#include "platform/posix/scoped_fd.h"
#include "platform/simulation.h"

extern char** environ;

namespace platform {

namespace {

using Clock = std::chrono::steady_clock;
using posix::ScopedFd;
using posix::ScopedPipe;

constexpr auto kDrainAfterExit = std::chrono::milliseconds(kOutputDrainAfterExitMs);
constexpr auto kKillWait = std::chrono::milliseconds(kKillWaitMs);

constexpr uint32_t kWindowsInfinite = 0xFFFFFFFFu;

constexpr int kPipeBytes = 1 << 20;

// errno of a failed pipe2(), or 0.
int makePipe(ScopedPipe& pipe) {
  int fds[2] = {-1, -1};
  if (::pipe2(fds, O_CLOEXEC) != 0) return errno;
  pipe.read.reset(fds[0]);
  pipe.write.reset(fds[1]);
  return 0;
}

// What CreateProcess would say about the file before trying it: missing,
// not a file, not executable, or not a program at all.
Error checkProgram(const std::string& native, const std::string& operation) {
  struct stat info {};
  if (::stat(native.c_str(), &info) != 0) return posix::errorFromErrno(errno, operation, native);
  if (!S_ISREG(info.st_mode) || ::access(native.c_str(), X_OK) != 0) {
    return makeError(kErrorAccessDenied, operation);
  }
  const ScopedFd file(::open(native.c_str(), O_RDONLY | O_CLOEXEC));
  if (!file) return posix::errorFromErrno(errno, operation, native);
  char magic[4] = {};
  ssize_t got = 0;
  do {
    got = ::read(file.get(), magic, sizeof magic);
  } while (got < 0 && errno == EINTR);
  const bool elf = got == 4 && magic[0] == '\x7f' && magic[1] == 'E' && magic[2] == 'L' && magic[3] == 'F';
  const bool script = got >= 2 && magic[0] == '#' && magic[1] == '!';
  if (!elf && !script) return makeError(kErrorBadExeFormat, operation);
  return {};
}

}  // namespace

struct ChildProcess::Impl {
  std::string program;  // as the caller named it, for the trace
  pid_t pid = -1;
  bool capture = false;

  std::mutex mutex;
  std::condition_variable changed;
  bool reaped = false;
  bool killRequested = false;
  int32_t exitCode = 0;
  Clock::time_point reapedAt;

  ScopedFd readFd;
  ScopedPipe stop;  // a byte written here tells the reader to give up
  bool readerDone = true;
  bool failOutput = false;  // the machine breaks this child's pipe after its output
  Error readError;
  std::string output;

  std::thread reaper;
  std::thread reader;

  ~Impl() {
    if (pid > 0) {
      std::unique_lock<std::mutex> lock(mutex);
      if (!reaped) {
        killRequested = true;
        ::kill(-pid, SIGKILL);
        ::kill(pid, SIGKILL);
      }
    }
    if (reaper.joinable()) reaper.join();
    stopReader();
  }

  void stopReader() {
    if (!reader.joinable()) return;
    if (stop.write) {
      const char wake = 1;
      ssize_t ignored = 0;
      do {
        ignored = ::write(stop.write.get(), &wake, 1);
      } while (ignored < 0 && errno == EINTR);
    }
    reader.join();
  }

  void append(const char* data, size_t size) {
    std::lock_guard<std::mutex> lock(mutex);
    const size_t room = kMaxCapturedOutput - std::min(kMaxCapturedOutput, output.size());
    output.append(data, std::min(room, size));
  }

  void readLoop() {
    std::vector<char> buffer(kPipeBytes);
    bool stopping = false;
    int drainReads = 0;
    for (;;) {
      pollfd fds[2] = {{readFd.get(), POLLIN, 0}, {stop.read.get(), POLLIN, 0}};
      const int ready = ::poll(fds, stopping ? 1 : 2, stopping ? 0 : -1);
      if (ready < 0 && errno == EINTR) continue;
      if (ready < 0) break;
      if (!stopping && (fds[1].revents & POLLIN) != 0) {
        // Take what is already in the pipe, then give up on the writer.
        stopping = true;
        continue;
      }
      // Stopping: take what is waiting, but a writer that never pauses must
      // not keep us here.
      if (ready == 0 || (stopping && ++drainReads > 16)) break;
      if ((fds[0].revents & (POLLIN | POLLHUP | POLLERR)) == 0) continue;
      const ssize_t got = ::read(readFd.get(), buffer.data(), buffer.size());
      if (got < 0 && errno == EINTR) continue;
      if (got < 0) {
        const Error failure =
            posix::errorFromErrno(errno, "ReadFile (standard output of " + program + ")", "");
        std::lock_guard<std::mutex> lock(mutex);
        readError = failure;
        break;
      }
      if (got == 0) break;
      append(buffer.data(), static_cast<size_t>(got));
    }
    std::lock_guard<std::mutex> lock(mutex);
    if (failOutput && !readError.failed()) {
      readError = makeError(kErrorGenericFailure, "ReadFile (standard output of " + program + ")");
    }
    readerDone = true;
    changed.notify_all();
  }

  void reapLoop() {
    // Wait without reaping first: until the status is collected below, the
    // pid (and the process group) cannot be reused, so kill() under the
    // mutex never signals a stranger.
    siginfo_t info{};
    while (::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOWAIT) != 0 && errno == EINTR) {
    }
    std::unique_lock<std::mutex> lock(mutex);
    int status = 0;
    pid_t done = -1;
    do {
      done = ::waitpid(pid, &status, 0);
    } while (done < 0 && errno == EINTR);
    const bool exited = done == pid && WIFEXITED(status);
    const bool killedByUs = killRequested && !exited;
    // A death by a signal of someone else's has no Windows equivalent; it
    // reads as a plain failure.
    exitCode = exited ? WEXITSTATUS(status) : 1;
    if (const SimulationHooks* machine = simulation(); machine != nullptr && machine->ended != nullptr)
      machine->ended(program, exitCode, killedByUs);
    reaped = true;
    reapedAt = Clock::now();
    changed.notify_all();
  }
};

ChildProcess::ChildProcess() = default;
ChildProcess::~ChildProcess() = default;

StartOutcome ChildProcess::start(const ProcessStart& start, Error& error) {
  error = Error{};
  const std::string operation = "CreateProcess " + start.program;
  if (impl_ != nullptr) {
    std::unique_lock<std::mutex> lock(impl_->mutex);
    if (impl_->pid > 0 && !impl_->reaped) {
      error = makeError(kErrorInvalidParameter, operation + " (a child is still running)");
      return StartOutcome::Failed;
    }
  }
  impl_.reset();

  std::string native;
  if (Error mapped = posix::toNativePath(start.program, native); mapped.failed()) {
    error = makeError(mapped.code, operation);
    return StartOutcome::CannotStart;
  }

  const SimulationHooks* machine = simulation();
  SimulatedStart knobs;
  if (machine != nullptr && machine->beforeStart != nullptr) knobs = machine->beforeStart(start.program);
  if (knobs.noProcess) return StartOutcome::NoProcess;

  if (Error bad = checkProgram(native, operation); bad.failed()) {
    error = bad;
    return StartOutcome::CannotStart;
  }

  try {
    auto impl = std::make_unique<Impl>();
    impl->program = start.program;
    impl->capture = start.captureOutput;
    impl->failOutput = knobs.breakOutput;

    std::vector<std::string> arguments = splitWindowsCommandLine(start.arguments);
    std::vector<char*> argv;
    argv.push_back(native.data());
    for (std::string& argument : arguments) argv.push_back(argument.data());
    argv.push_back(nullptr);

    std::vector<std::string> environment;
    for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
      if (std::string_view(*entry).rfind("OVVB_MACHINE=", 0) != 0) environment.emplace_back(*entry);
    }
    if (machine != nullptr && machine->machineRoot != nullptr)
      environment.push_back("OVVB_MACHINE=" + machine->machineRoot());
    std::vector<char*> envp;
    for (std::string& entry : environment) envp.push_back(entry.data());
    envp.push_back(nullptr);

    ScopedPipe output;
    if (start.captureOutput) {
      int failed = makePipe(output);
      if (failed == 0) failed = makePipe(impl->stop);
      if (failed != 0) {
        error = posix::errorFromErrno(failed, operation + " (pipe)", native);
        return StartOutcome::Failed;
      }
      // A larger pipe lets a chatty child write in fewer, bigger pieces; the
      // default 64 KiB is kept where the system refuses.
      ::fcntl(output.read.get(), F_SETPIPE_SZ, kPipeBytes);
    }

    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
    posix_spawn_file_actions_init(&actions);
    posix_spawnattr_init(&attributes);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    // A Windows GUI program's children have no standard output unless it is
    // captured; here too the child never writes to ours, so whoever reads
    // ours cannot stop a tool by going away.
    if (start.captureOutput) {
      posix_spawn_file_actions_adddup2(&actions, output.write.get(), STDOUT_FILENO);
    } else {
      posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    }
    sigset_t none, all;
    sigemptyset(&none);
    sigfillset(&all);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &all);
    posix_spawnattr_setpgroup(&attributes, 0);
    posix_spawnattr_setflags(&attributes,
                             POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

    // Before the spawn, so the trace shows the start ahead of anything the
    // child itself records.
    if (machine != nullptr && machine->started != nullptr) machine->started(start.program, start.arguments);
    pid_t pid = -1;
    const int spawned = ::posix_spawn(&pid, native.c_str(), &actions, &attributes, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    // From here only the child holds the write end, so its exit ends the pipe.
    output.write.reset();
    if (spawned != 0) {
      error = posix::errorFromErrno(spawned, operation, native);
      if (machine != nullptr && machine->notStarted != nullptr) machine->notStarted(start.program);
      const bool cannot = spawned == ENOENT || spawned == EACCES || spawned == ENOEXEC || spawned == ENOTDIR;
      return cannot ? StartOutcome::CannotStart : StartOutcome::Failed;
    }
    impl->pid = pid;
    impl->readFd = std::move(output.read);

    Impl* raw = impl.get();
    try {
      impl->reaper = std::thread([raw] { raw->reapLoop(); });
      if (start.captureOutput) {
        impl->readerDone = false;
        impl->reader = std::thread([raw] { raw->readLoop(); });
      }
    } catch (const std::system_error&) {
      // Without a reaper nobody would collect the child: end it here.
      ::kill(-pid, SIGKILL);
      if (!impl->reaper.joinable()) {
        int status = 0;
        while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
        impl->pid = -1;
      }
      impl->readerDone = true;
      error = makeError(kErrorNotEnoughMemory, operation + " (thread)");
      return StartOutcome::Failed;
    }
    impl_ = std::move(impl);
    return StartOutcome::Started;
  } catch (const std::bad_alloc&) {
    error = makeError(kErrorNotEnoughMemory, operation);
    return StartOutcome::Failed;
  }
}

bool ChildProcess::hasExited() {
  if (impl_ == nullptr || impl_->pid <= 0) return true;
  std::lock_guard<std::mutex> lock(impl_->mutex);
  return impl_->reaped;
}

WaitOutcome ChildProcess::wait(uint32_t timeoutMs, Error& error) {
  error = Error{};
  if (impl_ == nullptr || impl_->pid <= 0) {
    error = makeError(kErrorInvalidParameter, "WaitForSingleObject (no process)");
    return WaitOutcome::Failed;
  }
  std::unique_lock<std::mutex> lock(impl_->mutex);
  const auto isReaped = [this] { return impl_->reaped; };
  if (timeoutMs == kWindowsInfinite) {
    impl_->changed.wait(lock, isReaped);
    return WaitOutcome::Exited;
  }
  const auto limit = std::chrono::milliseconds(simulatedTimeoutMs(timeoutMs));
  return impl_->changed.wait_for(lock, limit, isReaped) ? WaitOutcome::Exited : WaitOutcome::TimedOut;
}

Error ChildProcess::kill() {
  if (impl_ == nullptr || impl_->pid <= 0)
    return makeError(kErrorInvalidParameter, "TerminateProcess (no process)");
  std::unique_lock<std::mutex> lock(impl_->mutex);
  if (impl_->reaped) return {};
  impl_->killRequested = true;
  if (::kill(-impl_->pid, SIGKILL) != 0) ::kill(impl_->pid, SIGKILL);
  if (!impl_->changed.wait_for(lock, kKillWait, [this] { return impl_->reaped; })) {
    return makeError(kErrorGenericFailure, "TerminateProcess " + impl_->program + " (still running)");
  }
  return {};
}

int32_t ChildProcess::exitCode() const {
  if (impl_ == nullptr) return 0;
  std::lock_guard<std::mutex> lock(impl_->mutex);
  return impl_->exitCode;
}

std::string ChildProcess::takeOutput() {
  if (impl_ == nullptr || !impl_->capture) return {};
  std::unique_lock<std::mutex> lock(impl_->mutex);
  if (!impl_->reaped) {
    // Still running: hand over what has arrived so far and keep collecting.
    std::string partial = std::move(impl_->output);
    impl_->output.clear();
    return partial;
  }
  impl_->changed.wait_until(lock, impl_->reapedAt + kDrainAfterExit, [this] { return impl_->readerDone; });
  lock.unlock();
  impl_->stopReader();
  impl_->readFd.reset();
  lock.lock();
  std::string output = std::move(impl_->output);
  impl_->output.clear();
  return output;
}

Error ChildProcess::outputError() const {
  if (impl_ == nullptr) return {};
  std::lock_guard<std::mutex> lock(impl_->mutex);
  return impl_->readError;
}

}  // namespace platform
