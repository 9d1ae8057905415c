#include "package/read_configs.h"

#include <exception>
#include <optional>
#include <vector>

#include "common/result_codes.h"
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

std::string withoutLeadingV(std::string_view value) {
  if (!value.empty() && (value.front() == 'V' || value.front() == 'v')) value.remove_prefix(1);
  return std::string(value);
}

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
    const std::vector<std::string_view> pieces = splitAt(line, '=');
    if (pieces.size() < 2) continue;
    const std::string_view key = pieces[0];
    const std::string_view value = pieces[1];

    auto takeBiosRequirement = [&]() {
      int32_t required = 0;
      const NumberParse parsed = parseInt32(value, required);
      if (parsed != NumberParse::Ok) {
        problem = lineProblem(lineNumber, describeNumberProblem(value, parsed, 32));
        return false;
      }
      configs.VbReqBios = required;
      configs.VbReqBiosText = std::string(value);
      return true;
    };
    // nullopt: this line names no usable entry; `failed` set: abort the read.
    bool failed = false;
    auto entryNumber = [&]() -> std::optional<size_t> {
      const std::vector<std::string_view> parts = splitAt(key, '_');
      int32_t number = 0;
      const NumberParse parsed = parseInt32(parts[1], number);
      if (parsed == NumberParse::FormatError) {
        if (unparsableEntryNumber) unparsableEntryNumber(parts[1]);
        return std::nullopt;
      }
      if (parsed == NumberParse::Overflow) {
        problem = lineProblem(lineNumber, describeNumberProblem(parts[1], parsed, 32));
        failed = true;
        return std::nullopt;
      }
      if (number < 0 || number >= kMaxRomEntries) return std::nullopt;
      return static_cast<size_t>(number);
    };

    if (key == "ReleaseVersion") configs.VbReleaseVersion = withoutLeadingV(value);
    if (key == "VBiosType") configs.VbType = std::string(value);
    // Only an exact 1 switches a closing step on; nothing switches it off,
    // so a package cannot lose a step by a later line.
    if (key == "ECConfig" && value == "1") configs.ECConfig = 1;
    if (key == "WMIConfig" && value == "1") configs.WMIConfig = 1;
    if (key == "BiosVersion" && !takeBiosRequirement()) return result::kConfigUnreadable;
    if (key == "VGAVersion") configs.VbReqVGAVersion = withoutLeadingV(value);
    if (key.starts_with("VBiosHWID_")) {
      if (auto n = entryNumber()) configs.vb[*n].vbHWID = std::string(value);
      if (failed) return result::kConfigUnreadable;
    }
    if (key.starts_with("VBiosVersion_")) {
      if (auto n = entryNumber()) configs.vb[*n].vbRomVersion = std::string(value);
      if (failed) return result::kConfigUnreadable;
    }
    if (key.starts_with("VBiosROM_")) {
      if (auto n = entryNumber()) {
        VBiosInfo& entry = configs.vb[*n];
        entry.vbRom = std::string(value);
        if (value.ends_with("001") || value.ends_with("rom")) entry.vbIsRawRom = true;
      }
      if (failed) return result::kConfigUnreadable;
    }
    if (key == boardName && !takeBiosRequirement()) return result::kConfigUnreadable;
  }
  return result::kSuccess;
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
    for (int i = 0; i < kMaxRomEntries && vb[i].vbHWID != "UNKNOWN"; ++i) {
      ++VbCount;
      const std::string n = std::to_string(i);
      OvLog("VbRomHWID" + n + ": " + vb[i].vbHWID, *w);
      OvLog("VbRomVersion" + n + ": " + vb[i].vbRomVersion, *w);
      OvLog("VbFlashCmd" + n + ": " + vb[i].vbRom, *w);
      OvLog(package::kHyphenRule, *w);
    }
    OvLog(package::kEqualsRule, *w);

    if (VbReleaseVersion == "0.0.0" || VbType == "UNKNOWN" || vb[0].vbHWID == "UNKNOWN" ||
        vb[0].vbRomVersion == "0.0.0.0.0" || vb[0].vbRom == "UNKNOWN") {
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
