// Decoding text that comes from outside (files, tools, registry exports) to
// UTF-8. Malformed input becomes U+FFFD, so the result is always valid UTF-8.
#pragma once

#include <string>
#include <string_view>

namespace platform {

void appendUtf8(std::string& out, char32_t codePoint);

// UTF-16 code units without a byte-order mark; an odd last byte is malformed.
void decodeUtf16(std::string_view bytes, bool bigEndian, std::string& out);

// A leading byte-order mark picks the encoding (UTF-8, UTF-16 LE/BE, UTF-32
// LE/BE) and is dropped; without one the bytes are UTF-8.
std::string decodeText(std::string_view bytes);

}  // namespace platform
