// Stand-in for Microsoft's device console, as far as the installer uses it:
//   devcon64 install "<inf file>" <hardware id>
//   devcon64 remove <hardware id>
// Behaviour comes from [devcon64] of machine.ini.
#include <string>
#include <vector>

#include "simulated/machine.h"
#include "tools/standin_common.h"

namespace {

constexpr int kExitUsage = 1;

void printUsage() {
  standin::printLine("Device Console Help:");
  standin::printLine("devcon64 install <inf> <hwid> ....... Manually install a device.");
  standin::printLine("devcon64 remove <id> ................ Remove devices.");
}

int install(const simulated::MachineIni& ini, const std::string& inf, const std::string& hardwareId) {
  standin::replaceFiles(ini, "devcon64", "install_replaces");
  standin::printLine("Device node created. Install is complete when drivers are installed...");
  standin::printLine("Updating drivers for " + hardwareId + " from " + inf + ".");
  if (ini.getBool("devcon64", "install_hang", false)) standin::hangUntilKilled();
  const int exitCode = static_cast<int>(ini.getInt("devcon64", "install_exit", 0));
  standin::printLine(exitCode == 0 ? "Drivers installed successfully." : "devcon64 failed.");
  return exitCode;
}

int remove(const simulated::MachineIni& ini, const std::string& hardwareId) {
  if (ini.getBool("devcon64", "remove_hang", false)) standin::hangUntilKilled();
  const int exitCode = static_cast<int>(ini.getInt("devcon64", "remove_exit", 0));
  if (exitCode != 0) {
    standin::printLine("Remove failed on " + hardwareId + ".");
    standin::printLine("devcon64 failed.");
    return exitCode;
  }
  standin::printLine("ROOT\\SYSTEM\\0001                                            : Removed");
  standin::printLine("1 device(s) were removed.");
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  // Exact argument counts: an unquoted path with blanks arrives as more
  // arguments, and that must fail here as it would on Windows.
  const std::vector<std::string> args = standin::arguments(argc, argv);
  const simulated::MachineIni ini = simulated::MachineIni::load();
  if (args.size() == 3 && args[0] == "install") return install(ini, args[1], args[2]);
  if (args.size() == 2 && args[0] == "remove") return remove(ini, args[1]);
  printUsage();
  return kExitUsage;
}
