// No desktop shell here: the simulated machine says whether its session has
// one and records what was asked.
#include "platform/shell.h"

#include "platform/simulation.h"

namespace platform {

namespace {

constexpr const char* kNoMachine = "no desktop shell: this system opens no web pages";

}  // namespace

std::string webPagesCannotOpen() {
  const SimulationHooks* machine = simulation();
  if (machine == nullptr || machine->desktopShell == nullptr) return kNoMachine;
  std::string whyNot;
  if (machine->desktopShell(whyNot)) return {};
  return whyNot;
}

WebPageOpening openWebAddress(std::string_view address) {
  const std::string target = shellSafeAddress(address);
  const SimulationHooks* machine = simulation();
  if (machine == nullptr || machine->shellOpen == nullptr) return {false, kNoMachine};
  if (std::string whyNot = webPagesCannotOpen(); !whyNot.empty()) {
    if (machine->shellNotOpened != nullptr) machine->shellNotOpened(target, whyNot);
    return {false, std::move(whyNot)};
  }
  machine->shellOpen(target);
  return {true, {}};
}

RestartRequest requestRestart() {
  const SimulationHooks* machine = simulation();
  if (machine == nullptr || machine->restartRequested == nullptr) return RestartRequest::Failed;
  // The simulated notebook has one operating system instance.
  machine->restartRequested("Win32Shutdown", kRestartFlags, kRestartReserved);
  return RestartRequest::Requested;
}

}  // namespace platform
