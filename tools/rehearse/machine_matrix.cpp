#include "tools/rehearse/machine_matrix.h"

#include <cinttypes>
#include <cstdio>

#include "common/result_codes.h"
#include "package/check_rules.h"
#include "package/config_text.h"
#include "package/read_configs.h"
#include "package/version_text.h"
#include "tools/package_check/hardware_id_form.h"

namespace kit {

namespace {

constexpr const char* kOtherGpu = "PCI\\VEN_8086&DEV_9A49&SUBSYS_22D917AA&REV_01 | 31.0.101.3430";
constexpr const char* kDriverWithoutRequirement = "31.0.21001.45002";
constexpr const char* kBoard = "KR15A";
// The dock controller as a flash leaves it (4PARTID, GEN 2, an older VBIOS item).
constexpr const char* kDockBlock =
    "0123456789ABCDEF00FFFFFFFFFFFFFF47454E0132FFFFFFFFFFFFFFFFFFFFFF5645520E39342E30362E32462E30302E4141FFFF"
    "FFFF"
    "FFFFFFFFFFFFFFFFFFFFFFFF";

std::string stepped(const std::string& version, bool amd, int step) {
  if (!amd) {
    int64_t value = 0;
    if (package::parseInt64(version, value) != package::NumberParse::Ok) return {};
    // revision * 256 + OEM revision with a 32-bit revision
    if (value + step < 0 || value + step > (int64_t{0xFFFFFFFF} << 8) + 0xFF) return {};
    return std::to_string(value + step);
  }
  std::vector<std::string_view> parts = package::splitAt(version, '.');
  std::vector<int32_t> numbers;
  for (std::string_view part : parts) {
    int32_t n = 0;
    if (package::parseInt32(part, n) != package::NumberParse::Ok || n < 0) return {};
    numbers.push_back(n);
  }
  size_t at = numbers.size() - 1;
  if (step < 0) {
    while (numbers[at] == 0) {
      if (at == 0) return {};
      --at;
    }
  } else if (numbers[at] == INT32_MAX) {
    return {};
  }
  numbers[at] += step;
  std::string out;
  for (size_t i = 0; i < parts.size(); ++i) {
    std::string text = std::to_string(numbers[i]);
    if (text.size() < parts[i].size()) text.insert(0, parts[i].size() - text.size(), '0');
    out += (i ? "." : "") + text;
  }
  return out;
}

struct Variation {
  std::string gpuVersion;  // AMD: -ai's version; NVIDIA: revision * 256 + OEM
  std::string driver;
  int32_t bios = 0;
  std::string acLine = "1";
  std::string answers;
  bool flashFails = false, flashHangs = false;
  bool dock = true, acpi = true;
  bool gpuPresent = true;
  std::string gpu;  // the GPU's hardware ID; empty: the one the entry is meant for
  std::string board = kBoard;
};

// Four or eight hex digits, as Windows spells them in a hardware ID.
std::string deviceDigits(uint16_t device) { return package::pciPair(0, device).substr(5); }
std::string subsysDigits(uint32_t subsys) { return package::subsysText(subsys).substr(7); }

class MatrixBuilder {
 public:
  MatrixBuilder(const VBiosConfigs& configs, const std::vector<NamedBoard>& boards,
                const std::map<int, package::ImageReading>& images)
      : c_(configs), boards_(boards), images_(images), amd_(configs.isAmdType()) {}

  // The entry's image, when it was read whole.
  const package::VbiosImage* imageOf(const VBiosInfo& entry) const {
    const auto it = images_.find(static_cast<int>(&entry - &c_.vb[0]));
    return it != images_.end() && it->second.ok() ? &it->second.image : nullptr;
  }

  // The GPU as Windows lists it, made from the GPU the entry is meant for:
  // a prefix Windows never spells fails to match here as it would on a
  // notebook. What the prefix leaves open is the image's, when it says.
  std::string gpuFor(const VBiosInfo& entry, std::optional<uint16_t> device = std::nullopt) const {
    const package::VbiosImage* image = imageOf(entry);
    if (!image) return pciIdFor(entry.vbHWID, amd_ ? "1002" : "10DE");
    const uint32_t subsys = uint32_t{image->subsystem} << 16 | image->subsystemVendor;
    return pciIdFor(entry.vbHWID, "1002", deviceDigits(device.value_or(image->device)),
                    subsys ? subsysDigits(subsys) : "3A2F6A3D");
  }

  // A GPU the entry matches but its image does not fit, where the prefix
  // leaves the device open; empty where there is none.
  std::string misfitGpu(const VBiosInfo& entry) const {
    const package::VbiosImage* image = imageOf(entry);
    if (!image || package::pciIdsOf(entry.vbHWID).device) return {};
    for (uint16_t device = static_cast<uint16_t>(image->device + 1); device != image->device; ++device) {
      const std::string gpu = gpuFor(entry, device);
      if (!package::hardwareIdMatches(gpu, entry.vbHWID)) return {};
      if (!package::fitImageToDevice(*image, package::pciIdsOf(gpu), "").refusal.empty()) return gpu;
    }
    return {};
  }

  std::string ini(const VBiosInfo& entry, const Variation& v) const {
    std::string out = "; made by OvVBiosRehearse\n[user]\nlcid = 1033\nanswers = " + v.answers +
                      "\n[time]\nscale = 0\ntimeout_scale = " + (v.flashHangs ? "0.02" : "1") +
                      "\nseed = 7\n[power]\nac_line = " + v.acLine + "\n[pnp]\ndevice = " + kOtherGpu + "\n";
    // The device as Windows lists it, made from the GPU the entry is meant
    // for: a prefix Windows never spells fails to match here as it would on
    // a notebook.
    if (v.gpuPresent) out += "device = " + (v.gpu.empty() ? gpuFor(entry) : v.gpu) + " | " + v.driver + "\n";
    if (amd_) {
      out += "[amdvbflash]\nversion = " + v.gpuVersion +
             "\nflash_seconds = 0\nflash_exit = " + (v.flashFails ? "1" : "0") +
             "\nflash_hang = " + (v.flashHangs ? "yes" : "no") +
             "\n[devcon64]\ninstall_exit = 0\nremove_exit = 0\n";
    } else {
      int64_t value = 0;
      package::parseInt64(v.gpuVersion, value);
      char revision[64];
      std::snprintf(revision, sizeof revision, "revision = 0x%08" PRIX64 "\noem_revision = 0x%02" PRIX64 "\n",
                    static_cast<uint64_t>(value) >> 8, static_cast<uint64_t>(value) & 0xFF);
      if (v.gpuPresent) out += std::string("[nvapi]\n") + revision + "version_string = 94.06.2F.00.AB\n";
      out += std::string("[vendorflash]\nexit = ") + (v.flashFails ? "1" : "0") +
             "\nseconds = 0\nhang = " + (v.flashHangs ? "yes" : "no") + "\n";
    }
    if (c_.ECConfig == 1 && v.dock)
      out += std::string("[hid]\n[dock]\npresent = yes\nfeature_report_length = 300\nblock = ") + kDockBlock +
             "\ntext = MB:A1;SN:B2;PRO:KESTREL;PNUM:KD-01;\n";
    if (c_.WMIConfig == 1 && v.acpi) out += "[acpi]\npresent = yes\ndsts = 0x00010003\n";
    return out;
  }

  std::string registry(const Variation& v) const {
    return std::string(
               "Windows Registry Editor Version 5.00\r\n\r\n"
               "[HKEY_LOCAL_MACHINE\\HARDWARE\\DESCRIPTION\\System\\BIOS]\r\n\"BaseBoardProduct\"=\"") +
           v.board + "\"\r\n\"BIOSVersion\"=\"" + v.board + "." + std::to_string(v.bios) +
           "\"\r\n\"SystemManufacturer\"=\"Orvo\"\r\n";
  }

  // The closing steps' code when a flash (or up-to-date finding) reaches them.
  int closing(const Variation& v, int code) const {
    const bool noDock = c_.ECConfig == 1 && !v.dock;
    const bool noLink = c_.WMIConfig == 1 && !v.acpi;
    return result::foldClosingResults(code, noDock ? result::dock_ec::kGenFailed : result::dock_ec::kWritten,
                                      noLink ? result::dock_link::kNoDevice : result::dock_link::kDone);
  }

  void add(std::vector<RehearsalMachine>& out, const std::string& name, const VBiosInfo& entry,
           const Variation& v, int expected) const {
    out.push_back(
        {name, ini(entry, v), registry(v), expected, v.flashHangs, static_cast<int>(&entry - &c_.vb[0])});
  }

  std::vector<RehearsalMachine> build() const {
    std::vector<RehearsalMachine> out;
    const int32_t entries = package::countRomEntries(c_);
    for (int32_t i = 0; i < entries; ++i) {
      // An entry without a hardware ID matches no device; the checker says so.
      if (!c_.vb[i].vbHWID.empty()) addEntryRows(out, c_.vb[i], i);
    }
    if (entries > 0) addNoMatchingGpu(out);
    if (entries > 0 && !c_.vb[0].vbHWID.empty()) addBoardRows(out);
    return out;
  }

 private:
  // The GPU one step older than `entry` with the drivers and the BIOS that
  // pass the package's requirements: the machine every variation starts from.
  Variation passingBase(const VBiosInfo& entry) const {
    Variation base;
    base.gpuVersion = versionBelow(entry.vbRomVersion, amd_);
    base.driver = driverAbove_.empty() ? c_.VbReqVGAVersion : driverAbove_;
    base.bios = bios_;
    return base;
  }

  // The entry's GPU older, equal and newer; the driver and the system BIOS
  // either side of the requirements; battery power; a failing and a hanging
  // flash tool; the dock and the platform driver missing.
  void addEntryRows(std::vector<RehearsalMachine>& out, const VBiosInfo& entry, int32_t i) const {
    const std::string e = "entry " + std::to_string(i) + ", ";
    Variation base = passingBase(entry);
    const bool canVary = !base.gpuVersion.empty();
    if (!canVary) base.gpuVersion = entry.vbRomVersion;
    // A version the installer cannot step is still one it must compare:
    // the GPU then holds exactly the package's, which is up to date.
    const int flashCode = closing(base, canVary ? 0 : 1);

    add(out, e + (canVary ? "older VBIOS" : "VBIOS equal to the package's (it cannot be stepped)"), entry,
        base, flashCode);
    if (canVary) {
      Variation equal = base;
      equal.gpuVersion = entry.vbRomVersion;
      add(out, e + "equal VBIOS", entry, equal, closing(base, 1));
      Variation newer = base;
      newer.gpuVersion = versionAbove(entry.vbRomVersion, amd_);
      if (!newer.gpuVersion.empty()) add(out, e + "newer VBIOS", entry, newer, closing(base, 1));
    }
    if (driverRequired_ && !driverBelow_.empty()) {
      Variation low = base;
      low.driver = driverBelow_;
      add(out, e + "driver below the requirement", entry, low, result::kDriverTooOld);
    }
    if (driverRequired_) {
      Variation at = base;
      at.driver = c_.VbReqVGAVersion;
      add(out, e + "driver at the requirement", entry, at, flashCode);
    }
    if (biosRequired_) {
      Variation low = base;
      low.bios = bios_ - 1;
      add(out, e + "system BIOS below the requirement", entry, low, result::kBiosTooOld);
    }
    if (!canVary) return;  // the runs below need an older VBIOS to reach the flash
    Variation cancel = base;
    cancel.acLine = "0";
    add(out, e + "on battery, Cancel", entry, cancel, result::kPowerStop);
    Variation retry = base;
    retry.acLine = "0,1";
    retry.answers = "PowerModeForm:button1";
    add(out, e + "on battery, Retry after plugging in", entry, retry, flashCode);
    Variation fails = base;
    fails.flashFails = true;
    add(out, e + "flash tool fails", entry, fails, result::kFlashExitCode);
    Variation hangs = base;
    hangs.flashHangs = true;
    add(out, e + "flash tool hangs", entry, hangs, result::kFlashTimeout);
    // The flash tool is forced past its own check; the installer's stops this.
    if (const std::string misfit = misfitGpu(entry); !misfit.empty()) {
      Variation other = base;
      other.gpu = misfit;
      add(out, e + "a GPU its image does not fit", entry, other, result::kFlashError);
    }
    if (c_.ECConfig == 1) {
      Variation noDock = base;
      noDock.dock = false;
      add(out, e + "no dock controller", entry, noDock, closing(noDock, 0));
    }
    if (c_.WMIConfig == 1) {
      Variation noLink = base;
      noLink.acpi = false;
      add(out, e + "no platform driver for the link", entry, noLink, closing(noLink, 0));
    }
  }

  void addNoMatchingGpu(std::vector<RehearsalMachine>& out) const {
    Variation none;
    none.gpuPresent = false;
    none.driver = kDriverWithoutRequirement;
    none.bios = bios_;
    none.gpuVersion = c_.vb[0].vbRomVersion;
    add(out, "no matching GPU", c_.vb[0], none, result::kHwidNotFound);
  }

  // Each board the package names, at and below the requirement the
  // installer reads there, with entry 0's GPU one step older.
  void addBoardRows(std::vector<RehearsalMachine>& out) const {
    Variation base = passingBase(c_.vb[0]);
    const bool canVary = !base.gpuVersion.empty();
    if (!canVary) base.gpuVersion = c_.vb[0].vbRomVersion;
    for (const NamedBoard& board : boards_) {
      base.board = board.name;
      const std::string b = "board " + board.name + ", ";
      if (board.readResult != 0) {
        base.bios = bios_;
        add(out, b + "entry 0, older VBIOS", c_.vb[0], base, closing(base, canVary ? 0 : 1));
        continue;
      }
      base.bios = board.bios == 1 ? 308 : board.bios;
      add(out, b + "BIOS at its requirement " + std::to_string(board.bios), c_.vb[0], base,
          closing(base, canVary ? 0 : 1));
      if (board.bios != 1) {
        Variation low = base;
        low.bios = board.bios - 1;
        add(out, b + "BIOS below its requirement", c_.vb[0], low, result::kBiosTooOld);
      }
    }
  }

  const VBiosConfigs& c_;
  const std::vector<NamedBoard>& boards_;
  const std::map<int, package::ImageReading>& images_;
  bool amd_;
  bool driverRequired_ = c_.VbReqVGAVersion != "0.0.0.0";
  bool biosRequired_ = c_.VbReqBios != 1;
  std::string driverAbove_ =
      driverRequired_ ? versionAbove(c_.VbReqVGAVersion, true) : std::string(kDriverWithoutRequirement);
  std::string driverBelow_ = driverRequired_ ? versionBelow(c_.VbReqVGAVersion, true) : std::string();
  int32_t bios_ = biosRequired_ ? c_.VbReqBios : 308;
};

}  // namespace

std::string versionBelow(const std::string& version, bool amd) { return stepped(version, amd, -1); }
std::string versionAbove(const std::string& version, bool amd) { return stepped(version, amd, +1); }

std::vector<RehearsalMachine> defaultMatrix(const VBiosConfigs& configs,
                                            const std::vector<NamedBoard>& boards,
                                            const std::map<int, package::ImageReading>& images) {
  return MatrixBuilder(configs, boards, images).build();
}

}  // namespace kit
