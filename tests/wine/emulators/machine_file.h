// The simulated machine's machine.ini as the test DLLs in the Wine prefix
// read it: the in-process WMI server and the stub nvapi64.dll take the
// notebook from the same folder the simulation uses, so one machine folder
// describes it for every build. Self-contained: these DLLs are loaded into
// the product, which carries no code of the simulated machine.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace winetest::emulators {

// As the simulation bounds it: a larger file is no machine at all.
inline constexpr size_t kMaxMachineIniBytes = 4u << 20;

struct IniEntry {
  std::string section;  // lower case
  std::string key;      // lower case
  std::string value;    // blanks around it trimmed
};

class MachineFile {
 public:
  // OVVB_MACHINE, or the folder "machine" beside the program, as the
  // simulation finds it. A missing, unreadable or oversized machine.ini
  // reads as an empty machine (every piece of hardware absent).
  static MachineFile load();
  static MachineFile parse(std::string_view text);

  bool present(std::string_view section) const;  // the section is there and not "present = no"
  std::optional<std::string> get(std::string_view section, std::string_view key) const;  // the last one
  std::vector<std::string> getAll(std::string_view section, std::string_view key) const;
  bool found() const { return found_; }  // machine.ini was there and read
  bool readFailed() const { return readFailed_; }

 private:
  std::vector<IniEntry> entries_;
  std::vector<std::string> sections_;
  bool found_ = false;
  bool readFailed_ = false;
};

// Numbers as machine.ini writes them: decimal, or hexadecimal after 0x.
std::optional<long long> parseNumber(std::string_view text);

}  // namespace winetest::emulators
