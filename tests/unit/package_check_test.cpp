// The package checker on the example packages: the good ones are clean and
// each broken one gives exactly the findings it was made for.
#include "tools/package_check/package_check.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "package/vbios_configs.h"
#include "tools/package_check/hardware_id_form.h"
#include "tools/package_check/nvidia_version.h"
#include "tools/package_check/package_folder.h"
#include "tools/package_sign/sign_package.h"
#include "tools/package_sign/throwaway_signer.h"

namespace fs = std::filesystem;

namespace {

std::string examples(const std::string& name) { return std::string(OVVB_SOURCE_DIR) + "/examples/" + name; }

kit::CheckReport check(const std::string& folder) {
  return kit::checkPackage(kit::loadPackageFolder(folder, OVVB_BIN_DIR));
}

// "severity id place", place as the text output shows it.
std::vector<std::string> findings(const kit::CheckReport& report) {
  std::vector<std::string> out;
  for (const kit::Finding& f : report.findings)
    out.push_back(std::string(kit::severityName(f.severity)) + " " + f.id + " " + f.file +
                  (f.line ? ":" + std::to_string(f.line) : ""));
  return out;
}

const std::vector<std::string> kStandInTools = {"note tool-supplied devcon64.exe",
                                                "note tool-supplied amdvbflash.exe"};
// The examples stay unsigned in the repository.
const std::string kUnsigned = "warning signature-missing ";

std::vector<std::string> withStandIns(std::vector<std::string> expected) {
  expected.insert(expected.end(), kStandInTools.begin(), kStandInTools.end());
  return expected;
}

struct BrokenPackage {
  const char* name;
  int exitCode;
  int32_t readResult;
  std::vector<std::string> expected;
};

TEST(PackageCheck, ExamplePackagesAreClean) {
  for (const auto& entry : std::filesystem::directory_iterator(examples("packages"))) {
    const std::string name = entry.path().filename().string();
    const kit::CheckReport report = check(entry.path().string());
    EXPECT_EQ(report.exitCode(), 1) << name;  // the signature's warning only
    EXPECT_EQ(report.readResult, 0) << name;
  }
  EXPECT_EQ(findings(check(examples("packages/amd-dock"))),
            std::vector<std::string>({kUnsigned, kStandInTools[0], kStandInTools[1]}));
}

TEST(PackageCheck, EachBrokenPackageGivesExactlyItsFindings) {
  const std::vector<BrokenPackage> table = {
      {"starts-at-one", 2, 103,
       withStandIns({"error mandatory-missing configs.txt", "error entry-gap configs.txt:4",
                     "note file-unused kestrel.rom"})},
      {"typos", 1, 0,
       withStandIns({"warning key-misspelt configs.txt:3", "warning value-cut configs.txt:4",
                     "warning key-misspelt configs.txt:5", "warning value-blanks configs.txt:8",
                     "warning key-repeated configs.txt:9", "warning comment-with-equals configs.txt:10",
                     "warning line-ignored configs.txt:11", "note unknown-key configs.txt:12"})},
      {"bad-bios-number", 2, 102, {"error read-aborts configs.txt:4"}},
      {"entry-numbers", 2, 0,
       withStandIns({"warning entry-not-a-number configs.txt:7", "warning entry-out-of-range configs.txt:8",
                     "warning key-repeated configs.txt:10", "error entry-gap configs.txt:13"})},
      // Entry 4 has an older version than entry 0, but for another board of the GPU, to
      // which it gives entry 0's board's image.
      {"hwid-prefixes", 2, 0,
       withStandIns({"error hwid-shadowed configs.txt:8", "error hwid-empty configs.txt:11",
                     "error hwid-case configs.txt:14", "warning rom-image-subsystem configs.txt:19",
                     "warning rom-image-shared configs.txt:19", "error hwid-form configs.txt:20",
                     "error hwid-form configs.txt:23", "error hwid-vendor configs.txt:26",
                     "error hwid-case configs.txt:29"})},
      {"rom-images", 2, 0,
       withStandIns({"error rom-image configs.txt:7", "error rom-image configs.txt:10",
                     "error rom-image configs.txt:13", "error rom-image configs.txt:16",
                     "warning rom-image-subsystem configs.txt:22", "warning rom-image-shared configs.txt:22",
                     "warning rom-image-shared configs.txt:24"})},
      {"board-bios-order", 2, 0,
       withStandIns({"warning board-bios-overridden configs.txt:5", "note unknown-key configs.txt:7",
                     "error board-value-aborts configs.txt:8"})},
      {"ec-config-amd", 2, 0, withStandIns({"error ec-config-amd configs.txt:5"})},
      {"nv-flash-rom",
       2,
       0,
       {"error version-not-a-number configs.txt:6", "error flash-program-not-exe configs.txt:7"}},
      // One finding for the whole file, not one per line it garbles.
      {"utf16-no-mark", 2, 103, {"error wrong-encoding configs.txt:1"}},
      {"versions-and-switches", 2, 0,
       withStandIns({"error driver-version-format configs.txt:4", "warning switch-value configs.txt:5",
                     "warning switch-not-cleared configs.txt:7", "error version-format configs.txt:9",
                     "error version-not-a-number configs.txt:12", "error entry-incomplete configs.txt:14"})},
      {"wrong-type",
       2,
       0,
       {"error type-nvidia-path configs.txt:3", "error hwid-vendor configs.txt:4",
        "error version-not-a-number configs.txt:5", "error flash-program-not-exe configs.txt:6",
        "note file-unused amdtools.inf"}},
      {"missing-files",
       2,
       0,
       {"error rom-missing configs.txt:6", "error rom-refused configs.txt:12",
        "note tool-supplied devcon64.exe", "error tool-missing amdtools.inf",
        "note tool-supplied amdvbflash.exe", "warning rom-case Kestrel_B.ROM", "note file-unused notes.rom"}},
      {"encodings", 2, 0,
       withStandIns({"note encoding configs.txt", "note line-ends-mixed configs.txt",
                     "warning nul-bytes configs.txt:5", "error rom-refused configs.txt:6",
                     "note file-unused kestrel.rom"})},
      {"no-config", 2, 101, {"error config-missing configs.txt"}},
      {"no-match", 2, 0,
       withStandIns({"error no-entry-can-match configs.txt", "error hwid-empty configs.txt:4"})},
  };
  for (const BrokenPackage& package : table) {
    const kit::CheckReport report = check(examples("broken-packages/") + package.name);
    std::vector<std::string> got = findings(report), want = package.expected;
    want.push_back(kUnsigned);
    std::sort(got.begin(), got.end());
    std::sort(want.begin(), want.end());
    EXPECT_EQ(got, want) << package.name;
    EXPECT_EQ(report.exitCode(), package.exitCode) << package.name;
    EXPECT_EQ(report.readResult, package.readResult) << package.name;
  }
}

TEST(PackageCheck, FolderAndSizeLimitsGiveTheInstallersCodes) {
  kit::PackageFolder missing;
  missing.exists = false;
  EXPECT_EQ(kit::checkPackage(missing).readResult, 102);
  // Pointed at configs.txt itself, or at a package unpacked with its top folder.
  const fs::path folder = examples("packages/amd-dock");
  const kit::CheckReport file = check((folder / "configs.txt").string());
  ASSERT_EQ(file.findings.size(), 1u);
  EXPECT_NE(file.findings[0].message.find("not configs.txt itself"), std::string::npos);
  const kit::CheckReport below = check(examples("packages"));
  const auto inFolderBelow =
      std::find_if(below.findings.begin(), below.findings.end(),
                   [](const kit::Finding& f) { return f.rule == kit::Rule::ConfigInFolderBelow; });
  ASSERT_NE(inFolderBelow, below.findings.end());
  EXPECT_EQ(below.readResult, 101);
  EXPECT_NE(inFolderBelow->message.find("Move what 'amd-dock' holds up into the packages folder"),
            std::string::npos);

  kit::PackageFolder large;
  large.configSize = kMaxConfigFileBytes + 1;
  const kit::CheckReport report = kit::checkPackage(large);
  EXPECT_EQ(report.readResult, 102);
  EXPECT_EQ(findings(report), std::vector<std::string>{"error config-too-large configs.txt"});

  kit::PackageFolder atLimit;  // the installer reads a file of exactly the limit
  atLimit.configSize = kMaxConfigFileBytes;
  atLimit.configBytes = std::string(kMaxConfigFileBytes, '#');
  EXPECT_EQ(kit::checkPackage(atLimit).readResult, 103);

  // What the installer's copy refuses, made at run time on a copy of a clean
  // package; the rest of the package is still checked.
  char pattern[] = "/tmp/ovvb-check-XXXXXX";
  const fs::path dir = mkdtemp(pattern);
  fs::path tooDeep;
  for (uint32_t i = 0; i <= kMaxPackageDepth; ++i) tooDeep /= "d";
  struct Case {
    const char* name;
    std::function<void(const fs::path&)> make;
    std::vector<std::string> expected;
  } cases[] = {
      {"a linked ROM and folder",
       [](const fs::path& p) {
         fs::rename(p / "kestrel_rx6700.rom", p.parent_path() / "elsewhere.rom");
         fs::create_symlink(p.parent_path() / "elsewhere.rom", p / "kestrel_rx6700.rom");
         fs::create_directory_symlink(p.parent_path(), p / "up");
       },
       {"error package-link kestrel_rx6700.rom", "error package-link up"}},
      {"one entry more than the bound",
       [](const fs::path& p) {
         fs::create_directories(p / "many");  // with the package's 3 files, the bound is passed here
         for (uint32_t i = 0; i + 3 < kMaxPackageEntries; ++i) std::ofstream(p / "many" / std::to_string(i));
       },
       {"error package-too-large many"}},
      {"folders one level too deep",
       [&](const fs::path& p) { fs::create_directories(p / tooDeep); },
       {"error package-too-large " + tooDeep.string()}},
  };
  for (const Case& c : cases) {
    fs::remove_all(dir / "package");
    fs::remove(dir / "elsewhere.rom");
    fs::copy(examples("packages/amd-dock"), dir / "package", fs::copy_options::recursive);
    c.make(dir / "package");
    const kit::CheckReport report = check((dir / "package").string());
    std::vector<std::string> got = findings(report), want = withStandIns(c.expected);
    std::sort(got.begin(), got.end());
    std::sort(want.begin(), want.end());
    EXPECT_EQ(got, want) << c.name;
    EXPECT_EQ(report.readResult, 102) << c.name;
    EXPECT_EQ(report.summary.size(), 1u) << c.name;  // a refused package has no reading to show
    EXPECT_NE(report.findings.front().message.find("stopping with 102"), std::string::npos) << c.name;
  }
  fs::remove_all(dir);
}

// A package signed as an author signs it, then changed in one way each: the
// checker tells what the installer's own check of its copy finds.
TEST(PackageCheck, SignatureFindingsAreTheInstallersCheck) {
  namespace fs = std::filesystem;
  const kit::ThrowawaySigner signer = kit::makeThrowawaySigner("Package check test");
  ASSERT_EQ(signer.problem, "");
  char pattern[] = "/tmp/ovvb-check-XXXXXX";
  const fs::path dir = mkdtemp(pattern);
  const fs::path package = dir / "package";
  const std::string broken = "error signature-broken package.sha256.p7s";
  struct Case {
    const char* name;
    std::function<void(const fs::path&)> change;
    std::vector<std::string> expected;  // besides the stand-ins' notes
    const char* says;                   // in the signature's finding
  } cases[] = {
      {"as signed",
       [](const fs::path&) {},
       {"note signed package.sha256.p7s"},
       "signed by CN=Package check test, and every file is as it was signed"},
      {"a ROM changed",
       [](const fs::path& p) { std::ofstream(p / "kestrel_rx6700.rom", std::ios::app) << "x"; },
       {broken},
       "package signature: kestrel_rx6700.rom changed since signing."},
      {"a file added in a subfolder",
       [](const fs::path& p) {
         fs::create_directories(p / "docs");
         std::ofstream(p / "docs/notes.txt") << "x";
       },
       {broken},
       "package signature: docs/notes.txt not listed."},
      {"a tool removed",
       [](const fs::path& p) { fs::remove(p / "amdtools.inf"); },
       {broken, "error tool-missing amdtools.inf"},
       "package signature: amdtools.inf listed but missing."},
      {"the manifest edited",
       [](const fs::path& p) {
         std::ofstream(p / "package.sha256", std::ios::app) << std::string(64, 'a') + "  x\n";
       },
       {broken},
       "package signature: signature does not verify."},
      {"the signature removed",
       [](const fs::path& p) { fs::remove(p / "package.sha256.p7s"); },
       {broken},
       "package signature: no signature."},
  };
  for (const Case& c : cases) {
    fs::remove_all(package);
    fs::copy(examples("packages/amd-dock"), package, fs::copy_options::recursive);
    const kit::SignedPackage signedPackage =
        kit::signPackage(package.string(), signer.pkcs12, signer.password);
    ASSERT_EQ(signedPackage.problem, "") << c.name;
    EXPECT_EQ(signedPackage.lines.size(), 3u) << c.name;
    c.change(package);
    const kit::CheckReport report = check(package.string());
    std::vector<std::string> got = findings(report), want = withStandIns(c.expected);
    std::sort(got.begin(), got.end());
    std::sort(want.begin(), want.end());
    EXPECT_EQ(got, want) << c.name;
    const auto signature =
        std::find_if(report.findings.begin(), report.findings.end(), [](const kit::Finding& f) {
          return f.rule == kit::Rule::Signed || f.rule == kit::Rule::SignatureBroken;
        });
    ASSERT_NE(signature, report.findings.end()) << c.name;
    EXPECT_NE(signature->message.find(c.says), std::string::npos) << c.name << ": " << signature->message;
  }
  fs::remove_all(dir);
}

// In the package's own words, with what each line means on a notebook.
TEST(PackageCheck, EveryLineShowsWhatTheInstallerMakesOfIt) {
  kit::PackageFolder folder;
  folder.configBytes =
      "ReleaseVersion=v3\nVBiosType=KRAMD\nECConfig=1\nVBiosROM_7=a.001\nBiosVersion= 42\nno equals here\n";
  const kit::CheckReport report = kit::checkPackage(folder);
  ASSERT_EQ(report.lines.size(), 6u);
  EXPECT_EQ(report.lines[0].reading,
            "ReleaseVersion = '3': the package's version, recorded as DisplayVersion after an install");
  EXPECT_EQ(report.lines[1].reading, "VBiosType = 'KRAMD': the AMD path (amdvbflash flashes the ROM images)");
  EXPECT_EQ(report.lines[2].reading,
            "ECConfig = 1: the dock controller's configuration is updated after the flash");
  EXPECT_EQ(report.lines[3].reading, "VBiosROM_7 = 'a.001': entry 7's ROM image (raw ROM)");
  EXPECT_EQ(report.lines[4].reading, "BiosVersion = 42: the notebook BIOS must be 42 or newer");
  EXPECT_EQ(report.lines[5].reading, "ignored (no '=')");
  for (const std::string& line : report.summary)
    for (const char* internal : {"VbReqBios", "vbHWID", "readConfigs", "VbCount"})
      EXPECT_EQ(line.find(internal), std::string::npos) << line;
}

// What a careful reviewer would say, each with the fix spelt out.
TEST(PackageCheck, ReviewersFindingsNameTheFix) {
  const std::string amd =
      "ReleaseVersion=1\nVBiosType=KRAMD\nVBiosHWID_0=PCI\\VEN_1002&DEV_73DF\n"
      "VBiosVersion_0=020.001.000.038.016300\n";
  const std::string nvidia =
      "ReleaseVersion=1\nVBiosType=KRNV\nVBiosHWID_0=PCI\\VEN_10DE&DEV_2520\n"
      "VBiosVersion_0=575593709570\nVBiosROM_0=flash.exe\n";
  struct Case {
    std::string config;
    std::string finding;  // "" : none of the rules below
    std::string says;
  } cases[] = {
      {nvidia + "VGAVersion=31.0.21001.45002\n", "warning driver-version-vendor configs.txt:6",
       "cannot be an NVIDIA driver's"},
      {nvidia + "VGAVersion=31.0.15.3623\n", "", ""},
      {nvidia + "VGAVersion=27.21.14.5671\n", "", ""},
      {amd + "VBiosROM_0=x.rom\nVGAVersion=31.0.15.3623\n", "warning driver-version-vendor configs.txt:6",
       "cannot be an AMD driver's"},
      {amd + "VBiosROM_0=x.rom\nVGAVersion=30.0.13025.1000\n", "", ""},
      {amd + "VBiosROM_0=roms\\x.rom\n", "error rom-refused configs.txt:5",
       "Put the image beside configs.txt and write VBiosROM_0=x.rom"},
  };
  for (const Case& c : cases) {
    kit::PackageFolder folder;
    folder.configBytes = c.config;
    folder.files = {"configs.txt", "x.rom", "flash.exe", "amdvbflash.exe", "devcon64.exe", "amdtools.inf"};
    const kit::CheckReport report = kit::checkPackage(folder);
    std::string said;
    const std::vector<std::string> all = findings(report);
    for (size_t i = 0; i < report.findings.size(); ++i)
      if (report.findings[i].rule == kit::Rule::DriverVersionVendor ||
          report.findings[i].rule == kit::Rule::RomRefused)
        said = all[i] + "|" + report.findings[i].message;
    EXPECT_EQ(said.substr(0, said.find('|')), c.finding) << c.config << said;
    EXPECT_NE(said.find(c.says), std::string::npos) << said;
  }

  // Device Manager's instance path copied whole: the part to delete is named.
  bool lowerCaseOnly = false;
  EXPECT_NE(
      kit::pciPrefixProblem("PCI\\VEN_1002&DEV_73DF&SUBSYS_0A1B1D6A&REV_C1\\6&1A2B3C4D&0&0008", lowerCaseOnly)
          .find("delete '\\6&1A2B3C4D&0&0008'"),
      std::string::npos);
}

// An encoding fault is told once, at its line, with what to do about it.
TEST(PackageCheck, EncodingFindingsHaveALineAndARemedy) {
  const std::string lines = "ReleaseVersion=1\nVBiosType=KRNV\nVBiosHWID_0=PCI\\VEN_10DE\n";
  std::string utf16be;
  for (char c : lines) utf16be += std::string(1, '\0') + c;
  struct Case {
    std::string bytes;
    std::string finding;
  } cases[] = {
      {"# caf\xE9 (Windows-1252)\n" + lines, "warning invalid-utf8 configs.txt:1"},
      {lines + "# \xFF\n# \xFE\n", "warning invalid-utf8 configs.txt:4"},
      {utf16be, "error wrong-encoding configs.txt:1"},
  };
  for (const Case& c : cases) {
    kit::PackageFolder folder;
    folder.configBytes = c.bytes;
    folder.configSize = c.bytes.size();
    const kit::CheckReport report = kit::checkPackage(folder);
    const std::vector<std::string> got = findings(report);
    const auto found = std::find(got.begin(), got.end(), c.finding);
    ASSERT_NE(found, got.end()) << c.finding;
    EXPECT_EQ(std::count_if(report.findings.begin(), report.findings.end(),
                            [](const kit::Finding& f) {
                              return f.rule == kit::Rule::InvalidUtf8 || f.rule == kit::Rule::WrongEncoding ||
                                     f.rule == kit::Rule::NulBytes || f.rule == kit::Rule::UnknownKey;
                            }),
              1)
        << c.finding;
    const std::string& message = report.findings[static_cast<size_t>(found - got.begin())].message;
    EXPECT_NE(message.find("Save configs.txt as UTF-8"), std::string::npos) << message;
  }
}

// What a prefix can match is decided against Windows' spelling of a whole
// PCI hardware ID; the rehearsal's machines are made from the same spelling.
TEST(PackageCheck, PrefixesAreTestedAgainstWindowsSpelling) {
  struct Case {
    const char* prefix;
    bool can, lowerCaseOnly;
  } cases[] = {
      {"PCI", true, false},
      {"PCI\\VEN_1002&DEV_73DF", true, false},
      {"PCI\\VEN_1002&DEV_73DF&SUBSYS_0A1B1D6A&REV_C1", true, false},
      {"PCI\\VEN_1002&DEV_73DF&SUBSYS_0A1B1D6A&REV_C1&", false, false},
      {"PCI\\VEN_1002&DEV_73DF&CC_0300", false, false},
      {"PCI\\VEN_1002&DEV_73d", false, true},
      {"pci\\ven_1002", false, true},
      {"PCI\\\\VEN_1002", false, false},
      {"VEN_1002&DEV_73DF", false, false},
      {"PCI\\VEN_1002 &DEV_73DF", false, false},
  };
  for (const Case& c : cases) {
    bool lowerCaseOnly = true;
    EXPECT_EQ(kit::pciPrefixProblem(c.prefix, lowerCaseOnly).empty(), c.can) << c.prefix;
    EXPECT_EQ(lowerCaseOnly, c.lowerCaseOnly) << c.prefix;
  }
  EXPECT_EQ(kit::pciIdFor("PCI\\\\ven_10de&Dev_2520", "1002"),
            "PCI\\VEN_10DE&DEV_2520&SUBSYS_3A2F6A3D&REV_C1");
  EXPECT_EQ(kit::pciIdFor("PCI\\VEN_1002&DEV_73DF&SUBSYS_0A1B", "1002"),
            "PCI\\VEN_1002&DEV_73DF&SUBSYS_0A1B6A3D&REV_C1");
  EXPECT_EQ(kit::pciIdFor("PCI\\VEN_1002&DEV_73DF&SUBSYS_0A1C1D6A", "1002"),
            "PCI\\VEN_1002&DEV_73DF&SUBSYS_0A1C1D6A&REV_C1");
}

TEST(PackageCheck, NvidiaVersionsConvertBetweenDottedAndInteger) {
  EXPECT_EQ(kit::nvidiaIntegerOfDotted("86.04.0F.00.02"), 575593709570u);
  EXPECT_EQ(kit::nvidiaIntegerOfDotted("86.04.0f.00.02"), 575593709570u);
  EXPECT_EQ(kit::nvidiaDottedOfInteger(575593709570u), "86.04.0F.00.02");
  EXPECT_EQ(kit::nvidiaDottedOfInteger(0xFFFFFFFFFFu), "FF.FF.FF.FF.FF");
  EXPECT_EQ(kit::nvidiaDottedOfInteger(0x10000000000u), "");
  for (const char* bad : {"86.04.0F.00", "86.04.0F.00.02.01", "86.04.0F.00.0G", "86.4.0F.00.02", ""})
    EXPECT_FALSE(kit::nvidiaIntegerOfDotted(bad).has_value()) << bad;
}

}  // namespace
