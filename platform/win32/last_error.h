// The failure of the Win32 call just made, as an Error.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

#include "platform/error.h"

namespace platform::win32 {

// "<function> <subject>" with GetLastError()'s code. A failing call that left
// no code must still read as a failure, never as success.
inline Error lastError(const char* function, std::string_view subject) {
  const DWORD code = GetLastError();
  std::string operation(function);
  if (!subject.empty()) {
    operation += ' ';
    operation += subject;
  }
  return makeError(code != 0 ? code : kErrorGenericFailure, std::move(operation));
}

}  // namespace platform::win32
