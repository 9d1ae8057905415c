// The stand-ins for amdvbflash.exe, devcon64.exe and the vendor flash
// program, run as the installer runs them: real child processes on a
// temporary machine, judged by exit code, output, machine.ini and trace.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "platform/process.h"
#include "simulated/machine.h"
#include "tests/unit/test_machine.h"

namespace {

namespace fs = std::filesystem;
using testing_machine::TestMachine;

// No real sleeping inside the tools; child time limits as written, so a
// hanging tool is told from a slow one by a short real wait.
constexpr std::string_view kTime = "[time]\nscale = 0\ntimeout_scale = 1\n";

constexpr uint32_t kExitLimitMs = 20000;
constexpr uint32_t kHangProbeMs = 700;

struct ToolRun {
  platform::WaitOutcome outcome = platform::WaitOutcome::Failed;
  int32_t exitCode = -1;
  std::string output;
};

ToolRun runTool(const char* tool, const std::string& arguments, uint32_t limitMs = kExitLimitMs) {
  ToolRun run;
  platform::ChildProcess child;
  platform::Error error;
  const platform::ProcessStart start{TestMachine::windowsPath(fs::path(OVVB_BIN_DIR) / tool), arguments,
                                     true};
  const platform::StartOutcome started = child.start(start, error);
  EXPECT_EQ(started, platform::StartOutcome::Started) << error.operation << ": " << error.message;
  if (started != platform::StartOutcome::Started) return run;
  run.outcome = child.wait(limitMs, error);
  if (run.outcome == platform::WaitOutcome::TimedOut) {
    EXPECT_FALSE(child.kill().failed());
  } else if (run.outcome == platform::WaitOutcome::Exited) {
    run.exitCode = child.exitCode();
  }
  run.output = child.takeOutput();
  return run;
}

bool contains(const std::string& text, std::string_view part) { return text.find(part) != std::string::npos; }

// The installer's reading of -ai: the last blank-separated word of the last
// line that contains "Bios Version".
std::string versionAsTheInstallerReadsIt(const std::string& output) {
  std::string version;
  size_t start = 0;
  while (start < output.size()) {
    size_t end = output.find('\n', start);
    if (end == std::string::npos) end = output.size();
    std::string line = output.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (contains(line, "Bios Version")) version = line.substr(line.rfind(' ') + 1);
    start = end + 1;
  }
  return version;
}

std::string currentVersion() {
  return simulated::MachineIni::load().get("amdvbflash", "version", "<missing>");
}

std::vector<std::string> sleeps(const TestMachine& machine) {
  std::vector<std::string> found;
  for (const std::string& line : machine.traceLines()) {
    if (contains(line, "\"event\":\"sleep\"")) found.push_back(line);
  }
  return found;
}

// ---------------------------------------------------------------- amdvbflash -ai

TEST(AmdvbflashInfo, PrintsTheVbiosVersionTheWayTheInstallerParsesIt) {
  struct Case {
    const char* name;
    std::string ini;
    std::string expectedVersion;  // empty: no "Bios Version" line
    int expectedExit;
  };
  const Case cases[] = {
      {"defaults", "", "020.001.000.038.016233", 0},
      {"configured", "[amdvbflash]\nversion = 020.001.000.038.016300\n", "020.001.000.038.016300", 0},
      {"no version line", "[amdvbflash]\nversion =\n", "", 0},
      {"printed, then a failing exit", "[amdvbflash]\nversion = 1.2.3.40.100\nai_exit = 3\n", "1.2.3.40.100",
       3},
  };
  for (const Case& c : cases) {
    TestMachine machine;
    machine.writeMachineIni(std::string(kTime) + c.ini);
    const ToolRun run = runTool("amdvbflash.exe", "-ai");
    ASSERT_EQ(run.outcome, platform::WaitOutcome::Exited) << c.name;
    EXPECT_EQ(run.exitCode, c.expectedExit) << c.name;
    EXPECT_EQ(versionAsTheInstallerReadsIt(run.output), c.expectedVersion) << c.name << "\n" << run.output;
    EXPECT_TRUE(contains(run.output, "Device ID")) << c.name;
  }
}

TEST(AmdvbflashInfo, AHangingToolHasAlreadyPrintedItsVersion) {
  TestMachine machine;
  machine.writeMachineIni(std::string(kTime) + "[amdvbflash]\nversion = 1.2.3.40.100\nai_hang = yes\n");
  const ToolRun run = runTool("amdvbflash.exe", "-ai", kHangProbeMs);
  EXPECT_EQ(run.outcome, platform::WaitOutcome::TimedOut);
  EXPECT_EQ(versionAsTheInstallerReadsIt(run.output), "1.2.3.40.100") << run.output;
}

// ---------------------------------------------------------------- amdvbflash -fa

class AmdvbflashFlash : public ::testing::Test {
 protected:
  void writeRom(const std::string& contents) {
    testing_machine::writeNativeFile(machine_.root() / "drive_c" / "Program Data" / "new rom.bin", contents);
  }
  ToolRun flash(uint32_t limitMs = kExitLimitMs) {
    return runTool("amdvbflash.exe", "-fa -p 0 \"C:\\Program Data\\new rom.bin\"", limitMs);
  }

  TestMachine machine_;
};

TEST_F(AmdvbflashFlash, ACompletedFlashPutsTheImagesVersionOnTheGpu) {
  machine_.writeMachineIni(std::string(kTime) +
                           "[amdvbflash]\nversion = 020.001.000.038.016233\nflash_seconds = 7.5\n");
  writeRom(std::string("\x55\xAA\0\x01 header", 11) + "VBIOS_VERSION=020.001.000.038.016300\r\n\xFF\xFF");
  const ToolRun run = flash();
  ASSERT_EQ(run.outcome, platform::WaitOutcome::Exited);
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_TRUE(contains(run.output, "Restart System To Complete VBIOS Update")) << run.output;
  EXPECT_EQ(currentVersion(), "020.001.000.038.016300");

  // The flash took its configured time, recorded rather than slept.
  const std::vector<std::string> waits = sleeps(machine_);
  ASSERT_EQ(waits.size(), 1u);
  EXPECT_TRUE(contains(waits[0], "\"ms\":7500")) << waits[0];

  // The next -ai finds the new image, so a second run is up to date.
  EXPECT_EQ(versionAsTheInstallerReadsIt(runTool("amdvbflash.exe", "-ai").output), "020.001.000.038.016300");
}

TEST_F(AmdvbflashFlash, OutcomesThatLeaveTheGpuAsItWas) {
  const std::string goodRom = "VBIOS_VERSION=9.9.9.9.9\n";
  struct Case {
    const char* name;
    std::string ini;
    std::string rom;
    int expectedExit;
    bool completes;
  };
  const Case cases[] = {
      {"flash fails", "flash_exit = 5\n", goodRom, 5, false},
      {"exits 0 but never completes", "flash_completes = no\n", goodRom, 0, false},
      {"an image without a version text", "", std::string(4096, '\xFF'), 0, true},
      {"a version text that is not a version", "", "VBIOS_VERSION=1.2 ; [dock] present = no\n", 0, true},
      {"an empty version text", "", "VBIOS_VERSION=\r\n", 0, true},
      {"a version text beyond reason", "", "VBIOS_VERSION=" + std::string(200, '1') + "\n", 0, true},
  };
  for (const Case& c : cases) {
    machine_.writeMachineIni(std::string(kTime) + "[amdvbflash]\nversion = 1.0.0.0.1\n" + c.ini);
    writeRom(c.rom);
    const ToolRun run = flash();
    ASSERT_EQ(run.outcome, platform::WaitOutcome::Exited) << c.name;
    EXPECT_EQ(run.exitCode, c.expectedExit) << c.name;
    EXPECT_EQ(contains(run.output, "Restart System To Complete VBIOS Update"), c.completes) << c.name;
    EXPECT_EQ(currentVersion(), "1.0.0.0.1") << c.name;
  }
}

TEST_F(AmdvbflashFlash, AMissingImageFailsBeforeAnyFlashing) {
  machine_.writeMachineIni(std::string(kTime));
  const ToolRun run = flash();
  ASSERT_EQ(run.outcome, platform::WaitOutcome::Exited);
  EXPECT_NE(run.exitCode, 0);
  EXPECT_TRUE(contains(run.output, "new rom.bin")) << run.output;
  EXPECT_FALSE(contains(run.output, "Restart System")) << run.output;
  EXPECT_TRUE(sleeps(machine_).empty());
}

TEST(AmdvbflashUsage, CommandLinesTheToolDoesNotKnow) {
  TestMachine machine;
  machine.writeMachineIni(std::string(kTime));
  testing_machine::writeNativeFile(machine.root() / "drive_c" / "a b.rom", "VBIOS_VERSION=9.9.9.9.9\n");
  for (const char* arguments :
       {"", "-x", "-ai 0 extra", "-fa -p 0", "-fa -p 0 C:\\a b.rom", "-fa -p zero \"C:\\a b.rom\"",
        "-fa -p 1 \"C:\\a b.rom\"", "-FA -p 0 \"C:\\a b.rom\""}) {
    const ToolRun run = runTool("amdvbflash.exe", arguments);
    ASSERT_EQ(run.outcome, platform::WaitOutcome::Exited) << arguments;
    EXPECT_NE(run.exitCode, 0) << arguments;
    EXPECT_FALSE(contains(run.output, "Restart System")) << arguments;
  }
  EXPECT_EQ(currentVersion(), "<missing>");
}

// ---------------------------------------------------------------- devcon64

TEST(Devcon64, InstallAndRemoveAsConfigured) {
  struct Case {
    const char* name;
    std::string ini;
    std::string arguments;
    int expectedExit;
    const char* expectedText;
  };
  const Case cases[] = {
      {"install", "", "install \"Z:\\opt\\my packages\\amdtools.inf\" *AMDTOOLSDEV", 0,
       "from Z:\\opt\\my packages\\amdtools.inf.\nDrivers installed successfully."},
      {"install fails", "install_exit = 2\n", "install \"Z:\\p\\amdtools.inf\" *AMDTOOLSDEV", 2, "failed"},
      {"remove", "", "remove *AMDTOOLSDEV", 0, "1 device(s) were removed."},
      {"remove fails", "remove_exit = 1\n", "remove *AMDTOOLSDEV", 1, "failed"},
      // Unquoted, the blank splits the path into two arguments.
      {"install with an unquoted path", "", "install Z:\\opt\\my packages\\amdtools.inf *AMDTOOLSDEV", 1,
       "Device Console Help"},
  };
  for (const Case& c : cases) {
    TestMachine machine;
    machine.writeMachineIni(std::string(kTime) + "[devcon64]\n" + c.ini);
    const ToolRun run = runTool("devcon64.exe", c.arguments);
    ASSERT_EQ(run.outcome, platform::WaitOutcome::Exited) << c.name;
    EXPECT_EQ(run.exitCode, c.expectedExit) << c.name;
    EXPECT_TRUE(contains(run.output, c.expectedText)) << c.name << "\n" << run.output;
  }
}

// ---------------------------------------------------------------- vendorflash

TEST(Vendorflash, RunsForItsTimeAndEndsAsConfigured) {
  struct Case {
    std::string ini;
    int expectedExit;
    const char* expectedSleep;
  };
  const Case cases[] = {{"", 0, "\"ms\":5000"},
                        {"exit = 7\nseconds = 2\n", 7, "\"ms\":2000"},
                        {"seconds = -3\n", 0, "\"ms\":0"}};
  for (const Case& c : cases) {
    TestMachine machine;
    machine.writeMachineIni(std::string(kTime) + "[vendorflash]\n" + c.ini);
    const ToolRun run = runTool("vendorflash.exe", "");
    ASSERT_EQ(run.outcome, platform::WaitOutcome::Exited) << c.ini;
    EXPECT_EQ(run.exitCode, c.expectedExit) << c.ini;
    const std::vector<std::string> waits = sleeps(machine);
    ASSERT_EQ(waits.size(), 1u) << c.ini;
    EXPECT_TRUE(contains(waits[0], c.expectedSleep)) << waits[0];
  }
}

// ---------------------------------------------------------------- hanging tools

TEST(StandIns, HangingToolsRunUntilKilled) {
  struct Case {
    const char* tool;
    const char* ini;
    const char* arguments;
  };
  const Case cases[] = {
      {"amdvbflash.exe", "[amdvbflash]\nversion = 1.0.0.0.1\nflash_hang = yes\n", "-fa -p 0 \"C:\\new.rom\""},
      {"devcon64.exe", "[devcon64]\ninstall_hang = yes\n", "install \"Z:\\p\\amdtools.inf\" *AMDTOOLSDEV"},
      {"devcon64.exe", "[devcon64]\nremove_hang = yes\n", "remove *AMDTOOLSDEV"},
      {"vendorflash.exe", "[vendorflash]\nhang = yes\n", ""},
  };
  for (const Case& c : cases) {
    TestMachine machine;
    machine.writeMachineIni(std::string(kTime) + c.ini);
    testing_machine::writeNativeFile(machine.root() / "drive_c" / "new.rom", "VBIOS_VERSION=9.9.9.9.9\n");
    const ToolRun run = runTool(c.tool, c.arguments, kHangProbeMs);
    EXPECT_EQ(run.outcome, platform::WaitOutcome::TimedOut) << c.tool << " " << c.arguments;
    EXPECT_FALSE(contains(run.output, "Restart System")) << c.tool;
    EXPECT_NE(currentVersion(), "9.9.9.9.9") << c.tool;
  }
}

}  // namespace
