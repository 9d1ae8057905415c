// Decoding text that comes from outside (files, tools, registry exports) to
// UTF-8. Malformed input becomes U+FFFD, so the result is always valid UTF-8.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace platform {

void appendUtf8(std::string& out, char32_t codePoint);

// Reads the code point at `i` and moves past it. False for an ill-formed
// sequence: `i` then moves past its maximal ill-formed subpart (one U+FFFD's
// worth, as .NET and the Unicode recommendation count) and `codePoint` is
// U+FFFD.
bool nextCodePoint(std::string_view utf8, size_t& i, char32_t& codePoint);

// UTF-8 <-> UTF-16, the one conversion behind every Win32 call
// (win32::toWide/toUtf8) and every UTF-16 file. Ill-formed input is not an
// error: each bad sequence or lone surrogate becomes U+FFFD, as the system's
// own converters do, so a stray byte never loses the rest of the text.
std::u16string utf8ToUtf16(std::string_view utf8);
std::string utf16ToUtf8(std::u16string_view utf16);

// UTF-16 code units without a byte-order mark; an odd last byte is malformed.
void decodeUtf16(std::string_view bytes, bool bigEndian, std::string& out);

enum class TextEncoding { Utf8, Utf16Le, Utf16Be, Utf32Le, Utf32Be };

struct ByteOrderMark {
  std::string_view bytes;
  TextEncoding encoding;
  std::string_view name;  // as people name the encoding, e.g. "UTF-16 LE"
};

// The byte-order mark `bytes` begins with, or nullptr for none.
const ByteOrderMark* byteOrderMarkOf(std::string_view bytes);

// A leading byte-order mark picks the encoding (UTF-8, UTF-16 LE/BE, UTF-32
// LE/BE) and is dropped; without one the bytes are UTF-8.
std::string decodeText(std::string_view bytes);

// decodeText for bytes that arrive in pieces (a tool's output): what feed()
// and finish() append, in order, is exactly decodeText of all the bytes,
// wherever the pieces were cut. Holds at most a few bytes between pieces.
class TextDecoder {
 public:
  void feed(std::string_view bytes, std::string& out);
  void finish(std::string& out);  // after the last piece

 private:
  void choose(std::string& out);
  void decodeWhole(std::string_view bytes, std::string& out) const;
  size_t wholeLength(std::string_view bytes) const;

  bool chosen_ = false;  // the encoding is known
  TextEncoding encoding_ = TextEncoding::Utf8;
  std::string pending_;  // a byte-order mark not yet known, or an unfinished character
};

}  // namespace platform
