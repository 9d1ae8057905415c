#include "package/operation_failure.h"

namespace package {

void logNoThrow(VBiosConfigs& configs, std::string_view line) noexcept {
  try {
    configs.OvLog(line, *configs.w);
  } catch (...) {
    // Out of memory while logging: the result code still tells the caller.
  }
}

void logFailure(VBiosConfigs& configs, std::string_view line, std::string_view detail) noexcept {
  logNoThrow(configs, line);
  logNoThrow(configs, detail);
}

void logFailure(VBiosConfigs& configs, std::string_view line, const platform::Error& error,
                const char* function) noexcept {
  logNoThrow(configs, line);
  try {
    configs.OvLog(platform::describeFailure(error, function), *configs.w);
  } catch (...) {
  }
}

}  // namespace package
