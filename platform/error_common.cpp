#include <string>

#include "platform/error.h"

namespace platform {

namespace {

// The log writer ends each entry with CR LF but writes an entry's inner line
// breaks as given, so they must already be CR LF or the file mixes endings.
std::string withCrLf(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r') {
      if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
      out += "\r\n";
    } else if (text[i] == '\n') {
      out += "\r\n";
    } else {
      out += text[i];
    }
  }
  return out;
}

// FormatMessage ends its texts with a line break.
std::string_view trimEnd(std::string_view text) {
  while (!text.empty() &&
         (text.back() == ' ' || text.back() == '\r' || text.back() == '\n' || text.back() == '\t')) {
    text.remove_suffix(1);
  }
  return text;
}

}  // namespace

std::string describeFailure(const Error& error, const char* function) {
  const std::string_view where = function != nullptr && *function != '\0' ? function : "(unknown)";
  std::string text(where);
  text += ": ";
  text += error.operation.empty() ? std::string_view("operation") : std::string_view(error.operation);
  text += " failed: ";
  text += trimEnd(error.message);
  text += " (error ";
  text += std::to_string(error.code);
  text += ")\r\n   at ";
  text += where;
  return withCrLf(text);
}

std::string describeProblem(const char* function, std::string_view what) {
  std::string text(function);
  text += ": ";
  text += what;
  text += "\r\n   at ";
  text += function;
  return withCrLf(text);
}

}  // namespace platform
