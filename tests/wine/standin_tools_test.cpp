// The installer's child processes as it really starts them, with the
// stand-in tools built beside this executable playing amdvbflash.exe,
// devcon64.exe and a vendor flash program, driven by machine.ini.
#include <gtest/gtest.h>

#include <string>

#include "platform/files.h"
#include "platform/process.h"
#include "tests/wine/wine_test_support.h"

namespace {

using platform::ChildProcess;
using platform::StartOutcome;
using platform::WaitOutcome;

class StandinTools : public ::testing::Test {
 protected:
  void SetUp() override { machine("[time]\nscale = 0\n"); }

  // Writes machine.ini of the simulated machine the tools read.
  void machine(const std::string& ini) {
    ASSERT_FALSE(platform::writeFileAtomic(root_.file("machine.ini"), ini).failed());
  }

  winetest::TemporaryFolder root_;
  winetest::ScopedEnvironment machineSetting_{"OVVB_MACHINE", root_.path()};
};

struct ToolRun {
  StartOutcome start;
  WaitOutcome wait;
  int32_t exitCode;
  std::string output;
};

ToolRun runTool(const char* tool, const std::string& arguments, bool capture = true,
                uint32_t timeoutMs = 30000) {
  ChildProcess child;
  platform::Error error;
  ToolRun result{};
  result.start = child.start({winetest::binProgram(tool), arguments, capture}, error);
  if (result.start != StartOutcome::Started) return result;
  result.wait = child.wait(timeoutMs, error);
  if (result.wait == WaitOutcome::TimedOut) {
    EXPECT_FALSE(child.kill().failed());
  }
  result.exitCode = child.exitCode();
  result.output = child.takeOutput();
  return result;
}

TEST_F(StandinTools, AdapterInfoVersionLineIsCaptured) {
  machine("[time]\nscale = 0\n[amdvbflash]\nversion = 020.001.000.038.016233\n");
  const ToolRun info = runTool("amdvbflash.exe", "-ai");
  ASSERT_EQ(info.start, StartOutcome::Started);
  EXPECT_EQ(info.wait, WaitOutcome::Exited);
  EXPECT_EQ(info.exitCode, 0);
  EXPECT_NE(info.output.find("Bios Version"), std::string::npos) << info.output;
  EXPECT_NE(info.output.find("020.001.000.038.016233"), std::string::npos) << info.output;
}

TEST_F(StandinTools, ExitCodesComeThrough) {
  struct Case {
    const char* tool;
    const char* ini;
    std::string arguments;
    int32_t exitCode;
  } cases[] = {
      {"devcon64.exe", "[devcon64]\ninstall_exit = 7\n",
       "install \"C:\\Program Files\\Orvo pkg\\amdtools.inf\" *AMDTOOLSDEV", 7},
      {"devcon64.exe", "[devcon64]\nremove_exit = 0\n", "remove *AMDTOOLSDEV", 0},
      // The path with a blank, unquoted, arrives as two arguments: a usage error.
      {"devcon64.exe", "", "install C:\\Program Files\\amdtools.inf *AMDTOOLSDEV", 1},
      {"amdvbflash.exe", "[amdvbflash]\nai_exit = 3\n", "-ai", 3},
      {"vendorflash.exe", "[vendorflash]\nexit = 5\n", "", 5},
  };
  for (const Case& c : cases) {
    machine(std::string("[time]\nscale = 0\n") + c.ini);
    const ToolRun result = runTool(c.tool, c.arguments, c.tool != std::string("vendorflash.exe"));
    ASSERT_EQ(result.start, StartOutcome::Started) << c.tool;
    EXPECT_EQ(result.wait, WaitOutcome::Exited) << c.tool << " " << c.arguments;
    EXPECT_EQ(result.exitCode, c.exitCode) << c.tool << " " << c.arguments;
  }
}

TEST_F(StandinTools, HangingToolTimesOutAndIsKilled) {
  machine("[time]\nscale = 0\n[devcon64]\ninstall_hang = yes\n");
  const ToolRun install =
      runTool("devcon64.exe", "install \"C:\\pkg\\amdtools.inf\" *AMDTOOLSDEV", true, 1500);
  ASSERT_EQ(install.start, StartOutcome::Started);
  EXPECT_EQ(install.wait, WaitOutcome::TimedOut);
  EXPECT_EQ(install.exitCode, 1) << "the kill's exit code";
  // Lines printed before the hang were flushed and are kept.
  EXPECT_NE(install.output.find("Device node created"), std::string::npos) << install.output;
}

TEST_F(StandinTools, MissingToolCannotStart) {
  ChildProcess child;
  platform::Error error;
  EXPECT_EQ(child.start({root_.file("packages\\amdvbflash.exe"), "-ai", true}, error),
            StartOutcome::CannotStart);
  EXPECT_EQ(error.code, platform::kErrorPathNotFound);
}

}  // namespace
