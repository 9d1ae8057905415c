#include "platform/json_text.h"

#include "platform/unicode_text.h"

namespace platform {

namespace {

constexpr char32_t kReplacement = 0xFFFD;

// Four hex digits at text[at]; false when they are not.
bool readHex4(std::string_view text, size_t at, char32_t& value) {
  if (at + 4 > text.size()) return false;
  value = 0;
  for (size_t k = at; k < at + 4; ++k) {
    const char c = text[k];
    value <<= 4;
    if (c >= '0' && c <= '9')
      value |= static_cast<char32_t>(c - '0');
    else if (c >= 'a' && c <= 'f')
      value |= static_cast<char32_t>(c - 'a' + 10);
    else if (c >= 'A' && c <= 'F')
      value |= static_cast<char32_t>(c - 'A' + 10);
    else
      return false;
  }
  return true;
}

}  // namespace

std::string jsonEscape(std::string_view text) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string out;
  out.reserve(text.size() + 8);
  for (size_t i = 0; i < text.size();) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\r') {
      out += "\\r";
    } else if (c == '\t') {
      out += "\\t";
    } else if (c < 0x20 || c == 0x7F) {
      out += "\\u00";
      out += kHex[c >> 4];
      out += kHex[c & 0xF];
    } else if (c >= 0x80) {
      const size_t start = i;
      char32_t codePoint = 0;
      if (nextCodePoint(text, i, codePoint))
        out.append(text.substr(start, i - start));
      else
        out += "\\ufffd";
      continue;
    } else {
      out += static_cast<char>(c);
    }
    ++i;
  }
  return out;
}

std::optional<std::string> readJsonString(std::string_view text, size_t& at) {
  if (at >= text.size() || text[at] != '"') return std::nullopt;
  std::string out;
  for (++at; at < text.size(); ++at) {
    const char c = text[at];
    if (c == '"') {
      ++at;
      return out;
    }
    if (c != '\\') {
      out += c;
      continue;
    }
    if (++at >= text.size()) return std::nullopt;
    switch (text[at]) {
      case '"':
      case '\\':
      case '/':
        out += text[at];
        break;
      case 'b':
        out += '\b';
        break;
      case 'f':
        out += '\f';
        break;
      case 'n':
        out += '\n';
        break;
      case 'r':
        out += '\r';
        break;
      case 't':
        out += '\t';
        break;
      case 'u': {
        char32_t unit = 0;
        if (!readHex4(text, at + 1, unit)) return std::nullopt;
        at += 4;
        char32_t low = 0;
        if (unit >= 0xD800 && unit <= 0xDBFF && text.substr(at + 1, 2) == "\\u" &&
            readHex4(text, at + 3, low) && low >= 0xDC00 && low <= 0xDFFF) {
          unit = 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
          at += 6;
        } else if (unit >= 0xD800 && unit <= 0xDFFF) {
          unit = kReplacement;
        }
        appendUtf8(out, unit);
        break;
      }
      default:
        return std::nullopt;
    }
  }
  return std::nullopt;
}

}  // namespace platform
