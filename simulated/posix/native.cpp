#include "simulated/native.h"

#include <system_error>

#include "platform/paths.h"

namespace simulated::native {

namespace fs = std::filesystem;

// POSIX names are bytes; UTF-8 text is used as it is.
fs::path fromUtf8(std::string_view utf8) { return fs::path(std::string(utf8)); }

std::string toUtf8(const fs::path& path) { return path.native(); }

fs::path namedRoot() {
  const std::string named = platform::environmentVariable("OVVB_MACHINE");
  if (!named.empty()) return fromUtf8(named);
  std::error_code ec;
  const fs::path self = fs::read_symlink("/proc/self/exe", ec);
  if (ec) return fs::current_path(ec) / "machine";
  return self.parent_path() / "machine";
}

std::FILE* openForAppend(const fs::path& path) { return std::fopen(path.c_str(), "ab"); }

// rename(2) replaces a file whoever has it open.
bool replaceFile(const fs::path& from, const fs::path& to) {
  std::error_code ec;
  fs::rename(from, to, ec);
  return !ec;
}

}  // namespace simulated::native
