// Case folding for names that Windows compares without regard to case
// (registry keys, program file names, INI sections): ASCII only, as those
// names are, and independent of the C locale.
#pragma once

#include <string>
#include <string_view>

namespace platform {

inline std::string lowerAscii(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return out;
}

}  // namespace platform
