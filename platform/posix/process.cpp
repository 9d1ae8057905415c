// Child processes on the simulated machine: real processes, started without a
// shell from a Windows path and a Windows command-line text, each in its own
// process group so a kill also takes down whatever it started. Only what
// differs from Windows is here; the rules of a start are in
// process_common.cpp. No Windows code belongs in this file.
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <mutex>
#include <string_view>
#include <system_error>
#include <thread>
#include <vector>

#include "platform/command_line.h"
#include "platform/native_child.h"
#include "platform/posix/path_mapping.h"
#include "platform/posix/scoped_fd.h"
#include "platform/simulation.h"

namespace platform::native {

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

// Orphans of a killed tree are handed to this process rather than to init,
// so that it can reap them and know when the whole group is gone: a
// process group has no handle that says "empty" the way a Windows job does.
void becomeSubreaper() {
  static std::once_flag once;
  std::call_once(once, [] { ::prctl(PR_SET_CHILD_SUBREAPER, 1, 0, 0, 0); });
}

// The system's own variables, never this program's: a tool must not find
// its programs, libraries or scratch files where the user who started this
// program put them.
Error buildEnvironment(const ChildRequest& request, std::vector<std::string>& environment) {
  environment = {"PATH=/usr/bin:/bin"};
  if (!request.tempFolder.empty()) {
    std::string temp;
    if (Error mapped = posix::toNativePath(request.tempFolder, temp); mapped.failed()) return mapped;
    for (const char* name : {"TMPDIR=", "TEMP=", "TMP="}) environment.push_back(name + temp);
  }
  for (const Variable& variable : request.machineVariables)
    environment.push_back(variable.first + "=" + variable.second);
  return {};
}

}  // namespace

struct Child {
  std::string program;  // as the caller named it, for the trace
  std::string native;
  std::vector<std::string> arguments;
  std::vector<std::string> environment;
  pid_t pid = -1;
  bool capture = false;

  mutable std::mutex mutex;
  std::condition_variable changed;
  // The child has ended. Its zombie is kept until the tree is collected, so
  // that its pid, which is also the group's id, cannot pass to a stranger
  // while the group may still be signalled.
  bool ended = false;
  bool collected = false;  // every member of the group reaped
  bool killRequested = false;
  int32_t exitCode = 0;
  Clock::time_point endedAt;

  std::string folder;  // native path of the current folder
  ScopedFd readFd;
  ScopedPipe output;  // until the spawn: the write end goes to the child
  ScopedPipe stop;    // a byte written here tells the reader to give up
  bool readerDone = true;
  std::unique_ptr<OutputCollector> collector;

  std::thread reaper;
  std::thread reader;

  ~Child() {
    // Nothing to tell anyone here: a tree that outlived the wait is left.
    if (pid > 0) static_cast<void>(endTree());
    if (reaper.joinable()) reaper.join();
    stopReader();
  }

  // Kills the whole group, waits for the child's end, then reaps every
  // member until none is left; bounded by kKillWaitMs in all.
  Error endTree() {
    const auto deadline = Clock::now() + kKillWait;
    std::unique_lock<std::mutex> lock(mutex);
    if (collected) return {};
    if (!ended) killRequested = true;
    if (::kill(-pid, SIGKILL) != 0 && !ended) ::kill(pid, SIGKILL);
    if (!changed.wait_until(lock, deadline, [this] { return ended; }))
      return makeError(kErrorWaitTimeout, "TerminateProcess " + program + " (still running)");
    for (;;) {
      int status = 0;
      const pid_t done = ::waitpid(-pid, &status, WNOHANG);
      if (done > 0 || (done < 0 && errno == EINTR)) continue;
      if (done < 0) break;  // ECHILD: nothing of the group is left
      // Some member still runs: it may have forked after the first signal,
      // and the group's id stays ours while it is there.
      ::kill(-pid, SIGKILL);
      if (Clock::now() >= deadline)
        return makeError(kErrorWaitTimeout,
                         "TerminateProcess " + program + " (a process it started still runs)");
      lock.unlock();
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
      lock.lock();
    }
    collected = true;
    return {};
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
        collector->readFailed(posix::errorFromErrno(errno, "", "").code);
        break;
      }
      if (got == 0) break;
      collector->deliver(buffer.data(), static_cast<size_t>(got));
    }
    collector->finish();
    std::lock_guard<std::mutex> lock(mutex);
    readerDone = true;
    changed.notify_all();
  }

  void reapLoop() {
    // Notes the end without reaping: see `ended`.
    siginfo_t info{};
    int waited = 0;
    do {
      waited = ::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOWAIT);
    } while (waited != 0 && errno == EINTR);
    std::unique_lock<std::mutex> lock(mutex);
    const bool exited = waited == 0 && info.si_code == CLD_EXITED;
    const bool killedByUs = killRequested && !exited;
    // A death by a signal of someone else's has no Windows equivalent; it
    // reads as a plain failure.
    exitCode = exited ? (info.si_status & 0xFF) : 1;
    reportEnded(program, exitCode, killedByUs);
    ended = true;
    endedAt = Clock::now();
    changed.notify_all();
  }
};

void ChildDeleter::operator()(Child* child) const noexcept { delete child; }

StartOutcome prepareChild(const ChildRequest& request, std::unique_ptr<OutputCollector> output,
                          ChildPtr& child, Error& error) {
  const std::string operation = "CreateProcess " + request.program;
  auto made = ChildPtr(new Child);
  made->program = request.program;
  if (Error mapped = posix::toNativePath(request.program, made->native); mapped.failed()) {
    error = makeError(mapped.code, operation);
    return StartOutcome::CannotStart;
  }
  if (Error bad = checkProgram(made->native, operation); bad.failed()) {
    error = bad;
    return StartOutcome::CannotStart;
  }
  made->capture = request.captureOutput;
  made->collector = std::move(output);
  made->arguments = splitWindowsCommandLine(request.arguments);
  if (Error mapped = posix::toNativePath(request.folder, made->folder); mapped.failed()) {
    error = makeError(mapped.code, operation + " (current folder " + request.folder + ")");
    return StartOutcome::Failed;
  }
  if (Error built = buildEnvironment(request, made->environment); built.failed()) {
    error = makeError(built.code, operation + " (TEMP " + request.tempFolder + ")");
    return StartOutcome::Failed;
  }

  if (request.captureOutput) {
    int failed = makePipe(made->output);
    if (failed == 0) failed = makePipe(made->stop);
    if (failed != 0) {
      error = posix::errorFromErrno(failed, operation + " (pipe)", made->native);
      return StartOutcome::Failed;
    }
    // A larger pipe lets a chatty child write in fewer, bigger pieces; the
    // default 64 KiB is kept where the system refuses.
    ::fcntl(made->output.read.get(), F_SETPIPE_SZ, kPipeBytes);
  }
  child = std::move(made);
  return StartOutcome::Started;
}

StartOutcome launchChild(Child& child, Error& error) {
  const std::string operation = "CreateProcess " + child.program;
  becomeSubreaper();

  std::vector<char*> argv;
  argv.push_back(child.native.data());
  for (std::string& argument : child.arguments) argv.push_back(argument.data());
  argv.push_back(nullptr);
  std::vector<char*> envp;
  for (std::string& entry : child.environment) envp.push_back(entry.data());
  envp.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawnattr_t attributes;
  posix_spawn_file_actions_init(&actions);
  posix_spawnattr_init(&attributes);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addchdir_np(&actions, child.folder.c_str());
  // A Windows GUI program's children have no standard output unless it is
  // captured; here too the child never writes to ours, so whoever reads
  // ours cannot stop a tool by going away.
  if (child.capture) {
    posix_spawn_file_actions_adddup2(&actions, child.output.write.get(), STDOUT_FILENO);
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

  pid_t pid = -1;
  const int spawned =
      ::posix_spawn(&pid, child.native.c_str(), &actions, &attributes, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  // From here only the child holds the write end, so its exit ends the pipe.
  child.output.write.reset();
  if (spawned != 0) {
    error = posix::errorFromErrno(spawned, operation, child.native);
    const bool cannot = spawned == ENOENT || spawned == EACCES || spawned == ENOEXEC || spawned == ENOTDIR;
    return cannot ? StartOutcome::CannotStart : StartOutcome::Failed;
  }
  child.pid = pid;
  child.readFd = std::move(child.output.read);

  try {
    child.reaper = std::thread([&child] { child.reapLoop(); });
    if (child.capture) {
      child.readerDone = false;
      child.reader = std::thread([&child] { child.readLoop(); });
    }
  } catch (const std::system_error&) {
    // Without a reaper nobody would note the child's end: end it here.
    ::kill(-pid, SIGKILL);
    if (!child.reaper.joinable()) {
      int status = 0;
      while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
      }
      child.pid = -1;
    }
    child.readerDone = true;
    error = makeError(kErrorNotEnoughMemory, operation + " (thread)");
    return StartOutcome::Failed;
  }
  return StartOutcome::Started;
}

bool hasExited(Child& child) {
  std::lock_guard<std::mutex> lock(child.mutex);
  return child.ended;
}

WaitOutcome waitForExit(Child& child, uint32_t timeoutMs, Error& error) {
  error = Error{};
  std::unique_lock<std::mutex> lock(child.mutex);
  const auto isEnded = [&child] { return child.ended; };
  if (timeoutMs == kWindowsInfinite) {
    child.changed.wait(lock, isEnded);
    return WaitOutcome::Exited;
  }
  const auto limit = std::chrono::milliseconds(timeoutMs);
  return child.changed.wait_for(lock, limit, isEnded) ? WaitOutcome::Exited : WaitOutcome::TimedOut;
}

Error killTree(Child& child) { return child.endTree(); }

int32_t exitCode(const Child& child) {
  std::lock_guard<std::mutex> lock(child.mutex);
  return child.exitCode;
}

std::string takeOutput(Child& child) {
  if (!child.capture) return {};
  std::unique_lock<std::mutex> lock(child.mutex);
  // Still running: what has arrived so far, and the reader goes on.
  if (!child.ended) return child.collector->take();
  child.changed.wait_until(lock, child.endedAt + kDrainAfterExit, [&child] { return child.readerDone; });
  lock.unlock();
  child.stopReader();
  child.readFd.reset();
  return child.collector->take();
}

Error outputError(const Child& child) {
  return child.collector != nullptr ? child.collector->error() : Error{};
}

}  // namespace platform::native
