// The files a package needs: ROM images or flash programs, AMD's tools, and
// the switches that need hardware of one vendor.
#include <algorithm>

#include "common/result_codes.h"
#include "package/check_rules.h"
#include "package/package_manifest.h"
#include "package/read_configs.h"
#include "package/vbios_image.h"
#include "platform/ascii_text.h"
#include "platform/folder_names.h"
#include "platform/paths.h"
#include "platform/process.h"
#include "tools/package_check/checker.h"
#include "tools/package_check/hardware_id_form.h"
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

void Checker::checkSignature() {
  if (!folder_.signature) return;
  const package::PackageSignatureCheck& check = *folder_.signature;
  const std::string code = std::to_string(result::kPackageNotSigned);
  switch (check.verdict) {
    case package::SignatureVerdict::Unsigned:
      addFinding("", 0, Rule::SignatureMissing,
                 "the package is not signed (no package.sha256.p7s): an unsigned installer runs it with a "
                 "warning in its log, a signed installer stops with " +
                     code + " on every machine. Sign it with OvVBiosPackageSign after its last change");
      return;
    case package::SignatureVerdict::Verified:
      addFinding(package::kSignatureName, 0, Rule::Signed,
                 "signed by " + check.signer +
                     ", and every file is as it was signed: a signed installer runs the package only when "
                     "this same certificate signed the installer");
      return;
    case package::SignatureVerdict::Refused:
      addFinding(package::kSignatureName, 0, Rule::SignatureBroken,
                 "package signature: " + check.reason + ". " + check.detail +
                     (check.detail.ends_with('.') ? "" : ".") +
                     " Every installer, signed or not, stops with " + code +
                     " on every machine before it reads configs.txt. Sign the package again with "
                     "OvVBiosPackageSign after its last change");
      return;
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
  if (amd && !platform::isPlainName(entry.vbRom)) {
    const std::string plain = entry.vbRom.substr(entry.vbRom.find_last_of("\\/") + 1);
    addConfigFinding(line, Rule::RomRefused,
                     "VBiosROM_" + n + " " + quoted(entry.vbRom) +
                         " names a file in a folder of the package: the flash step copies the image straight "
                         "into C:\\ProgramData\\Orvo\\VBIOS, refuses a name whose copy would go into a "
                         "folder inside it, and stops with 905 wherever entry " +
                         n + " is flashed. Put the image beside configs.txt and write VBiosROM_" + n + "=" +
                         plain);
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
      if (amd) checkImage(i, entry.vbRom);
      return;
    case Presence::OtherCase:
      if (amd) checkImage(i, otherCaseName(folder_, entry.vbRom));
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

// What the flash step will find in entry i's image, `file` in the folder,
// against the device the entry's own prefix names.
void Checker::checkImage(int i, const std::string& file) {
  const auto bytes = folder_.images.find(file);
  if (bytes == folder_.images.end()) return;
  const VBiosInfo& entry = configs_.vb[i];
  const std::string n = std::to_string(i);
  const size_t line = lineOf("entry " + n + " vbRom");
  const package::ImageReading image = package::readVbiosImage(bytes->second);
  const auto reading = std::find_if(report_.lines.begin(), report_.lines.end(),
                                    [&](const LineReading& l) { return l.number == line; });
  if (reading != report_.lines.end())
    reading->reading += "; the image: " + (image.ok() ? package::describeImage(image.image) : image.problem);
  const std::string named = "VBiosROM_" + n + " " + quoted(entry.vbRom);
  if (!image.ok()) {
    addConfigFinding(line, Rule::RomImage,
                     named + " " + image.problem +
                         ": the flash step refuses it and stops with 905 wherever entry " + n +
                         " is flashed");
    return;
  }
  // A prefix that matches nothing, or only the other vendor's GPUs, never
  // reaches the flash; the entry's other findings say so.
  bool lowerCaseOnly = false;
  if (!pciPrefixProblem(entry.vbHWID, lowerCaseOnly).empty()) return;
  if (const std::string vendor = vendorOf(entry.vbHWID); !vendor.empty() && vendor != "1002") return;
  const package::ImageFit fit =
      package::fitImageToDevice(image.image, package::pciIdsOf(entry.vbHWID), "VBiosHWID_" + n + " names");
  if (!fit.refusal.empty())
    addConfigFinding(line, Rule::RomImage,
                     named + " " + fit.refusal +
                         ": the flash step refuses it and stops with 905 on every GPU entry " + n +
                         " matches");
  else if (!fit.subsystemWarning.empty())
    addConfigFinding(
        line, Rule::RomImageSubsystem,
        named + " " + fit.subsystemWarning +
            ": the installer flashes it with a WARNING line, and the board takes the image's subsystem "
            "ID; is it the other board's image?");
}

// Two boards of a GPU told apart by their subsystem, each with its own
// entry: the same image or the same version for both is usually one board's
// line copied for the other, which then gets the first board's VBIOS.
void Checker::checkBoardImages() {
  const int32_t counted = package::countRomEntries(configs_);
  auto boardOf = [&](int i) -> std::optional<uint32_t> {
    bool lowerCaseOnly = false;
    if (!pciPrefixProblem(configs_.vb[i].vbHWID, lowerCaseOnly).empty()) return std::nullopt;
    return package::pciIdsOf(configs_.vb[i].vbHWID).subsystem;
  };
  for (int i = 0; i < counted; ++i) {
    const std::optional<uint32_t> own = boardOf(i);
    for (int k = 0; own && k < i; ++k) {
      const std::optional<uint32_t> other = boardOf(k);
      if (!other || *other == *own) continue;
      const VBiosInfo &a = configs_.vb[k], &b = configs_.vb[i];
      const bool sameImage = platform::lowerAscii(a.vbRom) == platform::lowerAscii(b.vbRom);
      if (!sameImage && a.vbRomVersion != b.vbRomVersion) continue;
      addConfigFinding(lineOf("entry " + std::to_string(i) + (sameImage ? " vbRom" : " vbRomVersion")),
                       Rule::RomImageShared,
                       "entries " + std::to_string(k) + " and " + std::to_string(i) +
                           " are for different boards (" + package::subsysText(*other) + ", " +
                           package::subsysText(*own) + ") but name the same " +
                           (sameImage ? "image " + quoted(b.vbRom) : "version " + quoted(b.vbRomVersion)) +
                           ": one board's line copied for the other?");
      break;  // one finding per entry
    }
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
  std::vector<std::string> used = {"configs.txt", package::kManifestName, package::kSignatureName};
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
