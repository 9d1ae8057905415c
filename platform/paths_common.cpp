#include <string>

#include "platform/ascii_text.h"
#include "platform/paths.h"

namespace platform {

namespace {

// "CON", "nul.txt", "COM1 " and the like open a device wherever they appear
// in a path, so a package file with such a name would leave its folder.
bool isDeviceName(std::string_view component) {
  std::string_view stem = component.substr(0, component.find('.'));
  while (!stem.empty() && stem.back() == ' ') stem.remove_suffix(1);
  static constexpr std::string_view kDevices[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
  for (std::string_view device : kDevices) {
    if (equalsIgnoringAsciiCase(stem, device)) return true;
  }
  if (stem.size() == 4 && (equalsIgnoringAsciiCase(stem.substr(0, 3), "COM") ||
                           equalsIgnoringAsciiCase(stem.substr(0, 3), "LPT"))) {
    return stem[3] >= '1' && stem[3] <= '9';
  }
  return false;
}

bool isAcceptableComponent(std::string_view component) {
  if (component.empty() || component == ".") return true;
  // Windows drops trailing dots and blanks, so "..." or ".. " would act as "..".
  if (component.back() == '.' || component.back() == ' ') return false;
  return !isDeviceName(component);
}

}  // namespace

std::string joinPath(std::string_view folder, std::string_view name) {
  while (!name.empty() && isPathSeparator(name.front())) name.remove_prefix(1);
  if (folder.empty()) return std::string(name);
  std::string joined(folder);
  if (!isPathSeparator(joined.back())) joined += '\\';
  joined += name;
  return joined;
}

bool isContainedRelativePath(std::string_view name) {
  if (name.empty() || isPathSeparator(name.front())) return false;
  for (char c : name) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F) return false;
    // ':' is a drive or an alternate data stream; the rest are wildcards or
    // characters no Windows file name can hold.
    if (c == ':' || c == '*' || c == '?' || c == '"' || c == '<' || c == '>' || c == '|') return false;
  }
  size_t start = 0;
  while (start <= name.size()) {
    size_t end = start;
    while (end < name.size() && !isPathSeparator(name[end])) ++end;
    if (!isAcceptableComponent(name.substr(start, end - start))) return false;
    start = end + 1;
  }
  return true;
}

}  // namespace platform
