#include "platform/run_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

#include "platform/folder_names.h"
#include "platform/posix/path_mapping.h"
#include "platform/posix/scoped_fd.h"
#include "platform/simulation.h"

namespace platform {

struct RunLock::Held {
  posix::ScopedFd fd;  // closing it gives the lock up
};

void RunLock::HeldDeleter::operator()(Held* held) const noexcept { delete held; }

RunLock::RunLock() = default;
RunLock::~RunLock() = default;

namespace {

// Opens the lock file if it is ours: a plain file that root (the simulated
// machine's administrators) or this program's user owns. Anyone else could
// hold it for ever. Not following a link, and not handed to the tools this
// run starts: a child that outlived the run would otherwise keep the lock.
Error openOwnLock(const std::string& path, posix::ScopedFd& fd, bool& trusted) {
  fd.reset(::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0600));
  struct stat info {};
  if (!fd) {
    trusted = false;
    return errno == ELOOP || errno == EISDIR || errno == ENXIO
               ? Error{}
               : posix::errorFromErrno(errno, "open " + path, path);
  }
  if (::fstat(fd.get(), &info) != 0) return posix::errorFromErrno(errno, "stat " + path, path);
  trusted = S_ISREG(info.st_mode) && (info.st_uid == 0 || info.st_uid == ::geteuid());
  return {};
}

}  // namespace

Error RunLock::acquire(uint32_t noticeAfterMs, const std::function<void()>& stillWaiting) {
  if (held()) return {};
  const SimulationHooks* machine = simulation();
  // Without a machine there is nothing shared to keep apart.
  if (machine == nullptr || machine->machineRoot == nullptr) return {};
  const std::string path = machine->machineRoot() + "/run.lock";
  posix::ScopedFd fd;
  // Twice at most: what stood there is moved aside once.
  for (int attempt = 0;; ++attempt) {
    bool trusted = false;
    if (Error error = openOwnLock(path, fd, trusted); error.failed()) return error;
    if (trusted) break;
    fd.reset();
    if (attempt == 1) return makeError(kErrorInvalidOwner, "open " + path + " (not the administrators' own)");
    const std::string aside = path + untrustedSuffix();
    if (::renameat2(AT_FDCWD, path.c_str(), AT_FDCWD, aside.c_str(), RENAME_NOREPLACE) != 0)
      return posix::errorFromErrno(errno, "rename " + path, path);
    movedAside_.push_back(path + " -> " + aside);
  }
  const auto noticeAt = std::chrono::steady_clock::now() + std::chrono::milliseconds(noticeAfterMs);
  bool told = false;
  while (::flock(fd.get(), LOCK_EX | (told ? 0 : LOCK_NB)) != 0) {
    if (errno != EINTR && errno != EWOULDBLOCK) return posix::errorFromErrno(errno, "flock " + path, path);
    if (told || errno == EINTR) continue;
    if (std::chrono::steady_clock::now() < noticeAt) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    } else {
      told = true;
      if (stillWaiting) stillWaiting();
    }
  }
  held_.reset(new Held{std::move(fd)});
  return {};
}

}  // namespace platform
