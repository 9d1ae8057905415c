#include "tools/standin_common.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <string>
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

uint64_t sizeBytes(std::string_view text) {
  uint64_t value = 0;
  size_t at = 0;
  for (; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at) {
    value = value * 10 + static_cast<uint64_t>(text[at] - '0');
    if (value > (uint64_t{4} << 30)) return 0;
  }
  if (at == 0) return 0;
  const std::string_view suffix = text.substr(at);
  const int shift = suffix.empty() ? 0 : suffix == "K" ? 10 : suffix == "M" ? 20 : suffix == "G" ? 30 : -1;
  if (shift < 0) return 0;
  return std::min(value << shift, uint64_t{4} << 30);
}

void printEmptyLines(uint64_t bytes) {
  static const std::string block(size_t{1} << 16, '\n');
  while (bytes > 0) {
    const size_t piece = static_cast<size_t>(std::min<uint64_t>(bytes, block.size()));
    if (std::fwrite(block.data(), 1, piece, stdout) != piece) break;
    bytes -= piece;
  }
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
