#include "tools/package_check/package_check.h"

#include <algorithm>

#include "common/result_code_table.h"
#include "common/result_codes.h"
#include "package/config_text.h"
#include "package/read_configs.h"
#include "tools/package_check/checker.h"

namespace kit {

std::string_view severityName(Severity severity) {
  switch (severity) {
    case Severity::Note:
      return "note";
    case Severity::Warning:
      return "warning";
    case Severity::Error:
      return "error";
  }
  return "?";
}

size_t CheckReport::count(Severity severity) const {
  return static_cast<size_t>(std::count_if(findings.begin(), findings.end(),
                                           [&](const Finding& f) { return f.severity == severity; }));
}

int CheckReport::exitCode() const {
  if (count(Severity::Error) > 0) return 2;
  return count(Severity::Warning) > 0 ? 1 : 0;
}

void Checker::summarise() {
  auto& s = report_.summary;
  if (const auto& signature = folder_.signature) {
    switch (signature->verdict) {
      case package::SignatureVerdict::Unsigned:
        s.push_back("package signature: none");
        break;
      case package::SignatureVerdict::Verified:
        s.push_back("package signature: signed by " + signature->signer);
        break;
      case package::SignatureVerdict::Refused:
        s.push_back("package signature: " + signature->reason + ": the installer stops with " +
                    std::to_string(result::kPackageNotSigned) + " before it reads configs.txt");
        break;
    }
  }
  s.push_back(report_.readResult == 0
                  ? std::string("configs.txt reads cleanly and holds everything the installer needs")
                  : "the installer stops in step 1 with " + std::to_string(report_.readResult) + ": " +
                        result::explain(report_.readResult).meaning);
  if (report_.readResult == result::kConfigNotFound || report_.readResult == result::kConfigUnreadable)
    return;
  s.push_back("ReleaseVersion " + quoted(configs_.VbReleaseVersion) + ", VBiosType " +
              quoted(configs_.VbType) + " (the " + (configs_.isAmdType() ? "AMD" : "NVIDIA") + " path)");
  s.push_back(configs_.VbReqBios == 1
                  ? std::string("BiosVersion: no notebook BIOS requirement")
                  : "BiosVersion " + std::to_string(configs_.VbReqBios) + ": the notebook BIOS must be " +
                        std::to_string(configs_.VbReqBios) + " or newer");
  s.push_back(configs_.VbReqVGAVersion == "0.0.0.0"
                  ? std::string("VGAVersion: no graphics driver requirement")
                  : "VGAVersion " + quoted(configs_.VbReqVGAVersion) + ": the graphics driver must be " +
                        quoted(configs_.VbReqVGAVersion) + " or newer");
  // Per board the later of its own line and BiosVersion wins.
  const size_t biosLine = lineOf("VbReqBios");
  for (size_t b = 0; b < boardLines_.size(); ++b) {
    const BoardLine& board = boardLines_[b];
    if (std::any_of(boardLines_.begin() + static_cast<std::ptrdiff_t>(b) + 1, boardLines_.end(),
                    [&](const BoardLine& later) { return later.board == board.board; }))
      continue;
    const bool own = board.line > biosLine;
    s.push_back("  on board " + quoted(board.board) + ": the BIOS must be " +
                std::to_string(own ? board.number : configs_.VbReqBios) + " or newer (line " +
                std::to_string(own ? board.line : biosLine) + ")");
  }
  s.push_back(
      std::string("after the flash: ") +
      (configs_.ECConfig == 1 ? "the dock controller is updated" : "the dock controller is left as it is") +
      ", " +
      (configs_.WMIConfig == 1 ? "the PCIe link is set back to Gen4" : "the PCIe link is left as it is"));
  const int32_t counted = package::countRomEntries(configs_);
  s.push_back(std::to_string(counted) + (counted == 1 ? " entry" : " entries"));
  for (int i = 0; i < counted; ++i)
    s.push_back("entry " + std::to_string(i) + ": a GPU whose hardware ID starts with " +
                quoted(configs_.vb[i].vbHWID) + " gets " + quoted(configs_.vb[i].vbRomVersion) + " from " +
                quoted(configs_.vb[i].vbRom));
}

CheckReport Checker::run() {
  // A package the installer will not copy is read by nothing; what the rest
  // of the checks find is still what the author meets once it is copied.
  checkPackageCopy();
  checkSignature();
  const auto finish = [&] {
    if (!folder_.copyRefusals.empty()) report_.readResult = result::kConfigUnreadable;
    summarise();
    return std::move(report_);
  };
  if (!folder_.exists && folder_.isFile) {
    addFinding("", 0, Rule::FolderMissing,
               "this is a file, not a folder: give the checker the packages folder that holds configs.txt "
               "(the folder the installer finds beside it), not configs.txt itself");
    report_.readResult = result::kConfigUnreadable;
  } else if (!folder_.exists) {
    addFinding("", 0, Rule::FolderMissing,
               "the packages folder does not exist: the installer stops with 102 on every machine");
    report_.readResult = result::kConfigUnreadable;
  } else if (!folder_.hasConfig && !folder_.configBelow.empty()) {
    const std::string& below = folder_.configBelow.front();
    addConfigFinding(0, Rule::ConfigInFolderBelow,
                     "no configs.txt here, but the folder " + quoted(below) +
                         " inside holds one: the package was unpacked with its own top folder. The installer "
                         "reads configs.txt beside it only and stops with 101 on every machine. Move what " +
                         quoted(below) + " holds up into the packages folder, and remove the empty " +
                         quoted(below));
    report_.readResult = result::kConfigNotFound;
  } else if (!folder_.hasConfig) {
    addConfigFinding(0, Rule::ConfigMissing, "no configs.txt: the installer stops with 101 on every machine");
    report_.readResult = result::kConfigNotFound;
  } else if (folder_.configSize > kMaxConfigFileBytes) {
    addConfigFinding(0, Rule::ConfigTooLarge,
                     "configs.txt has " + std::to_string(folder_.configSize) + " bytes, more than the " +
                         std::to_string(kMaxConfigFileBytes) +
                         " the installer reads: it stops with 102 on every machine");
    report_.readResult = result::kConfigUnreadable;
  }
  if (report_.readResult != 0) return finish();

  const std::string text = package::decodeText(folder_.configBytes);
  const bool readable = checkEncoding(text);
  const size_t encodingFindings = report_.findings.size();
  // Read first, so each line's reading can say which vendor's path it is on.
  std::string problem;
  report_.readResult = package::applyConfigText(configs_, text, "\n", problem);
  readLines(text);
  checkBoardLines();
  if (report_.readResult == result::kSuccess) {
    const std::vector<std::string_view> missing = package::missingMandatoryData(configs_);
    if (!missing.empty()) {
      std::string names;
      for (std::string_view name : missing) names += (names.empty() ? "" : ", ") + std::string(name);
      addConfigFinding(0, Rule::MandatoryMissing,
                       "the installer stops with 103 on every machine: no " + names);
      report_.readResult = result::kConfigIncomplete;
    }
  }
  if (!readable) {
    // A file in the wrong encoding makes every line look wrong; the one
    // finding that says why is the whole story.
    report_.findings.resize(encodingFindings);
    return finish();
  }
  if (report_.readResult != result::kConfigUnreadable) {
    checkTypeAndTools();
    checkDriverRequirement();
    checkEntries();
    checkUnusedFiles();
  }
  // configs.txt first, line by line, then the folder's other files.
  std::stable_sort(report_.findings.begin(), report_.findings.end(), [](const Finding& a, const Finding& b) {
    const bool aConfig = a.file == "configs.txt", bConfig = b.file == "configs.txt";
    if (aConfig != bConfig) return aConfig;
    return aConfig && a.line < b.line;
  });
  return finish();
}

CheckReport checkPackage(const PackageFolder& folder) { return Checker(folder).run(); }

}  // namespace kit
