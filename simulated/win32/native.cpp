#include "simulated/native.h"

#include <windows.h>

#include <chrono>
#include <cstdio>
#include <system_error>
#include <thread>

#include "platform/paths.h"
#include "platform/win32/wide_text.h"

namespace simulated::native {

namespace fs = std::filesystem;

fs::path fromUtf8(std::string_view utf8) { return fs::path(platform::win32::toWide(utf8)); }

std::string toUtf8(const fs::path& path) { return platform::win32::toUtf8(path.native()); }

namespace {

// The shipped program gives its children an environment of its own, without
// OVVB_MACHINE; under it, a Wine test prefix names the machine here for the
// stand-in tools it starts.
fs::path testPrefixRoot() {
  wchar_t value[2048];
  DWORD size = sizeof value;
  if (RegGetValueW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\OvVBiosTest", L"MachineRoot", RRF_RT_REG_SZ, nullptr,
                   value, &size) != ERROR_SUCCESS)
    return {};
  return fs::path(value);
}

}  // namespace

fs::path namedRoot() {
  std::string named = platform::environmentVariable("OVVB_MACHINE");
  if (named.empty())
    if (fs::path root = testPrefixRoot(); !root.empty()) return root;
  if (!named.empty() && named.front() == '/') {
    // Wine shows the Unix root as Z:.
    std::string windows = "Z:";
    for (char c : named) windows += c == '/' ? '\\' : c;
    named = windows;
  }
  if (!named.empty()) return fromUtf8(named);
  const std::string folder = platform::programFolder();
  if (folder.empty()) {
    std::error_code ec;
    return fs::current_path(ec) / L"machine";
  }
  return fromUtf8(folder) / L"machine";
}

std::FILE* openForAppend(const fs::path& path) { return _wfopen(path.c_str(), L"ab"); }

bool replaceFile(const fs::path& from, const fs::path& to) {
  // A reader's handle lives for one read of the file, a few milliseconds.
  constexpr int kTries = 200;
  constexpr auto kPause = std::chrono::milliseconds(10);
  for (int attempt = 1;; ++attempt) {
    if (MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING)) return true;
    const DWORD error = GetLastError();
    const bool busy =
        error == ERROR_SHARING_VIOLATION || error == ERROR_ACCESS_DENIED || error == ERROR_LOCK_VIOLATION;
    if (!busy || attempt == kTries) return false;
    // Real time on purpose: the simulated clock may run at any speed, or not at all.
    std::this_thread::sleep_for(kPause);
  }
}

}  // namespace simulated::native
