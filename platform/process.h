// Child processes started the way the installer starts its tools: the full
// program path plus a Windows command-line text, a hidden window, no console,
// no shell, and optionally the standard output captured while it runs, kept
// whole or handed piece by piece to a sink.
//
// runProgram() is the one call the installer uses: start, wait up to a
// limit, kill on time-out, collect the output, and say in one outcome how
// it went. ChildProcess is the backend's primitive beneath it.
//
// Both backends behave alike where a caller could tell them apart:
// - hasExited() is true when there is no child (never started, or the start
//   failed): nothing is running, so a poll loop cannot spin for ever;
// - start() while an earlier child still runs is refused (Failed,
//   kErrorInvalidParameter) and leaves that child alone: a flash tool is
//   never killed as a side effect;
// - once the child is gone, its output may keep arriving for
//   kOutputDrainAfterExitMs (a grandchild holding the pipe is not waited
//   for beyond that);
// - each child starts in a tree of its own (win32: a job object; posix: a
//   process group), and a kill, at a time-out or when the owner is
//   destroyed, takes the whole tree: whatever the child started is gone too
//   (posix: unless it left the group; a Windows job cannot be left);
// - kill() waits up to kKillWaitMs for the tree to be empty before it
//   reports a failure, kErrorWaitTimeout (258, WAIT_TIMEOUT) in both;
// - should this program itself die, a child's tree dies with it, except a
//   child started with outlivesOwner (win32: its job does not kill on close;
//   posix: a process group outlives its starter anyway);
// - only a Windows program is started: a name ending in .exe or .com (win32:
//   and an executable image inside), else CannotStart, kErrorBadExeFormat,
//   before anything runs;
// - the child starts in the folder it is given (or its program's own) with
//   an environment this program builds, never its own: the system's
//   variables, a PATH of the system's folders only, TEMP and TMP when a
//   folder is given for them, and what the simulated machine needs;
// - its time limits are the machine's ([time] timeout_scale on a simulated
//   one);
// - an exception from an output sink ends the collection as a failed read
//   (outputError), never the process.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "platform/error.h"

namespace platform {

// Output kept whole (no sink) beyond this is drained and dropped, so a
// runaway child can neither block on a full pipe nor exhaust memory. The
// installer's own reads use a sink and keep only what they need.
inline constexpr size_t kMaxCapturedOutput = size_t{256} << 20;

// Receives a child's standard output as it arrives, in order, on the reader
// thread, never after the ChildProcess is destroyed (or runProgram returned).
using OutputSink = std::function<void(std::string_view chunk)>;

// The child's own writes are in the pipe when it ends; this is only for the
// system to deliver them, generous because Wine can lag behind.
inline constexpr uint32_t kOutputDrainAfterExitMs = 1000;

// A process stuck in a driver call can take a while to go after it was
// killed, but never for ever as far as the caller is concerned.
inline constexpr uint32_t kKillWaitMs = 30000;

struct ProcessStart {
  std::string program;    // full Windows path of the executable
  std::string arguments;  // command-line text after the program, Windows quoting
  bool captureOutput = false;
  OutputSink sink = nullptr;  // with captureOutput: the output goes here, none is kept
  std::string folder{};       // the child's current folder; empty: its program's folder
  std::string tempFolder{};   // the child's TEMP and TMP; empty: neither is set
  // A flash tool cut off in mid-write can leave a GPU that does not start:
  // its tree goes on should this program die. A kill still ends it.
  bool outlivesOwner = false;
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
  // Ends the child's tree if anything of it still runs (the child, or a
  // helper it left behind when it ended) and releases every handle and thread.
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  StartOutcome start(const ProcessStart& start, Error& error);

  bool hasExited();  // without waiting

  // Waits at most `timeoutMs`, as the machine scales it.
  WaitOutcome wait(uint32_t timeoutMs, Error& error);

  // Terminates the child and everything it started, and waits until all of
  // them are gone (exit code 1).
  Error kill();

  int32_t exitCode() const;  // valid after wait() returned Exited, or a kill

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

// What a caller may ask while its program runs.
class RunningProgram {
 public:
  explicit RunningProgram(ChildProcess& child) : child_(child) {}
  bool hasExited() { return child_.hasExited(); }

 private:
  ChildProcess& child_;
};

struct ProgramRun {
  std::string program;    // full Windows path of the executable
  std::string arguments;  // command-line text after the program, Windows quoting
  bool captureOutput = false;
  OutputSink outputSink;     // with captureOutput: the output goes here, not to `output`
  std::string folder{};      // as ProcessStart
  std::string tempFolder{};  // as ProcessStart
  bool outlivesOwner = false;
  uint32_t timeoutMs = 0;
  // Called once on the caller's thread as soon as the program runs (never
  // when it did not start); the time limit counts from its return. An
  // exception from it kills the program and passes on; with outlivesOwner
  // the program first gets its time limit to end by itself.
  std::function<void(RunningProgram&)> whileRunning;
};

enum class RunOutcome {
  CannotStart,   // the program is missing or cannot be executed (error)
  NoProcess,     // the start returned without starting a process
  Failed,        // the start or the wait failed (error)
  TimedOut,      // still running at the limit and killed (error: only if the kill failed)
  Exited,        // ended by itself (exitCode, output)
  OutputBroken,  // ended by itself, but its output could not be read to the end (exitCode, error)
};

struct ProgramResult {
  RunOutcome outcome = RunOutcome::Failed;
  int32_t exitCode = 0;  // Exited, OutputBroken
  // The captured output: all of it after Exited; what arrived before the
  // failure after OutputBroken, or before the kill after TimedOut.
  std::string output;
  Error error;
  // A failed read of the output, also after a time-out, for a caller that
  // uses what a killed program printed.
  Error outputError;
};

// Whether a file of this name is one that start() runs: a batch file or
// script would run through the command interpreter, which reads the current
// folder, the environment and the file itself its own way.
bool isWindowsProgramName(std::string_view program);

// Starts `run.program`, waits for it and collects its output. Never throws
// on its own account.
ProgramResult runProgram(const ProgramRun& run);

}  // namespace platform
