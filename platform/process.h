// Child processes started the way the installer starts its tools: the full
// program path plus a Windows command-line text, a hidden window, no console,
// no shell, and optionally the whole standard output captured while it runs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/error.h"

namespace platform {

// Captured output beyond this is drained and dropped, so a runaway child can
// neither block on a full pipe nor exhaust memory.
inline constexpr size_t kMaxCapturedOutput = size_t{256} << 20;

struct ProcessStart {
  std::string program;    // full Windows path of the executable
  std::string arguments;  // command-line text after the program, Windows quoting
  bool captureOutput = false;
};

enum class StartOutcome {
  Started,
  NoProcess,    // the start call returned without starting a process
  CannotStart,  // the program is missing or cannot be executed (error set)
  Failed,       // any other failure of the start (error set)
};

enum class WaitOutcome { Exited, TimedOut, Failed };

class ChildProcess {
 public:
  ChildProcess();
  // Kills a child that is still running and releases every handle and thread.
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  StartOutcome start(const ProcessStart& start, Error& error);

  bool hasExited();  // without waiting

  // Waits at most `timeoutMs` (posix: times [time] timeout_scale).
  WaitOutcome wait(uint32_t timeoutMs, Error& error);

  // Terminates the child and waits until it is gone.
  Error kill();

  int32_t exitCode() const;  // valid after wait() returned Exited

  // Everything the child wrote to standard output, complete once the child
  // has ended (exited or killed) and its pipe is drained.
  std::string takeOutput();

  // Set when reading the output failed other than by its end (the pipe
  // broke); takeOutput() still gives what arrived before. Valid after
  // takeOutput().
  Error outputError() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace platform
