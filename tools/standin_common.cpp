#include "tools/standin_common.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <thread>

#include "platform/paths.h"
#include "platform/system.h"

namespace standin {

std::vector<std::string> arguments(int argc, char** argv) { return platform::programArguments(argc, argv); }

void printLine(std::string_view line) {
  std::fwrite(line.data(), 1, line.size(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

uint32_t durationMs(double seconds) {
  constexpr double kMaxSeconds = 24.0 * 60 * 60;
  if (!(seconds > 0)) return 0;  // also NaN
  return static_cast<uint32_t>(std::lround(std::min(seconds, kMaxSeconds) * 1000));
}

// The platform's sleep runs on the machine's clock in every build that has
// stand-ins, and records the wait.
void waitScaled(uint32_t ms) { platform::sleepMs(ms); }

void hangUntilKilled() {
  while (true) std::this_thread::sleep_for(std::chrono::seconds(1));
}

}  // namespace standin
