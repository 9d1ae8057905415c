#include "platform/system.h"

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <ctime>
#include <thread>

#include "platform/culture_patterns.h"
#include "platform/posix/native_files.h"
#include "platform/simulation.h"

namespace platform {

void sleepMs(uint32_t ms) {
  const uint32_t scaled = simulatedSleepMs(ms);
  if (scaled == 0) return;
  std::this_thread::sleep_for(std::chrono::milliseconds(scaled));
}

// A posix machine is always simulated: the request is only traced.
StayAwake::StayAwake() { simulatedStayAwake(true); }

StayAwake::~StayAwake() { simulatedStayAwake(false); }

uint32_t userLcid() {
  const SimulationHooks* machine = simulation();
  return machine != nullptr && machine->userLcid != nullptr ? machine->userLcid() : 1033;
}

LocalTime localNow() {
  const std::time_t now = std::time(nullptr);
  std::tm parts{};
  LocalTime time;
  if (localtime_r(&now, &parts) == nullptr) return time;
  time.year = parts.tm_year + 1900;
  time.month = parts.tm_mon + 1;
  time.day = parts.tm_mday;
  time.hour = parts.tm_hour;
  time.minute = parts.tm_min;
  // A leap second shows as :59, as Windows never reports :60.
  time.second = parts.tm_sec > 59 ? 59 : parts.tm_sec;
  return time;
}

std::string logTimestamp(const LocalTime& time) { return formatGeneralDateTime(time, userLcid()); }

void writeStandardOutput(std::string_view text) {
  // Once a write has failed (EPIPE: the reader went away), the echo is
  // dropped for the rest of the run; the log has every line anyway.
  static std::atomic<bool> dropped{false};
  if (text.empty() || dropped.load()) return;
  if (!posix::writeAll(STDOUT_FILENO, text)) dropped.store(true);
}

}  // namespace platform
