// OvVBiosPackageCheck <packages folder> [--json] [--tools DIR]
#include <string>
#include <vector>

#include "platform/system.h"
#include "tools/entry/tool_main.h"
#include "tools/package_check/check_output.h"
#include "tools/package_check/package_folder.h"

namespace {

constexpr const char* kUsage =
    "usage: OvVBiosPackageCheck <packages folder> [--json] [--tools DIR]\n"
    "  Reads the folder as OvVBiosInstaller would and reports what it will do with it.\n"
    "  --json       findings as JSON\n"
    "  --tools DIR  also take the tools the package lacks from DIR (simulated stand-ins, as the\n"
    "               rehearsal does); without it the tools must be in the package, as on a notebook\n"
    "Exit code: 0 clean (notes at most), 1 warnings, 2 errors, 3 usage.\n";

}  // namespace

int toolMain(const std::vector<std::string>& args, const std::string&) {
  std::string folder, tools;
  bool json = false;
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--json") {
      json = true;
    } else if (args[i] == "--tools" && i + 1 < args.size()) {
      tools = args[++i];
    } else if (args[i].starts_with("-") || !folder.empty()) {
      platform::writeStandardOutput(kUsage);
      return 3;
    } else {
      folder = args[i];
    }
  }
  if (folder.empty()) {
    platform::writeStandardOutput(kUsage);
    return 3;
  }
  const kit::CheckReport report = kit::checkPackage(kit::loadPackageFolder(folder, tools));
  platform::writeStandardOutput(json ? kit::formatJson(report, folder) : kit::formatText(report, folder));
  return report.exitCode();
}
