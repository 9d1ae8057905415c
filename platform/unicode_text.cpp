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

}  // namespace

bool nextCodePoint(std::string_view bytes, size_t& i, char32_t& codePoint) {
  const uint8_t lead = byteAt(bytes, i);
  if (lead < 0x80) {
    codePoint = lead;
    ++i;
    return true;
  }
  size_t length = 0;
  uint8_t secondLow = 0x80, secondHigh = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
    codePoint = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    codePoint = lead & 0x0F;
    if (lead == 0xE0) secondLow = 0xA0;
    if (lead == 0xED) secondHigh = 0x9F;  // no UTF-16 surrogates
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    codePoint = lead & 0x07;
    if (lead == 0xF0) secondLow = 0x90;
    if (lead == 0xF4) secondHigh = 0x8F;  // nothing above U+10FFFF
  } else {
    codePoint = kReplacement;
    ++i;
    return false;
  }
  size_t valid = 1;
  while (valid < length && i + valid < bytes.size()) {
    const uint8_t next = byteAt(bytes, i + valid);
    const uint8_t low = valid == 1 ? secondLow : 0x80;
    const uint8_t high = valid == 1 ? secondHigh : 0xBF;
    if (next < low || next > high) break;
    codePoint = (codePoint << 6) | (next & 0x3F);
    ++valid;
  }
  i += valid;
  if (valid == length) return true;
  codePoint = kReplacement;
  return false;
}

namespace {

void decodeUtf8(std::string_view bytes, std::string& out) {
  size_t i = 0;
  while (i < bytes.size()) {
    const size_t start = i;
    char32_t codePoint = 0;
    if (nextCodePoint(bytes, i, codePoint)) {
      out.append(bytes.substr(start, i - start));
    } else {
      appendUtf8(out, kReplacement);
    }
  }
}

}  // namespace

std::u16string utf8ToUtf16(std::string_view utf8) {
  std::u16string out;
  out.reserve(utf8.size());
  size_t i = 0;
  while (i < utf8.size()) {
    char32_t codePoint = 0;
    nextCodePoint(utf8, i, codePoint);
    if (codePoint < 0x10000) {
      out += static_cast<char16_t>(codePoint);
    } else {
      out += static_cast<char16_t>(0xD800 + ((codePoint - 0x10000) >> 10));
      out += static_cast<char16_t>(0xDC00 + ((codePoint - 0x10000) & 0x3FF));
    }
  }
  return out;
}

std::string utf16ToUtf8(std::u16string_view utf16) {
  std::string out;
  out.reserve(utf16.size());
  for (size_t i = 0; i < utf16.size(); ++i) {
    const char16_t unit = utf16[i];
    if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < utf16.size() && utf16[i + 1] >= 0xDC00 &&
        utf16[i + 1] <= 0xDFFF) {
      appendUtf8(out, 0x10000 + ((char32_t(unit) - 0xD800) << 10) + (char32_t(utf16[i + 1]) - 0xDC00));
      ++i;
    } else if (unit >= 0xD800 && unit <= 0xDFFF) {
      appendUtf8(out, kReplacement);
    } else {
      appendUtf8(out, unit);
    }
  }
  return out;
}

void decodeUtf16(std::string_view bytes, bool bigEndian, std::string& out) {
  std::u16string units;
  units.reserve(bytes.size() / 2);
  for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
    const uint8_t a = byteAt(bytes, i), b = byteAt(bytes, i + 1);
    units += static_cast<char16_t>(bigEndian ? (a << 8) | b : (b << 8) | a);
  }
  out += utf16ToUtf8(units);
  if (bytes.size() % 2 != 0) appendUtf8(out, kReplacement);  // an odd byte at the end
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
