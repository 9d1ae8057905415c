// Text helpers for what packages and tools hand us: bytes in some Unicode
// encoding, split into lines and fields the way a .NET text reader does.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace package {

// Decodes a file's or a tool's bytes to UTF-8. A leading byte-order mark
// picks the encoding (UTF-8, UTF-16 LE/BE, UTF-32 LE/BE) and is dropped;
// without one the bytes are UTF-8. Malformed sequences become U+FFFD, so the
// result is always valid UTF-8 whatever the input was.
std::string decodeText(std::string_view bytes);

// Lines as ReadLine returns them: ended by CR LF, LF or CR, with no empty
// line after a final line end. The views point into `text`.
std::vector<std::string_view> splitLines(std::string_view text);

// Every piece between separators, empty ones included: "a==b" gives
// "a", "", "b"; "" gives one empty piece.
std::vector<std::string_view> splitAt(std::string_view text, char separator);

}  // namespace package
