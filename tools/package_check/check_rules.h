// Every finding the package checker can give: one enumerator and one table
// row each, so a finding cannot name a rule that does not exist and the
// authors' guide lists exactly what the checker says.
#pragma once

#include <array>
#include <cstddef>
#include <string_view>

namespace kit {

enum class Severity { Note, Warning, Error };
std::string_view severityName(Severity severity);

enum class Rule {
  FolderMissing,
  PackageLink,
  PackageTooLarge,
  SignatureMissing,
  SignatureBroken,
  Signed,
  ConfigMissing,
  ConfigInFolderBelow,
  ConfigTooLarge,
  Encoding,
  WrongEncoding,
  InvalidUtf8,
  NulBytes,
  LineEndsMixed,
  LineIgnored,
  CommentWithEquals,
  KeyMisspelt,
  UnknownKey,
  BoardBiosOverridden,
  BoardValueAborts,
  ValueCut,
  ValueBlanks,
  SwitchValue,
  SwitchNotCleared,
  EcConfigAmd,
  KeyRepeated,
  EntryNotANumber,
  EntryOutOfRange,
  ReadAborts,
  MandatoryMissing,
  TypeNvidiaPath,
  EntryGap,
  EntryIncomplete,
  HwidEmpty,
  HwidShadowed,
  HwidCase,
  HwidForm,
  HwidVendor,
  NoEntryCanMatch,
  RomRefused,
  RomMissing,
  RomCase,
  RomFromTools,
  RomImage,
  RomImageSubsystem,
  RomImageShared,
  FlashProgramNotExe,
  VersionFormat,
  VersionNotANumber,
  VersionOlder,
  DriverVersionFormat,
  DriverVersionNotANumber,
  DriverVersionVendor,
  ToolMissing,
  ToolCase,
  ToolSupplied,
  FileUnused,
  kCount
};

struct CheckRule {
  Rule rule;
  std::string_view id;
  Severity severity;  // the usual one; a few rules pick another where the installer's outcome differs
  std::string_view what;
};

inline constexpr std::array<CheckRule, static_cast<size_t>(Rule::kCount)> kCheckRules = {{
    {Rule::FolderMissing, "folder-missing", Severity::Error,
     "the packages folder does not exist: 102 on every machine"},
    {Rule::PackageLink, "package-link", Severity::Error,
     "a link, junction or anything else neither a file nor a folder, in the folder or as the folder: the "
     "installer refuses to copy the package, 102 on every machine"},
    {Rule::PackageTooLarge, "package-too-large", Severity::Error,
     "more files and folders, bytes or levels of folders than the installer copies: 102 on every machine"},
    {Rule::SignatureMissing, "signature-missing", Severity::Warning,
     "no package.sha256.p7s: an unsigned installer runs the package with a warning in its log, a signed "
     "one stops with 104 on every machine; sign it with OvVBiosPackageSign"},
    {Rule::SignatureBroken, "signature-broken", Severity::Error,
     "a signature that does not hold (a file added, removed or changed since signing, the manifest edited, "
     "one of the two signature files missing, a signature that does not verify): 104 on every machine, "
     "signed installer or not"},
    {Rule::Signed, "signed", Severity::Note,
     "a signature that holds, with its signer: a signed installer runs the package only when the same "
     "certificate signed the installer"},
    {Rule::ConfigMissing, "config-missing", Severity::Error,
     "no configs.txt in the folder: 101 on every machine"},
    {Rule::ConfigInFolderBelow, "config-in-folder-below", Severity::Error,
     "configs.txt one folder down (a package unpacked with its top folder): 101 on every machine"},
    {Rule::ConfigTooLarge, "config-too-large", Severity::Error,
     "configs.txt is larger than the installer reads (1 MiB): 102"},
    {Rule::Encoding, "encoding", Severity::Note,
     "a byte-order mark: the installer reads the encoding it names"},
    {Rule::WrongEncoding, "wrong-encoding", Severity::Error,
     "UTF-16 saved without a byte-order mark: the installer finds no key, 103 on every machine; save as "
     "UTF-8"},
    {Rule::InvalidUtf8, "invalid-utf8", Severity::Warning,
     "bytes that are not UTF-8: the installer reads them as U+FFFD; save as UTF-8"},
    {Rule::NulBytes, "nul-bytes", Severity::Warning,
     "NUL characters: they stay in the keys and values, which then match nothing"},
    {Rule::LineEndsMixed, "line-ends-mixed", Severity::Note,
     "CR LF, LF and CR mixed: the installer accepts each"},
    {Rule::LineIgnored, "line-ignored", Severity::Warning,
     "a line that looks like a setting but has no '=': ignored"},
    {Rule::CommentWithEquals, "comment-with-equals", Severity::Warning,
     "a comment that holds '=': to the installer it is a key=value line"},
    {Rule::KeyMisspelt, "key-misspelt", Severity::Warning,
     "a key close to a known one (case, blanks, a letter or two): ignored"},
    {Rule::UnknownKey, "unknown-key", Severity::Note,
     "a key the installer knows only as a board product name's BIOS requirement"},
    {Rule::BoardBiosOverridden, "board-bios-overridden", Severity::Warning,
     "a board's BIOS line before a BiosVersion line: on that board the later line wins"},
    {Rule::BoardValueAborts, "board-value-aborts", Severity::Error,
     "a board's BIOS line whose value is not a number: 102 on every notebook of that board"},
    {Rule::ValueCut, "value-cut", Severity::Warning, "a second '=': the text after it is dropped"},
    {Rule::ValueBlanks, "value-blanks", Severity::Warning, "blanks around a value: the installer keeps them"},
    {Rule::SwitchValue, "switch-value", Severity::Warning,
     "ECConfig/WMIConfig other than 0 or 1: only exactly 1 switches the step on"},
    {Rule::SwitchNotCleared, "switch-not-cleared", Severity::Warning,
     "ECConfig/WMIConfig 0 after a 1: a 0 never switches the step off"},
    {Rule::EcConfigAmd, "ec-config-amd", Severity::Error,
     "ECConfig=1 in an AMD package: the dock step reads the VBIOS through NVIDIA's interface, 3002 after "
     "every "
     "flash"},
    {Rule::KeyRepeated, "key-repeated", Severity::Warning, "a setting given twice: the last line wins"},
    {Rule::EntryNotANumber, "entry-not-a-number", Severity::Warning,
     "an entry number that is not a number: the line is ignored"},
    {Rule::EntryOutOfRange, "entry-out-of-range", Severity::Warning,
     "an entry number outside 0..99: the line is ignored"},
    {Rule::ReadAborts, "read-aborts", Severity::Error, "a value that stops the read: 102 on every machine"},
    {Rule::MandatoryMissing, "mandatory-missing", Severity::Error,
     "ReleaseVersion, VBiosType or entry 0's data missing: 103 on every machine"},
    {Rule::TypeNvidiaPath, "type-nvidia-path", Severity::Warning,
     "a VBiosType other than AMD, KRAMD or KRNV: it takes the NVIDIA path (an error when it looks like an "
     "AMD "
     "type)"},
    {Rule::EntryGap, "entry-gap", Severity::Error,
     "an entry after a missing entry number: never counted or matched"},
    {Rule::EntryIncomplete, "entry-incomplete", Severity::Error,
     "an entry without its hardware ID, version or ROM"},
    {Rule::HwidEmpty, "hwid-empty", Severity::Error, "an empty hardware-ID prefix: it matches no device"},
    {Rule::HwidShadowed, "hwid-shadowed", Severity::Error,
     "a prefix that an earlier entry's prefix covers: never chosen"},
    {Rule::HwidCase, "hwid-case", Severity::Error,
     "lower-case letters in a prefix: Windows spells PCI IDs in upper case and the test is case-sensitive"},
    {Rule::HwidForm, "hwid-form", Severity::Error,
     "a prefix no PCI hardware ID as Windows spells it can start with (PCI\\VEN_XXXX&DEV_XXXX&...)"},
    {Rule::HwidVendor, "hwid-vendor", Severity::Error,
     "a prefix of the other vendor than VBiosType selects (AMD VEN_1002, NVIDIA VEN_10DE)"},
    {Rule::NoEntryCanMatch, "no-entry-can-match", Severity::Error,
     "no entry can match any device: 202 on every machine"},
    {Rule::RomRefused, "rom-refused", Severity::Error,
     "a ROM name the flash step refuses (outside the folder, or in a folder of the package): 905"},
    {Rule::RomMissing, "rom-missing", Severity::Error, "a ROM file or flash program not in the folder: 905"},
    {Rule::RomCase, "rom-case", Severity::Warning, "a ROM file whose name differs only in letter case"},
    {Rule::RomFromTools, "rom-from-tools", Severity::Note,
     "a flash program not in the folder but in the --tools folder (simulated)"},
    {Rule::RomImage, "rom-image", Severity::Error,
     "an AMD ROM image that is not an intact VBIOS for the device its entry's prefix names: the flash step "
     "refuses it, 905"},
    {Rule::RomImageSubsystem, "rom-image-subsystem", Severity::Warning,
     "an image for another subsystem than its entry's prefix names: flashed, with a warning in the log"},
    {Rule::RomImageShared, "rom-image-shared", Severity::Warning,
     "entries for different boards (SUBSYS_) that name the same image or the same version"},
    {Rule::FlashProgramNotExe, "flash-program-not-exe", Severity::Error,
     "an NVIDIA flash program that is not a Windows program (.exe or .com): the installer refuses it, 905"},
    {Rule::VersionFormat, "version-format", Severity::Error,
     "an AMD version in a form amdvbflash never prints: 701"},
    {Rule::VersionNotANumber, "version-not-a-number", Severity::Error,
     "a version component that is not a number: 702"},
    {Rule::VersionOlder, "version-older", Severity::Warning,
     "a version older than that of another entry that can match the same device"},
    {Rule::DriverVersionFormat, "driver-version-format", Severity::Error,
     "a VGAVersion without four components: 402 on every machine"},
    {Rule::DriverVersionNotANumber, "driver-version-not-a-number", Severity::Error,
     "a VGAVersion component that is not a number: 403"},
    {Rule::DriverVersionVendor, "driver-version-vendor", Severity::Warning,
     "a VGAVersion no driver of the package's vendor has (NVIDIA's third part is two digits starting with 1 "
     "and its fourth four digits, as 31.0.15.3623; AMD's third part is five digits, as 31.0.21001.45002)"},
    {Rule::ToolMissing, "tool-missing", Severity::Error,
     "an AMD package without amdvbflash.exe, devcon64.exe or amdtools.inf"},
    {Rule::ToolCase, "tool-case", Severity::Warning, "a tool whose file name differs only in letter case"},
    {Rule::ToolSupplied, "tool-supplied", Severity::Note,
     "a tool not in the folder but in the --tools folder: a simulated stand-in, ship the real one"},
    {Rule::FileUnused, "file-unused", Severity::Note, "a file the installer never uses"},
}};

constexpr bool everyRuleHasItsRow() {
  for (size_t i = 0; i < kCheckRules.size(); ++i)
    if (kCheckRules[i].rule != static_cast<Rule>(i) || kCheckRules[i].id.empty() ||
        kCheckRules[i].what.empty())
      return false;
  return true;
}
static_assert(everyRuleHasItsRow(), "kCheckRules needs one row per Rule, in the enumeration's order");

constexpr const CheckRule& ruleOf(Rule rule) { return kCheckRules[static_cast<size_t>(rule)]; }

}  // namespace kit
