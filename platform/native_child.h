// What each process backend does its own way, beneath the portable rules of
// ChildProcess (process_common.cpp): make a child in a tree of its own, watch
// it, end the whole tree and read its output. Only process_common.cpp and the
// two backends include this.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/error.h"
#include "platform/process.h"

namespace platform::native {

// One variable of a child's environment.
using Variable = std::pair<std::string, std::string>;

struct ChildRequest {
  std::string program;    // full Windows path, as the caller named it
  std::string arguments;  // Windows command-line text after the program
  bool captureOutput = false;
  bool outlivesOwner = false;
  std::string folder;      // Windows path of the current folder, never empty
  std::string tempFolder;  // Windows path for TEMP and TMP, or empty
  // What the machine adds to the system's own variables: the simulated
  // machine names its root to the stand-in tools.
  std::vector<Variable> machineVariables;
};

// A child's standard output as both backends collect it on their reader
// thread: kept whole up to kMaxCapturedOutput, or handed to the caller's
// sink. A sink that throws ends the collection as a failed read (the rest is
// drained and dropped), never the process.
class OutputCollector {
 public:
  OutputCollector(OutputSink sink, bool breakAtEnd, std::string program);

  void deliver(const char* data, size_t size);  // on the reader thread
  void readFailed(uint32_t code);               // a read failed other than by the pipe's end
  void finish();                                // on the reader thread, on its way out

  std::string take();  // what is kept so far
  Error error() const;

 private:
  void fail(uint32_t code, const std::string& why);

  OutputSink sink_;
  const bool breakAtEnd_;  // a simulated machine breaks the pipe after the output
  const std::string program_;
  mutable std::mutex mutex_;
  std::string kept_;
  Error error_;
  bool dropping_ = false;  // after a failed sink: read on, keep nothing
};

// Defined by each backend.
struct Child;
struct ChildDeleter {
  // Ends the child's whole tree if anything of it still runs, then releases
  // every handle and thread.
  void operator()(Child* child) const noexcept;
};
using ChildPtr = std::unique_ptr<Child, ChildDeleter>;

// Everything before a process exists (the program checked, the environment
// built, pipes made): CannotStart or Failed with `error`, or Started with
// `child` ready to launch. `output` is null without capture.
StartOutcome prepareChild(const ChildRequest& request, std::unique_ptr<OutputCollector> output,
                          ChildPtr& child, Error& error);

// Makes the process, already inside a tree of its own that a kill takes
// whole; a process that could not be put there is ended, never left running.
// CannotStart or Failed (the system refused) with `error`, or Started.
StartOutcome launchChild(Child& child, Error& error);

bool hasExited(Child& child);
// `timeoutMs` as the machine scales it; INFINITE waits for ever.
WaitOutcome waitForExit(Child& child, uint32_t timeoutMs, Error& error);

// Ends the child and everything it started, and waits (up to kKillWaitMs in
// all) until none of them is left; kErrorWaitTimeout if something is.
Error killTree(Child& child);

int32_t exitCode(const Child& child);
// What has arrived so far; once the child has ended, all of it (drained).
std::string takeOutput(Child& child);
Error outputError(const Child& child);

// The end of a started child as the simulated machine records it.
void reportEnded(const std::string& program, int32_t exitCode, bool killed);

}  // namespace platform::native
