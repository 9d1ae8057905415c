// setTargetVGA, checkTargetVGA and checkTargetBIOS against simulated machines.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/result_codes.h"
#include "package/vbios_configs.h"
#include "tests/unit/test_machine.h"

namespace {

using testing_machine::TestMachine;
using Lines = std::vector<std::string>;

constexpr const char* kQueryWithVersion =
    "Select * from Win32_PnPSignedDriver Where HardWareID != NULL And DriverVersion != NULL";
constexpr const char* kQueryAny = "Select * from Win32_PnPSignedDriver Where HardWareID != NULL";

TEST(SetTargetVGA, FirstMatchingDeviceThenLowestEntry) {
  const std::string rx = "device = PCI\\VEN_1002&DEV_73DF&SUBSYS_3A2F6A3D&REV_C1";
  const std::string nv = "device = PCI\\VEN_10DE&DEV_2684&SUBSYS_16F210DE | 31.0.15.5222\n";
  const char* notFound = "ERROR HWID not found";
  const char* searchFail = "ERROR check Win32_PnPSignedDriver fail";
  struct Case {
    const char* name;
    std::string pnp;  // the [pnp] section body
    const char* type;
    const char* requiredDriver;
    Lines prefixes;  // entries 0, 1, ...; VbCount = their number unless `count` is set
    int32_t code;
    Lines log;
    const char* query;
    int32_t count = -1;
  };
  // clang-format off
  const std::vector<Case> cases = {
      {"AMD, no requirement: a device without driver version counts", rx + " |\n", "KRAMD", "0.0.0.0",
       {"PCI\\VEN_1002&DEV_73DF"}, result::kSuccess, {"HWID: PCI\\VEN_1002&DEV_73DF is found", "TargetID: 0"}, kQueryAny},
      {"AMD with a requirement does not see it", rx + " |\n", "AMD", "31.0.1.1",
       {"PCI\\VEN_1002&DEV_73DF"}, result::kHwidNotFound, {notFound}, kQueryWithVersion},
      {"NVIDIA always reads and logs the driver version", nv, "KRNV", "0.0.0.0", {"PCI\\VEN_10DE&DEV_2684"},
       result::kSuccess, {"VGAVersion: 31.0.15.5222", "HWID: PCI\\VEN_10DE&DEV_2684 is found", "TargetID: 0"}, kQueryWithVersion},
      {"lowest matching entry of the device", rx + " | 31.0.2\n", "AMD", "0.0.0.0",
       {"PCI\\VEN_10DE", "PCI\\VEN_1002", "PCI\\VEN_1002&DEV_73DF"}, result::kSuccess,
       {"HWID: PCI\\VEN_1002 is found", "TargetID: 1"}, kQueryAny},
      {"first device in WMI order beats a lower entry", nv + rx + " | 31.0.2\n", "AMD", "0.0.0.0",
       {"PCI\\VEN_1002&DEV_73DF", "PCI\\VEN_10DE"}, result::kSuccess,
       {"HWID: PCI\\VEN_10DE is found", "TargetID: 1"}, kQueryAny},
      {"entries beyond the count are never tried", rx + " | 31.0.2\n", "AMD", "0.0.0.0",
       {"PCI\\VEN_10DE", "PCI\\VEN_1002"}, result::kHwidNotFound, {notFound}, kQueryAny, 1},
      {"the prefix test is case-sensitive", rx + " | 31.0.2\n", "AMD", "0.0.0.0", {"pci\\ven_1002"},
       result::kHwidNotFound, {notFound}, kQueryAny},
      {"an empty prefix selects nothing", rx + " | 31.0.2\n", "AMD", "0.0.0.0", {""},
       result::kHwidNotFound, {notFound}, kQueryAny},
      {"search fails before a match", rx + " | 31.0.2\nfail = before_match\n", "AMD", "0.0.0.0", {"PCI\\VEN_1002"},
       result::kHwidNotFound, {searchFail, "<detail>", notFound}, kQueryAny},
      {"closing fails after the match", nv + "fail = after_match\n", "KRNV", "0.0.0.0", {"PCI\\VEN_10DE"},
       result::kDeviceSearchFailed,
       {"VGAVersion: 31.0.15.5222", "HWID: PCI\\VEN_10DE is found", "TargetID: 0", searchFail, "<detail>"}, kQueryWithVersion},
      {"closing fails without a match", nv + "fail = after_match\n", "KRNV", "0.0.0.0", {"PCI\\VEN_1002"},
       result::kHwidNotFound, {searchFail, "<detail>", notFound}, kQueryWithVersion},
  };
  // clang-format on
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TestMachine machine;
    machine.writeMachineIni("[pnp]\n" + c.pnp);
    VBiosConfigs configs;
    configs.VbType = c.type;
    configs.VbReqVGAVersion = c.requiredDriver;
    configs.VbCount = c.count >= 0 ? c.count : static_cast<int32_t>(c.prefixes.size());
    for (size_t i = 0; i < c.prefixes.size(); ++i)
      configs.vb[i] = {c.prefixes[i], "rom" + std::to_string(i), "", true};

    EXPECT_EQ(configs.setTargetVGA(), c.code);
    EXPECT_EQ(machine.logLinesWithDetails(), c.log);
    const Lines trace = machine.traceLines();
    ASSERT_FALSE(trace.empty());
    EXPECT_NE(trace[0].find(std::string("\"query\":\"") + c.query + "\""), std::string::npos) << trace[0];
    if (c.code == result::kHwidNotFound) {
      // A search without a match leaves the target fields as they were.
      EXPECT_EQ(configs.CurHWID + "|" + configs.VbFlashCmd + "|" + configs.CurVGAVersion, "UNKNOWN||0.0.0.0");
      EXPECT_FALSE(configs.VbIsRawRom);
    }
  }
}

TEST(SetTargetVGA, CopiesTheTargetEntry) {
  TestMachine machine;
  machine.writeMachineIni(
      "[pnp]\ndevice = PCI\\VEN_1002&DEV_73DF&SUBSYS_3A2F6A3D&REV_C1 | 31.0.21001.45002\n");
  VBiosConfigs configs;
  configs.VbType = "AMD";
  configs.VbReqVGAVersion = "31.0.0.0";
  configs.VbCount = 2;
  configs.vb[0] = {"PCI\\VEN_10DE", "nv.exe", "775", false};
  configs.vb[1] = {"PCI\\VEN_1002&DEV_73DF", "kestrel.rom", "020.001.000.038.016300", true};

  ASSERT_EQ(configs.setTargetVGA(), result::kSuccess);
  EXPECT_EQ(configs.CurHWID, "PCI\\VEN_1002&DEV_73DF");
  EXPECT_EQ(configs.CurDeviceHWID, "PCI\\VEN_1002&DEV_73DF&SUBSYS_3A2F6A3D&REV_C1");
  EXPECT_EQ(configs.VbFlashCmd, "kestrel.rom");
  EXPECT_EQ(configs.VbRomVersion, "020.001.000.038.016300");
  EXPECT_TRUE(configs.VbIsRawRom);
  EXPECT_EQ(configs.CurVGAVersion, "31.0.21001.45002");
}

TEST(CheckTargetVGA, ComparesComponentsNumerically) {
  const char* matches = "VGA Version matches the requirement";
  const char* warning = "WARNING VGA Version doesn't match the requirement";
  const char* format = "ERROR checkTargetVGA unknown version format";
  struct Case {
    const char *required, *installed;
    int32_t code;
    Lines log;
  };
  // clang-format off
  const std::vector<Case> cases = {
      {"0.0.0.0",   "not a version",     result::kSuccess,           {}},
      {"4.10.0.0",  "4.9.99.99",         result::kDriverTooOld,      {warning}},
      {"4.9.0.0",   "4.10.0.0",          result::kSuccess,           {matches}},
      {"31.0.1.2",  "31.0.1.2",          result::kSuccess,           {matches}},
      {"4.9.0",     "4.9.0.0",           result::kDriverTooOld,      {format, warning}},
      {"0.0.0.0.0", "0.0.0.0",           result::kDriverTooOld,      {format, warning}},  // only 0.0.0.0 means none
      {"4.9a.0.0",  "4.9.0.0",           result::kDriverCheckFailed, {"ERROR checkTargetVGA fail", "<detail>"}},
      {"4.9.0.0",   "4.9.0.99999999999", result::kDriverCheckFailed, {"ERROR checkTargetVGA fail", "<detail>"}},
      {"5.x.0.0",   "6.0.0.0",           result::kSuccess,           {matches}},  // decided by the first component
  };
  // clang-format on
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
    const char* values;  // under the BIOS key; nullptr: no registry.reg
    int32_t required, code, curBios;
    Lines log;
  };
  const char* fail = "ERROR checkTargetBIOS fail";
  // clang-format off
  const std::vector<Case> cases = {
      {"no requirement reads nothing", nullptr, 1, result::kSuccess, 77, {}},
      {"older build", "\"BIOSVersion\"=\"X1.308\"", 310, result::kBiosTooOld, 308,
       {"Full BIOS Version : X1.308", "BIOS Version: 308", "WARNING BIOS Version: 308 < Req BIOS Version: 310"}},
      {"same build", "\"BIOSVersion\"=\"X1.308\"", 308, result::kSuccess, 308, {"Full BIOS Version : X1.308", "BIOS Version: 308"}},
      {"three pieces, blanks", "\"BIOSVersion\"=\"X1. 309 .2\"", 308, result::kSuccess, 309,
       {"Full BIOS Version : X1. 309 .2", "BIOS Version: 309"}},
      {"no dot counts as build 1", "\"BIOSVersion\"=\"X1308\"", 2, result::kBiosTooOld, 1,
       {"Full BIOS Version : X1308", "WARNING BIOS Version: 1 < Req BIOS Version: 2"}},
      {"missing value reads as 0.0", "\"BaseBoardProduct\"=\"K15\"", 300, result::kBiosTooOld, 0,
       {"Full BIOS Version : 0.0", "BIOS Version: 0", "WARNING BIOS Version: 0 < Req BIOS Version: 300"}},
      {"signed comparison", "\"BIOSVersion\"=\"X1.-5\"", -4, result::kBiosTooOld, -5,
       {"Full BIOS Version : X1.-5", "BIOS Version: -5", "WARNING BIOS Version: -5 < Req BIOS Version: -4"}},
      {"letters in the build", "\"BIOSVersion\"=\"X1.30B\"", 300, result::kBiosCheckFailed, 77,
       {"Full BIOS Version : X1.30B", fail, "<detail>"}},
      {"unreadable key", nullptr, 300, result::kBiosCheckFailed, 77, {fail, "<detail>"}},
  };
  // clang-format on
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TestMachine machine;
    if (c.values) {
      machine.writeRegistry(std::string("[HKEY_LOCAL_MACHINE\\HARDWARE\\DESCRIPTION\\System\\BIOS]\n") +
                            c.values + "\n");
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
