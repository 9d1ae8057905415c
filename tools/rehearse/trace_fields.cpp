#include "tools/rehearse/trace_fields.h"

#include <cstdlib>

#include "platform/unicode_text.h"

namespace kit {

namespace {

size_t valueStart(std::string_view line, std::string_view key) {
  const std::string tag = "\"" + std::string(key) + "\":";
  const size_t at = line.find(tag);
  return at == std::string_view::npos ? at : at + tag.size();
}

}  // namespace

std::string traceString(std::string_view line, std::string_view key) {
  size_t i = valueStart(line, key);
  if (i == std::string_view::npos || i >= line.size() || line[i] != '"') return {};
  std::string out;
  for (++i; i < line.size() && line[i] != '"'; ++i) {
    if (line[i] != '\\' || i + 1 >= line.size()) {
      out += line[i];
      continue;
    }
    const char c = line[++i];
    switch (c) {
      case 'n':
        out += '\n';
        break;
      case 't':
        out += '\t';
        break;
      case 'r':
        out += '\r';
        break;
      case 'u': {
        if (i + 4 >= line.size()) return out;
        const std::string hex(line.substr(i + 1, 4));
        platform::appendUtf8(out, static_cast<char32_t>(std::strtoul(hex.c_str(), nullptr, 16)));
        i += 4;
        break;
      }
      default:
        out += c;
    }
  }
  return out;
}

int traceNumber(std::string_view line, std::string_view key) {
  const size_t i = valueStart(line, key);
  if (i == std::string_view::npos) return -1;
  const std::string text(line.substr(i, 16));
  char* end = nullptr;
  const long value = std::strtol(text.c_str(), &end, 10);
  return end == text.c_str() ? -1 : static_cast<int>(value);
}

}  // namespace kit
