// A helper process of a stand-in tool, the way a vendor's flash program may
// start one: it appends a line to helper-<tool>.txt in the machine root every
// 50 ms until it is killed, so a test can see whether a kill of the tool took
// it along. The tool starts it as a plain child of its own, with nothing of
// the installer's (no pipe, no breakaway from the tool's job or group).
#pragma once

#include <string>

namespace standin {

inline constexpr const char* kHelperArgument = "--helper";

// Starts this same program with kHelperArgument. False if it did not start.
bool startHelper();

// The helper's own life: never returns.
[[noreturn]] void runHelper(const std::string& toolName);

}  // namespace standin
