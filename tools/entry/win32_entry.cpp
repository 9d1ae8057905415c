#include <windows.h>

#include <string>
#include <vector>

#include "platform/win32/wide_text.h"
#include "tools/entry/tool_main.h"

int wmain(int argc, wchar_t** argv) {
  // First of all: DLLs only from System32, never from the kit's own folder
  // or the current one (the kit is run from wherever a package is).
  SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) args.push_back(platform::win32::toUtf8(argv[i]));
  std::wstring self(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = GetModuleFileNameW(nullptr, self.data(), static_cast<DWORD>(self.size()));
    if (length == 0) return toolMain(args, ".");
    if (length < self.size()) {
      self.resize(length);
      break;
    }
    self.resize(self.size() * 2);
  }
  const size_t slash = self.find_last_of(L"\\/");
  return toolMain(args, platform::win32::toUtf8(self.substr(0, slash == std::wstring::npos ? 0 : slash)));
}
