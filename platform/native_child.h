// What each process backend does its own way, beneath the portable rules of
// ChildProcess (process_common.cpp): make a child in a tree of its own, watch
// it, end the whole tree and hand over its output. Only process_common.cpp
// and the two backends include this.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/error.h"
#include "platform/process.h"

namespace platform::native {

struct ChildRequest {
  std::string program;    // full Windows path, as the caller named it
  std::string arguments;  // Windows command-line text after the program
  bool captureOutput = false;
  bool breakOutput = false;   // a simulated machine breaks the pipe after the output
  OutputSink sink = nullptr;  // when set, output goes here instead of being kept
};

// Defined by each backend.
struct Child;
struct ChildDeleter {
  // Ends the child's whole tree if anything of it still runs, then releases
  // every handle and thread.
  void operator()(Child* child) const noexcept;
};
using ChildPtr = std::unique_ptr<Child, ChildDeleter>;

// Everything before a process exists (the program checked, pipes made):
// CannotStart or Failed with `error`, or Started with `child` ready to launch.
StartOutcome prepareChild(const ChildRequest& request, ChildPtr& child, Error& error);

// Makes the process, already inside a tree of its own that a kill takes
// whole; a process that could not be put there is ended, never left running.
// CannotStart or Failed (the system refused) with `error`, or Started.
StartOutcome launchChild(Child& child, Error& error);

bool hasExited(Child& child);
WaitOutcome waitForExit(Child& child, uint32_t timeoutMs, Error& error);

// Ends the child and everything it started, and waits (up to kKillWaitMs in
// all) until none of them is left.
Error killTree(Child& child);

int32_t exitCode(const Child& child);
std::string takeOutput(Child& child);
Error outputError(const Child& child);

// The end of a started child as the simulated machine records it.
void reportEnded(const std::string& program, int32_t exitCode, bool killed);

}  // namespace platform::native
