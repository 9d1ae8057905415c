// The standard output of amdvbflash -ai, which is whatever the tool (or a
// replaced tool) prints: decoded, split into lines, and the "Bios Version"
// lines turned into a version, then compared the way checkUptodate does.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "package/config_text.h"
#include "package/version_text.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const std::string output = package::decodeText(bytes);
  std::string version(package::kNoVbiosVersion);
  for (std::string_view line : package::splitLines(output)) {
    if (line.find_first_of("\r\n") != std::string_view::npos) __builtin_trap();
    if (!package::isBiosVersionLine(line)) continue;
    version = package::versionFromBiosVersionLine(line);
    if (package::utf16Length(version) < package::kNoVbiosVersion.size()) __builtin_trap();
  }
  const auto current = package::splitAt(version, '.');
  const auto reference = package::splitAt("020.001.000.038.016233", '.');
  if (current.size() == reference.size()) package::compareVersionComponents(current, reference);
  int64_t number = 0;
  package::parseInt64(version, number);
  return 0;
}
