// One run of the installer at a time on a machine, so that no two runs ever
// share the GPU, the driver, the working folder or the log.
//
// win32: a named mutex in the global namespace that only the administrators
// and the system may open. posix: an advisory lock (flock) on "run.lock" in
// the simulated machine's root, the only machine a posix run has. Either is
// given up by the system when its holder dies, and then taken over.
#pragma once

#include <cstdint>

#include "platform/error.h"

namespace platform {

class RunLock {
 public:
  RunLock() = default;
  ~RunLock();  // gives the lock up
  RunLock(const RunLock&) = delete;
  RunLock& operator=(const RunLock&) = delete;

  // Waits, without a time limit, until no other run holds the lock, and
  // holds it from then on. Every step of a run ends within its own time
  // limits and its dialogs wait for the user who is there, so the wait ends
  // when the other run does. A failure leaves the lock not held and says
  // why (win32: the name is held by an object the administrators do not
  // own, which is not trusted).
  Error acquire();
  bool held() const { return native_ != kNone; }

 private:
  static constexpr intptr_t kNone = -1;
  intptr_t native_ = kNone;  // win32: the mutex HANDLE; posix: the lock file's descriptor
};

}  // namespace platform
