// Text helpers for what packages and tools hand us: bytes in some Unicode
// encoding, split into lines and fields the way a .NET text reader does.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/unicode_text.h"

namespace package {

// A file's or a tool's bytes as UTF-8, whatever their byte-order mark says.
using platform::decodeText;

// Lines as ReadLine returns them: ended by CR LF, LF or CR, with no empty
// line after a final line end. The views point into `text`.
std::vector<std::string_view> splitLines(std::string_view text);

// Every piece between separators, empty ones included: "a==b" gives
// "a", "", "b"; "" gives one empty piece.
std::vector<std::string_view> splitAt(std::string_view text, char separator);

}  // namespace package
