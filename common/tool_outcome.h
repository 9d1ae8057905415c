// How the installer reads the way one of its tools ended (the flash tool or
// the package's flash program, the version reader, the device console): the
// same log entries and the same choice among the caller's three codes.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/process.h"

struct ToolCall {
  const char* function;            // named in the detail entries
  std::string program;             // as it was run
  std::string_view notFoundLine;   // the program cannot be started
  std::string_view exceptionLine;  // any other failure
  std::string_view timeoutLine;
  std::string_view exitCodePrefix;  // followed by the exit code
  int32_t timedOut;
  int32_t exitCode;  // ended by itself with another exit code than 0
  int32_t failed;
  // What the detail says when no process was started; empty: "no process
  // was started for <program>".
  std::string noProcessProblem = {};
};

struct ToolVerdict {
  // 0 when the tool ended by itself with exit code 0 (also when its output
  // broke: what to make of that is the caller's to say).
  int32_t code = 0;
  // It ended, by itself or killed at the time limit, so what it printed
  // before is all it printed.
  bool ended = false;
  std::vector<std::string> entries;  // to log, in order: the ERROR lines and their details
};

ToolVerdict judgeToolRun(const platform::ProgramResult& run, const ToolCall& call);
