#include "platform/paths.h"

#include <windows.h>
// shellapi.h after windows.h: CommandLineToArgvW needs its types.
#include <shellapi.h>

#include <new>
#include <string>

#include "platform/win32/scoped_handle.h"
#include "platform/win32/wide_text.h"

namespace platform {

namespace {

// The longest path or environment value Windows can hand back, in UTF-16
// units; a growing buffer never needs to pass it.
constexpr DWORD kMaxWideText = 32768;

}  // namespace

std::string programFolder() {
  try {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
      const DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
      if (length == 0) return {};
      // A full buffer means the name was cut short (the NUL did not fit).
      if (length < path.size()) {
        path.resize(length);
        break;
      }
      if (path.size() >= kMaxWideText) return {};
      path.resize(path.size() * 2);
    }
    const size_t separator = path.find_last_of(L"\\/");
    if (separator == std::wstring::npos) return {};
    path.resize(separator);
    return win32::toUtf8(path);
  } catch (const std::bad_alloc&) {
    return {};
  }
}

std::vector<std::string> programArguments(int, char**) {
  std::vector<std::string> result;
  int count = 0;
  LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
  const win32::ScopedLocalMemory owner(reinterpret_cast<HLOCAL>(wide));
  for (int i = 1; wide != nullptr && i < count; ++i) result.push_back(win32::toUtf8(wide[i]));
  return result;
}

std::string pathOfNative(std::string_view native) { return std::string(native); }

std::string environmentVariable(const char* name) {
  if (name == nullptr || *name == '\0') return {};
  try {
    const std::wstring wideName = win32::toWide(name);
    std::wstring value(256, L'\0');
    for (;;) {
      const DWORD length =
          GetEnvironmentVariableW(wideName.c_str(), value.data(), static_cast<DWORD>(value.size()));
      if (length == 0) return {};  // unset, or set to the empty text
      if (length < value.size()) {
        value.resize(length);
        return win32::toUtf8(value);
      }
      // Too small: `length` is the size needed, terminating NUL included. The
      // value may also have grown between the calls, hence the loop.
      if (length > kMaxWideText) return {};
      value.resize(length);
    }
  } catch (const std::bad_alloc&) {
    return {};
  }
}

}  // namespace platform
