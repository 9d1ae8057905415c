#include <chrono>
#include <cstdint>

#include "platform/simulation.h"
#include "platform/system.h"

namespace platform {

uint64_t pacingSeed() {
  uint64_t seed = 0;
  const SimulationHooks* machine = simulation();
  if (machine != nullptr && machine->pacingSeed != nullptr && machine->pacingSeed(seed)) return seed;
  return static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
}

}  // namespace platform
