#include <string>

#include "platform/files.h"
#include "platform/paths.h"

namespace platform {

std::string firstRedirection(std::string_view path) {
  while (path.size() > 1 && isPathSeparator(path.back())) path.remove_suffix(1);
  // The drive's root is where the machine's owner put it, not a folder the
  // program is about to write into.
  size_t start = 0;
  if (path.size() >= 2 && path[1] == ':') start = path.size() > 2 && isPathSeparator(path[2]) ? 3 : 2;
  while (start < path.size() && isPathSeparator(path[start])) ++start;
  for (size_t i = start; i <= path.size(); ++i) {
    if (i != path.size() && !isPathSeparator(path[i])) continue;
    if (i == start) continue;
    const std::string_view prefix = path.substr(0, i);
    if (isLinkOrReparsePoint(prefix)) return std::string(prefix);
  }
  return {};
}

}  // namespace platform
