#include "tools/package_check/nvidia_version.h"

#include <cstdio>

#include "package/config_text.h"

namespace kit {

std::optional<uint64_t> nvidiaIntegerOfDotted(std::string_view dotted) {
  const std::vector<std::string_view> parts = package::splitAt(dotted, '.');
  if (parts.size() != 5) return std::nullopt;
  uint64_t value = 0;
  for (std::string_view part : parts) {
    if (part.size() != 2) return std::nullopt;
    unsigned byte = 0;
    for (char c : part) {
      const int digit = c >= '0' && c <= '9'   ? c - '0'
                        : c >= 'A' && c <= 'F' ? c - 'A' + 10
                        : c >= 'a' && c <= 'f' ? c - 'a' + 10
                                               : -1;
      if (digit < 0) return std::nullopt;
      byte = byte * 16 + static_cast<unsigned>(digit);
    }
    value = (value << 8) | byte;
  }
  return value;
}

std::string nvidiaDottedOfInteger(uint64_t value) {
  if (value > 0xFFFFFFFFFFull) return {};
  char text[20];
  std::snprintf(text, sizeof text, "%02X.%02X.%02X.%02X.%02X", static_cast<unsigned>((value >> 32) & 0xFF),
                static_cast<unsigned>((value >> 24) & 0xFF), static_cast<unsigned>((value >> 16) & 0xFF),
                static_cast<unsigned>((value >> 8) & 0xFF), static_cast<unsigned>(value & 0xFF));
  return text;
}

}  // namespace kit
