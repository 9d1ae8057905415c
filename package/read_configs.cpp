#include "package/read_configs.h"

#include <exception>
#include <vector>

#include "common/result_codes.h"
#include "package/config_line.h"
#include "package/config_text.h"
#include "package/operation_failure.h"
#include "package/version_text.h"
#include "platform/files.h"
#include "platform/registry.h"
#include "platform/system.h"

namespace package {

namespace {

constexpr const char* kFunction = "VBiosConfigs.readConfigs";
constexpr std::string_view kEqualsRule = "=================================";
constexpr std::string_view kHyphenRule = "---------------------------------";

std::string lineProblem(size_t lineNumber, std::string_view what) {
  return describeProblem(kFunction,
                         "configs.txt line " + std::to_string(lineNumber) + ": " + std::string(what));
}

}  // namespace

int32_t applyConfigText(VBiosConfigs& configs, std::string_view text, std::string_view boardName,
                        std::string& problem,
                        const std::function<void(std::string_view)>& unparsableEntryNumber) {
  size_t lineNumber = 0;
  for (std::string_view line : splitLines(text)) {
    ++lineNumber;
    for (const ConfigTestHit& hit : readConfigLine(line, boardName).hits) {
      switch (hit.outcome) {
        case TestOutcome::Applied:
          applyConfigTest(configs, hit);
          break;
        case TestOutcome::ValueIgnored:
        case TestOutcome::EntryOutOfRange:
          break;
        case TestOutcome::EntryNotANumber:
          if (unparsableEntryNumber) unparsableEntryNumber(hit.piece);
          break;
        case TestOutcome::Aborts:
          problem = lineProblem(lineNumber, hit.problem);
          return result::kConfigUnreadable;
      }
    }
  }
  return result::kSuccess;
}

void applyConfigTest(VBiosConfigs& configs, const ConfigTestHit& hit) {
  switch (hit.test) {
    case ConfigTest::ReleaseVersion:
      configs.VbReleaseVersion = hit.stored;
      break;
    case ConfigTest::VBiosType:
      configs.VbType = hit.stored;
      break;
    case ConfigTest::ECConfig:
      configs.ECConfig = 1;
      break;
    case ConfigTest::WMIConfig:
      configs.WMIConfig = 1;
      break;
    case ConfigTest::BiosVersion:
    case ConfigTest::BoardBios:
      configs.VbReqBios = hit.number;
      configs.VbReqBiosText = hit.stored;
      break;
    case ConfigTest::VGAVersion:
      configs.VbReqVGAVersion = hit.stored;
      break;
    case ConfigTest::RomHwid:
      configs.vb[hit.entry].vbHWID = hit.stored;
      break;
    case ConfigTest::RomVersion:
      configs.vb[hit.entry].vbRomVersion = hit.stored;
      break;
    case ConfigTest::RomFile:
      configs.vb[hit.entry].vbRom = hit.stored;
      if (hit.rawRom) configs.vb[hit.entry].vbIsRawRom = true;
      break;
  }
}

int32_t countRomEntries(const VBiosConfigs& configs) {
  int32_t count = 0;
  while (count < kMaxRomEntries && configs.vb[count].vbHWID != "UNKNOWN") ++count;
  return count;
}

std::vector<std::string_view> missingMandatoryData(const VBiosConfigs& configs) {
  std::vector<std::string_view> missing;
  if (configs.VbReleaseVersion == "0.0.0") missing.push_back("ReleaseVersion");
  if (configs.VbType == "UNKNOWN") missing.push_back("VBiosType");
  if (configs.vb[0].vbHWID == "UNKNOWN") missing.push_back("VBiosHWID_0");
  if (configs.vb[0].vbRomVersion == "0.0.0.0.0") missing.push_back("VBiosVersion_0");
  if (configs.vb[0].vbRom == "UNKNOWN") missing.push_back("VBiosROM_0");
  return missing;
}

}  // namespace package

int32_t VBiosConfigs::readConfigs() {
  using package::logFailure;
  try {
    std::string boardName = "UNKNOWN";
    if (auto board = platform::readRegistryString(package::kBiosRegistryKey, "BaseBoardProduct");
        board.status == platform::RegistryStatus::Ok) {
      boardName = board.value;
    }

    OvLog("Open configs.txt", *w);
    std::string bytes;
    if (const platform::Error error = platform::readFile(VbConfig, bytes, kMaxConfigFileBytes);
        error.failed()) {
      // Only a missing file is "not found"; a missing packages folder is a
      // broken installation and reported as unreadable.
      if (error.code == platform::kErrorFileNotFound) {
        logFailure(*this, "ERROR configs.txt Not Found", error, package::kFunction);
        return result::kConfigNotFound;
      }
      logFailure(*this, "ERROR problem reading configs.txt ", error, package::kFunction);
      return result::kConfigUnreadable;
    }

    std::string problem;
    const int32_t applied = package::applyConfigText(
        *this, package::decodeText(bytes), boardName, problem, [](std::string_view piece) {
          platform::writeStandardOutput("Unable to parse '" + std::string(piece) + "'\n");
        });
    if (applied != result::kSuccess) {
      logFailure(*this, "ERROR problem reading configs.txt ", problem);
      return applied;
    }

    OvLog(package::kEqualsRule, *w);
    OvLog("ProductName: " + boardName, *w);
    OvLog(package::kHyphenRule, *w);
    OvLog("VbReleaseVersion: " + VbReleaseVersion, *w);
    OvLog("VbType: " + VbType, *w);
    OvLog("VbReqBios: " + std::to_string(VbReqBios), *w);
    OvLog("VbReqVGAVersion: " + VbReqVGAVersion, *w);
    OvLog(package::kHyphenRule, *w);

    // The first entry without a hardware ID ends the list; entries after a
    // gap are never offered to the device search.
    const int32_t entries = package::countRomEntries(*this);
    for (int i = 0; i < entries; ++i) {
      ++VbCount;
      const std::string n = std::to_string(i);
      OvLog("VbRomHWID" + n + ": " + vb[i].vbHWID, *w);
      OvLog("VbRomVersion" + n + ": " + vb[i].vbRomVersion, *w);
      OvLog("VbFlashCmd" + n + ": " + vb[i].vbRom, *w);
      OvLog(package::kHyphenRule, *w);
    }
    OvLog(package::kEqualsRule, *w);

    if (!package::missingMandatoryData(*this).empty()) {
      OvLog("ERROR problem reading the data from configs.txt", *w);
      return result::kConfigIncomplete;
    }
    return result::kSuccess;
  } catch (const std::exception& failure) {
    logFailure(*this, "ERROR problem reading configs.txt ",
               package::describeProblem(package::kFunction, failure.what()));
    return result::kConfigUnreadable;
  }
}
