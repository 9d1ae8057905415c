// Paths of the machine the tool runs on (not the installer's Windows paths),
// converted from and to the UTF-8 the tools speak.
#pragma once

#include <filesystem>
#include <string>

namespace kit {

inline std::filesystem::path nativePath(const std::string& utf8) {
  return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

inline std::string utf8Of(const std::filesystem::path& path) {
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

}  // namespace kit
