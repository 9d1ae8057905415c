// The stand-in tools as Windows programs: machine.ini found through
// OVVB_MACHINE, Windows' own splitting of their command lines, exit codes, and
// output flushed before a hang. (A missing program: process_test.)
#include <gtest/gtest.h>

#include <string>

#include "platform/files.h"
#include "platform/process.h"
#include "tests/wine/wine_test_support.h"

namespace {

using platform::StartOutcome;
using platform::WaitOutcome;

TEST(StandinTools, ReadTheMachineAndEndAsItSays) {
  struct Case {
    const char* tool;
    const char* ini;
    const char* arguments;
    bool capture;
    WaitOutcome wait;
    int32_t exitCode;  // a kill's is 1
    const char* output;
  } cases[] = {
      {"amdvbflash.exe", "[amdvbflash]\nversion = 020.001.000.038.016233\n", "-ai", true, WaitOutcome::Exited,
       0, "Bios Version    : 020.001.000.038.016233"},
      {"amdvbflash.exe", "[amdvbflash]\nai_exit = 3\n", "-ai", true, WaitOutcome::Exited, 3, ""},
      {"devcon64.exe", "[devcon64]\ninstall_exit = 7\n",
       "install \"C:\\Program Files\\Orvo pkg\\amdtools.inf\" *AMDTOOLSDEV", true, WaitOutcome::Exited, 7,
       ""},
      {"devcon64.exe", "", "remove *AMDTOOLSDEV", true, WaitOutcome::Exited, 0, "1 device(s) were removed."},
      // Unquoted, the blank splits the path into two arguments: a usage error.
      {"devcon64.exe", "", "install C:\\Program Files\\amdtools.inf *AMDTOOLSDEV", true, WaitOutcome::Exited,
       1, ""},
      {"vendorflash.exe", "[vendorflash]\nexit = 5\n", "", false, WaitOutcome::Exited, 5, ""},
      // Lines printed before the hang were flushed and are kept.
      {"devcon64.exe", "[devcon64]\ninstall_hang = yes\n", "install \"C:\\pkg\\amdtools.inf\" *AMDTOOLSDEV",
       true, WaitOutcome::TimedOut, 1, "Device node created"},
  };
  winetest::TemporaryFolder root;
  winetest::ScopedMachineRoot machine(root.path());
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.tool) + " " + c.arguments);
    ASSERT_FALSE(
        platform::writeFileAtomic(root.file("machine.ini"), std::string("[time]\nscale = 0\n") + c.ini)
            .failed());
    platform::ChildProcess child;
    platform::Error error;
    ASSERT_EQ(child.start({winetest::binProgram(c.tool), c.arguments, c.capture}, error),
              StartOutcome::Started);
    EXPECT_EQ(child.wait(c.wait == WaitOutcome::TimedOut ? 1500 : 30000, error), c.wait);
    if (c.wait == WaitOutcome::TimedOut) {
      EXPECT_FALSE(child.kill().failed());
    }
    EXPECT_EQ(child.exitCode(), c.exitCode);
    const std::string output = child.takeOutput();
    EXPECT_NE(output.find(c.output), std::string::npos) << output;
  }
}

}  // namespace
