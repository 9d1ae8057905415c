#include "platform/simulation.h"

#include <atomic>
#include <cmath>

namespace platform {

namespace {

constexpr uint32_t kInfinite = 0xFFFFFFFFu;

// Set once, before main, by the simulated machine's own initialiser.
std::atomic<const SimulationHooks*> installed{nullptr};

uint32_t scaled(uint32_t ms, double factor) {
  if (!(factor >= 0) || !std::isfinite(factor)) return ms;
  const double value = std::round(static_cast<double>(ms) * factor);
  // The largest finite wait; kInfinite itself would mean "for ever".
  if (value >= static_cast<double>(kInfinite - 1)) return kInfinite - 1;
  return static_cast<uint32_t>(value);
}

}  // namespace

const SimulationHooks* simulation() { return installed.load(std::memory_order_acquire); }

void installSimulation(const SimulationHooks* hooks) { installed.store(hooks, std::memory_order_release); }

uint32_t simulatedSleepMs(uint32_t ms) {
  const SimulationHooks* hooks = simulation();
  if (hooks == nullptr || hooks->sleepScale == nullptr) return ms;
  return scaled(ms, hooks->sleepScale(ms));
}

void simulatedStayAwake(bool on) {
  const SimulationHooks* hooks = simulation();
  if (hooks != nullptr && hooks->stayAwake != nullptr) hooks->stayAwake(on);
}

uint32_t simulatedTimeoutMs(uint32_t ms) {
  const SimulationHooks* hooks = simulation();
  if (ms == kInfinite || hooks == nullptr || hooks->timeoutScale == nullptr) return ms;
  return scaled(ms, hooks->timeoutScale());
}

}  // namespace platform
