#include "platform/win32/wide_text.h"

#include <windows.h>

#include <climits>
#include <new>

namespace platform::win32 {

std::wstring toWide(std::string_view utf8) {
  // The converters take int lengths; nothing this program handles comes near
  // 2 GiB, and text that large is refused rather than wrapped around.
  if (utf8.empty() || utf8.size() > INT_MAX) return {};
  const int length = static_cast<int>(utf8.size());
  const int needed = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), length, nullptr, 0);
  if (needed <= 0) return {};
  try {
    std::wstring wide(static_cast<size_t>(needed), L'\0');
    const int written = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), length, wide.data(), needed);
    wide.resize(written > 0 ? static_cast<size_t>(written) : 0);
    return wide;
  } catch (const std::bad_alloc&) {
    return {};
  }
}

std::string toUtf8(std::wstring_view wide) {
  if (wide.empty() || wide.size() > INT_MAX) return {};
  const int length = static_cast<int>(wide.size());
  const int needed = WideCharToMultiByte(CP_UTF8, 0, wide.data(), length, nullptr, 0, nullptr, nullptr);
  if (needed <= 0) return {};
  try {
    std::string utf8(static_cast<size_t>(needed), '\0');
    const int written =
        WideCharToMultiByte(CP_UTF8, 0, wide.data(), length, utf8.data(), needed, nullptr, nullptr);
    utf8.resize(written > 0 ? static_cast<size_t>(written) : 0);
    return utf8;
  } catch (const std::bad_alloc&) {
    return {};
  }
}

}  // namespace platform::win32
