#include "tools/package_check/visible_text.h"

#include <cstdio>

#include "platform/json_text.h"

namespace kit {

namespace {

std::string hexEscape(unsigned char c, const char* format) {
  char buffer[8];
  std::snprintf(buffer, sizeof buffer, format, c);
  return buffer;
}

}  // namespace

std::string visibleText(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '\t') {
      out += "\\t";
    } else if (byte < 0x20 || byte == 0x7F) {
      out += hexEscape(byte, "\\x%02X");
    } else {
      out += c;
    }
  }
  return out;
}

std::string jsonString(std::string_view text) { return "\"" + platform::jsonEscape(text) + "\""; }

}  // namespace kit
