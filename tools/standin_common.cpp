#include "tools/standin_common.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <thread>

#include "platform/files.h"
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

void replaceFiles(const simulated::MachineIni& ini, std::string_view section, std::string_view key) {
  auto trimmed = [](std::string_view text) {
    while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
    while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
    return std::string(text);
  };
  for (const std::string& line : ini.getAll(section, key)) {
    const size_t bar = line.find('|');
    const std::string target = trimmed(std::string_view(line).substr(0, bar));
    const std::string source =
        bar == std::string::npos ? "" : trimmed(std::string_view(line).substr(bar + 1));
    if (target.empty() || source.empty()) {
      printLine("replace: not <target> | <source>: " + line);
      continue;
    }
    if (const platform::Error error = platform::copyFile(source, target); error.failed())
      printLine("replace: " + error.operation + ": " + error.message);
  }
}

void hangUntilKilled() {
  while (true) std::this_thread::sleep_for(std::chrono::seconds(1));
}

}  // namespace standin
