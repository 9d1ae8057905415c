#include "tools/rehearse/machine_keys_check.h"

#include "platform/ascii_text.h"
#include "simulated/machine_keys.h"
#include "tools/package_check/edit_distance.h"
#include "tools/package_check/visible_text.h"

namespace kit {

namespace {

std::string_view trimmed(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r'))
    text.remove_suffix(1);
  return text;
}

// The closest known name within two edits, by the rows `matches` admits.
template <typename Name, typename Admit>
std::string closest(std::string_view wanted, Name name, Admit matches) {
  std::string best;
  size_t distance = 3;
  for (const simulated::MachineKey& row : simulated::kMachineKeys) {
    if (!matches(row)) continue;
    const std::string_view candidate = name(row);
    const size_t d = editDistance(platform::lowerAscii(wanted), platform::lowerAscii(candidate));
    if (d < distance) {
      distance = d;
      best = candidate;
    }
  }
  return best;
}

}  // namespace

std::vector<std::string> unknownMachineKeys(std::string_view machineIni) {
  std::vector<std::string> out;
  std::string section;
  bool known = false;
  size_t number = 0;
  while (!machineIni.empty() && out.size() < 20) {
    const size_t end = machineIni.find('\n');
    const std::string_view line = trimmed(machineIni.substr(0, end));
    machineIni.remove_prefix(end == std::string_view::npos ? machineIni.size() : end + 1);
    ++number;
    if (line.empty() || line.front() == ';' || line.front() == '#') continue;
    const std::string where = "line " + std::to_string(number) + ": ";
    if (line.front() == '[') {
      section = std::string(trimmed(
          line.substr(1, line.find(']') == std::string_view::npos ? line.size() - 1 : line.find(']') - 1)));
      known = false;
      for (const simulated::MachineKey& row : simulated::kMachineKeys)
        known = known || simulated::sameKeyText(row.section, section);
      if (!known) {
        const std::string meant = closest(
            section, [](const simulated::MachineKey& r) { return r.section; },
            [](const auto&) { return true; });
        out.push_back(where + "[" + visibleText(section) + "] is not a section the simulated machine reads" +
                      (meant.empty() ? "" : " (did you mean [" + meant + "]?)") +
                      ": its keys change nothing");
      }
      continue;
    }
    const size_t equals = line.find('=');
    if (equals == std::string_view::npos || !known) continue;
    const std::string_view key = trimmed(line.substr(0, equals));
    if (simulated::findMachineKey(section, key) != nullptr) continue;
    const std::string meant = closest(
        key, [](const simulated::MachineKey& r) { return r.key; },
        [&](const simulated::MachineKey& r) { return simulated::sameKeyText(r.section, section); });
    out.push_back(where + "[" + visibleText(section) + "] " + visibleText(key) +
                  " is not a key the simulated machine reads" +
                  (meant.empty() ? "" : " (did you mean " + meant + "?)") + ": the line changes nothing");
  }
  return out;
}

}  // namespace kit
