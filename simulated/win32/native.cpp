#include "simulated/native.h"

#include <cstdio>
#include <system_error>

#include "platform/paths.h"
#include "platform/win32/wide_text.h"

namespace simulated::native {

namespace fs = std::filesystem;

fs::path fromUtf8(std::string_view utf8) { return fs::path(platform::win32::toWide(utf8)); }

std::string toUtf8(const fs::path& path) { return platform::win32::toUtf8(path.native()); }

fs::path namedRoot() {
  std::string named = platform::environmentVariable("OVVB_MACHINE");
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

}  // namespace simulated::native
