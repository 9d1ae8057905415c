// The ROM entries: their hardware-ID prefixes against Windows' spelling of
// PCI IDs, their versions, and the driver requirement they are read with.
#include <algorithm>

#include "common/result_codes.h"
#include "package/check_rules.h"
#include "package/config_text.h"
#include "package/read_configs.h"
#include "package/version_text.h"
#include "tools/package_check/checker.h"
#include "tools/package_check/hardware_id_form.h"
#include "tools/package_check/nvidia_version.h"
#include "tools/package_check/visible_text.h"

namespace kit {

namespace {

// A version as amdvbflash -ai prints it, for the form of the package's.
constexpr std::string_view kAmdVersionSample = "020.001.000.038.016233";
// A driver version as Windows reports it.
constexpr std::string_view kDriverVersionSample = "31.0.21001.45002";

constexpr std::string_view kAmdVendor = "1002", kNvidiaVendor = "10DE";

struct BadComponent {
  size_t index;
  std::string description;
};

// The first dotted component that is not a 32-bit number: where the
// installer's component-by-component comparison stops.
std::optional<BadComponent> firstBadComponent(std::string_view dotted) {
  const std::vector<std::string_view> parts = package::splitAt(dotted, '.');
  for (size_t k = 0; k < parts.size(); ++k) {
    int32_t value = 0;
    const package::NumberParse parsed = package::parseInt32(parts[k], value);
    if (parsed != package::NumberParse::Ok)
      return BadComponent{k, package::describeNumberProblem(visibleText(parts[k]), parsed, 32)};
  }
  return std::nullopt;
}

std::string entryField(int i, const char* field) { return "entry " + std::to_string(i) + " " + field; }

bool allDigits(std::string_view text) {
  return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// Windows driver versions of each vendor have one form: NVIDIA's end in the
// driver's number (31.0.15.3623 is driver 536.23), AMD's third part has five
// digits (31.0.21001.45002). Empty when `version` has its vendor's form.
std::string driverVersionVendorProblem(bool amd, std::string_view version) {
  const std::vector<std::string_view> parts = package::splitAt(version, '.');
  if (parts.size() != 4) return {};
  if (amd)
    return allDigits(parts[2]) && parts[2].size() == 5
               ? std::string()
               : "cannot be an AMD driver's: AMD's Windows drivers have a third part of five digits, as " +
                     std::string(kDriverVersionSample);
  if (allDigits(parts[2]) && parts[2].size() == 2 && parts[2][0] == '1' && allDigits(parts[3]) &&
      parts[3].size() == 4)
    return {};
  return "cannot be an NVIDIA driver's: NVIDIA's Windows drivers have a third part of two digits starting "
         "with 1 and a fourth of four digits, as 31.0.15.3623 (driver 536.23)";
}

}  // namespace

// Whether entry i's prefix can start a hardware ID as Windows spells it.
bool Checker::checkPrefix(int i, size_t line) {
  const VBiosInfo& entry = configs_.vb[i];
  const std::string n = std::to_string(i);
  bool lowerCaseOnly = false;
  const std::string problem = pciPrefixProblem(entry.vbHWID, lowerCaseOnly);
  if (!problem.empty()) {
    addConfigFinding(line, lowerCaseOnly ? Rule::HwidCase : Rule::HwidForm,
                     "VBiosHWID_" + n + " " + quoted(entry.vbHWID) +
                         " can start no hardware ID as Windows spells it: " + visibleText(problem) +
                         ". The prefix test is exact and case-sensitive, so entry " + n +
                         " matches no notebook (202 where no other entry matches)");
    return false;
  }
  const bool amd = configs_.isAmdType();
  const std::string vendor = vendorOf(entry.vbHWID);
  if (!vendor.empty() && vendor != (amd ? kAmdVendor : kNvidiaVendor)) {
    addConfigFinding(
        line, Rule::HwidVendor,
        "VBiosHWID_" + n + " names vendor " + vendor +
            (vendor == kAmdVendor      ? " (AMD)"
             : vendor == kNvidiaVendor ? " (NVIDIA)"
                                       : "") +
            " but VBiosType " + quoted(configs_.VbType) + " takes the " + (amd ? "AMD" : "NVIDIA") +
            " path: on a notebook with that GPU the installer reads and flashes its VBIOS with the other "
            "vendor's tools, which cannot; it stops at the latest in step 6 (reading the VBIOS version)");
  }
  return true;
}

void Checker::checkEntryVersion(int i) {
  const VBiosInfo& entry = configs_.vb[i];
  const std::string n = std::to_string(i);
  const size_t line = lineOf(entryField(i, "vbRomVersion"));
  if (configs_.isAmdType()) {
    const package::UptodateDecision decision =
        package::decideUptodate(true, kAmdVersionSample, entry.vbRomVersion);
    if (decision.code == result::kUnknownVersionFormat) {
      addConfigFinding(
          line, Rule::VersionFormat,
          "VBiosVersion_" + n + " " + quoted(entry.vbRomVersion) +
              " has not the five components amdvbflash -ai prints (like " + std::string(kAmdVersionSample) +
              "): the installer stops with 701 on every machine where entry " + n + " is chosen");
      return;
    }
    if (const std::optional<BadComponent> bad = firstBadComponent(entry.vbRomVersion))
      addConfigFinding(line, Rule::VersionNotANumber,
                       "VBiosVersion_" + n + " component " + bad->description +
                           ": the installer stops with 702 " +
                           (bad->index == 0 ? std::string("on every machine where entry ") + n + " is chosen"
                                            : "wherever the GPU's version equals the components before it"));
    return;
  }
  const package::UptodateDecision decision = package::decideUptodate(false, "0", entry.vbRomVersion);
  if (decision.code != result::kUptodateCheckFailed) return;
  std::string suggestion;
  if (const std::optional<uint64_t> integer = nvidiaIntegerOfDotted(trimmed(entry.vbRomVersion)))
    suggestion = ". Written as the installer compares it, " + quoted(trimmed(entry.vbRomVersion)) + " is " +
                 std::to_string(*integer) + ": VBiosVersion_" + n + "=" + std::to_string(*integer);
  addConfigFinding(
      line, Rule::VersionNotANumber,
      "VBiosVersion_" + n + " " + visibleText(decision.problem) +
          " (an NVIDIA package's version is one integer, revision * 256 + OEM revision): the installer stops "
          "with 702 on every machine where entry " +
          n + " is chosen" + suggestion);
}

// Two entries that can match one device (one prefix starts the other) whose
// versions go backwards are usually a line left over from an older package;
// entries for two boards of one GPU are not compared.
void Checker::checkVersionOrder(int i) {
  const VBiosInfo& entry = configs_.vb[i];
  const bool amd = configs_.isAmdType();
  for (int k = 0; k < i; ++k) {
    const VBiosInfo& other = configs_.vb[k];
    if (other.vbHWID.empty() || (!package::hardwareIdMatches(entry.vbHWID, other.vbHWID) &&
                                 !package::hardwareIdMatches(other.vbHWID, entry.vbHWID)))
      continue;
    auto older = [&](int a, int b) {
      // checkUptodate's 0 means "current below package": strictly older.
      if (package::decideUptodate(amd, configs_.vb[a].vbRomVersion, configs_.vb[b].vbRomVersion).code !=
          result::kSuccess)
        return;
      addConfigFinding(lineOf(entryField(a, "vbRomVersion")), Rule::VersionOlder,
                       "entry " + std::to_string(a) + " installs " + quoted(configs_.vb[a].vbRomVersion) +
                           ", older than entry " + std::to_string(b) + "'s " +
                           quoted(configs_.vb[b].vbRomVersion) + ", and the prefixes " +
                           quoted(configs_.vb[a].vbHWID) + " and " + quoted(configs_.vb[b].vbHWID) +
                           " can match the same device");
    };
    older(i, k);
    older(k, i);
  }
}

void Checker::checkEntries() {
  const int32_t counted = package::countRomEntries(configs_);
  for (int i = counted; i < kMaxRomEntries; ++i) {
    const VBiosInfo& entry = configs_.vb[i];
    const std::string n = std::to_string(i);
    if (entry.vbHWID != "UNKNOWN") {
      const std::string counts =
          counted == 0 ? "counts no entry" : "counts entries 0 to " + std::to_string(counted - 1) + " only";
      addConfigFinding(lineOf(entryField(i, "vbHWID")), Rule::EntryGap,
                       "entry " + n + " comes after a gap: entry " + std::to_string(counted) +
                           " has no VBiosHWID_" + std::to_string(counted) + ", so the installer " + counts +
                           " and never matches entry " + n);
    } else if (entry.vbRom != "UNKNOWN" || entry.vbRomVersion != "0.0.0.0.0") {
      addConfigFinding(
          std::max(lineOf(entryField(i, "vbRom")), lineOf(entryField(i, "vbRomVersion"))),
          Rule::EntryIncomplete,
          "entry " + n + " has no VBiosHWID_" + n + ": the installer never counts or matches it");
    }
  }
  bool anyMatchable = false;
  for (int i = 0; i < counted; ++i) {
    const VBiosInfo& entry = configs_.vb[i];
    const std::string n = std::to_string(i);
    const size_t hwidLine = lineOf(entryField(i, "vbHWID"));
    if (entry.vbHWID.empty()) {
      addConfigFinding(hwidLine, Rule::HwidEmpty,
                       "VBiosHWID_" + n +
                           " is empty: the installer matches no device with an empty prefix, so entry " + n +
                           " is never chosen");
      continue;
    }
    bool shadowed = false;
    for (int k = 0; k < i && !shadowed; ++k) {
      if (!package::hardwareIdMatches(entry.vbHWID, configs_.vb[k].vbHWID)) continue;
      shadowed = true;
      addConfigFinding(hwidLine, Rule::HwidShadowed,
                       "entry " + n + " can never be chosen: every hardware ID that starts with " +
                           quoted(entry.vbHWID) + " also starts with entry " + std::to_string(k) + "'s " +
                           quoted(configs_.vb[k].vbHWID) + ", and the lower entry wins");
    }
    if (checkPrefix(i, hwidLine) && !shadowed) anyMatchable = true;
    if (i > 0 && entry.vbRomVersion == "0.0.0.0.0") {
      const package::UptodateDecision decision = package::decideUptodate(
          configs_.isAmdType(), configs_.isAmdType() ? kAmdVersionSample : "0", "0.0.0.0.0");
      addConfigFinding(
          hwidLine, Rule::EntryIncomplete,
          "entry " + n + " has no VBiosVersion_" + n + " and keeps 0.0.0.0.0: " +
              (decision.code == result::kUpToDate
                   ? "every GPU it matches counts as up to date (1), so it never flashes"
                   : "the installer stops with " + std::to_string(decision.code) + " wherever it is chosen"));
    } else {
      checkEntryVersion(i);
    }
    if (i > 0 && entry.vbRom == "UNKNOWN")
      addConfigFinding(
          hwidLine, Rule::EntryIncomplete,
          "entry " + n + " has no VBiosROM_" + n +
              ": the flash step looks for a file named UNKNOWN and stops with 905 wherever entry " + n +
              " is flashed");
    else if (entry.vbRom != "UNKNOWN")
      checkRom(i);
    checkVersionOrder(i);
  }
  if (configs_.isAmdType()) checkBoardImages();
  if (counted > 0 && !anyMatchable)
    addConfigFinding(
        0, Rule::NoEntryCanMatch,
        "the installer stops with 202 on every machine: no entry's prefix can start a hardware ID as Windows "
        "spells it");
}

void Checker::checkDriverRequirement() {
  if (configs_.VbReqVGAVersion == "0.0.0.0") return;
  const size_t line = lineOf("VbReqVGAVersion");
  const package::DriverVersionDecision decision =
      package::decideDriverVersion(configs_.VbReqVGAVersion, kDriverVersionSample);
  if (decision.formatMismatch) {
    addConfigFinding(line, Rule::DriverVersionFormat,
                     "VGAVersion " + quoted(configs_.VbReqVGAVersion) +
                         " has not the four components of a Windows driver version (like " +
                         std::string(kDriverVersionSample) +
                         "): the installer stops with 402 on every machine");
    return;
  }
  if (const std::optional<BadComponent> bad = firstBadComponent(configs_.VbReqVGAVersion)) {
    addConfigFinding(line, Rule::DriverVersionNotANumber,
                     "VGAVersion component " + bad->description + ": the installer stops with 403 " +
                         (bad->index == 0 ? std::string("on every machine")
                                          : "wherever the driver's version equals the components before it"));
    return;
  }
  if (const std::string problem = driverVersionVendorProblem(configs_.isAmdType(), configs_.VbReqVGAVersion);
      !problem.empty())
    addConfigFinding(line, Rule::DriverVersionVendor,
                     "VGAVersion " + quoted(configs_.VbReqVGAVersion) + " " + problem +
                         ": every notebook's driver compares against it as a number, so the requirement is "
                         "either never met (402 everywhere) or always met. Copy the version Device Manager "
                         "shows for the driver the package needs");
}

}  // namespace kit
