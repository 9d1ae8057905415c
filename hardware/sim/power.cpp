// The simulated AC line: [power] ac_line of machine.ini.
#include "hardware/power.h"

#include <charconv>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "simulated/machine.h"

namespace hardware {
namespace {

// A reading that is not 0, 1 or 255 is what a confused battery driver would
// give; Windows reports that as unknown, and so do we.
int parseReading(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  int value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size()) return kAcUnknown;
  if (value == kAcOffline || value == kAcOnline) return value;
  return kAcUnknown;
}

std::vector<int> parseReadings(std::string_view list) {
  std::vector<int> readings;
  size_t start = 0;
  while (true) {
    const size_t comma = list.find(',', start);
    readings.push_back(
        parseReading(list.substr(start, comma == std::string_view::npos ? comma : comma - start)));
    if (comma == std::string_view::npos) break;
    start = comma + 1;
  }
  return readings;
}

}  // namespace

int acLineStatus() {
  // Successive readings belong to one run of one program on one machine;
  // a different machine root or list starts the sequence again, which is
  // what a test that swaps machines within one process expects.
  static std::mutex mutex;
  static std::string sequenceKey;
  static size_t readingsTaken = 0;

  const std::string list = simulated::MachineIni::load().get("power", "ac_line", "1");
  const std::vector<int> readings = parseReadings(list);

  const std::lock_guard<std::mutex> lock(mutex);
  const std::string key = simulated::machineRoot() + '\n' + list;
  if (key != sequenceKey) {
    sequenceKey = key;
    readingsTaken = 0;
  }
  const size_t index = readingsTaken < readings.size() ? readingsTaken : readings.size() - 1;
  ++readingsTaken;
  return readings[index];
}

}  // namespace hardware
