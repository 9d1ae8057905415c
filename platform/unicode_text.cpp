#include "platform/unicode_text.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

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
    // ASCII, by far the most of any tool's output, is taken in runs, eight
    // bytes at a time.
    size_t ascii = i;
    while (ascii + 8 <= bytes.size()) {
      uint64_t word = 0;
      std::memcpy(&word, bytes.data() + ascii, 8);
      if ((word & 0x8080808080808080ull) != 0) break;
      ascii += 8;
    }
    while (ascii < bytes.size() && byteAt(bytes, ascii) < 0x80) ++ascii;
    if (ascii > i) {
      out.append(bytes.substr(i, ascii - i));
      i = ascii;
      continue;
    }
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

// One decoder for whole texts and for pieces, so that both read a byte-order
// mark the same way.
std::string decodeText(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size());
  TextDecoder decoder;
  decoder.feed(bytes, out);
  decoder.finish(out);
  return out;
}

namespace {

// A sequence cut short by the end of the bytes, which the next bytes may
// still complete: a valid lead and only valid continuations so far.
bool isUnfinishedUtf8(std::string_view tail) {
  const uint8_t lead = byteAt(tail, 0);
  const size_t length = lead >= 0xC2 && lead <= 0xDF   ? 2
                        : lead >= 0xE0 && lead <= 0xEF ? 3
                        : lead >= 0xF0 && lead <= 0xF4 ? 4
                                                       : 0;
  if (length == 0 || tail.size() >= length) return false;
  size_t i = 0;
  char32_t codePoint = 0;
  return !nextCodePoint(tail, i, codePoint) && i == tail.size();
}

}  // namespace

namespace {

// Longest first: UTF-32 LE's mark begins like UTF-16 LE's.
constexpr ByteOrderMark kByteOrderMarks[] = {
    {std::string_view("\xFF\xFE\x00\x00", 4), TextEncoding::Utf32Le, "UTF-32 LE"},
    {std::string_view("\x00\x00\xFE\xFF", 4), TextEncoding::Utf32Be, "UTF-32 BE"},
    {"\xEF\xBB\xBF", TextEncoding::Utf8, "UTF-8"},
    {"\xFF\xFE", TextEncoding::Utf16Le, "UTF-16 LE"},
    {"\xFE\xFF", TextEncoding::Utf16Be, "UTF-16 BE"},
};

}  // namespace

const ByteOrderMark* byteOrderMarkOf(std::string_view bytes) {
  for (const ByteOrderMark& mark : kByteOrderMarks)
    if (bytes.starts_with(mark.bytes)) return &mark;
  return nullptr;
}

// The byte-order mark decides, so it waits for four bytes (a UTF-32 mark)
// or the end.
void TextDecoder::choose(std::string& out) {
  const ByteOrderMark* mark = byteOrderMarkOf(pending_);
  chosen_ = true;
  encoding_ = mark != nullptr ? mark->encoding : TextEncoding::Utf8;
  const std::string head = std::move(pending_);
  pending_.clear();
  feed(std::string_view(head).substr(mark != nullptr ? mark->bytes.size() : 0), out);
}

// How much of `bytes` decodes the same whatever follows: all but an
// unfinished character at the end.
size_t TextDecoder::wholeLength(std::string_view bytes) const {
  switch (encoding_) {
    case TextEncoding::Utf16Le:
    case TextEncoding::Utf16Be: {
      size_t length = bytes.size() & ~size_t{1};
      if (length >= 2) {
        const bool bigEndian = encoding_ == TextEncoding::Utf16Be;
        const uint8_t high = byteAt(bytes, length - (bigEndian ? 2 : 1));
        if (high >= 0xD8 && high <= 0xDB) length -= 2;  // its low surrogate may follow
      }
      return length;
    }
    case TextEncoding::Utf32Le:
    case TextEncoding::Utf32Be:
      return bytes.size() & ~size_t{3};
    default:
      for (size_t back = 1; back <= 3 && back <= bytes.size(); ++back) {
        const uint8_t byte = byteAt(bytes, bytes.size() - back);
        if (byte >= 0x80 && byte <= 0xBF) continue;
        return isUnfinishedUtf8(bytes.substr(bytes.size() - back)) ? bytes.size() - back : bytes.size();
      }
      return bytes.size();
  }
}

void TextDecoder::decodeWhole(std::string_view bytes, std::string& out) const {
  switch (encoding_) {
    case TextEncoding::Utf16Le:
    case TextEncoding::Utf16Be:
      decodeUtf16(bytes, encoding_ == TextEncoding::Utf16Be, out);
      break;
    case TextEncoding::Utf32Le:
    case TextEncoding::Utf32Be:
      decodeUtf32(bytes, encoding_ == TextEncoding::Utf32Be, out);
      break;
    default:
      decodeUtf8(bytes, out);
  }
}

void TextDecoder::feed(std::string_view bytes, std::string& out) {
  if (!chosen_) {
    const size_t take = std::min(bytes.size(), 4 - pending_.size());
    pending_.append(bytes.substr(0, take));
    bytes.remove_prefix(take);
    if (pending_.size() < 4) return;
    choose(out);
  }
  std::string joined;
  if (!pending_.empty()) {
    joined = std::move(pending_) + std::string(bytes);
    pending_.clear();
    bytes = joined;
  }
  const size_t whole = wholeLength(bytes);
  decodeWhole(bytes.substr(0, whole), out);
  pending_.assign(bytes.substr(whole));
}

void TextDecoder::finish(std::string& out) {
  if (!chosen_) {
    if (pending_.empty()) return;
    choose(out);
  }
  const std::string rest = std::move(pending_);
  pending_.clear();
  decodeWhole(rest, out);
}

}  // namespace platform
