#include "platform/unicode_text.h"

#include <cstdint>

namespace platform {

namespace {

constexpr char32_t kReplacement = 0xFFFD;

}  // namespace

void appendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

namespace {

uint8_t byteAt(std::string_view bytes, size_t i) { return static_cast<uint8_t>(bytes[i]); }

// Well-formed sequences are copied; each maximal ill-formed subpart becomes
// one U+FFFD, as .NET's UTF8Encoding and the Unicode recommendation do.
void decodeUtf8(std::string_view bytes, std::string& out) {
  size_t i = 0;
  while (i < bytes.size()) {
    const uint8_t lead = byteAt(bytes, i);
    if (lead < 0x80) {
      out += static_cast<char>(lead);
      ++i;
      continue;
    }
    size_t length = 0;
    uint8_t secondLow = 0x80, secondHigh = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
      length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      length = 3;
      if (lead == 0xE0) secondLow = 0xA0;
      if (lead == 0xED) secondHigh = 0x9F;  // no UTF-16 surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      length = 4;
      if (lead == 0xF0) secondLow = 0x90;
      if (lead == 0xF4) secondHigh = 0x8F;  // nothing above U+10FFFF
    } else {
      appendUtf8(out, kReplacement);
      ++i;
      continue;
    }
    size_t valid = 1;
    while (valid < length && i + valid < bytes.size()) {
      const uint8_t next = byteAt(bytes, i + valid);
      const uint8_t low = valid == 1 ? secondLow : 0x80;
      const uint8_t high = valid == 1 ? secondHigh : 0xBF;
      if (next < low || next > high) break;
      ++valid;
    }
    if (valid == length) {
      out.append(bytes.substr(i, length));
    } else {
      appendUtf8(out, kReplacement);
    }
    i += valid;
  }
}

}  // namespace

void decodeUtf16(std::string_view bytes, bool bigEndian, std::string& out) {
  auto unitAt = [&](size_t i) -> char16_t {
    const uint8_t a = byteAt(bytes, i), b = byteAt(bytes, i + 1);
    return static_cast<char16_t>(bigEndian ? (a << 8) | b : (b << 8) | a);
  };
  size_t i = 0;
  while (i + 1 < bytes.size()) {
    const char16_t unit = unitAt(i);
    i += 2;
    if (unit >= 0xD800 && unit <= 0xDBFF) {
      if (i + 1 < bytes.size()) {
        const char16_t low = unitAt(i);
        if (low >= 0xDC00 && low <= 0xDFFF) {
          i += 2;
          appendUtf8(out, 0x10000 + ((char32_t(unit) - 0xD800) << 10) + (char32_t(low) - 0xDC00));
          continue;
        }
      }
      appendUtf8(out, kReplacement);
    } else if (unit >= 0xDC00 && unit <= 0xDFFF) {
      appendUtf8(out, kReplacement);
    } else {
      appendUtf8(out, unit);
    }
  }
  if (i < bytes.size()) appendUtf8(out, kReplacement);  // an odd byte at the end
}

namespace {

void decodeUtf32(std::string_view bytes, bool bigEndian, std::string& out) {
  size_t i = 0;
  for (; i + 3 < bytes.size(); i += 4) {
    char32_t cp = 0;
    for (size_t k = 0; k < 4; ++k) {
      const char32_t b = byteAt(bytes, i + k);
      cp |= bigEndian ? b << (8 * (3 - k)) : b << (8 * k);
    }
    const bool valid = cp <= 0x10FFFF && !(cp >= 0xD800 && cp <= 0xDFFF);
    appendUtf8(out, valid ? cp : kReplacement);
  }
  if (i < bytes.size()) appendUtf8(out, kReplacement);
}

}  // namespace

std::string decodeText(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size());
  // UTF-32 LE must be tested before UTF-16 LE: its mark begins with FF FE.
  if (bytes.starts_with(std::string_view("\xFF\xFE\x00\x00", 4))) {
    decodeUtf32(bytes.substr(4), false, out);
  } else if (bytes.starts_with(std::string_view("\x00\x00\xFE\xFF", 4))) {
    decodeUtf32(bytes.substr(4), true, out);
  } else if (bytes.starts_with("\xFF\xFE")) {
    decodeUtf16(bytes.substr(2), false, out);
  } else if (bytes.starts_with("\xFE\xFF")) {
    decodeUtf16(bytes.substr(2), true, out);
  } else if (bytes.starts_with("\xEF\xBB\xBF")) {
    decodeUtf8(bytes.substr(3), out);
  } else {
    decodeUtf8(bytes, out);
  }
  return out;
}

}  // namespace platform
