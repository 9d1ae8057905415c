#include "installer/state_record.h"

#include <string>

#include "platform/registry.h"
#include "platform/system.h"

namespace {

// The state line is the last line of a run's log, and tools that read the
// log rely on that; so a record that cannot be written is reported on
// standard output, and the exit code still carries the result.
void warnIfFailed(const platform::Error& error, const char* name) {
  if (!error.failed()) return;
  platform::writeStandardOutput(std::string("WARNING cannot write registry value ") + name + ": " +
                                error.message + " (" + std::to_string(error.code) + ")\n");
}

}  // namespace

void recordState(int32_t code) {
  warnIfFailed(platform::writeRegistryDword(kStateKey, "State", static_cast<uint32_t>(code)), "State");
  warnIfFailed(platform::writeRegistryString(kStateKey, "ToolVersion", kToolVersion), "ToolVersion");
}

void recordCompletion(int32_t code, std::string_view displayVersion) {
  recordState(code);
  warnIfFailed(platform::writeRegistryString(kStateKey, "DisplayVersion", displayVersion), "DisplayVersion");
}
