#include <chrono>
#include <cstdint>

#include "platform/system.h"
#include "simulated/machine.h"

namespace platform {

uint64_t pacingSeed() {
  const auto ini = simulated::MachineIni::load();
  const long long seed = ini.getInt("time", "seed", -1);
  if (seed >= 0) return static_cast<uint64_t>(seed);
  return static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
}

}  // namespace platform
