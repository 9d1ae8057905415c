// The flash tool's driver (devcon64), the current VBIOS version (amdvbflash
// -ai and NVAPI) and the up-to-date decision.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "common/result_codes.h"
#include "common/tool_outcome.h"
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

// An AMD package in a folder whose path has a blank, with a stand-in tool
// (or without it), on a machine whose time limits are cut short.
struct ToolMachine {
  TestMachine machine;
  std::filesystem::path folder;
  VBiosConfigs configs;

  ToolMachine(const char* tool, std::string_view ini)
      : folder(machine.makePackageFolder("Orvo VBIOS/packages",
                                         tool ? std::initializer_list<std::string_view>{tool}
                                              : std::initializer_list<std::string_view>{})) {
    machine.writeMachineIni(std::string(testing_machine::kFastTime) + std::string(ini));
    configs.myPath = TestMachine::windowsPath(folder);
    configs.VbType = "KRAMD";
  }
  // The log after the first `skip` lines, detail entries collapsed.
  Lines logAfter(size_t skip) const {
    Lines log = machine.logLinesWithDetails();
    log.erase(log.begin(), log.begin() + std::min(skip, log.size()));
    return log;
  }
};

TEST(SpecialDriver, NonAmdPackagesRunNothing) {
  ToolMachine m("devcon64.exe", "");
  for (const char* type : {"KRNV", "amd", "UNKNOWN"}) {
    m.configs.VbType = type;
    EXPECT_EQ(m.configs.insallSDriver(), result::kSuccess) << type;
    EXPECT_EQ(m.configs.removeSDriver(), result::kSuccess) << type;
  }
  EXPECT_TRUE(m.machine.logLines().empty());
  EXPECT_TRUE(m.machine.traceLines().empty());
}

TEST(SpecialDriver, InstallQuotesTheDriverPathAndLogsItWithout) {
  ToolMachine m("devcon64.exe", "");
  ASSERT_EQ(m.configs.insallSDriver(), result::kSuccess);
  const std::string inf = m.configs.myPath + "\\amdtools.inf";
  const Lines log = m.machine.logLines();
  ASSERT_GE(log.size(), 3u);
  EXPECT_EQ(Lines(log.begin(), log.begin() + 3),
            (Lines{"Install AMD Special Driver", m.configs.myPath + "\\devcon64.exe",
                   "install " + inf + " *AMDTOOLSDEV"}));
  // The stand-in succeeds only with exactly three arguments, so its success
  // proves the blank in the path stayed inside one argument.
  EXPECT_EQ(countContaining(log, "Drivers installed successfully."), 1u) << joined(log);
  const std::string arguments = "install \"" + inf + "\" *AMDTOOLSDEV";
  EXPECT_EQ(
      countContaining(m.machine.traceLines(), "\"arguments\":\"" + simulated::jsonEscape(arguments) + "\""),
      1u);
}

TEST(SpecialDriver, EveryOutcomeOfTheDeviceConsole) {
  struct Case {
    const char* name;
    const char* ini;
    bool install, toolPresent;
    int32_t code;
    Lines tail;  // after the opening, program and argument lines
  };
  // clang-format off
  const std::vector<Case> cases = {
      {"install exits 1", "[devcon64]\ninstall_exit = 1\n", true, true, result::kDriverInstallFailed, {"ERROR Install AMD Special Driver fail: 1"}},
      {"install hangs", "[devcon64]\ninstall_hang = yes\n", true, true, result::kDriverInstallTimeout, {"ERROR Install AMD Special Driver timeout"}},
      {"installer missing", "", true, false, result::kDriverInstallError, {"ERROR AMD Special Driver Installer not found", "<detail>"}},
      {"installer starts no process", "[processes]\nno_process.devcon64.exe = 1\n", true, true, result::kDriverInstallError, {"ERROR AMD Special Driver Installer Exception", "<detail>"}},
      {"remove exits 3", "[devcon64]\nremove_exit = 3\n", false, true, result::kDriverRemoveFailed, {"ERROR Remove AMD Special Driver fail: 3"}},
      {"remove hangs", "[devcon64]\nremove_hang = yes\n", false, true, result::kDriverRemoveFailed, {"ERROR Remove AMD Special Driver timeout"}},
      {"remover missing", "", false, false, result::kDriverRemoveError, {"ERROR AMD Special Driver Remover not found", "<detail>"}},
      {"remove succeeds", "", false, true, result::kSuccess, {}},
  };
  // clang-format on
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ToolMachine m(c.toolPresent ? "devcon64.exe" : nullptr, c.ini);
    EXPECT_EQ(c.install ? m.configs.insallSDriver() : m.configs.removeSDriver(), c.code);
    const Lines log = m.machine.logLines();
    ASSERT_GE(log.size(), 3u);
    EXPECT_EQ(log[0], c.install ? "Install AMD Special Driver" : "Remove AMD Special Driver");
    EXPECT_EQ(log[2], c.install ? "install " + m.configs.myPath + "\\amdtools.inf *AMDTOOLSDEV"
                                : "remove *AMDTOOLSDEV");
    if (c.code == result::kSuccess) {
      // One entry: the whole output, its later lines untimed.
      EXPECT_EQ(countContaining(log, "1 device(s) were removed."), 1u) << joined(log);
    } else {
      EXPECT_EQ(m.logAfter(3), c.tail);  // a failed run's output is never logged
    }
    const bool hangs = std::string(c.ini).find("hang") != std::string::npos;
    EXPECT_EQ(countContaining(m.machine.traceLines(), "\"killed\":true"), hangs ? 1u : 0u);
  }
}

// The one reading of how a tool ended, also where no stand-in can take it
// (a kill that fails).
TEST(ToolVerdict, EachWayAToolEndsHasItsLinesCodeAndWhetherItsOutputIsWhole) {
  const platform::Error denied = platform::makeError(platform::kErrorAccessDenied, "TerminateJobObject");
  const auto ran = [&](platform::RunOutcome outcome, int32_t exitCode, bool failing) {
    platform::ProgramResult result;
    result.outcome = outcome;
    result.exitCode = exitCode;
    if (failing) result.error = denied;
    return result;
  };
  const std::string failure = platform::describeFailure(denied, "F");
  using enum platform::RunOutcome;
  struct Case {
    platform::ProgramResult run;
    int32_t code;
    bool ended;
    Lines entries;
  };
  const std::vector<Case> cases = {
      {ran(CannotStart, 0, true), 3, false, {"ERROR not found", failure}},
      {ran(NoProcess, 0, false),
       3,
       false,
       {"ERROR exception", platform::describeProblem("F", "no process was started for C:\\t.exe")}},
      {ran(Failed, 0, true), 3, false, {"ERROR exception", failure}},
      {ran(TimedOut, 0, false), 1, true, {"ERROR timeout"}},
      {ran(TimedOut, 0, true), 3, false, {"ERROR timeout", "ERROR exception", failure}},
      {ran(Exited, 0, false), 0, true, {}},
      {ran(Exited, -5, false), 2, true, {"ERROR fail: -5"}},
      {ran(OutputBroken, 0, true), 0, true, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.run.outcome));
    const ToolVerdict verdict = judgeToolRun(c.run, {"F",
                                                     "C:\\t.exe",
                                                     "ERROR not found",
                                                     "ERROR exception",
                                                     "ERROR timeout",
                                                     "ERROR fail: ",
                                                     1,
                                                     2,
                                                     3,
                                                     {}});
    EXPECT_EQ(verdict.code, c.code);
    EXPECT_EQ(verdict.ended, c.ended);
    EXPECT_EQ(verdict.entries, c.entries);
  }
}

TEST(AmdVersion, EveryOutcomeOfTheFlashToolsAdapterInfo) {
  const std::string line = "        Bios Version    : ";
  const char* noVersion = "ERROR fail to get VBIOS version";
  struct Case {
    const char* name;
    const char* ini;
    bool toolPresent;
    int32_t code;
    const char* version;
    Lines tail;  // after "Check AMD VBios Version", the program and "-ai"
  };
  // clang-format off
  const std::vector<Case> cases = {
      {"version read", "", true, result::kSuccess, "020.001.000.038.016233",
       {line + "020.001.000.038.016233", "CurVbVersion: 020.001.000.038.016233"}},
      {"no version line", "[amdvbflash]\nversion =\n", true, result::kNoVersion, "0.0.0.0.0", {noVersion}},
      {"seven-character version", "[amdvbflash]\nversion = 1.2.3.4\n", true, result::kNoVersion, "0.0.0.0.0",
       {line + "1.2.3.4", "CurVbVersion: 0.0.0.0.0", noVersion}},
      {"exit 1 after a version", "[amdvbflash]\nversion = 1.2.3.40.100\nai_exit = 1\n", true, result::kVersionReadExitCode,
       "1.2.3.40.100", {"ERROR amdvbflash -ai fail: 1", line + "1.2.3.40.100", "CurVbVersion: 1.2.3.40.100"}},
      {"hang after a version", "[amdvbflash]\nversion = 1.2.3.40.100\nai_hang = yes\n", true, result::kVersionReadTimeout,
       "1.2.3.40.100", {"ERROR Get AMD VBios Version timeout", line + "1.2.3.40.100", "CurVbVersion: 1.2.3.40.100"}},
      {"hang without a version", "[amdvbflash]\nversion =\nai_hang = yes\n", true, result::kNoVersion, "0.0.0.0.0",
       {"ERROR Get AMD VBios Version timeout", noVersion}},
      {"tool missing", "", false, result::kNoVersion, "0.0.0.0.0", {"ERROR amdvbflash not found", "<detail>", noVersion}},
      {"no process started", "[processes]\nno_process.amdvbflash.exe = 1\n", true, result::kNoVersion, "0.0.0.0.0",
       {"ERROR amdvbflash -ai Exception", "<detail>", noVersion}},
  };
  // clang-format on
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ToolMachine m(c.toolPresent ? "amdvbflash.exe" : nullptr, c.ini);
    EXPECT_EQ(m.configs.getCurVbVersion(), c.code);
    EXPECT_EQ(m.configs.CurVbVersion, c.version);
    const Lines log = m.machine.logLines();
    ASSERT_GE(log.size(), 3u);
    EXPECT_EQ(Lines(log.begin(), log.begin() + 3),
              (Lines{"Check AMD VBios Version", m.configs.myPath + "\\amdvbflash.exe", "-ai"}));
    EXPECT_EQ(m.logAfter(3), c.tail);
  }
}

TEST(AmdVersion, EveryVersionLineIsLoggedAndTheLastDecides) {
  ToolMachine m(nullptr, "");
  testing_machine::writeScriptTool(m.folder / "amdvbflash.exe",
                                   "printf 'adapter 0\\r\\nBios Version : 1.2.3.40.100\\r\\n'\n"
                                   "printf 'BIOS VERSION : 9.9.9.9.9\\rBios Version : 1.2.3.40.101 \\n'\n"
                                   "printf 'Bios Version : 2.0.0.0.7'\n");
  EXPECT_EQ(m.configs.getCurVbVersion(), result::kSuccess);
  EXPECT_EQ(m.configs.CurVbVersion, "2.0.0.0.7");
  EXPECT_EQ(m.logAfter(3), (Lines{"Bios Version : 1.2.3.40.100", "CurVbVersion: 1.2.3.40.100",
                                  "Bios Version : 1.2.3.40.101 ", "CurVbVersion: 0.0.0.0.0",
                                  "Bios Version : 2.0.0.0.7", "CurVbVersion: 2.0.0.0.7"}));

  // A later failed read keeps what an earlier one found.
  testing_machine::writeScriptTool(m.folder / "amdvbflash.exe", "exit 2\n");
  EXPECT_EQ(m.configs.getCurVbVersion(), result::kVersionReadExitCode);
  EXPECT_EQ(m.configs.CurVbVersion, "2.0.0.0.7");
}

TEST(NvidiaVersion, FollowsTheNvapiCallTable) {
  struct Case {
    const char* name;
    std::optional<std::string> nvapi;  // the [nvapi] body; nullopt: no NVIDIA driver
    int32_t code;
    const char* version;
    Lines log;
    bool unloads;
  };
  // clang-format off
  const std::vector<Case> cases = {
      {"revision 3, OEM 7", "revision = 3\noem_revision = 7\n", result::kSuccess, "775", {"CurVbVersion: 775"}, true},
      {"OEM status ignored", "revision = 3\noem_revision = 7\noem_revision_status = -1\n", result::kSuccess, "768", {"CurVbVersion: 768"}, true},
      {"OEM above 255 carries", "revision = 3\noem_revision = 0x100\n", result::kSuccess, "1024", {"CurVbVersion: 1024"}, true},
      {"64-bit arithmetic", "revision = 0xFFFFFFFF\noem_revision = 0xFF\n", result::kSuccess, "1099511627775", {"CurVbVersion: 1099511627775"}, true},
      {"no driver library", std::nullopt, result::kNvapiInitFailed, "0.0.0.0.0", {"ERROR NvAPI_Initialize fail"}, false},
      {"initialize fails", "initialize = -1\n", result::kNvapiInitFailed, "0.0.0.0.0", {"ERROR NvAPI_Initialize fail"}, false},
      {"no GPU list", "enum = -1\n", result::kNvapiNoGpu, "0.0.0.0.0", {"ERROR NvAPI_EnumPhysicalGPUs fail"}, true},
      {"revision unreadable", "revision_status = -1\n", result::kNvapiNoRevision, "0.0.0.0.0", {"ERROR NvAPI_GPU_GetVbiosRevision fail"}, true},
  };
  // clang-format on
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TestMachine machine;
    machine.writeMachineIni(c.nvapi ? "[nvapi]\n" + *c.nvapi : std::string());
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
  const char* uptodate = "AMD VBIOS is uptodate";
  const char* format = "ERROR checkUptodate unknown AMD VBios Version format";
  const Lines failed = {"ERROR checkUptodate fail", "<detail>"};
  struct Case {
    const char *type, *current, *package;
    int32_t code;
    Lines log;
  };
  // clang-format off
  const std::vector<Case> cases = {
      {"AMD",   "1.2.3.40.100",  "1.2.3.40.101",        result::kSuccess,              {}},
      {"AMD",   "1.2.3.40.100",  "1.2.3.40.99",         result::kUpToDate,             {uptodate}},
      {"AMD",   "1.2.3.40.100",  "1.2.3.40.100",        result::kUpToDate,             {}},
      {"KRAMD", "20.1.0.38.100", "020.001.000.038.100", result::kUpToDate,             {}},
      {"AMD",   "1.2.3.4.5",     "1.2.3.4",             result::kUnknownVersionFormat, {format}},
      {"AMD",   "12345678901",   "12345678901",         result::kUnknownVersionFormat, {format}},
      {"AMD",   "0.0.0.0.0",     "x.1.2.3.4",           result::kUptodateCheckFailed,  failed},
      {"AMD",   "1.2.3.4.5",     "1.2.3.4.99999999999", result::kUptodateCheckFailed,  failed},
      {"AMD",   "2.x",           "1.0",                 result::kUpToDate,             {uptodate}},  // decided first
      {"KRNV",  "775",           "775",                 result::kUpToDate,             {}},
      {"KRNV",  "775",           "776",                 result::kSuccess,              {}},
      {"KRNV",  "4294967296",    "4294967295",          result::kUpToDate,             {}},
      {"KRNV",  "775",           "7.75",                result::kUptodateCheckFailed,  failed},
      {"KRNV",  "9223372036854775808", "1",             result::kUptodateCheckFailed,  failed},
  };
  // clang-format on
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
