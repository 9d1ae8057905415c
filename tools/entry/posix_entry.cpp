#include <filesystem>
#include <system_error>

#include "tools/entry/tool_main.h"

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  std::error_code error;
  const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
  return toolMain(args, error ? std::string(".") : self.parent_path().string());
}
