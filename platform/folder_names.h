// Names below a folder as the PinnedFolder backends take them, and the checks
// both backends make before opening anything.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/error.h"
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

// What both PinnedFolder backends do before opening anything: `below` split
// into plain names (kErrorInvalidName, as "<function> <below>", if there are
// none or one is not plain), `parent` refused when a link is on its way
// (kErrorReparsePointEncountered, naming the link) and, with `makeParent`,
// made when the machine lacks it.
Error preparePinnedFolder(std::string_view parent, std::string_view below, bool makeParent,
                          const char* function, std::vector<std::string_view>& names);

// ".untrusted-<16 hex digits>": the fresh name beside it for what stood in
// the way of a folder or lock of ours. Unpredictable, so that nobody can
// take the name first.
std::string untrustedSuffix();

// A fresh name for a folder of ours beside one that could not be freed:
// ".<16 hex digits>".
std::string freshSuffix();

// A folder that is not there is kErrorPathNotFound, whether or not the one
// above it is (the system says kErrorFileNotFound when it is).
Error missingIsPathNotFound(Error error);

}  // namespace platform
