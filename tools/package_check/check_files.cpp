// The files a package needs: ROM images or flash programs, AMD's tools, and
// the switches that need hardware of one vendor.
#include <algorithm>

#include "package/check_rules.h"
#include "package/read_configs.h"
#include "platform/ascii_text.h"
#include "platform/paths.h"
#include "platform/process.h"
#include "tools/package_check/checker.h"
#include "tools/package_check/nvidia_version.h"
#include "tools/package_check/package_folder.h"

namespace kit {

namespace {

enum class Presence { Exact, OtherCase, FromTools, Missing };

Presence findFile(const PackageFolder& folder, std::string_view name) {
  if (std::find(folder.files.begin(), folder.files.end(), name) != folder.files.end()) return Presence::Exact;
  const std::string lower = platform::lowerAscii(name);
  for (const std::string& file : folder.files)
    if (platform::lowerAscii(file) == lower) return Presence::OtherCase;
  if (std::find(folder.toolFiles.begin(), folder.toolFiles.end(), name) != folder.toolFiles.end())
    return Presence::FromTools;
  return Presence::Missing;
}

std::string otherCaseName(const PackageFolder& folder, std::string_view name) {
  const std::string lower = platform::lowerAscii(name);
  for (const std::string& file : folder.files)
    if (platform::lowerAscii(file) == lower) return file;
  return {};
}

}  // namespace

void Checker::checkPackageCopy() {
  for (const CopyRefusal& refusal : folder_.copyRefusals) {
    const bool link = refusal.why == CopyRefusal::Why::Link || refusal.why == CopyRefusal::Why::NotPlain;
    std::string remedy =
        refusal.path.empty() ? "Ship the packages folder itself, not a link to it"
        : link               ? "Put the file or folder itself in the package instead"
               : "Take out what the installer does not use; a package is a few ROM images and tools";
    addFinding(refusal.path, 0, link ? Rule::PackageLink : Rule::PackageTooLarge,
               describeRefusal(refusal) +
                   ": the installer copies the package before it reads any of it, takes plain files and "
                   "folders only, and refuses the whole package, stopping with 102 on every machine. " +
                   remedy);
  }
}

void Checker::checkRom(int i) {
  const VBiosInfo& entry = configs_.vb[i];
  const std::string n = std::to_string(i);
  const size_t line = lineOf("entry " + n + " vbRom");
  const bool amd = configs_.isAmdType();
  const std::string what = amd ? "ROM image" : "flash program";
  if (!platform::isContainedRelativePath(entry.vbRom)) {
    addConfigFinding(
        line, Rule::RomRefused,
        "VBiosROM_" + n + " " + quoted(entry.vbRom) +
            " is not a file name inside the packages folder: the flash step refuses it and stops with 905 "
            "wherever entry " +
            n + " is flashed");
    return;
  }
  if (!amd && !platform::isWindowsProgramName(entry.vbRom)) {
    addConfigFinding(
        line, Rule::FlashProgramNotExe,
        "an NVIDIA package's VBiosROM_" + n + " names the flash program the installer runs, and " +
            quoted(entry.vbRom) +
            " is not a Windows program (.exe or .com): the installer starts no other kind of file, and the "
            "flash step stops with 905 wherever entry " +
            n + " is flashed. Name the vendor's flash program, which flashes its own image");
    if (findFile(folder_, entry.vbRom) != Presence::Missing) return;
  }
  switch (findFile(folder_, entry.vbRom)) {
    case Presence::Exact:
      return;
    case Presence::OtherCase:
      addFinding(
          otherCaseName(folder_, entry.vbRom), 0, Rule::RomCase,
          "VBiosROM_" + n + " names " + quoted(entry.vbRom) + " but the folder holds " +
              quoted(otherCaseName(folder_, entry.vbRom)) +
              ": Windows finds it, since its file names ignore case; a copy on a case-sensitive file system "
              "does not");
      return;
    case Presence::FromTools:
      addFinding(
          entry.vbRom, 0, Rule::RomFromTools,
          "the " + what + " " + quoted(entry.vbRom) + " of VBiosROM_" + n +
              " is not in the package; the one in the --tools folder is a simulated stand-in: ship the real "
              "one "
              "in the package, or the flash step stops with 905 wherever entry " +
              n + " is flashed");
      return;
    case Presence::Missing:
      addConfigFinding(line, Rule::RomMissing,
                       "the " + what + " " + quoted(entry.vbRom) + " of VBiosROM_" + n +
                           " is not in the folder: the flash step stops with 905 wherever entry " + n +
                           " is flashed");
      return;
  }
}

void Checker::checkTypeAndTools() {
  const std::string& type = configs_.VbType;
  const size_t line = lineOf("VbType");
  if (type != "UNKNOWN" && !package::isAmdPackageType(type) && type != "KRNV") {
    const std::string folded = platform::lowerAscii(trimmed(type));
    const bool looksAmd = folded == "amd" || folded == "kramd";
    addConfigFinding(
        line, Rule::TypeNvidiaPath,
        "VBiosType " + quoted(type) + (looksAmd ? "" : " is not a type the installer knows; it") +
            " takes the NVIDIA path on every machine (NVAPI, integer versions, the package's own flash "
            "program): only AMD and KRAMD, exactly, take the AMD path",
        looksAmd ? Severity::Error : Severity::Warning);
  }
  if (!configs_.isAmdType()) return;
  if (configs_.ECConfig == 1)
    addConfigFinding(
        lineOf("ECConfig"), Rule::EcConfigAmd,
        "ECConfig=1 in an AMD package: the dock step reads the new VBIOS version through NVIDIA's interface, "
        "which an AMD GPU does not have, so every AMD notebook ends with 3002 after a flash (or an "
        "up-to-date "
        "finding), its dock controller not updated. Remove the line or set ECConfig=0");
  struct Tool {
    const char* name;
    const char* without;
  };
  for (const Tool tool :
       {Tool{"devcon64.exe",
             "the flash tool's driver cannot be installed: 1003 on every machine with a matching GPU"},
        Tool{"amdtools.inf",
             "devcon64.exe is given a driver file that is not there: the driver install fails, 1002 from the "
             "device console's failing exit"},
        Tool{"amdvbflash.exe", "no VBIOS version can be read: 2004 on every machine with a matching GPU"}}) {
    switch (findFile(folder_, tool.name)) {
      case Presence::Exact:
        break;
      case Presence::OtherCase:
        addFinding(
            otherCaseName(folder_, tool.name), 0, Rule::ToolCase,
            "named " + quoted(otherCaseName(folder_, tool.name)) + " instead of " + tool.name +
                ": Windows finds it, since its file names ignore case; a copy on a case-sensitive file "
                "system "
                "does not");
        break;
      case Presence::FromTools:
        addFinding(
            tool.name, 0, Rule::ToolSupplied,
            std::string(
                "not in the package; the one in the --tools folder is a simulated stand-in the rehearsal "
                "uses. Ship the real one in the package: without it ") +
                tool.without);
        break;
      case Presence::Missing:
        addFinding(tool.name, 0, Rule::ToolMissing,
                   std::string("an AMD package needs it in the folder; without it ") + tool.without);
        break;
    }
  }
}

void Checker::checkUnusedFiles() {
  std::vector<std::string> used = {"configs.txt"};
  if (configs_.isAmdType()) used.insert(used.end(), {"amdvbflash.exe", "devcon64.exe", "amdtools.inf"});
  for (int i = 0; i < package::countRomEntries(configs_); ++i) used.push_back(configs_.vb[i].vbRom);
  for (const std::string& file : folder_.files) {
    const std::string lower = platform::lowerAscii(file);
    if (std::none_of(used.begin(), used.end(),
                     [&](const std::string& u) { return platform::lowerAscii(u) == lower; }))
      addFinding(file, 0, Rule::FileUnused,
                 "no setting of configs.txt names it: the installer never uses it");
  }
}

}  // namespace kit
