// One run of the installer at a time on a machine, so that no two runs ever
// share the GPU, the driver, the working folder or the log.
//
// win32: a named mutex in the global namespace that only the administrators
// and the system may open. posix: an advisory lock (flock) on "run.lock" in
// the simulated machine's root, the only machine a posix run has. Either is
// given up by the system when its holder dies, and then taken over.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/error.h"

namespace platform {

class RunLock {
 public:
  RunLock();
  ~RunLock();  // gives the lock up
  RunLock(const RunLock&) = delete;
  RunLock& operator=(const RunLock&) = delete;

  // Waits, without a time limit, until no other run holds the lock, and
  // holds it from then on; `stillWaiting` is called once if that takes
  // longer than `noticeAfterMs`. Every step of a run ends within its own
  // time limits and its dialogs wait for the user who is there, so the wait
  // ends when the other run does. A lock that anyone but the administrators
  // could have made is not trusted: win32 fails (the name is held by an
  // object they do not own), posix moves the file aside and makes its own
  // (movedAside() names it, "<old path> -> <new path>"). A failure leaves
  // the lock not held and says why.
  Error acquire(uint32_t noticeAfterMs = 5000, const std::function<void()>& stillWaiting = {});
  bool held() const { return held_ != nullptr; }
  const std::vector<std::string>& movedAside() const { return movedAside_; }

  struct Held;  // each backend's own
  struct HeldDeleter {
    void operator()(Held* held) const noexcept;
  };

 private:
  std::unique_ptr<Held, HeldDeleter> held_;
  std::vector<std::string> movedAside_;
};

}  // namespace platform
