#include "platform/paths.h"

#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "platform/posix/path_mapping.h"

namespace platform {

std::string programFolder() {
  std::error_code ec;
  std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (ec) self = std::filesystem::current_path(ec) / "program";
  std::string folder;
  // An empty folder tells the caller that the program cannot name its own
  // place; the packages beside it are then out of reach.
  if (posix::toWindowsPath(self.parent_path().string(), folder).failed()) return {};
  return folder;
}

std::string pathOfNative(std::string_view native) {
  std::error_code ec;
  const std::filesystem::path absolute = std::filesystem::absolute(std::filesystem::path(native), ec);
  std::string path;
  if (ec || posix::toWindowsPath(absolute.lexically_normal().string(), path).failed()) return {};
  return path;
}

std::vector<std::string> programArguments(int argc, char** argv) {
  std::vector<std::string> result;
  for (int i = 1; i < argc && argv != nullptr; ++i) result.emplace_back(argv[i]);
  return result;
}

std::string environmentVariable(const char* name) {
  const char* value = name != nullptr ? std::getenv(name) : nullptr;
  return value != nullptr ? std::string(value) : std::string();
}

}  // namespace platform
