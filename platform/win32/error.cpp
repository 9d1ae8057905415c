#include "platform/error.h"

#include <windows.h>

#include <new>
#include <string>

#include "platform/win32/scoped_handle.h"
#include "platform/win32/wide_text.h"

namespace platform {

namespace {

std::string systemMessage(uint32_t code) {
  wchar_t* buffer = nullptr;
  const DWORD length = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
      code, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
  win32::ScopedLocalMemory owner(buffer);
  if (length == 0 || buffer == nullptr) return "Unknown error " + std::to_string(code);
  std::wstring_view text(buffer, length);
  // The system's texts end in CR LF, which would split the log entry.
  while (!text.empty() && (text.back() == L'\r' || text.back() == L'\n' || text.back() == L' ')) {
    text.remove_suffix(1);
  }
  return win32::toUtf8(text);
}

}  // namespace

Error makeError(uint32_t code, std::string operation) {
  Error error;
  error.code = code;
  try {
    error.operation = std::move(operation);
    error.message = systemMessage(code);
  } catch (const std::bad_alloc&) {
    // The code alone still tells the caller what failed.
  }
  return error;
}

}  // namespace platform
