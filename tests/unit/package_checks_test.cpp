// setTargetVGA, checkTargetVGA and checkTargetBIOS against simulated machines.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "installer/result_codes.h"
#include "package/vbios_configs.h"
#include "tests/unit/test_machine.h"

namespace {

using testing_machine::TestMachine;
using Lines = std::vector<std::string>;

constexpr const char* kRx6700 = "PCI\\VEN_1002&DEV_73DF&SUBSYS_3A2F6A3D&REV_C1";
constexpr const char* kQueryWithVersion =
    "Select * from Win32_PnPSignedDriver Where HardWareID != NULL And DriverVersion != NULL";
constexpr const char* kQueryAny = "Select * from Win32_PnPSignedDriver Where HardWareID != NULL";

struct Entry {
  const char* hwid;
  const char* rom = "kestrel.rom";
  const char* version = "1.2.3.4.5";
  bool raw = true;
};

struct TargetCase {
  const char* name;
  std::optional<std::string> pnp;  // the [pnp] section body; nullopt: no such hardware
  const char* type;
  const char* requiredDriver;
  std::vector<Entry> entries;
  int32_t count;  // VbCount
  int32_t code;
  Lines log;
  const char* query;
};

TEST(SetTargetVGA, FindsTheFirstMatchingDeviceAndEntry) {
  const std::string dev = std::string("device = ") + kRx6700;
  const std::vector<TargetCase> cases = {
      {"AMD without requirement accepts a device without driver version",
       "device = PCI\\VEN_8086&DEV_46A6 | 31.0.101.4255\n",
       "KRAMD",
       "0.0.0.0",
       {},
       0,
       result::kHwidNotFound,
       {"ERROR HWID not found"},
       kQueryAny},
      {"AMD, no requirement, device listed without version",
       (dev + " |\n"),
       "KRAMD",
       "0.0.0.0",
       {{"PCI\\VEN_1002&DEV_73DF"}},
       1,
       result::kSuccess,
       {"HWID: PCI\\VEN_1002&DEV_73DF is found", "TargetID: 0"},
       kQueryAny},
      {"AMD with requirement does not see a device without version",
       (dev + " |\n"),
       "AMD",
       "31.0.1.1",
       {{"PCI\\VEN_1002&DEV_73DF"}},
       1,
       result::kHwidNotFound,
       {"ERROR HWID not found"},
       kQueryWithVersion},
      {"NVIDIA always reads and logs the driver version",
       "device = PCI\\VEN_10DE&DEV_2684&SUBSYS_16F210DE | 31.0.15.5222\n",
       "KRNV",
       "0.0.0.0",
       {{"PCI\\VEN_10DE&DEV_2684"}},
       1,
       result::kSuccess,
       {"VGAVersion: 31.0.15.5222", "HWID: PCI\\VEN_10DE&DEV_2684 is found", "TargetID: 0"},
       kQueryWithVersion},
      {"lowest matching entry of the device wins",
       (dev + " | 31.0.2\n"),
       "AMD",
       "0.0.0.0",
       {{"PCI\\VEN_10DE"}, {"PCI\\VEN_1002"}, {"PCI\\VEN_1002&DEV_73DF"}},
       3,
       result::kSuccess,
       {"HWID: PCI\\VEN_1002 is found", "TargetID: 1"},
       kQueryAny},
      {"first device in WMI order wins over a lower entry",
       (dev + " | 31.0.2\ndevice = PCI\\VEN_1002&DEV_73FF | 31.0.2\n"),
       "AMD",
       "0.0.0.0",
       {{"PCI\\VEN_1002&DEV_73FF"}, {"PCI\\VEN_1002&DEV_73DF"}},
       2,
       result::kSuccess,
       {"HWID: PCI\\VEN_1002&DEV_73DF is found", "TargetID: 1"},
       kQueryAny},
      {"entries beyond the count are never tried",
       (dev + " | 31.0.2\n"),
       "AMD",
       "0.0.0.0",
       {{"PCI\\VEN_10DE"}, {"PCI\\VEN_1002"}},
       1,
       result::kHwidNotFound,
       {"ERROR HWID not found"},
       kQueryAny},
      {"the prefix test is case-sensitive",
       (dev + " | 31.0.2\n"),
       "AMD",
       "0.0.0.0",
       {{"pci\\ven_1002"}},
       1,
       result::kHwidNotFound,
       {"ERROR HWID not found"},
       kQueryAny},
      {"an empty prefix selects nothing",
       (dev + " | 31.0.2\n"),
       "AMD",
       "0.0.0.0",
       {{""}},
       1,
       result::kHwidNotFound,
       {"ERROR HWID not found"},
       kQueryAny},
      {"no device list at all",
       std::nullopt,
       "AMD",
       "0.0.0.0",
       {{"PCI\\VEN_1002"}},
       1,
       result::kHwidNotFound,
       {"ERROR HWID not found"},
       kQueryAny},
      {"search fails before a match",
       (dev + " | 31.0.2\nfail = before_match\n"),
       "AMD",
       "0.0.0.0",
       {{"PCI\\VEN_1002"}},
       1,
       result::kHwidNotFound,
       {"ERROR check Win32_PnPSignedDriver fail", "<detail>", "ERROR HWID not found"},
       kQueryAny},
      {"search fails after the match",
       (dev + " | 31.0.2\nfail = after_match\n"),
       "KRNV",
       "0.0.0.0",
       {{"PCI\\VEN_1002"}},
       1,
       result::kDeviceSearchFailed,
       {"VGAVersion: 31.0.2", "HWID: PCI\\VEN_1002 is found", "TargetID: 0",
        "ERROR check Win32_PnPSignedDriver fail", "<detail>"},
       kQueryWithVersion},
      {"failing close with no match is a failure before a match",
       (dev + " | 31.0.2\nfail = after_match\n"),
       "AMD",
       "0.0.0.0",
       {{"PCI\\VEN_10DE"}},
       1,
       result::kHwidNotFound,
       {"ERROR check Win32_PnPSignedDriver fail", "<detail>", "ERROR HWID not found"},
       kQueryAny},
  };
  for (const TargetCase& c : cases) {
    SCOPED_TRACE(c.name);
    TestMachine machine;
    machine.writeMachineIni(c.pnp ? "[pnp]\n" + *c.pnp : std::string());
    VBiosConfigs configs;
    configs.VbType = c.type;
    configs.VbReqVGAVersion = c.requiredDriver;
    configs.VbCount = c.count;
    for (size_t i = 0; i < c.entries.size(); ++i) {
      configs.vb[i].vbHWID = c.entries[i].hwid;
      configs.vb[i].vbRom = c.entries[i].rom + std::to_string(i);
      configs.vb[i].vbRomVersion = c.entries[i].version + std::to_string(i);
      configs.vb[i].vbIsRawRom = c.entries[i].raw;
    }

    EXPECT_EQ(configs.setTargetVGA(), c.code);
    EXPECT_EQ(machine.logLinesWithDetails(), c.log);
    const Lines trace = machine.traceLines();
    ASSERT_FALSE(trace.empty());
    EXPECT_NE(trace[0].find(std::string("\"query\":\"") + c.query + "\""), std::string::npos) << trace[0];
    if (c.code == result::kHwidNotFound) {
      EXPECT_EQ(configs.CurHWID, "UNKNOWN");
      EXPECT_EQ(configs.VbFlashCmd, "");
      EXPECT_EQ(configs.VbRomVersion, "0.0.0.0.0");
      EXPECT_EQ(configs.CurVGAVersion, "0.0.0.0");
      EXPECT_FALSE(configs.VbIsRawRom);
    }
  }
}

TEST(SetTargetVGA, CopiesTheTargetEntry) {
  TestMachine machine;
  machine.writeMachineIni(std::string("[pnp]\ndevice = ") + kRx6700 + " | 31.0.21001.45002\n");
  VBiosConfigs configs;
  configs.VbType = "AMD";
  configs.VbReqVGAVersion = "31.0.0.0";
  configs.VbCount = 2;
  configs.vb[0] = {"PCI\\VEN_10DE", "nv.exe", "775", false};
  configs.vb[1] = {"PCI\\VEN_1002&DEV_73DF", "kestrel.rom", "020.001.000.038.016300", true};

  ASSERT_EQ(configs.setTargetVGA(), result::kSuccess);
  EXPECT_EQ(configs.CurHWID, "PCI\\VEN_1002&DEV_73DF");
  EXPECT_EQ(configs.VbFlashCmd, "kestrel.rom");
  EXPECT_EQ(configs.VbRomVersion, "020.001.000.038.016300");
  EXPECT_TRUE(configs.VbIsRawRom);
  EXPECT_EQ(configs.CurVGAVersion, "31.0.21001.45002");
  EXPECT_EQ(configs.VbRomHWID, "UNKNOWN");
}

TEST(CheckTargetVGA, ComparesComponentsNumerically) {
  struct Case {
    const char* required;
    const char* installed;
    int32_t code;
    Lines log;
  };
  const char* matches = "VGA Version matches the requirement";
  const char* warning = "WARNING VGA Version doesn't match the requirement";
  const std::vector<Case> cases = {
      {"0.0.0.0", "not even a version", result::kSuccess, {}},
      {"4.10.0.0", "4.9.99.99", result::kDriverTooOld, {warning}},
      {"4.9.0.0", "4.10.0.0", result::kSuccess, {matches}},
      {"31.0.21001.45002", "31.0.21001.45002", result::kSuccess, {matches}},
      {"31.0.21001.45002", "31.0.21001.45001", result::kDriverTooOld, {warning}},
      {"4.9.0", "4.9.0.0", result::kDriverTooOld, {"ERROR checkTargetVGA unknown version format", warning}},
      {"4.9a.0.0", "4.9.0.0", result::kDriverCheckFailed, {"ERROR checkTargetVGA fail", "<detail>"}},
      {"4.9.0.0", "4.9.0.99999999999", result::kDriverCheckFailed, {"ERROR checkTargetVGA fail", "<detail>"}},
      {"5.x.0.0", "6.0.0.0", result::kSuccess, {matches}},  // decided by the first component
      {"0.0.0.0.0",
       "0.0.0.0",
       result::kDriverTooOld,
       {"ERROR checkTargetVGA unknown version format", warning}},  // only "0.0.0.0" means no requirement
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.required) + " vs " + c.installed);
    TestMachine machine;
    VBiosConfigs configs;
    configs.VbReqVGAVersion = c.required;
    configs.CurVGAVersion = c.installed;
    EXPECT_EQ(configs.checkTargetVGA(), c.code);
    EXPECT_EQ(machine.logLinesWithDetails(), c.log);
  }
}

TEST(CheckTargetBIOS, ComparesTheBuildNumber) {
  struct Case {
    const char* name;
    const char* registry;  // the BIOS key's values; nullptr: no registry.reg
    int32_t required;
    int32_t code;
    int32_t curBios;
    Lines log;
  };
  const std::vector<Case> cases = {
      {"no requirement reads nothing", nullptr, 1, result::kSuccess, 77, {}},
      {"older build",
       "\"BIOSVersion\"=\"X1.308\"",
       310,
       result::kBiosTooOld,
       308,
       {"Full BIOS Version : X1.308", "BIOS Version: 308",
        "WARNING BIOS Version: 308 < Req BIOS Version: 310"}},
      {"same build",
       "\"BIOSVersion\"=\"X1.308\"",
       308,
       result::kSuccess,
       308,
       {"Full BIOS Version : X1.308", "BIOS Version: 308"}},
      {"three pieces use the middle one",
       "\"BIOSVersion\"=\"X1.309.2\"",
       308,
       result::kSuccess,
       309,
       {"Full BIOS Version : X1.309.2", "BIOS Version: 309"}},
      {"blanks around the build",
       "\"BIOSVersion\"=\"X1. 309 \"",
       308,
       result::kSuccess,
       309,
       {"Full BIOS Version : X1. 309 ", "BIOS Version: 309"}},
      {"no dot counts as build 1",
       "\"BIOSVersion\"=\"X1308\"",
       2,
       result::kBiosTooOld,
       1,
       {"Full BIOS Version : X1308", "WARNING BIOS Version: 1 < Req BIOS Version: 2"}},
      {"no dot meets a requirement of 0",
       "\"BIOSVersion\"=\"X1308\"",
       0,
       result::kSuccess,
       1,
       {"Full BIOS Version : X1308"}},
      {"missing value reads as 0.0",
       "\"BaseBoardProduct\"=\"Kestrel15\"",
       300,
       result::kBiosTooOld,
       0,
       {"Full BIOS Version : 0.0", "BIOS Version: 0", "WARNING BIOS Version: 0 < Req BIOS Version: 300"}},
      {"letters in the build",
       "\"BIOSVersion\"=\"X1.30B\"",
       300,
       result::kBiosCheckFailed,
       77,
       {"Full BIOS Version : X1.30B", "ERROR checkTargetBIOS fail", "<detail>"}},
      {"negative requirement",
       "\"BIOSVersion\"=\"X1.-5\"",
       -4,
       result::kBiosTooOld,
       -5,
       {"Full BIOS Version : X1.-5", "BIOS Version: -5", "WARNING BIOS Version: -5 < Req BIOS Version: -4"}},
      {"unreadable key",
       nullptr,
       300,
       result::kBiosCheckFailed,
       77,
       {"ERROR checkTargetBIOS fail", "<detail>"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TestMachine machine;
    if (c.registry) {
      machine.writeRegistry(std::string("[HKEY_LOCAL_MACHINE\\HARDWARE\\DESCRIPTION\\System\\BIOS]\n") +
                            c.registry + "\n");
    }
    VBiosConfigs configs;
    configs.VbReqBios = c.required;
    configs.CurBios = 77;
    EXPECT_EQ(configs.checkTargetBIOS(), c.code);
    EXPECT_EQ(configs.CurBios, c.curBios);
    EXPECT_EQ(machine.logLinesWithDetails(), c.log);
  }
}

}  // namespace
