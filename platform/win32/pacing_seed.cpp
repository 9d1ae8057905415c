#include <windows.h>

#include <cstdint>

#include "platform/simulation.h"
#include "platform/system.h"

namespace platform {

uint64_t pacingSeed() {
  uint64_t seed = 0;
  const SimulationHooks* machine = simulation();
  if (machine != nullptr && machine->pacingSeed != nullptr && machine->pacingSeed(seed)) return seed;
  LARGE_INTEGER counter{};
  QueryPerformanceCounter(&counter);
  return static_cast<uint64_t>(counter.QuadPart);
}

}  // namespace platform
