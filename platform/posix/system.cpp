#include "platform/system.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <thread>

#include "platform/culture_patterns.h"
#include "simulated/machine.h"

namespace platform {

void sleepMs(uint32_t ms) {
  simulated::Trace("sleep").num("ms", ms).write();
  double scale = simulated::MachineIni::load().getDouble("time", "scale", 1.0);
  // A negative or absurd factor is a typing error in machine.ini, not a wish
  // to wait forever or not at all.
  if (!(scale >= 0) || !std::isfinite(scale)) scale = 1.0;
  const double scaled = static_cast<double>(ms) * scale;
  if (scaled <= 0) return;
  std::this_thread::sleep_for(std::chrono::duration<double, std::milli>(scaled));
}

uint32_t userLcid() {
  const long long lcid = simulated::MachineIni::load().getInt("user", "lcid", 1033);
  if (lcid <= 0 || lcid > 0xFFFFFFFFLL) return 1033;
  return static_cast<uint32_t>(lcid);
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
  if (text.empty()) return;
  std::fwrite(text.data(), 1, text.size(), stdout);
  std::fflush(stdout);
}

}  // namespace platform
