// The stand-ins for amdvbflash.exe, devcon64.exe and the vendor flash program
// as real child processes, in what the package and end-to-end tests leave
// out: the image a flash reads, command lines a tool refuses, configured
// durations and hangs. (-ai and devcon64's outcomes: package_tools_test.)
#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "platform/process.h"
#include "simulated/machine.h"
#include "tests/unit/test_machine.h"

namespace {

namespace fs = std::filesystem;
using testing_machine::TestMachine;

constexpr int kHangs = -1;  // still running at a short probe, then killed
constexpr int kFails = -2;  // any exit code but 0

struct Case {
  const char* name;
  const char* tool;
  std::string ini;  // after [time]
  std::string arguments;
  std::optional<std::string> rom;  // C:\Program Data\new rom.bin
  int exitCode;
  const char* output;   // a text the output holds
  bool restarts;        // "Restart System To Complete VBIOS Update" printed
  const char* version;  // [amdvbflash] version afterwards
  const char* sleep;    // the one recorded wait; "" none; nullptr not checked
};

std::string amd(const std::string& extra) { return "[amdvbflash]\nversion = 1.0.0.0.1\n" + extra; }

TEST(StandIns, BehaveAsMachineIniSays) {
  const std::string good = "VBIOS_VERSION=9.9.9.9.9\n";
  const std::string flash = "-fa -p 0 \"C:\\Program Data\\new rom.bin\"";
  // clang-format off
  const Case cases[] = {
      {"flash completes in its configured time", "amdvbflash.exe", amd("flash_seconds = 7.5\n"), flash,
       std::string("\x55\xAA\0\x01 header", 11) + "VBIOS_VERSION=020.001.000.038.016300\r\n\xFF\xFF", 0, "", true,
       "020.001.000.038.016300", "\"ms\":7500"},
      {"flash fails", "amdvbflash.exe", amd("flash_exit = 5\n"), flash, good, 5, "", false, "1.0.0.0.1", nullptr},
      {"exits 0, never completes", "amdvbflash.exe", amd("flash_completes = no\n"), flash, good, 0, "", false, "1.0.0.0.1", nullptr},
      {"image without a version", "amdvbflash.exe", amd(""), flash, std::string(4096, '\xFF'), 0, "", true, "1.0.0.0.1", nullptr},
      {"version text that is not one", "amdvbflash.exe", amd(""), flash, "VBIOS_VERSION=1.2 ; [dock] present = no\n", 0, "", true, "1.0.0.0.1", nullptr},
      {"empty version text", "amdvbflash.exe", amd(""), flash, "VBIOS_VERSION=\r\n", 0, "", true, "1.0.0.0.1", nullptr},
      {"version text beyond reason", "amdvbflash.exe", amd(""), flash, "VBIOS_VERSION=" + std::string(200, '1') + "\n", 0, "", true, "1.0.0.0.1", nullptr},
      {"missing image", "amdvbflash.exe", amd(""), flash, std::nullopt, kFails, "new rom.bin", false, "1.0.0.0.1", ""},
      {"flash hangs", "amdvbflash.exe", amd("flash_hang = yes\n"), flash, good, kHangs, "", false, "1.0.0.0.1", nullptr},
      {"no arguments", "amdvbflash.exe", amd(""), "", good, kFails, "", false, "1.0.0.0.1", nullptr},
      {"unknown switch", "amdvbflash.exe", amd(""), "-x", good, kFails, "", false, "1.0.0.0.1", nullptr},
      {"-ai with more", "amdvbflash.exe", amd(""), "-ai 0 extra", good, kFails, "", false, "1.0.0.0.1", nullptr},
      {"-fa without image", "amdvbflash.exe", amd(""), "-fa -p 0", good, kFails, "", false, "1.0.0.0.1", nullptr},
      {"image path unquoted", "amdvbflash.exe", amd(""), "-fa -p 0 C:\\Program Data\\new rom.bin", good, kFails, "", false, "1.0.0.0.1", nullptr},
      {"adapter not a number", "amdvbflash.exe", amd(""), "-fa -p zero \"C:\\Program Data\\new rom.bin\"", good, kFails, "", false, "1.0.0.0.1", nullptr},
      {"adapter 1", "amdvbflash.exe", amd(""), "-fa -p 1 \"C:\\Program Data\\new rom.bin\"", good, kFails, "", false, "1.0.0.0.1", nullptr},
      {"switches are case-sensitive", "amdvbflash.exe", amd(""), "-FA -p 0 \"C:\\Program Data\\new rom.bin\"", good, kFails, "", false, "1.0.0.0.1", nullptr},
      // Unquoted, the blank splits the path: devcon64's success proves quoting elsewhere.
      {"devcon64, unquoted path", "devcon64.exe", "", "install Z:\\opt\\my packages\\amdtools.inf *AMDTOOLSDEV", std::nullopt, 1, "Device Console Help", false, "<missing>", nullptr},
      {"vendorflash default", "vendorflash.exe", "", "", std::nullopt, 0, "", false, "<missing>", "\"ms\":5000"},
      {"vendorflash fails", "vendorflash.exe", "[vendorflash]\nexit = 7\nseconds = 2\n", "", std::nullopt, 7, "", false, "<missing>", "\"ms\":2000"},
      {"vendorflash negative time", "vendorflash.exe", "[vendorflash]\nseconds = -3\n", "", std::nullopt, 0, "", false, "<missing>", "\"ms\":0"},
      {"vendorflash hangs", "vendorflash.exe", "[vendorflash]\nhang = yes\n", "", std::nullopt, kHangs, "", false, "<missing>", ""},
  };
  // clang-format on
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TestMachine machine;
    machine.writeMachineIni("[time]\nscale = 0\ntimeout_scale = 1\n" + c.ini);
    if (c.rom) testing_machine::writeNativeFile(machine.root() / "drive_c/Program Data/new rom.bin", *c.rom);
    platform::ChildProcess child;
    platform::Error error;
    const std::string program = TestMachine::windowsPath(fs::path(OVVB_BIN_DIR) / c.tool);
    ASSERT_EQ(child.start({program, c.arguments, true}, error), platform::StartOutcome::Started);
    const platform::WaitOutcome outcome = child.wait(c.exitCode == kHangs ? 700 : 20000, error);
    if (c.exitCode == kHangs) {
      EXPECT_EQ(outcome, platform::WaitOutcome::TimedOut);
      EXPECT_FALSE(child.kill().failed());
    } else {
      ASSERT_EQ(outcome, platform::WaitOutcome::Exited);
      EXPECT_EQ(child.exitCode() != 0, c.exitCode != 0);
      if (c.exitCode != kFails) {
        EXPECT_EQ(child.exitCode(), c.exitCode);
      }
    }
    const std::string output = child.takeOutput();
    EXPECT_NE(output.find(c.output), std::string::npos) << output;
    EXPECT_EQ(output.find("Restart System To Complete VBIOS Update") != std::string::npos, c.restarts)
        << output;
    EXPECT_EQ(simulated::MachineIni::load().get("amdvbflash", "version", "<missing>"), c.version);
    if (c.sleep == nullptr) continue;
    std::vector<std::string> sleeps;
    for (const std::string& line : machine.traceLines())
      if (line.find("\"event\":\"sleep\"") != std::string::npos) sleeps.push_back(line);
    ASSERT_EQ(sleeps.size(), *c.sleep ? 1u : 0u);
    EXPECT_TRUE(sleeps.empty() || sleeps[0].find(c.sleep) != std::string::npos) << sleeps[0];
  }
}

}  // namespace
