// machine.ini, the simulated machine's description: what hardware it has, how
// its devices and tools answer, the simulated user's clicks.
#pragma once

#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace simulated {

// machine.ini: [section], key = value, ';' or '#' comments (also after a
// value), keys may repeat. Section and key names are case-insensitive.
class MachineIni {
 public:
  // Reads machine.ini of the machine root afresh (emulators write back).
  static MachineIni load();
  static MachineIni parse(std::string_view text);

  bool hasSection(std::string_view section) const;
  // A present section means the hardware is there unless present = no.
  bool present(std::string_view section) const;
  std::string get(std::string_view section, std::string_view key, std::string_view fallback) const;
  std::vector<std::string> getAll(std::string_view section, std::string_view key) const;
  long long getInt(std::string_view section, std::string_view key,
                   long long fallback) const;  // decimal or 0x hex
  double getDouble(std::string_view section, std::string_view key, double fallback) const;
  bool getBool(std::string_view section, std::string_view key, bool fallback) const;  // yes/no/true/false/1/0

  // Rewrites one key in machine.ini (keeping comments and every other line)
  // and replaces the file atomically.
  static bool update(std::string_view section, std::string_view key, std::string_view value);

  struct Entry {
    std::string key;
    std::string value;
  };
  std::map<std::string, std::vector<Entry>> sections;  // lower-case section name
};

}  // namespace simulated
