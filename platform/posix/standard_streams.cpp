#include "platform/posix/standard_streams.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

namespace platform::posix {

void protectStandardStreams() {
  for (int fd = 0; fd <= 2; ++fd) {
    if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    // The lowest free descriptor is the one just found closed, as every
    // lower one is open. Left open for the whole run on purpose.
    const int opened = ::open("/dev/null", O_RDWR);
    if (opened > fd) {
      ::dup2(opened, fd);
      ::close(opened);
    }
  }
  ::signal(SIGPIPE, SIG_IGN);
}

}  // namespace platform::posix
