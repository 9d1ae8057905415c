// Move-only owner of a POSIX file descriptor, the posix counterpart of
// win32::ScopedHandle: closes it exactly once, on every path out of the
// scope that opened it, and never throws.
#pragma once

#include <unistd.h>

#include <cerrno>
#include <utility>

namespace platform::posix {

class ScopedFd {
 public:
  ScopedFd() noexcept = default;
  explicit ScopedFd(int fd) noexcept : fd_(fd) {}
  ~ScopedFd() { reset(); }

  ScopedFd(ScopedFd&& other) noexcept : fd_(other.release()) {}
  ScopedFd& operator=(ScopedFd&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  ScopedFd(const ScopedFd&) = delete;
  ScopedFd& operator=(const ScopedFd&) = delete;

  bool valid() const noexcept { return fd_ >= 0; }
  explicit operator bool() const noexcept { return valid(); }
  int get() const noexcept { return fd_; }

  // Closes what is held and takes `fd`. close() is not retried on EINTR:
  // on Linux the descriptor is gone either way, and a retry could close a
  // descriptor another thread has just been given. errno is kept, so that a
  // caller that resets on the way out of a failed call reports that call's
  // error, not the close's.
  void reset(int fd = -1) noexcept {
    const int old = std::exchange(fd_, fd);
    if (old >= 0) {
      const int kept = errno;
      ::close(old);
      errno = kept;
    }
  }

  // Gives up ownership without closing.
  int release() noexcept { return std::exchange(fd_, -1); }

 private:
  int fd_ = -1;
};

// Both ends of a pipe(2).
struct ScopedPipe {
  ScopedFd read;
  ScopedFd write;
};

}  // namespace platform::posix
