// UTF-8 <-> UTF-16 at the Win32 boundary. The core speaks UTF-8; every W API
// speaks UTF-16, so these two calls are the only place text changes form.
#pragma once

#include <string>
#include <string_view>

namespace platform::win32 {

// Ill-formed input is not an error: each bad sequence becomes U+FFFD, as
// the system's own converters do, so a stray byte in a file name or a child's
// output never loses the rest of the text.
std::wstring toWide(std::string_view utf8);
std::string toUtf8(std::wstring_view wide);

}  // namespace platform::win32
