// What readConfigs makes of one configs.txt line, test by test, without
// touching the configuration: readConfigs applies the result, and the
// package checker shows it to the package's author.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace package {

// The key tests, in the order readConfigs applies them to every line.
enum class ConfigTest {
  ReleaseVersion,
  VBiosType,
  ECConfig,
  WMIConfig,
  BiosVersion,
  VGAVersion,
  RomHwid,
  RomVersion,
  RomFile,
  BoardBios,  // the key equals the notebook's board product name
};

enum class TestOutcome {
  Applied,          // the field takes `stored` (and `number`, `rawRom`)
  ValueIgnored,     // ECConfig/WMIConfig other than exactly "1": the field stays as it is
  EntryNotANumber,  // "Unable to parse '<piece>'" on standard output; the test is skipped
  EntryOutOfRange,  // an entry number outside 0..99: skipped silently
  Aborts,           // the read stops here with 102; `problem` says why
};

struct ConfigTestHit {
  ConfigTest test = ConfigTest::ReleaseVersion;
  TestOutcome outcome = TestOutcome::Applied;
  int entry = -1;       // RomHwid, RomVersion, RomFile
  std::string stored;   // the text the field takes
  int32_t number = 0;   // BiosVersion, BoardBios
  bool rawRom = false;  // RomFile: the value ends with "001" or "rom"
  std::string piece;    // the entry number's text
  std::string problem;  // Aborts: "'x' is not a number" and the like
};

struct ConfigLine {
  bool assigns = false;             // false: no equals sign, the line is ignored
  std::string_view key;             // up to the first '=', untrimmed
  std::string_view value;           // between the first and the second '='
  bool valueCut = false;            // text after a second '=' was dropped
  std::vector<ConfigTestHit> hits;  // in application order; an Aborts hit is the last
};

ConfigLine readConfigLine(std::string_view line, std::string_view boardName);

struct ConfigKey {
  std::string_view name;  // "VBiosHWID_" for the numbered keys
  bool numbered;
  std::string_view form;
  std::string_view effect;
};

// Every key readConfigs knows, in its test order (the board product key aside).
inline constexpr std::array<ConfigKey, 9> kConfigKeys = {{
    {"ReleaseVersion", false, "free text, usually a dotted version; one leading V or v is removed",
     "the package's release version, logged and recorded as DisplayVersion"},
    {"VBiosType", false, "AMD or KRAMD (AMD path); KRNV (NVIDIA path); any other value takes the NVIDIA path",
     "which path every step takes"},
    {"ECConfig", false, "exactly 1 switches it on; any other value changes nothing",
     "1: update the dock controller's configuration after the flash"},
    {"WMIConfig", false, "exactly 1 switches it on; any other value changes nothing",
     "1: restore the host PCIe link to Gen4 after the flash"},
    {"BiosVersion", false,
     "signed 32-bit decimal integer (blanks around it allowed); anything else stops the "
     "read with 102",
     "minimum system BIOS build (the number after the dot of BIOSVersion); 1 = none"},
    {"VGAVersion", false,
     "dotted decimal with as many components as Windows' driver version (four); one "
     "leading V or v is removed",
     "minimum graphics driver version; 0.0.0.0 = none"},
    {"VBiosHWID_", true, "hardware-ID prefix, case-sensitive (e.g. PCI\\VEN_1002&DEV_73DF)",
     "the GPU this entry is for: a device whose hardware ID starts with it"},
    {"VBiosVersion_", true,
     "AMD: dotted decimal with as many components as amdvbflash -ai prints (five); "
     "NVIDIA: one integer, VBIOS revision * 256 + OEM revision",
     "the version this entry installs"},
    {"VBiosROM_", true, "a file name inside the packages folder",
     "AMD: the ROM image flashed with amdvbflash; NVIDIA: the vendor flash program run"},
}};

}  // namespace package
