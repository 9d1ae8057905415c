// Names below a folder as the PinnedFolder backends take them.
#pragma once

#include <string_view>
#include <vector>

#include "platform/paths.h"

namespace platform {

// One name, neither a path nor "." or "..".
inline bool isPlainName(std::string_view name) {
  return !name.empty() && name != "." && name != ".." && name.find_first_of("\\/") == std::string_view::npos;
}

// "Orvo\VBIOS" -> "Orvo", "VBIOS"; either separator, empty names skipped.
inline std::vector<std::string_view> folderNames(std::string_view below) {
  std::vector<std::string_view> names;
  size_t start = 0;
  for (size_t i = 0; i <= below.size(); ++i) {
    if (i != below.size() && !isPathSeparator(below[i])) continue;
    if (i > start) names.push_back(below.substr(start, i - start));
    start = i + 1;
  }
  return names;
}

}  // namespace platform
