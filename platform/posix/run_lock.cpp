#include "platform/run_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "platform/posix/path_mapping.h"
#include "platform/simulation.h"

namespace platform {

RunLock::~RunLock() {
  // Closing the descriptor gives the lock up.
  if (held()) ::close(static_cast<int>(native_));
}

Error RunLock::acquire() {
  if (held()) return {};
  const SimulationHooks* machine = simulation();
  // Without a machine there is nothing shared to keep apart.
  if (machine == nullptr || machine->machineRoot == nullptr) return {};
  const std::string path = machine->machineRoot() + "/run.lock";
  // No link followed, and not handed to the tools this run starts: a child
  // that outlived the run would otherwise keep the lock.
  const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) return posix::errorFromErrno(errno, "open " + path, path);
  while (::flock(fd, LOCK_EX) != 0) {
    if (errno == EINTR) continue;
    const int error = errno;
    ::close(fd);
    return posix::errorFromErrno(error, "flock " + path, path);
  }
  native_ = fd;
  return {};
}

}  // namespace platform
