// How the check operations report a failure: the "ERROR ..." line, then the
// detail entry that says where and why. Used inside catch blocks too, so it
// never lets an exception out: a log that cannot take the lines must not
// turn a handled failure into a crash.
#pragma once

#include <string>
#include <string_view>

#include "package/vbios_configs.h"
#include "platform/error.h"

namespace package {

using platform::describeProblem;

void logFailure(VBiosConfigs& configs, std::string_view line, const platform::Error& error,
                const char* function) noexcept;
void logFailure(VBiosConfigs& configs, std::string_view line, std::string_view detail) noexcept;
void logNoThrow(VBiosConfigs& configs, std::string_view line) noexcept;

}  // namespace package
