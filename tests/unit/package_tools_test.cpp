// The flash tool's driver (devcon64), the current VBIOS version (amdvbflash
// -ai and NVAPI) and the up-to-date decision.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "installer/result_codes.h"
#include "package/vbios_configs.h"
#include "simulated/machine.h"
#include "tests/unit/test_machine.h"

namespace {

using testing_machine::TestMachine;
using Lines = std::vector<std::string>;

std::string joined(const Lines& lines) {
  std::string text;
  for (const std::string& line : lines) text += line + "\n";
  return text;
}

size_t countContaining(const Lines& lines, std::string_view needle) {
  size_t n = 0;
  for (const std::string& line : lines) n += line.find(needle) != std::string::npos;
  return n;
}

// An AMD package in a folder with blanks in its path, with the stand-ins.
class ToolTest : public ::testing::Test {
 protected:
  TestMachine machine;
  std::filesystem::path folder =
      machine.makePackageFolder("Orvo VBIOS/packages", {"devcon64.exe", "amdvbflash.exe"});
  VBiosConfigs configs;

  void SetUp() override {
    configs.myPath = TestMachine::windowsPath(folder);
    configs.VbType = "KRAMD";
  }
  void machineIni(std::string_view sections) {
    machine.writeMachineIni(std::string(testing_machine::kFastTime) + std::string(sections));
  }
};

TEST_F(ToolTest, NvidiaPackagesRunNoDeviceConsole) {
  machineIni("");
  for (const char* type : {"KRNV", "NV", "amd", "UNKNOWN"}) {
    configs.VbType = type;
    EXPECT_EQ(configs.insallSDriver(), result::kSuccess) << type;
    EXPECT_EQ(configs.removeSDriver(), result::kSuccess) << type;
  }
  EXPECT_TRUE(machine.logLines().empty());
  EXPECT_TRUE(machine.traceLines().empty());
}

TEST_F(ToolTest, InstallQuotesTheDriverPathAndLogsTheOutput) {
  machineIni("");
  ASSERT_EQ(configs.insallSDriver(), result::kSuccess);
  const std::string inf = configs.myPath + "\\amdtools.inf";
  const Lines log = machine.logLines();
  ASSERT_GE(log.size(), 4u);
  EXPECT_EQ(log[0], "Install AMD Special Driver");
  EXPECT_EQ(log[1], configs.myPath + "\\devcon64.exe");
  EXPECT_EQ(log[2], "install " + inf + " *AMDTOOLSDEV");
  // The stand-in only succeeds with exactly three arguments, so this also
  // proves the blank in the path stayed inside one argument.
  EXPECT_EQ(countContaining(log, "Drivers installed successfully."), 1u) << joined(log);
  EXPECT_EQ(countContaining(log, "from " + inf + "."), 1u) << joined(log);

  const std::string arguments = "install \"" + inf + "\" *AMDTOOLSDEV";
  EXPECT_EQ(
      countContaining(machine.traceLines(), "\"arguments\":\"" + simulated::jsonEscape(arguments) + "\""), 1u)
      << joined(machine.traceLines());
}

TEST_F(ToolTest, DeviceConsoleFailures) {
  struct Case {
    const char* name;
    const char* ini;
    bool install;
    bool removeTool;
    int32_t code;
    Lines tail;  // the log after the opening, program and argument lines
  };
  const std::vector<Case> cases = {
      {"install exits 1",
       "[devcon64]\ninstall_exit = 1\n",
       true,
       false,
       result::kDriverInstallFailed,
       {"ERROR Install AMD Special Driver fail: 1"}},
      {"install hangs",
       "[devcon64]\ninstall_hang = yes\n",
       true,
       false,
       result::kDriverInstallTimeout,
       {"ERROR Install AMD Special Driver timeout"}},
      {"installer missing",
       "",
       true,
       true,
       result::kDriverInstallError,
       {"ERROR AMD Special Driver Installer not found", "<detail>"}},
      {"installer starts no process",
       "[processes]\nno_process.devcon64.exe = 1\n",
       true,
       false,
       result::kDriverInstallError,
       {"ERROR AMD Special Driver Installer Exception", "<detail>"}},
      {"remove succeeds", "", false, false, result::kSuccess, {}},
      {"remove exits 3",
       "[devcon64]\nremove_exit = 3\n",
       false,
       false,
       result::kDriverRemoveFailed,
       {"ERROR Remove AMD Special Driver fail: 3"}},
      {"remove hangs",
       "[devcon64]\nremove_hang = yes\n",
       false,
       false,
       result::kDriverRemoveFailed,
       {"ERROR Remove AMD Special Driver timeout"}},
      {"remover missing",
       "",
       false,
       true,
       result::kDriverRemoveError,
       {"ERROR AMD Special Driver Remover not found", "<detail>"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TestMachine own;
    const auto pkg = own.makePackageFolder(
        "packages", c.removeTool ? std::initializer_list<std::string_view>{}
                                 : std::initializer_list<std::string_view>{"devcon64.exe"});
    own.writeMachineIni(std::string(testing_machine::kFastTime) + c.ini);
    VBiosConfigs fresh;
    fresh.VbType = "AMD";
    fresh.myPath = TestMachine::windowsPath(pkg);
    EXPECT_EQ(c.install ? fresh.insallSDriver() : fresh.removeSDriver(), c.code);

    Lines log = own.logLinesWithDetails();
    ASSERT_GE(log.size(), 3u);
    EXPECT_EQ(log[0], c.install ? "Install AMD Special Driver" : "Remove AMD Special Driver");
    EXPECT_EQ(log[1], fresh.myPath + "\\devcon64.exe");
    EXPECT_EQ(log[2],
              c.install ? "install " + fresh.myPath + "\\amdtools.inf *AMDTOOLSDEV" : "remove *AMDTOOLSDEV");
    log.erase(log.begin(), log.begin() + 3);
    if (c.code == result::kSuccess) {
      // One entry, the whole output, its lines untimed.
      EXPECT_EQ(countContaining(log, "1 device(s) were removed."), 1u) << joined(log);
    } else {
      // A failed run's output is never logged.
      EXPECT_EQ(log, c.tail);
    }
    if (std::string(c.name).find("hangs") != std::string::npos) {
      EXPECT_EQ(countContaining(own.traceLines(), "\"killed\":true"), 1u);
    }
  }
}

TEST_F(ToolTest, AmdVersionFromTheStandIn) {
  struct Case {
    const char* name;
    const char* ini;
    bool removeTool;
    int32_t code;
    const char* version;
    Lines tail;  // after "Check AMD VBios Version", the program and "-ai"
  };
  const std::string line = "        Bios Version    : ";
  const std::vector<Case> cases = {
      {"version read",
       "",
       false,
       result::kSuccess,
       "020.001.000.038.016233",
       {line + "020.001.000.038.016233", "CurVbVersion: 020.001.000.038.016233"}},
      {"no version line",
       "[amdvbflash]\nversion =\n",
       false,
       result::kNoVersion,
       "0.0.0.0.0",
       {"ERROR fail to get VBIOS version"}},
      {"seven-character version",
       "[amdvbflash]\nversion = 1.2.3.4\n",
       false,
       result::kNoVersion,
       "0.0.0.0.0",
       {line + "1.2.3.4", "CurVbVersion: 0.0.0.0.0", "ERROR fail to get VBIOS version"}},
      {"exit 1 after printing a version",
       "[amdvbflash]\nversion = 1.2.3.40.100\nai_exit = 1\n",
       false,
       result::kVersionReadExitCode,
       "1.2.3.40.100",
       {"ERROR amdvbflash -ai fail: 1", line + "1.2.3.40.100", "CurVbVersion: 1.2.3.40.100"}},
      {"hang after printing a version",
       "[amdvbflash]\nversion = 1.2.3.40.100\nai_hang = yes\n",
       false,
       result::kVersionReadTimeout,
       "1.2.3.40.100",
       {"ERROR Get AMD VBios Version timeout", line + "1.2.3.40.100", "CurVbVersion: 1.2.3.40.100"}},
      {"hang without a version",
       "[amdvbflash]\nversion =\nai_hang = yes\n",
       false,
       result::kNoVersion,
       "0.0.0.0.0",
       {"ERROR Get AMD VBios Version timeout", "ERROR fail to get VBIOS version"}},
      {"tool missing",
       "",
       true,
       result::kNoVersion,
       "0.0.0.0.0",
       {"ERROR amdvbflash not found", "<detail>", "ERROR fail to get VBIOS version"}},
      {"no process started",
       "[processes]\nno_process.amdvbflash.exe = 1\n",
       false,
       result::kNoVersion,
       "0.0.0.0.0",
       {"ERROR amdvbflash -ai Exception", "<detail>", "ERROR fail to get VBIOS version"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TestMachine own;
    const auto pkg = own.makePackageFolder(
        "packages", c.removeTool ? std::initializer_list<std::string_view>{}
                                 : std::initializer_list<std::string_view>{"amdvbflash.exe"});
    own.writeMachineIni(std::string(testing_machine::kFastTime) + c.ini);
    VBiosConfigs fresh;
    fresh.VbType = "AMD";
    fresh.myPath = TestMachine::windowsPath(pkg);
    EXPECT_EQ(fresh.getCurVbVersion(), c.code);
    EXPECT_EQ(fresh.CurVbVersion, c.version);
    Lines log = own.logLinesWithDetails();
    ASSERT_GE(log.size(), 3u);
    EXPECT_EQ(log[0], "Check AMD VBios Version");
    EXPECT_EQ(log[1], fresh.myPath + "\\amdvbflash.exe");
    EXPECT_EQ(log[2], "-ai");
    log.erase(log.begin(), log.begin() + 3);
    EXPECT_EQ(log, c.tail);
  }
}

TEST_F(ToolTest, EveryBiosVersionLineIsLoggedAndTheLastDecides) {
  machineIni("");
  testing_machine::writeScriptTool(folder / "amdvbflash.exe",
                                   "printf 'adapter 0\\r\\nBios Version : 1.2.3.40.100\\r\\n'\n"
                                   "printf 'BIOS VERSION : 9.9.9.9.9\\rBios Version : 1.2.3.40.101 \\n'\n"
                                   "printf 'Bios Version : 2.0.0.0.7'\n");
  EXPECT_EQ(configs.getCurVbVersion(), result::kSuccess);
  EXPECT_EQ(configs.CurVbVersion, "2.0.0.0.7");
  const Lines log = machine.logLines();
  EXPECT_EQ(
      Lines(log.begin() + 3, log.end()),
      (Lines{"Bios Version : 1.2.3.40.100", "CurVbVersion: 1.2.3.40.100", "Bios Version : 1.2.3.40.101 ",
             "CurVbVersion: 0.0.0.0.0", "Bios Version : 2.0.0.0.7", "CurVbVersion: 2.0.0.0.7"}));
}

TEST_F(ToolTest, AFailedReadKeepsAnEarlierVersion) {
  machineIni("[amdvbflash]\nversion =\nai_exit = 2\n");
  configs.CurVbVersion = "1.2.3.40.100";
  EXPECT_EQ(configs.getCurVbVersion(), result::kVersionReadExitCode);
  EXPECT_EQ(configs.CurVbVersion, "1.2.3.40.100");
}

TEST(NvidiaVersion, FollowsTheNvapiCallTable) {
  struct Case {
    const char* name;
    const char* nvapi;  // [nvapi] body; nullptr: no NVIDIA driver
    int32_t code;
    const char* version;
    Lines log;
    bool unloads;
  };
  const std::vector<Case> cases = {
      {"revision 3, OEM 7",
       "revision = 3\noem_revision = 7\n",
       result::kSuccess,
       "775",
       {"CurVbVersion: 775"},
       true},
      {"OEM status ignored",
       "revision = 3\noem_revision = 7\noem_revision_status = -1\n",
       result::kSuccess,
       "768",
       {"CurVbVersion: 768"},
       true},
      {"OEM above 255 carries",
       "revision = 3\noem_revision = 0x100\n",
       result::kSuccess,
       "1024",
       {"CurVbVersion: 1024"},
       true},
      {"64-bit arithmetic",
       "revision = 0xFFFFFFFF\noem_revision = 0xFF\n",
       result::kSuccess,
       "1099511627775",
       {"CurVbVersion: 1099511627775"},
       true},
      {"no driver library",
       nullptr,
       result::kNvapiInitFailed,
       "0.0.0.0.0",
       {"ERROR NvAPI_Initialize fail"},
       false},
      {"initialize fails",
       "initialize = -1\n",
       result::kNvapiInitFailed,
       "0.0.0.0.0",
       {"ERROR NvAPI_Initialize fail"},
       false},
      {"no GPU list",
       "enum = -1\n",
       result::kNvapiNoGpu,
       "0.0.0.0.0",
       {"ERROR NvAPI_EnumPhysicalGPUs fail"},
       true},
      {"revision unreadable",
       "revision_status = -1\n",
       result::kNvapiNoRevision,
       "0.0.0.0.0",
       {"ERROR NvAPI_GPU_GetVbiosRevision fail"},
       true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TestMachine machine;
    machine.writeMachineIni(c.nvapi ? std::string("[nvapi]\n") + c.nvapi : std::string());
    VBiosConfigs configs;
    configs.VbType = "KRNV";
    EXPECT_EQ(configs.getCurVbVersion(), c.code);
    EXPECT_EQ(configs.CurVbVersion, c.version);
    EXPECT_EQ(machine.logLines(), c.log);
    const Lines trace = machine.traceLines();
    EXPECT_EQ(countContaining(trace, "NvAPI_Unload"), c.unloads ? 1u : 0u) << joined(trace);
    if (c.unloads) {
      EXPECT_NE(trace.back().find("NvAPI_Unload"), std::string::npos) << "Unload comes last";
    }
  }
}

TEST(CheckUptodate, DecidesPerPackageType) {
  struct Case {
    const char* type;
    const char* current;
    const char* package;
    int32_t code;
    Lines log;
  };
  const char* uptodate = "AMD VBIOS is uptodate";
  const char* format = "ERROR checkUptodate unknown AMD VBios Version format";
  const std::vector<Case> cases = {
      {"AMD", "1.2.3.40.100", "1.2.3.40.101", result::kSuccess, {}},
      {"AMD", "1.2.3.40.100", "1.2.3.40.99", result::kUpToDate, {uptodate}},
      {"AMD", "1.2.3.40.100", "1.2.3.40.100", result::kUpToDate, {}},
      {"KRAMD", "20.1.0.38.100", "020.001.000.038.100", result::kUpToDate, {}},
      {"KRAMD", "2.0.0.0.0", "1.9.9.9.9", result::kUpToDate, {uptodate}},
      {"AMD", "1.2.3.4.5", "1.2.3.4", result::kUnknownVersionFormat, {format}},
      {"AMD", "12345678901", "12345678901", result::kUnknownVersionFormat, {format}},
      {"AMD",
       "0.0.0.0.0",
       "x.1.2.3.4",
       result::kUptodateCheckFailed,
       {"ERROR checkUptodate fail", "<detail>"}},
      {"AMD",
       "1.2.3.4.5",
       "1.2.3.4.99999999999",
       result::kUptodateCheckFailed,
       {"ERROR checkUptodate fail", "<detail>"}},
      {"AMD", "2.x", "1.0", result::kUpToDate, {uptodate}},  // decided before the bad component
      {"KRNV", "775", "775", result::kUpToDate, {}},
      {"KRNV", "775", "774", result::kUpToDate, {}},
      {"KRNV", "775", "776", result::kSuccess, {}},
      {"KRNV", "4294967296", "4294967295", result::kUpToDate, {}},
      {"KRNV", "775", "7.75", result::kUptodateCheckFailed, {"ERROR checkUptodate fail", "<detail>"}},
      {"KRNV",
       "9223372036854775808",
       "1",
       result::kUptodateCheckFailed,
       {"ERROR checkUptodate fail", "<detail>"}},
      {"KRNV", "0.0.0.0.0", "775", result::kUptodateCheckFailed, {"ERROR checkUptodate fail", "<detail>"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.type) + " " + c.current + " vs " + c.package);
    TestMachine machine;
    VBiosConfigs configs;
    configs.VbType = c.type;
    configs.CurVbVersion = c.current;
    configs.VbRomVersion = c.package;
    EXPECT_EQ(configs.checkUptodate(), c.code);
    EXPECT_EQ(machine.logLinesWithDetails(), c.log);
  }
}

}  // namespace
