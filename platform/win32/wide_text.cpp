#include "platform/win32/wide_text.h"

#include <new>

#include "platform/unicode_text.h"

namespace platform::win32 {

// wchar_t is a UTF-16 code unit on Windows; the conversion itself is the
// portable one, so every build and every file reads text the same way.
static_assert(sizeof(wchar_t) == sizeof(char16_t));

std::wstring toWide(std::string_view utf8) {
  try {
    const std::u16string units = utf8ToUtf16(utf8);
    return std::wstring(units.begin(), units.end());
  } catch (const std::bad_alloc&) {
    return {};
  }
}

std::string toUtf8(std::wstring_view wide) {
  try {
    const std::u16string units(wide.begin(), wide.end());
    return utf16ToUtf8(units);
  } catch (const std::bad_alloc&) {
    return {};
  }
}

}  // namespace platform::win32
