// Stand-in for the flash program an NVIDIA package carries. It takes no
// arguments; [vendorflash] of machine.ini says how long it runs, whether it
// hangs, whether it starts a helper process first and how it ends.
#include "simulated/machine.h"
#include "tools/standin_common.h"
#include "tools/standin_helper.h"

int main(int argc, char** argv) {
  const std::vector<std::string> args = standin::arguments(argc, argv);
  if (args.size() == 1 && args[0] == standin::kHelperArgument) standin::runHelper("vendorflash");
  const simulated::MachineIni ini = simulated::MachineIni::load();
  standin::printLine("VBIOS update utility");
  if (ini.getBool("vendorflash", "helper", false) && !standin::startHelper())
    standin::printLine("ERROR: cannot start the helper");
  standin::printLine("Updating the VBIOS of the graphics adapter...");
  if (ini.getBool("vendorflash", "hang", false)) standin::hangUntilKilled();
  standin::waitScaled(standin::durationMs(ini.getDouble("vendorflash", "seconds", 5)));
  const int exitCode = static_cast<int>(ini.getInt("vendorflash", "exit", 0));
  standin::printLine(exitCode == 0 ? "Update complete." : "Update failed.");
  return exitCode;
}
