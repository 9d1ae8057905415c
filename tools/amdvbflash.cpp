// Stand-in for AMD's VBIOS flash tool, as far as the installer uses it:
//   amdvbflash -ai                      adapter information with the VBIOS version
//   amdvbflash -fa -p 0 "<rom image>"   flash the image to adapter 0
// Behaviour comes from [amdvbflash] of machine.ini.
#include <cctype>
#include <charconv>
#include <string>
#include <string_view>

#include "platform/files.h"
#include "simulated/machine.h"
#include "tools/standin_common.h"

namespace {

constexpr int kExitUsage = 1;
constexpr int kExitRomUnreadable = 2;
constexpr int kExitNoAdapter = 3;
constexpr int kExitStateNotSaved = 4;

// Real VBIOS images are a few hundred KiB; anything this large is not one.
constexpr size_t kMaxRomBytes = size_t{64} << 20;

// A version string longer than this is not one, whatever follows the marker.
constexpr size_t kMaxVersionChars = 64;

constexpr std::string_view kVersionMarker = "VBIOS_VERSION=";

struct AdapterIds {
  std::string device = "73DF";
  std::string subsystem = "3A2F";
};

// The first AMD device of the simulated machine names the adapter, so the
// printed IDs agree with what WMI reports.
AdapterIds adapterIds(const simulated::MachineIni& ini) {
  AdapterIds ids;
  for (const std::string& line : ini.getAll("pnp", "device")) {
    if (line.find("VEN_1002") == std::string::npos) continue;
    const size_t dev = line.find("DEV_");
    if (dev != std::string::npos && dev + 8 <= line.size()) ids.device = line.substr(dev + 4, 4);
    const size_t subsys = line.find("SUBSYS_");
    if (subsys != std::string::npos && subsys + 11 <= line.size()) ids.subsystem = line.substr(subsys + 7, 4);
    break;
  }
  return ids;
}

void printUsage() {
  standin::printLine("Usage: amdvbflash -ai");
  standin::printLine("       amdvbflash -fa -p <adapter> <rom file>");
  standin::printLine("  -ai   show adapter information");
  standin::printLine("  -fa   program the ROM file to the adapter, forcing the update");
}

int showAdapterInfo(const simulated::MachineIni& ini) {
  const AdapterIds ids = adapterIds(ini);
  const std::string version = ini.get("amdvbflash", "version", "020.001.000.038.016233");
  standin::printLine("adapter 0");
  standin::printLine("        Bus Number      : 03");
  standin::printLine("        Device ID       : " + ids.device);
  standin::printLine("        Subsystem ID    : " + ids.subsystem);
  standin::printLine("        Asic Family     : Navi2x");
  standin::printLine("        Flash Type      : W25Q80 (1024 KB)");
  standin::printLine("        Product Name    : Kestrel Dock GPU");
  standin::printEmptyLines(standin::sizeBytes(ini.get("amdvbflash", "ai_extra_output", "0")));
  if (!version.empty()) standin::printLine("        Bios Version    : " + version);
  standin::printLine("        Bios Date       : 2026/01/15 10:20");
  if (ini.getBool("amdvbflash", "ai_hang", false)) standin::hangUntilKilled();
  return static_cast<int>(ini.getInt("amdvbflash", "ai_exit", 0));
}

bool versionCharacter(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '_' || c == '-';
}

// The version after "VBIOS_VERSION=" up to the line end, or empty when there
// is none or it is not a plain version: the text goes into machine.ini, and
// a ROM image is binary, so anything but letters, digits and . _ - is refused.
std::string versionInRom(std::string_view rom) {
  const size_t marker = rom.find(kVersionMarker);
  if (marker == std::string_view::npos) return {};
  std::string_view rest = rom.substr(marker + kVersionMarker.size());
  rest = rest.substr(0, rest.find_first_of(std::string_view("\r\n\0", 3)));
  while (!rest.empty() && (rest.front() == ' ' || rest.front() == '\t')) rest.remove_prefix(1);
  while (!rest.empty() && (rest.back() == ' ' || rest.back() == '\t')) rest.remove_suffix(1);
  if (rest.empty() || rest.size() > kMaxVersionChars) return {};
  for (char c : rest) {
    if (!versionCharacter(c)) return {};
  }
  return std::string(rest);
}

int flash(const simulated::MachineIni& ini, std::string_view adapter, const std::string& romPath) {
  int adapterNumber = -1;
  const auto [end, ec] = std::from_chars(adapter.data(), adapter.data() + adapter.size(), adapterNumber);
  if (ec != std::errc() || end != adapter.data() + adapter.size()) {
    printUsage();
    return kExitUsage;
  }
  if (adapterNumber != 0) {
    standin::printLine("ERROR: adapter " + std::string(adapter) + " not found");
    return kExitNoAdapter;
  }

  std::string rom;
  const platform::Error read = platform::readFile(romPath, rom, kMaxRomBytes);
  if (read.failed()) {
    standin::printLine("ERROR: cannot open ROM file " + romPath + ": " + read.message);
    return kExitRomUnreadable;
  }

  const AdapterIds ids = adapterIds(ini);
  standin::printLine("Old DeviceID: " + ids.device);
  standin::printLine("New DeviceID: " + ids.device);
  standin::printLine("Old SSID: " + ids.subsystem);
  standin::printLine("New SSID: " + ids.subsystem);
  standin::printLine("ROM file: " + romPath + " (" + std::to_string(rom.size()) + " bytes)");
  standin::replaceFiles(ini, "amdvbflash", "flash_replaces");
  standin::printLine("Erasing flash...");
  standin::printLine("Programming flash...");
  if (ini.getBool("amdvbflash", "flash_hang", false)) standin::hangUntilKilled();
  standin::waitScaled(standin::durationMs(ini.getDouble("amdvbflash", "flash_seconds", 5)));
  standin::printLine("Verifying flash...");

  const int exitCode = static_cast<int>(ini.getInt("amdvbflash", "flash_exit", 0));
  if (exitCode != 0) {
    standin::printLine("ERROR: flash failed (" + std::to_string(exitCode) + ")");
    return exitCode;
  }
  if (!ini.getBool("amdvbflash", "flash_completes", true)) {
    standin::printLine("Flash programmed; verification incomplete.");
    return 0;
  }

  // The image now on the GPU is the one -ai reports from here on.
  const std::string version = versionInRom(rom);
  if (!version.empty() && !simulated::MachineIni::update("amdvbflash", "version", version)) {
    standin::printLine("ERROR: cannot record the new VBIOS in machine.ini");
    return kExitStateNotSaved;
  }
  standin::printEmptyLines(standin::sizeBytes(ini.get("amdvbflash", "flash_extra_output", "0")));
  standin::printLine("Restart System To Complete VBIOS Update");
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args = standin::arguments(argc, argv);
  const simulated::MachineIni ini = simulated::MachineIni::load();
  if (args.size() == 1 && args[0] == "-ai") return showAdapterInfo(ini);
  if (args.size() == 4 && args[0] == "-fa" && args[1] == "-p") return flash(ini, args[2], args[3]);
  printUsage();
  return kExitUsage;
}
