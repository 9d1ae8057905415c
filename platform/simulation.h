// The seam between the platform services and a simulated machine. The
// product installs no hooks, so every service acts as on a real PC. The linux
// and windows-sim builds link simulated/, which installs its hooks before
// main: both backends then honour the same machine.ini knobs, clock scale
// and trace, and the platform layer never includes simulated/.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

// What the machine does to one start of a child program.
struct SimulatedStart {
  bool noProcess = false;    // the start call returns without a process
  bool breakOutput = false;  // reading the output fails once it has all arrived
};

// A registry value the program set, as the trace records it.
struct SimulatedRegistrySet {
  std::string_view key;
  std::string_view name;
  bool isDword = false;
  uint32_t dword = 0;
  std::string_view text;  // REG_SZ data
};

struct SimulationHooks {
  // Child processes, named by their Windows path.
  SimulatedStart (*beforeStart)(std::string_view program);
  void (*started)(std::string_view program, std::string_view arguments);
  void (*notStarted)(std::string_view program);  // the system refused the start
  void (*ended)(std::string_view program, int32_t exitCode, bool killed);
  double (*timeoutScale)();  // every child time-out is multiplied by this

  // Time. Records the requested sleep and returns the factor to apply.
  double (*sleepScale)(uint32_t requestedMs);
  bool (*pacingSeed)(uint64_t& seed);  // false: no fixed seed

  // What only the posix backend keeps on the machine itself: its folder
  // (native path; C: is drive_c/ below it), the user's culture and the
  // registry values written to registry.reg.
  std::string (*machineRoot)();
  uint32_t (*userLcid)();
  void (*registrySet)(const SimulatedRegistrySet& value);

  // The shell's requests that would leave the program: a simulated machine
  // records them in place of opening a browser or restarting. `method` names
  // the restart call that would have been made ("Win32Shutdown" once per
  // instance, or "ExitWindowsEx" where that method is missing). A page is
  // opened only through the desktop's shell, as the signed-in user: the
  // machine says whether its session has one (false: why not), and records
  // a page opened that way or one that was not opened.
  bool (*desktopShell)(std::string& whyNot);
  void (*shellOpen)(std::string_view target);
  void (*shellNotOpened)(std::string_view target, std::string_view reason);
  void (*restartRequested)(std::string_view method, int32_t flags, int32_t reserved);

  // The request that the system stay awake, made (true) and withdrawn.
  void (*stayAwake)(bool on);

  // The native path of the certificate that stands for the program's own
  // signature on a machine whose programs carry none (posix); empty for an
  // unsigned program.
  std::string (*programSigner)();
  // What a child needs in its environment to find the machine, each as
  // NAME=value: the stand-in tools read the machine too.
  std::vector<std::string> (*childVariables)();
};

// The installed hooks; null on a real machine.
const SimulationHooks* simulation();
void installSimulation(const SimulationHooks* hooks);

// `ms` as the machine's clock runs it (the request is recorded); unchanged
// on a real machine.
uint32_t simulatedSleepMs(uint32_t ms);

// Tells the machine that the request to stay awake was made (true) or
// withdrawn; nothing on a real machine.
void simulatedStayAwake(bool on);

// A child's time limit as the machine scales it; INFINITE (0xFFFFFFFF) stays
// infinite and the result never wraps.
uint32_t simulatedTimeoutMs(uint32_t ms);

}  // namespace platform
