// The simulated machine as the platform services see it: the hooks of
// platform/simulation.h, installed before main in every program that links
// this library (CMake forces this file in with the linker's -u option).
#include <cmath>
#include <string>
#include <string_view>
#include <vector>

#include "platform/ascii_text.h"
#include "platform/simulation.h"
#include "simulated/machine.h"

namespace simulated {

namespace {

std::string fileNameOf(std::string_view windowsPath) {
  const size_t slash = windowsPath.find_last_of("\\/");
  return std::string(slash == std::string_view::npos ? windowsPath : windowsPath.substr(slash + 1));
}

// A negative or absurd factor is a typing error in machine.ini, not a wish
// to wait forever or not at all.
double sane(double factor) { return factor >= 0 && std::isfinite(factor) ? factor : 1.0; }

// Takes one from a count-down knob; true when it was above zero.
bool takeOne(const MachineIni& ini, std::string_view section, const std::string& key) {
  const long long left = ini.getInt(section, key, 0);
  if (left <= 0) return false;
  MachineIni::update(section, key, std::to_string(left - 1));
  return true;
}

platform::SimulatedStart beforeStart(std::string_view program) {
  const std::string name = platform::lowerAscii(fileNameOf(program));
  const MachineIni ini = MachineIni::load();
  platform::SimulatedStart start;
  // The next starts of a program can come back without a process, as
  // Process.Start does when it attaches to nothing ...
  if (takeOne(ini, "processes", "no_process." + name)) {
    start.noProcess = true;
    return start;
  }
  // ... and the next runs can have their pipe break after all their output,
  // as a failing read of a real pipe would.
  start.breakOutput = takeOne(ini, "processes", "output_fail." + name);
  return start;
}

void started(std::string_view program, std::string_view arguments) {
  Trace("process.start").str("program", program).str("arguments", arguments).write();
}

void notStarted(std::string_view program) {
  Trace("process.end").str("program", program).boolean("started", false).write();
}

void ended(std::string_view program, int32_t exitCode, bool killed) {
  Trace end("process.end");
  end.str("program", program);
  if (killed) {
    end.boolean("killed", true);
  } else {
    end.num("exit_code", exitCode);
  }
  end.write();
}

double timeoutScale() { return sane(MachineIni::load().getDouble("time", "timeout_scale", 1.0)); }

double sleepScale(uint32_t requestedMs) {
  Trace("sleep").num("ms", requestedMs).write();
  return sane(MachineIni::load().getDouble("time", "scale", 1.0));
}

bool pacingSeed(uint64_t& seed) {
  const long long value = MachineIni::load().getInt("time", "seed", -1);
  if (value < 0) return false;
  seed = static_cast<uint64_t>(value);
  return true;
}

uint32_t userLcid() {
  const long long lcid = MachineIni::load().getInt("user", "lcid", 1033);
  if (lcid <= 0 || lcid > 0xFFFFFFFFLL) return 1033;
  return static_cast<uint32_t>(lcid);
}

void registrySet(const platform::SimulatedRegistrySet& value) {
  Trace event("registry.set");
  event.str("key", value.key).str("name", value.name).str("type", value.isDword ? "REG_DWORD" : "REG_SZ");
  if (value.isDword) {
    event.num("data", value.dword);
  } else {
    event.str("data", value.text);
  }
  event.write();
}

bool desktopShell(std::string& whyNot) {
  if (MachineIni::load().getBool("user", "desktop_shell", true)) return true;
  whyNot = "the signed-in user has no desktop shell";
  return false;
}

// Only the desktop's shell opens pages, so every page opened is the user's.
void shellOpen(std::string_view target) {
  Trace("shell.open").str("target", target).str("as", "user").write();
}

void shellNotOpened(std::string_view target, std::string_view reason) {
  Trace("shell.not_opened").str("url", target).str("reason", reason).write();
}

void restartRequested(std::string_view method, int32_t flags, int32_t reserved) {
  Trace("system.restart").num("flags", flags).num("reserved", reserved).str("method", method).write();
}

void stayAwake(bool on) { Trace("power.stay_awake").boolean("on", on).write(); }

// A relative path is the machine's own file, so that a machine folder with
// its certificate can be moved as a whole.
std::string programSigner() {
  const std::string path = MachineIni::load().get("program", "signer", "");
  if (path.empty() || path.front() == '/') return path;
  return machineRoot() + "/" + path;
}

std::vector<std::string> childVariables() { return {"OVVB_MACHINE=" + machineRoot()}; }

constexpr platform::SimulationHooks kHooks = {
    beforeStart,    started,          notStarted, ended,         timeoutScale,   sleepScale,
    pacingSeed,     machineRoot,      userLcid,   registrySet,   desktopShell,   shellOpen,
    shellNotOpened, restartRequested, stayAwake,  programSigner, childVariables,
};

}  // namespace

}  // namespace simulated

// Named for the linker's -u option, which keeps this file in every program
// that links the simulated machine, even one that calls nothing of it.
extern "C" {
extern const bool ovvb_simulation_installed;
const bool ovvb_simulation_installed = (platform::installSimulation(&simulated::kHooks), true);
}
