// No desktop shell here: the simulated machine records what was asked.
#include "platform/shell.h"

#include "platform/simulation.h"

namespace platform {

bool openWebAddress(std::string_view address) {
  const SimulationHooks* machine = simulation();
  if (machine == nullptr || machine->shellOpen == nullptr) return false;
  machine->shellOpen(shellSafeAddress(address));
  return true;
}

RestartRequest requestRestart() {
  const SimulationHooks* machine = simulation();
  if (machine == nullptr || machine->restartRequested == nullptr) return RestartRequest::Failed;
  // The simulated notebook has one operating system instance.
  machine->restartRequested("Win32Shutdown", kRestartFlags, kRestartReserved);
  return RestartRequest::Requested;
}

}  // namespace platform
