// The linux program run end to end on simulated machines: every result code
// with its log line, registry record, dialog and exit code.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <regex>
#include <string>
#include <thread>

#include "common/log.h"
#include "tests/e2e/exit_expectations.h"
#include "tests/e2e/installer_run.h"
#include "tests/e2e/package_signing.h"
#include "tests/helpers/rom_image.h"

namespace fs = std::filesystem;
using e2e::dword;
using e2e::Ini;
using e2e::InstallerRun;
using e2e::kAmdConfigs;
using e2e::kNvConfigs;
using e2e::shown;
using e2e::started;

namespace {

bool has(const std::string& line, const std::string& text) { return line.find(text) != std::string::npos; }

// A run that reached step 9 asked the system to stay awake before the flash
// tool started and withdrew the request after the tool had ended, whichever
// way the step ended; a run that stopped earlier asked nothing.
void expectAwakeAroundTheFlash(const InstallerRun& r) {
  const auto events = r.trace("");
  std::vector<size_t> on;
  std::vector<size_t> off;
  size_t flashStart = events.size();
  size_t flashEnd = events.size();
  for (size_t i = 0; i < events.size(); ++i) {
    const std::string& e = events[i];
    if (has(e, "\"event\":\"power.stay_awake\"")) (has(e, "\"on\":true") ? on : off).push_back(i);
    if (has(e, "\"event\":\"process.start\"") && has(e, "amdvbflash.exe") && has(e, "\"arguments\":\"-fa"))
      flashStart = i;
    if (has(e, "\"event\":\"process.end\"") && has(e, "amdvbflash.exe") && i > flashStart &&
        flashEnd == events.size())
      flashEnd = i;
  }
  if (!r.logHas("STEP9: Install VBIOS")) {
    EXPECT_TRUE(on.empty() && off.empty()) << "asked to stay awake without flashing";
    return;
  }
  ASSERT_EQ(on.size(), 1u);
  ASSERT_EQ(off.size(), 1u) << "the request to stay awake was not withdrawn";
  EXPECT_LT(on[0], off[0]);
  if (flashStart == events.size()) return;  // the tool never started (905)
  EXPECT_LT(on[0], flashStart) << "the flash tool started before the request";
  EXPECT_LT(flashEnd, off[0]) << "the request withdrawn before the flash tool ended";
}

// The example package's image as another device's, or with a second image.
std::string rom(uint16_t vendor, uint16_t device, std::vector<uint16_t> list = {}, bool uefi = false,
                uint32_t subsys = 0x3A2F6A3D) {
  testing_rom::RomLayout layout;
  layout.vendor = vendor;
  layout.device = device;
  layout.deviceList = std::move(list);
  layout.uefi = uefi;
  layout.subsystem = static_cast<uint16_t>(subsys >> 16);
  layout.subsystemVendor = static_cast<uint16_t>(subsys & 0xFFFF);
  return testing_rom::makeRom(layout);
}

// The dialog and the driver removal each code leads to are the result code
// table's to say; a row states how the run gets there.
struct ExitCase {
  const char* name;
  int code;
  const char* logLine;   // a line the run must have logged
  bool driverInstalled;  // devcon64 install ran
  std::function<void(InstallerRun&, Ini&, std::string&)> arrange;
  const char* detail = "";  // text the log must hold besides, e.g. of the detail entry
};

// The program signed by the test publisher (machine.ini stands for its
// signature) and the package, configs.txt included, signed by `signer`.
void signedRun(InstallerRun& r, Ini& m, std::string& cfg, const e2e::TestSigner& signer) {
  m.set("program", "signer", e2e::publisher().certificate.string());
  r.writeConfigs(cfg);
  cfg.clear();
  e2e::signPackage(r.packages, signer);
}

void appendTo(const fs::path& file, const std::string& text) { std::ofstream(file, std::ios::app) << text; }

// The run's copy of the package, which every way out removes.
bool packageCopyLeft(const InstallerRun& r) {
  const fs::path copy = r.machine / "drive_c/ProgramData/Orvo/Package";
  return fs::exists(copy) && !fs::is_empty(copy);
}

void PrintTo(const ExitCase& c, std::ostream* os) { *os << c.name; }

class EveryCode : public testing::TestWithParam<ExitCase> {};

TEST_P(EveryCode, EndsWithItsCodeInLogRegistryAndExitCodeAndTheExitTheTableGivesIt) {
  const ExitCase& c = GetParam();
  InstallerRun r;
  r.usePackage("amd-dock");
  Ini machine = e2e::amdMachine();
  std::string configs = kAmdConfigs;
  c.arrange(r, machine, configs);
  r.writeMachine(machine);
  if (!configs.empty()) r.writeConfigs(configs);

  EXPECT_EQ(r.run(), c.code) << r.output;
  const auto messages = r.logMessages();
  ASSERT_GE(messages.size(), 3u);
  EXPECT_EQ(messages[0], " ");
  EXPECT_EQ(messages[1], "=== VBIOS Installer ===");
  EXPECT_TRUE(r.logHas(c.logLine)) << r.logText();
  EXPECT_NE(r.logText().find(c.detail), std::string::npos) << r.logText();
  if (c.code == 905) {
    EXPECT_EQ(started(r, "amdvbflash.exe", "-fa"), 0) << "flashed what it refused";
  }
  EXPECT_EQ(r.stateValue("ToolVersion"), "\"9.2.0.0\"");
  e2e::expectExitAsTheTableSays(r, c.code, true);
  EXPECT_EQ(started(r, "devcon64.exe", "install") > 0, c.driverInstalled);
  EXPECT_FALSE(r.fileOnC("ProgramData/Orvo/VBIOS/kestrel_rx6700.rom")) << "working copy left behind";
  expectAwakeAroundTheFlash(r);
  EXPECT_FALSE(packageCopyLeft(r));
  // Nothing of a package refused for its signature was run.
  if (c.code == 104) {
    EXPECT_TRUE(r.events("process.start").empty());
  }
}

const ExitCase kCodes[] =
    {
        {"Flashed", 0, "Restart System To Complete VBIOS Update", true,
         [](InstallerRun&, Ini&, std::string&) {}, e2e::kUnsignedWarning},
        {"SignedProgramFlashesItsPublishersPackage", 0, "Restart System To Complete VBIOS Update", true,
         [](InstallerRun& r, Ini& m, std::string& cfg) { signedRun(r, m, cfg, e2e::publisher()); },
         "Package signed by \"CN=OvVBios test publisher, O=Orvo Test, C=TW\"; every file is as signed"},
        {"NewerVbiosIsUpToDate", 1, "AMD VBIOS is uptodate", true,
         [](InstallerRun&, Ini& m, std::string&) {
           m.set("amdvbflash", "version", "020.001.000.038.016400");
         }},
        // The package is copied before configs.txt is read; one that cannot be
        // copied whole reads as an unreadable configs.txt.
        {"PackagesFolderMissing", 102, "ERROR problem reading configs.txt ", false,
         [](InstallerRun& r, Ini&, std::string& cfg) {
           fs::remove_all(r.packages);
           cfg.clear();
         },
         "The system cannot find the path specified."},
        {"PackageHoldsALink", 102, "ERROR problem reading configs.txt ", false,
         [](InstallerRun& r, Ini&, std::string&) {
           fs::create_directories(r.packages / "driver");
           fs::create_symlink(r.machine / "registry.reg", r.packages / "driver" / "amdtools.sys");
         },
         "\\driver\\amdtools.sys is a link or junction that leads elsewhere; a package holds plain files and "
         "folders only; nothing of it was read"},
        {"PackageHoldsTooManyFiles", 102, "ERROR problem reading configs.txt ", false,
         [](InstallerRun& r, Ini&, std::string&) {
           fs::create_directories(r.packages / "many");
           for (int i = 0; i < 1000; ++i) std::ofstream(r.packages / "many" / std::to_string(i));
         },
         "the package holds more than 1000 files and folders"},
        {"PackageTooLarge", 102, "ERROR problem reading configs.txt ", false,
         [](InstallerRun& r, Ini&, std::string&) {
           std::ofstream(r.packages / "huge.rom").close();
           fs::resize_file(r.packages / "huge.rom",
                           (std::uintmax_t{1} << 30) + 1);  // sparse: nothing is written
         },
         "the package holds more than 1073741824 bytes (at "},
        // A signed program runs nothing of a package that is not exactly as its
        // publisher signed it.
        {"SignedToolReplaced", 104, "ERROR package signature: amdvbflash.exe changed since signing", false,
         [](InstallerRun& r, Ini& m, std::string& cfg) {
           signedRun(r, m, cfg, e2e::publisher());
           fs::copy_file(r.packages / "devcon64.exe", r.packages / "amdvbflash.exe",
                         fs::copy_options::overwrite_existing);
         },
         "amdvbflash.exe has SHA-256 "},
        {"SignedRomChanged", 104, "ERROR package signature: kestrel_rx6700.rom changed since signing", false,
         [](InstallerRun& r, Ini& m, std::string& cfg) {
           signedRun(r, m, cfg, e2e::publisher());
           appendTo(r.packages / "kestrel_rx6700.rom", "VBIOS_VERSION=020.001.000.038.099999\n");
         }},
        {"SignedFileAdded", 104, "ERROR package signature: tools/helper.dll not listed", false,
         [](InstallerRun& r, Ini& m, std::string& cfg) {
           signedRun(r, m, cfg, e2e::publisher());
           fs::create_directories(r.packages / "tools");
           appendTo(r.packages / "tools" / "helper.dll", "MZ");
         },
         "tools/helper.dll is in the package but not in package.sha256"},
        {"SignedFileRemoved", 104, "ERROR package signature: devcon64.exe listed but missing", false,
         [](InstallerRun& r, Ini& m, std::string& cfg) {
           signedRun(r, m, cfg, e2e::publisher());
           fs::remove(r.packages / "devcon64.exe");
         }},
        {"SignedManifestEdited", 104, "ERROR package signature: signature does not verify", false,
         [](InstallerRun& r, Ini& m, std::string& cfg) {
           signedRun(r, m, cfg, e2e::publisher());
           appendTo(r.packages / "package.sha256", std::string(64, '0') + "  extra.rom\n");
         },
         "package.sha256.p7s: the signature is not over these bytes"},
        {"SignedByAnotherCertificate", 104,
         "ERROR package signature: signed by \"CN=OvVBios test publisher\" and not by the program's "
         "publisher "
         "\"CN=OvVBios test publisher, O=Orvo Test, C=TW\"",
         false, [](InstallerRun& r, Ini& m, std::string& cfg) { signedRun(r, m, cfg, e2e::stranger()); }},
        {"SignedProgramUnsignedPackage", 104, "ERROR package signature: no signature", false,
         [](InstallerRun& r, Ini& m, std::string& cfg) {
           signedRun(r, m, cfg, e2e::publisher());
           fs::remove(r.packages / "package.sha256");
           fs::remove(r.packages / "package.sha256.p7s");
         },
         "the package has neither package.sha256 nor package.sha256.p7s; the program is signed by"},
        {"SignedManifestMalformed", 104, "ERROR package signature: manifest line 7 malformed", false,
         [](InstallerRun& r, Ini& m, std::string& cfg) {
           signedRun(r, m, cfg, e2e::publisher());
           appendTo(r.packages / "package.sha256", std::string(64, 'a') + "  ../registry.reg\n");
           e2e::signManifest(r.packages, e2e::publisher());
         },
         "package.sha256 line 7: the path holds \"..\""},
        // An unsigned program still checks a package that is signed.
        {"UnsignedProgramChangedSignedPackage", 104,
         "ERROR package signature: configs.txt changed since signing", false,
         [](InstallerRun& r, Ini&, std::string& cfg) {
           r.writeConfigs(cfg);
           cfg.clear();
           e2e::signPackage(r.packages, e2e::stranger());
           appendTo(r.packages / "configs.txt", "BiosVersion=1\n");
         }},
        {"ConfigMissing", 101, "ERROR configs.txt Not Found", false,
         [](InstallerRun& r, Ini&, std::string& cfg) {
           fs::remove(r.packages / "configs.txt");
           cfg.clear();
         }},
        {"ConfigUnreadable", 102, "ERROR problem reading configs.txt ", false,
         [](InstallerRun&, Ini&, std::string& cfg) { cfg += "BiosVersion=3O8\n"; }},
        {"ConfigIncomplete", 103, "ERROR problem reading the data from configs.txt", false,
         [](InstallerRun&, Ini&, std::string& cfg) { cfg = cfg.substr(cfg.find('\n') + 1); }},
        {"DeviceSearchFailsAfterMatch", 201, "ERROR check Win32_PnPSignedDriver fail", false,
         [](InstallerRun&, Ini& m, std::string&) { m.set("pnp", "fail", "after_match"); }},
        {"NoMatchingDevice", 202, "ERROR HWID not found", false,
         [](InstallerRun&, Ini& m, std::string&) { m.removeSection("pnp"); }},
        {"BiosTooOld", 301, "WARNING BIOS Version: 308 < Req BIOS Version: 310", false,
         [](InstallerRun&, Ini&, std::string& cfg) { cfg += "BiosVersion=310\n"; }},
        {"BiosUnreadable", 302, "ERROR checkTargetBIOS fail", false,
         [](InstallerRun& r, Ini&, std::string&) {
           r.writeRegistry(
               "Windows Registry Editor Version 5.00\r\n\r\n"
               "[HKEY_LOCAL_MACHINE\\HARDWARE\\DESCRIPTION\\System\\BIOS]\r\n\"BIOSVersion\"=\"KR15A."
               "3O8\"\r\n");
         }},
        {"DriverTooOld", 402, "WARNING VGA Version doesn't match the requirement", false,
         [](InstallerRun&, Ini&, std::string& cfg) { cfg += "VGAVersion=31.0.21001.45010\n"; }},
        {"DriverVersionUnparsable", 403, "ERROR checkTargetVGA fail", false,
         [](InstallerRun&, Ini&, std::string& cfg) { cfg += "VGAVersion=31.0.21OO1.45002\n"; }},
        {"DriverInstallHangs", 1001, "ERROR Install AMD Special Driver timeout", true,
         [](InstallerRun&, Ini& m, std::string&) {
           m.set("devcon64", "install_hang", "yes").set("time", "timeout_scale", "0.01");
         }},
        {"DriverInstallFails", 1002, "ERROR Install AMD Special Driver fail: 1", true,
         [](InstallerRun&, Ini& m, std::string&) { m.set("devcon64", "install_exit", "1"); }},
        {"DriverInstallerMissing", 1003, "ERROR AMD Special Driver Installer not found", false,
         [](InstallerRun& r, Ini&, std::string&) { fs::remove(r.packages / "devcon64.exe"); }},
        {"DriverInstallerPipeBreaks", 1003, "ERROR AMD Special Driver Installer Exception", true,
         [](InstallerRun&, Ini& m, std::string&) { m.set("processes", "output_fail.devcon64.exe", "1"); }},
        {"VersionReaderHangsAfterVersion", 2001, "ERROR Get AMD VBios Version timeout", true,
         [](InstallerRun&, Ini& m, std::string&) {
           m.set("amdvbflash", "ai_hang", "yes").set("time", "timeout_scale", "0.02");
         }},
        {"VersionReaderFailsAfterVersion", 2002, "ERROR amdvbflash -ai fail: 5", true,
         [](InstallerRun&, Ini& m, std::string&) { m.set("amdvbflash", "ai_exit", "5"); }},
        {"VersionReaderPipeBreaksAfterVersion", 2003, "ERROR amdvbflash -ai Exception", true,
         [](InstallerRun&, Ini& m, std::string&) { m.set("processes", "output_fail.amdvbflash.exe", "1"); }},
        {"NoVersionLine", 2004, "ERROR fail to get VBIOS version", true,
         [](InstallerRun&, Ini& m, std::string&) { m.set("amdvbflash", "version", ""); }},
        {"VersionFormatsDiffer", 701, "ERROR checkUptodate unknown AMD VBios Version format", true,
         [](InstallerRun&, Ini&, std::string& cfg) { cfg += "VBiosVersion_0=020.001.000.038\n"; }},
        {"PackageVersionUnparsable", 702, "ERROR checkUptodate fail", true,
         [](InstallerRun&, Ini&, std::string& cfg) { cfg += "VBiosVersion_0=020.001.000.038.01x300\n"; }},
        {"StoppedOnBattery", 901, "WARNING DC mode! Stop VBIOS installation process", true,
         [](InstallerRun&, Ini& m, std::string&) { m.set("power", "ac_line", "0"); }},
        {"FlashHangs", 902, "ERROR VBIOS Flash Process timeout", true,
         [](InstallerRun&, Ini& m, std::string&) {
           // 90 s becomes 1.8 s; the same factor leaves the version read 400 ms,
           // which a sanitizer build's child on a busy machine needs.
           m.set("amdvbflash", "flash_hang", "yes").set("time", "timeout_scale", "0.02");
         }},
        {"FlashFails", 903, "ERROR VbFlashProcess fail: 3", true,
         [](InstallerRun&, Ini& m, std::string&) { m.set("amdvbflash", "flash_exit", "3"); }},
        {"FlashNotCompleted", 904, "ERROR VbFlashProcess is not completed ", true,
         [](InstallerRun&, Ini& m, std::string&) { m.set("amdvbflash", "flash_completes", "no"); }},
        {"RomMissing", 905, "ERROR VbFlashProcess Exception", true,
         [](InstallerRun& r, Ini&, std::string&) { fs::remove(r.packages / "kestrel_rx6700.rom"); }},
        // The flash tool is forced past its own check: the image is checked before it starts.
        {"ImageEmpty", 905, "ERROR VbFlashProcess Exception", true,
         [](InstallerRun& r, Ini&, std::string&) { r.writeRom(""); },
         "kestrel_rx6700.rom is not a PCI expansion ROM: it has 0 bytes, fewer than the 512 of the smallest "
         "image; "
         "nothing was flashed"},
        {"ImageOfText", 905, "ERROR VbFlashProcess Exception", true,
         [](InstallerRun& r, Ini&,
            std::string&) { r.writeRom(std::string(600, '#') + "VBIOS_VERSION=1.2.3.4.5\n"); },
         "kestrel_rx6700.rom is not a PCI expansion ROM: it starts with 23 23, not 55 AA"},
        {"ImageOfAnotherDevice", 905, "ERROR VbFlashProcess Exception", true,
         [](InstallerRun& r, Ini&, std::string&) { r.writeRom(rom(0x1002, 0x73FF)); },
         "kestrel_rx6700.rom is for device 1002:73FF; this GPU is 1002:73DF; nothing was flashed"},
        {"ImageOfTheOtherVendor", 905, "ERROR VbFlashProcess Exception", true,
         [](InstallerRun& r, Ini&, std::string&) { r.writeRom(rom(0x10DE, 0x2520)); },
         "kestrel_rx6700.rom is for device 10DE:2520; this GPU is 1002:73DF"},
        {"ImageDamaged", 905, "ERROR VbFlashProcess Exception", true,
         [](InstallerRun& r, Ini&, std::string&) {
           std::string image = rom(0x1002, 0x73DF);
           image[0x777] ^= 0x40;
           r.writeRom(image);
         },
         "(a checksum mismatch); nothing was flashed"},
        {"ImageChainCutShort", 905, "ERROR VbFlashProcess Exception", true,
         [](InstallerRun& r, Ini&, std::string&) {
           r.writeRom(rom(0x1002, 0x73DF, {}, true).substr(0, 4096 + 1024));
         },
         "image 2 of its chain ends at 6144 bytes, past the end of the file (5120 bytes)"},
        {"ImageForADeviceInItsList", 0, "Restart System To Complete VBIOS Update", true,
         [](InstallerRun& r, Ini&, std::string&) { r.writeRom(rom(0x1002, 0x73E0, {0x73DF})); }},
        // A package may move a board to a new subsystem on purpose.
        {"ImageOfAnotherSubsystem", 0,
         "WARNING kestrel_rx6700.rom is for SUBSYS_0A1B1D6A; this GPU is SUBSYS_3A2F6A3D", true,
         [](InstallerRun& r, Ini&, std::string&) { r.writeRom(rom(0x1002, 0x73DF, {}, false, 0x0A1B1D6A)); }},
};

INSTANTIATE_TEST_SUITE_P(Codes, EveryCode, testing::ValuesIn(kCodes),
                         [](const testing::TestParamInfo<ExitCase>& info) { return info.param.name; });

TEST(NvidiaExit, FailuresOfTheDriverInterfaceAndTheVendorProgram) {
  struct Case {
    int code;
    const char* line;
    std::function<void(Ini&)> arrange;
    bool removeVendorProgram = false;
    const char* vendorProgramAs = nullptr;  // the program under this name, which configs.txt names
  };
  const auto hangsWithHelper = [](Ini& m) {
    m.set("vendorflash", "hang", "yes")
        .set("vendorflash", "helper", "yes")
        .set("time", "timeout_scale", "0.02");
  };
  const Case cases[] = {
      {2005, "ERROR NvAPI_Initialize fail", [](Ini& m) { m.removeSection("nvapi"); }},
      {2006, "ERROR NvAPI_EnumPhysicalGPUs fail", [](Ini& m) { m.set("nvapi", "enum", "-1"); }},
      {2007, "ERROR NvAPI_GPU_GetVbiosRevision fail",
       [](Ini& m) { m.set("nvapi", "revision_status", "-1"); }},
      // The package's own flash program: missing, or never started.
      {905, "ERROR VbFlashProcess not found", [](Ini&) {}, true},
      // Windows would run a batch file through its command interpreter.
      {905, "ERROR VbFlashProcess not found", [](Ini&) {}, false, "flash_3060.bat"},
      {905, "ERROR VbFlashProcess Start fail ",
       [](Ini& m) { m.set("processes", "no_process.vendorflash.exe", "5"); }},
      // Killed at its limit, it takes the helper it started along.
      {902, "ERROR VBIOS Flash Process timeout", hangsWithHelper},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.code);
    InstallerRun r;
    r.usePackage("nv-dock");
    r.writeConfigs(kNvConfigs);
    Ini machine = e2e::nvMachine();
    c.arrange(machine);
    r.writeMachine(machine);
    if (c.removeVendorProgram) fs::remove(r.packages / "vendorflash.exe");
    if (c.vendorProgramAs != nullptr) {
      fs::rename(r.packages / "vendorflash.exe", r.packages / c.vendorProgramAs);
      r.writeConfigs(std::string(kNvConfigs)
                         .replace(std::string(kNvConfigs).find("vendorflash.exe"), 15, c.vendorProgramAs));
    }
    EXPECT_EQ(r.run(), c.code) << r.output;
    EXPECT_TRUE(r.logHas(c.line)) << r.logText();
    if (c.vendorProgramAs != nullptr) {
      EXPECT_NE(r.logText().find("only a Windows program, a .exe or .com file, is started"),
                std::string::npos)
          << r.logText();
      EXPECT_EQ(started(r, c.vendorProgramAs, ""), 0);
    }
    e2e::expectExitAsTheTableSays(r, c.code, false);
    EXPECT_EQ(started(r, "devcon64.exe", ""), 0) << "an NVIDIA package installs no driver";
    const fs::path helper = r.machine / "helper-vendorflash.txt";
    if (fs::exists(helper)) {
      const auto size = fs::file_size(helper);
      std::this_thread::sleep_for(std::chrono::milliseconds(500));
      EXPECT_EQ(fs::file_size(helper), size) << "the helper outlived the run";
    }
  }
}

// A tool that floods its output: the version and the completion text are
// still found after it, and the log keeps a bounded part of it.
TEST(Completion, FloodedToolOutputIsReadToTheEndButLoggedInPart) {
  InstallerRun r;
  r.usePackage("amd-dock");
  r.writeMachine(e2e::amdMachine()
                     .set("amdvbflash", "ai_extra_output", "3M")
                     .set("amdvbflash", "flash_extra_output", "3M"));
  ASSERT_EQ(r.run(), 0) << r.output.substr(0, 2000);
  EXPECT_TRUE(r.logHas("CurVbVersion: 020.001.000.038.016233"));
  const std::vector<std::string> messages = r.logMessages();
  const auto gap =
      std::find(messages.begin(), messages.end(), "... 3143737 more lines (3.0 MiB) of output not logged");
  ASSERT_NE(gap, messages.end()) << r.logText().substr(0, 4000);
  EXPECT_NE(std::find(gap, messages.end(), "Restart System To Complete VBIOS Update"), messages.end())
      << "the last lines follow what was left out";
  EXPECT_LT(r.logText().size(), size_t{1} << 20);
}

// Support reads in the log why the flash tool failed, in its own words.
TEST(FlashFailure, TheToolsOwnWordsFollowTheErrorLine) {
  struct Case {
    int code;
    const char* errorLine;
    const char* toolLine;  // the tool's last words
    std::function<void(Ini&)> arrange;
  };
  const Case cases[] = {
      {903, "ERROR VbFlashProcess fail: 3", "ERROR: flash failed (3)",
       [](Ini& m) { m.set("amdvbflash", "flash_exit", "3"); }},
      {902, "ERROR VBIOS Flash Process timeout", "Programming flash...",
       [](Ini& m) { m.set("amdvbflash", "flash_hang", "yes").set("time", "timeout_scale", "0.02"); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.code);
    InstallerRun r;
    r.usePackage("amd-dock");
    Ini machine = e2e::amdMachine();
    c.arrange(machine);
    r.writeMachine(machine);
    EXPECT_EQ(r.run(), c.code) << r.output;
    const std::vector<std::string> messages = r.logMessages();
    const auto error = std::find(messages.begin(), messages.end(), c.errorLine);
    ASSERT_NE(error, messages.end()) << r.logText();
    const auto words = std::find(error, messages.end(), c.toolLine);
    EXPECT_NE(words, messages.end()) << r.logText();
    EXPECT_NE(std::find(error, words, "Erasing flash..."), words) << "all of it, in order";
  }
}

TEST(Completion, AmdFlashThenUpToDateOnTheSecondRun) {
  InstallerRun r;
  r.usePackage("amd-dock");
  r.writeMachine(e2e::amdMachine());

  ASSERT_EQ(r.run(), 0) << r.output;
  // Every tool and the driver from the run's copy of the package (as JSON
  // text: each backslash of the Windows path is doubled).
  const std::string copy = "C:\\\\ProgramData\\\\Orvo\\\\Package\\\\";
  EXPECT_EQ(started(r, "devcon64.exe", "install \\\"" + copy + "amdtools.inf\\\" *AMDTOOLSDEV"), 1);
  for (const auto& start : r.trace("process.start"))
    EXPECT_NE(start.find("\"program\":\"" + copy), std::string::npos) << start;
  EXPECT_TRUE(
      r.logHas("Copy: C:\\ProgramData\\Orvo\\Package\\kestrel_rx6700.rom -> "
               "C:\\ProgramData\\Orvo\\VBIOS\\kestrel_rx6700.rom"));
  EXPECT_EQ(started(r, "amdvbflash.exe", "\"arguments\":\"-ai\""), 1);
  EXPECT_EQ(started(r, "amdvbflash.exe",
                    "-fa -p 0 \\\"C:\\\\ProgramData\\\\Orvo\\\\VBIOS\\\\kestrel_rx6700.rom\\\""),
            1);
  EXPECT_TRUE(r.logHas("Verifying flash...")) << "every line of the flash tool is logged as printed";
  EXPECT_TRUE(r.logHas("AC mode"));
  EXPECT_EQ(r.stateValue("DisplayVersion"), "\"1.2.0\"");
  EXPECT_TRUE(r.fileOnC("ProgramData/Orvo/VBIOS")) << "the working folder stays";
  const auto progress = r.trace("progress");
  ASSERT_FALSE(progress.empty());
  EXPECT_NE(progress.back().find("\"value\":100"), std::string::npos);
  EXPECT_NE(r.machineIni().find("020.001.000.038.016300"), std::string::npos) << "the stand-in flashed it";

  const size_t firstRunLines = r.logMessages().size();
  ASSERT_EQ(r.run(), 1) << r.output;
  const auto messages = r.logMessages();
  ASSERT_GT(messages.size(), firstRunLines);
  EXPECT_EQ(messages[firstRunLines], " ") << "a second run appends to the same log";
  EXPECT_EQ(messages.back(), "state 1");
  EXPECT_EQ(r.stateValue("DisplayVersion"), "\"1.2.0\"");
  EXPECT_EQ(started(r, "amdvbflash.exe", "-fa"), 1) << "no second flash";
  std::vector<std::string> secondRun(messages.begin() + static_cast<long>(firstRunLines), messages.end());
  EXPECT_EQ(std::count(secondRun.begin(), secondRun.end(), "STEP8: Check power mode"), 0);
  // Progress window and restart dialog on the first run, the restart dialog alone on the second.
  EXPECT_EQ(r.trace("dialog.show").size(), 3u);
}

TEST(Completion, NvidiaVendorProgramRunsWithoutArguments) {
  InstallerRun r;
  r.usePackage("nv-dock");
  r.writeConfigs(kNvConfigs);
  r.writeMachine(e2e::nvMachine());
  ASSERT_EQ(r.run(), 0) << r.output;
  EXPECT_TRUE(r.logHas("CurVbVersion: 575593709569"));
  EXPECT_EQ(started(r, "vendorflash.exe", "\"arguments\":\"\""), 1);
  EXPECT_EQ(started(r, "devcon64.exe", ""), 0);
  EXPECT_EQ(r.stateValue("DisplayVersion"), "\"2.0.1\"");
}

TEST(PowerCheck, BatteryButGoingOnFlashesAndUnknownCountsAsAc) {
  {
    InstallerRun r;
    r.usePackage("amd-dock");
    r.writeMachine(
        e2e::amdMachine().set("power", "ac_line", "0").set("user", "answers", "PowerModeForm:close"));
    EXPECT_EQ(r.run(), 0) << r.output;
    EXPECT_TRUE(r.logHas("DC mode"));
    EXPECT_TRUE(r.logHas("AC mode")) << "closing the dialog leaves results at 1";
  }
  {
    InstallerRun r;
    r.usePackage("amd-dock");
    r.writeMachine(e2e::amdMachine().set("power", "ac_line", "255"));
    EXPECT_EQ(r.run(), 0) << r.output;
    EXPECT_FALSE(r.logHas("DC mode"));
    EXPECT_FALSE(shown(r, "PowerModeForm"));
  }
}

TEST(FlashSafety, RomNameOutsideTheWorkingFolderIsRefusedAndNothingOutsideIsDeleted) {
  for (const char* name : {"..\\..\\Windows\\System32\\victim.dll", "C:\\Windows\\System32\\victim.dll",
                           "\\\\server\\share\\victim.dll", "roms\\kestrel_rx6700.rom"}) {
    SCOPED_TRACE(name);
    InstallerRun r;
    r.usePackage("amd-dock");
    r.writeMachine(e2e::amdMachine());
    std::string configs = kAmdConfigs;
    configs += "VBiosROM_0=" + std::string(name) + "\n";
    r.writeConfigs(configs);
    const fs::path victim = r.machine / "drive_c/Windows/System32/victim.dll";
    fs::create_directories(victim.parent_path());
    std::ofstream(victim) << "system file";

    EXPECT_EQ(r.run(), 905) << r.output;
    EXPECT_TRUE(r.logHas("ERROR VbFlashProcess Exception"));
    EXPECT_TRUE(fs::exists(victim)) << "deleted a file outside the working folder";
    EXPECT_EQ(started(r, "amdvbflash.exe", "-fa"), 0);
    const auto messages = r.logMessages();
    const auto at = std::find(messages.begin(), messages.end(), "ERROR VbFlashProcess Exception");
    ASSERT_NE(at, messages.end());
    ASSERT_NE(at + 1, messages.end());
    EXPECT_NE((at + 1)->find(name), std::string::npos) << "the detail entry names the refused file";
  }
}

TEST(FlashSafety, AWorkingFolderThatIsALinkOrAnotherUsersIsMovedAsideNeverWrittenOrDeletedThrough) {
  // Planted by someone who may create folders under C:\ProgramData, before the
  // elevated program runs: the folder itself or its parent leads elsewhere,
  // or belongs to another user. None of them stops the run.
  struct Case {
    const char* planted;
    bool link;
  };
  for (const Case& c : {Case{"ProgramData/Orvo/VBIOS", true}, Case{"ProgramData/Orvo", true},
                        Case{"ProgramData/Orvo/VBIOS", false}, Case{"ProgramData/Orvo", false}}) {
    SCOPED_TRACE(std::string(c.planted) + (c.link ? " link" : " of another user"));
    InstallerRun r;
    r.usePackage("amd-dock");
    r.writeMachine(e2e::amdMachine());
    const fs::path target = r.machine / "drive_c/Windows/System32";
    const fs::path planted = r.machine / "drive_c" / c.planted;
    const fs::path victim =
        c.link ? (std::string(c.planted).ends_with("VBIOS") ? target / "kestrel_rx6700.rom"
                                                            : target / "VBIOS/kestrel_rx6700.rom")
               : planted / "kestrel_rx6700.rom";
    fs::create_directories(victim.parent_path());
    std::ofstream(victim) << "system file";
    if (c.link) {
      fs::create_directories(planted.parent_path());
      fs::create_directory_symlink(target, planted);
    } else {
      ASSERT_EQ(::chown(planted.c_str(), 65534, 65534), 0);
    }

    EXPECT_EQ(r.run(), 0) << r.output;
    EXPECT_EQ(started(r, "amdvbflash.exe", "-fa"), 1);
    std::string windowsName = std::string("C:\\") + c.planted;
    std::replace(windowsName.begin(), windowsName.end(), '/', '\\');
    const std::string line = "WARNING not the administrators' own, so moved aside: " + windowsName + " -> " +
                             windowsName + ".untrusted-";
    const auto messages = r.logMessages();
    EXPECT_EQ(std::count_if(messages.begin(), messages.end(),
                            [&](const std::string& m) { return m.starts_with(line); }),
              1)
        << r.logText();
    fs::path moved;
    for (const auto& entry : fs::directory_iterator(planted.parent_path())) {
      if (entry.path().filename().string().starts_with(planted.filename().string() + ".untrusted-"))
        moved = entry.path();
    }
    ASSERT_FALSE(moved.empty());
    EXPECT_EQ(fs::is_symlink(fs::symlink_status(moved)), c.link) << "the link itself is what was moved";
    std::ifstream in(c.link ? victim : moved / "kestrel_rx6700.rom");
    const std::string kept((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(kept, "system file") << "wrote or deleted through the link, or in the other user's folder";
    struct stat info {};
    ASSERT_EQ(::lstat((r.machine / "drive_c/ProgramData/Orvo/VBIOS").c_str(), &info), 0);
    EXPECT_TRUE(S_ISDIR(info.st_mode));
    EXPECT_EQ(info.st_uid, ::geteuid());
  }
}

TEST(FlashSafety, AWorkingFolderLeftOpenToEveryoneIsClosedAndALinkInItIsNotWrittenThrough) {
  // An earlier program made the folder writable by all, and someone left a
  // link under the copy's name that leads to a system file.
  InstallerRun r;
  r.usePackage("amd-dock");
  r.writeMachine(e2e::amdMachine());
  const fs::path folder = r.machine / "drive_c/ProgramData/Orvo/VBIOS";
  fs::create_directories(folder);
  fs::permissions(folder, fs::perms::all);
  const fs::path victim = r.machine / "drive_c/Windows/System32/victim.dll";
  fs::create_directories(victim.parent_path());
  std::ofstream(victim) << "system file";
  fs::create_symlink(victim, folder / "kestrel_rx6700.rom");

  EXPECT_EQ(r.run(), 0) << r.output;
  EXPECT_EQ(started(r, "amdvbflash.exe", "-fa"), 1);
  std::ifstream in(victim);
  const std::string kept((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(kept, "system file") << "the copy went through the link";
  EXPECT_FALSE(fs::exists(fs::symlink_status(folder / "kestrel_rx6700.rom"))) << "working copy left behind";
  const fs::perms perms = fs::status(folder).permissions();
  EXPECT_EQ(perms & (fs::perms::group_write | fs::perms::others_write), fs::perms::none);
}

TEST(FlashSafety, AFileSwappedInThePackagesFolderDuringTheRunIsNeverUsed) {
  // A program of the user replaces the ROM while the driver is installed and
  // the device console while the flash runs (with the flash tool, which
  // prints its usage and fails when asked to remove a driver).
  InstallerRun r;
  r.usePackage("amd-dock");
  const fs::path planted = r.dir / "planted.rom";
  std::ofstream(planted) << "VBIOS_VERSION=666.666.666.666.666\n";
  const std::string packages = "Z:" + r.packages.string() + "/";
  r.writeMachine(
      e2e::amdMachine()
          .set("devcon64", "install_replaces", packages + "kestrel_rx6700.rom | Z:" + planted.string())
          .set("amdvbflash", "flash_replaces", packages + "devcon64.exe | " + packages + "amdvbflash.exe"));

  EXPECT_EQ(r.run(), 0) << r.output;
  std::ifstream swapped(r.packages / "kestrel_rx6700.rom");
  ASSERT_EQ(std::string(std::istreambuf_iterator<char>(swapped), std::istreambuf_iterator<char>()),
            "VBIOS_VERSION=666.666.666.666.666\n")
      << "the stand-in did not swap the file";
  EXPECT_NE(r.machineIni().find("version = 020.001.000.038.016300"), std::string::npos)
      << "flashed another image than the package's at the start";
  EXPECT_EQ(started(r, "devcon64.exe", "remove *AMDTOOLSDEV"), 1);
  EXPECT_FALSE(r.logHas("ERROR Remove AMD Special Driver fail: 1")) << "the swapped program ran";
  EXPECT_EQ(r.stateValue("State"), dword(0));
}

}  // namespace

namespace {

TEST(Robustness, UnwritableLogOrRegistryStillEndsWithTheRightExitCode) {
  {
    // A file where the log folder should be: no log at all.
    InstallerRun r;
    r.writeMachine(e2e::amdMachine());
    fs::create_directories(r.machine / "drive_c/Windows");
    std::ofstream(r.machine / "drive_c/Windows/Log") << "not a folder";
    EXPECT_EQ(r.run(), 101) << r.output;
    EXPECT_NE(r.output.find("state 101"), std::string::npos) << "the lines still reach standard output";
    EXPECT_EQ(r.stateValue("State"), dword(101));
  }
  {
    // A folder where the registry file should be: nothing can be recorded.
    InstallerRun r;
    r.writeMachine(e2e::amdMachine());
    fs::remove(r.machine / "registry.reg");
    fs::create_directories(r.machine / "registry.reg");
    EXPECT_EQ(r.run(), 101) << r.output;
    EXPECT_EQ(r.logMessages().back(), "state 101");
    EXPECT_NE(r.output.find("WARNING cannot write registry value State"), std::string::npos) << r.output;
  }
}

// Any reader of the log (users may read C:\Windows\Log) that lets no writer
// in, or anything but a plain file in its place, must not cost a run its
// log: after a short wait the run goes to a file of its own beside it, and
// says so there first and on standard output. A link is never written through.
TEST(Robustness, ALogHeldByAReaderOrReplacedByALinkGetsTheRunWrittenBesideIt) {
  struct Case {
    const char* what;
    bool link;
    size_t waits;  // the pauses before giving up on the log
  } cases[] = {{"held by a reader that lets no writer in", false, kHeldLogAttempts - 1}, {"a link", true, 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    InstallerRun r;
    r.writeMachine(e2e::amdMachine());
    const fs::path folder = r.machine / "drive_c/Windows/Log";
    fs::create_directories(folder);
    const fs::path log = folder / "OrvoVbInst.txt";
    const fs::path elsewhere = r.top / "elsewhere.txt";
    std::ofstream(c.link ? elsewhere : log) << "earlier runs\r\n";
    int holder = -1;
    if (c.link) {
      fs::create_symlink(elsewhere, log);
    } else {
      holder = ::open(log.c_str(), O_RDONLY | O_CLOEXEC);
      ASSERT_EQ(::flock(holder, LOCK_SH), 0);
    }
    EXPECT_EQ(r.run(), 101) << r.output;
    if (holder >= 0) ::close(holder);

    std::ifstream kept(c.link ? elsewhere : log, std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(kept), {}), "earlier runs\r\n");
    std::vector<std::string> beside;
    for (const auto& entry : fs::directory_iterator(folder))
      if (entry.path().filename() != "OrvoVbInst.txt") beside.push_back(entry.path().filename().string());
    ASSERT_EQ(beside.size(), 1u);
    EXPECT_TRUE(std::regex_match(beside[0], std::regex(R"(OrvoVbInst-\d{8}-\d{6}\.txt)"))) << beside[0];
    const std::vector<std::string> run = r.logMessages(beside[0]);
    ASSERT_GE(run.size(), 4u) << r.logText(beside[0]);
    const std::string notice = run[0];
    EXPECT_TRUE(notice.starts_with("WARNING C:\\Windows\\Log\\OrvoVbInst.txt cannot be written (")) << notice;
    EXPECT_TRUE(notice.ends_with("); this run is logged in C:\\Windows\\Log\\" + beside[0])) << notice;
    EXPECT_EQ(run[1], " ");
    EXPECT_EQ(run[2], "=== VBIOS Installer ===");
    EXPECT_EQ(run.back(), "state 101");
    EXPECT_TRUE(r.output.starts_with(notice)) << r.output;
    size_t waits = 0;
    for (const auto& sleep : r.events("sleep")) waits += sleep.get("ms") == "100" ? 1 : 0;
    EXPECT_EQ(waits, c.waits);
  }
}

}  // namespace

namespace {

std::vector<int> progressValues(const InstallerRun& r) {
  std::vector<int> values;
  for (const auto& line : r.trace("progress")) {
    const size_t at = line.find("\"value\":");
    if (at != std::string::npos) values.push_back(std::atoi(line.c_str() + at + 8));
  }
  return values;
}

TEST(Completion, ProgressBarAdvancesByTensToOneHundred) {
  // Real pacing at a twentieth of real time: the flash outlasts the running
  // phase, so the bar climbs to 70 while it runs, then to 100.
  InstallerRun r;
  r.usePackage("amd-dock");
  r.writeMachine(e2e::amdMachine().set("time", "scale", "0.05").set("amdvbflash", "flash_seconds", "80"));
  ASSERT_EQ(r.run(), 0) << r.output;
  const std::vector<int> values = progressValues(r);
  ASSERT_FALSE(values.empty());
  for (int expected = 10; expected <= 70; expected += 10)
    EXPECT_NE(std::find(values.begin(), values.end(), expected), values.end()) << expected;
  EXPECT_TRUE(std::is_sorted(values.begin(), values.end()));
  EXPECT_EQ(values.back(), 100);
  const auto messages = r.logMessages();
  EXPECT_GE(std::count(messages.begin(), messages.end(), "VbFlashProcess is running "), 5);
}

TEST(ProgramFolder, EveryNameWindowsCanSpellFindsItsPackagesAndTheRestIsRefusedClearly) {
  {
    // A backslash, a colon and a non-ASCII letter: Windows spells them, the
    // first two as stand-in characters that map back to the same bytes.
    InstallerRun r("dock\\tools: \xC3\xBC");
    r.usePackage("amd-dock");
    r.writeMachine(e2e::amdMachine());
    EXPECT_EQ(r.run(), 0) << r.output;
    EXPECT_EQ(started(r, "amdvbflash.exe", "-fa"), 1);
  }
  {
    // A byte that is not UTF-8 has no Windows spelling: no package is read
    // from anywhere else, and the log says why.
    InstallerRun r("latin1-\xFC");
    r.usePackage("amd-dock");
    r.writeMachine(e2e::amdMachine());
    EXPECT_EQ(r.run(), 102) << r.output;
    EXPECT_TRUE(r.logHas("ERROR problem reading configs.txt "));
    EXPECT_NE(r.logText().find("the program's own folder has no Windows name"), std::string::npos);
    EXPECT_EQ(started(r, "devcon64.exe", ""), 0);
  }
}

}  // namespace

namespace {

// `OvVBiosInstaller | head -3`, or a start with standard output closed: the
// echo is lost, nothing else. The run flashes to its end, removes the
// flash tool's driver, records its state and deletes the working copy; the
// log (which a closed descriptor 1 could otherwise become) has each line once.
TEST(StandardOutput, AVanishedReaderOrAClosedOutputChangesNothingButTheEcho) {
  struct Case {
    const char* name;
    InstallerRun::Stdout to;
    bool amd;
  };
  const Case cases[] = {
      {"reader gone, AMD", InstallerRun::Stdout::VanishedReader, true},
      // The vendor program's output is not captured: it must not write into
      // the broken pipe either.
      {"reader gone, NVIDIA", InstallerRun::Stdout::VanishedReader, false},
      {"closed, AMD", InstallerRun::Stdout::Closed, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    InstallerRun r;
    r.usePackage(c.amd ? "amd-dock" : "nv-dock");
    if (!c.amd) r.writeConfigs(kNvConfigs);
    r.writeMachine(c.amd ? e2e::amdMachine() : e2e::nvMachine());
    EXPECT_EQ(r.run(c.to), 0) << r.output;
    const auto messages = r.logMessages();
    EXPECT_EQ(std::count(messages.begin(), messages.end(), "=== VBIOS Installer ==="), 1) << r.logText();
    EXPECT_EQ(std::count(messages.begin(), messages.end(), "state 0"), 1) << r.logText();
    EXPECT_EQ(r.stateValue("State"), dword(0));
    EXPECT_EQ(r.stateValue("DisplayVersion"), c.amd ? "\"1.2.0\"" : "\"2.0.1\"");
    EXPECT_EQ(started(r, "devcon64.exe", "remove"), c.amd ? 1 : 0);
    EXPECT_FALSE(r.fileOnC("ProgramData/Orvo/VBIOS/kestrel_rx6700.rom")) << "working copy left behind";
  }
}

}  // namespace

TEST(OneRunAtATime, ASecondRunStartedMeanwhileWaitsForTheFirstAndFindsTheVbiosUpToDate) {
  InstallerRun r;
  r.usePackage("amd-dock");
  // The flash takes about a second of real time, the pacing around it a few tenths.
  r.writeMachine(e2e::amdMachine().set("time", "scale", "0.05").set("amdvbflash", "flash_seconds", "20"));
  std::vector<int> exits = r.runAtOnce(2, 100);
  // Which of the two gets the lock first is the system's choice.
  std::sort(exits.begin(), exits.end());
  EXPECT_EQ(exits, (std::vector<int>{0, 1}));
  EXPECT_EQ(started(r, "amdvbflash.exe", "-fa"), 1) << "flashed twice";

  // The two runs' tools never ran at the same time.
  int running = 0;
  for (const auto& e : r.trace("")) {
    if (has(e, "\"event\":\"process.start\"")) ++running;
    if (has(e, "\"event\":\"process.end\"")) --running;
    ASSERT_LE(running, 1) << e;
  }

  // Both runs are in the log, whole and one after the other.
  const auto messages = r.logMessages();
  std::vector<size_t> heads;
  for (size_t i = 0; i < messages.size(); ++i)
    if (messages[i] == "=== VBIOS Installer ===") heads.push_back(i);
  ASSERT_EQ(heads.size(), 2u) << r.logText();
  heads.push_back(messages.size() + 1);  // the end of the last block
  for (size_t run = 0; run < 2; ++run) {
    const std::vector<std::string> block(messages.begin() + static_cast<long>(heads[run]),
                                         messages.begin() + static_cast<long>(heads[run + 1] - 1));
    EXPECT_EQ(std::count_if(block.begin(), block.end(),
                            [](const std::string& m) { return m.rfind("state ", 0) == 0; }),
              1);
    EXPECT_EQ(block.back().rfind("state ", 0), 0u) << "run " << run << " does not end with its state line";
    EXPECT_EQ(std::count(block.begin(), block.end(), "STEP1: read configs"), 1);
  }
}

TEST(OneRunAtATime, ALockFileOfSomeoneElseIsMovedAsideNeverFollowedAndTheRunGoesOn) {
  const std::function<void(const fs::path& lock, const fs::path& elsewhere)> plants[] = {
      [](const fs::path& lock, const fs::path& elsewhere) { fs::create_symlink(elsewhere, lock); },
      // Held by another user for ever, it would keep every run waiting.
      [](const fs::path& lock, const fs::path&) {
        std::ofstream(lock).close();
        ASSERT_EQ(::chown(lock.c_str(), 65534, 65534), 0);
      },
  };
  for (size_t i = 0; i < std::size(plants); ++i) {
    SCOPED_TRACE(i);
    InstallerRun r;
    r.usePackage("amd-dock");
    r.writeMachine(e2e::amdMachine());
    const fs::path elsewhere = r.top / "elsewhere.txt", lock = r.machine / "run.lock";
    std::ofstream(elsewhere) << "not ours";
    plants[i](lock, elsewhere);
    EXPECT_EQ(r.run(), 0) << r.output;
    const auto messages = r.logMessages();
    ASSERT_GE(messages.size(), 3u);
    const std::string moved = "WARNING not the administrators' own, so moved aside: " + lock.string() +
                              " -> " + lock.string() + ".untrusted-";
    EXPECT_EQ(messages[2].rfind(moved, 0), 0u) << messages[2];
    EXPECT_EQ(messages.back(), "state 0");
    EXPECT_FALSE(fs::is_symlink(lock));
    struct stat info {};
    ASSERT_EQ(::stat(lock.c_str(), &info), 0);
    EXPECT_EQ(info.st_uid, ::geteuid());
    std::string behind;
    std::getline(std::ifstream(elsewhere), behind);
    EXPECT_EQ(behind, "not ours");
  }
}

TEST(OneRunAtATime, ARunThatWaitsLongSaysSo) {
  InstallerRun r;
  r.usePackage("amd-dock");
  r.writeMachine(e2e::amdMachine());
  const int held = ::open((r.machine / "run.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  ASSERT_GE(held, 0);
  ASSERT_EQ(::flock(held, LOCK_EX), 0);
  std::thread release([held] {
    std::this_thread::sleep_for(std::chrono::milliseconds(5500));
    ::close(held);
  });
  EXPECT_EQ(r.run(), 0) << r.output;
  release.join();
  EXPECT_NE(r.output.find("Another run of the installer is not finished yet; waiting for it to end"),
            std::string::npos)
      << r.output;
}
