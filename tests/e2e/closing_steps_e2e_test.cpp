// The closing steps end to end: the dock controller update and the host
// PCIe link restore after a flash or an up-to-date finding, as the
// simulated dock controller and platform driver see them.
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "tests/e2e/exit_expectations.h"
#include "tests/e2e/installer_run.h"

using e2e::Ini;
using e2e::InstallerRun;
using e2e::kAmdConfigs;
using e2e::kNvConfigs;

namespace {

std::string withSteps(const char* configs, bool ecConfig, bool wmiConfig) {
  return std::string(configs) + (ecConfig ? "ECConfig=1\n" : "") + (wmiConfig ? "WMIConfig=1\n" : "");
}

std::string hexText(const std::string& text) {
  std::string hex;
  char pair[3];
  for (const char c : text) {
    std::snprintf(pair, sizeof pair, "%02X", static_cast<unsigned char>(c));
    hex += pair;
  }
  return hex;
}

std::string ff(size_t bytes) { return std::string(bytes * 2, 'F'); }

Ini withDockAndLink(Ini machine) {
  machine.add("hid", "other",
              "\\\\?\\hid#vid_046d&pid_c52b&mi_00#7&1b2c3d4e&0&0000#{4d1e55b2-f16f-11cf-88cb-001111000030}");
  machine.set("dock", "present", "yes").set("acpi", "dsts", "0x00010003");
  return machine;
}

TEST(ClosingSteps, NvidiaFlashUpdatesTheDockAndRestoresTheLink) {
  InstallerRun r;
  r.usePackage("nv-dock");
  r.writeConfigs(withSteps(kNvConfigs, true, true));
  r.writeMachine(withDockAndLink(e2e::nvMachine()).set("nvapi", "version_string", "94.06.2F.00.AB"));
  ASSERT_EQ(r.run(), 0) << r.output;
  for (const std::string& message : r.logMessages()) {
    if (message != e2e::kUnsignedWarning) {
      EXPECT_EQ(message.find("WARNING"), std::string::npos);
    }
  }

  const std::string gen = "47454E0133" + ff(11);
  const std::string vbios = "5645520E" + hexText("94.06.2F.00.AB") + ff(14);
  // An erased 4PARTID reads back as its first 8 bytes, which the block
  // writes then re-send with their terminator.
  const std::string partId = ff(8) + "00" + ff(7);
  const std::string ini = r.machineIni();
  EXPECT_NE(ini.find("block = " + partId + gen + vbios), std::string::npos) << ini;
  EXPECT_NE(ini.find("dsts = 0x00010004"), std::string::npos) << ini;

  // Every feature report exactly as sent: 300 bytes, the frame, then 0xFF.
  const auto report = [](const std::string& frame) { return frame + ff(300 - frame.size() / 2); };
  const std::vector<std::string> expectedSets = {
      report("5E" + hexText("DockCfg-Unlock") + "00"), report("5ECE03"),
      report("5ECF03" + partId + gen + ff(32)),        report("5ECE03"),
      report("5ECF03" + partId + gen + vbios),
  };
  std::vector<std::string> sets;
  for (const auto& set : r.events("hid.set_feature")) {
    EXPECT_EQ(set.get("path").rfind("\\\\?\\hid#vid_6a3d", 0), 0u) << set.get("path");
    EXPECT_EQ(set.get("ok"), "true");
    sets.push_back(set.get("data"));
  }
  EXPECT_EQ(sets, expectedSets);
  const auto gets = r.events("hid.get_feature");
  ASSERT_EQ(gets.size(), 2u);
  EXPECT_EQ(gets[0].get("data"), "5ECE03" + ff(297));  // an erased controller
  EXPECT_EQ(gets[1].get("data"), "5ECE03" + partId + gen + ff(32) + ff(233));

  const auto controls = r.events("acpi.control");
  ASSERT_EQ(controls.size(), 2u);
  EXPECT_EQ(controls[0].get("code"), "0x00222404");
  EXPECT_EQ(controls[0].get("input"),
            "02000000"
            "44535453"
            "01000000"
            "08000000"
            "0000"
            "0400"
            "5B000600");
  EXPECT_EQ(controls[1].get("code"), "0x0022240C");
  EXPECT_EQ(controls[1].get("input"),
            "44455653"
            "08000000"
            "5B000600"
            "04000000");
}

struct CodeCase {
  const char* name;
  int code;
  std::vector<std::string> warnings;
  size_t devsCalls;
  bool amd;  // an AMD package (no NVIDIA driver on its machine)
  bool ecConfig;
  bool wmiConfig;
  std::function<void(Ini&)> arrange;
};

void PrintTo(const CodeCase& c, std::ostream* os) { *os << c.name; }

class ClosingCodes : public testing::TestWithParam<CodeCase> {};

TEST_P(ClosingCodes, FoldIntoTheFinalCode) {
  const CodeCase& c = GetParam();
  InstallerRun r;
  r.usePackage(c.amd ? "amd-dock" : "nv-dock");
  Ini machine = withDockAndLink(c.amd ? e2e::amdMachine() : e2e::nvMachine());
  c.arrange(machine);
  r.writeMachine(machine);
  r.writeConfigs(withSteps(c.amd ? kAmdConfigs : kNvConfigs, c.ecConfig, c.wmiConfig));

  EXPECT_EQ(r.run(), c.code) << r.output;
  std::vector<std::string> warnings;
  for (const std::string& message : r.logMessages()) {
    if (message.rfind("WARNING", 0) == 0 && message != e2e::kUnsignedWarning) warnings.push_back(message);
  }
  EXPECT_EQ(warnings, c.warnings);
  size_t devs = 0;
  for (const auto& control : r.events("acpi.control")) devs += control.get("code") == "0x0022240C";
  EXPECT_EQ(devs, c.devsCalls);
  e2e::expectExitAsTheTableSays(r, c.code, c.amd);
}

// A row's one change to the machine.
std::function<void(Ini&)> knob(const char* section, const char* key, const char* value) {
  return [=](Ini& m) { m.set(section, key, value); };
}
std::function<void(Ini&)> without(const char* section) {
  return [=](Ini& m) { m.removeSection(section); };
}

const char* kGenWarning = "WARNING Write KR EC config 'GEN' fail";
const char* kVbiosWarning = "WARNING Write KR EC config 'VBIOS' fail";
const char* kNoDeviceWarning = "WARNING InitializeZELACPIDevice() fail";
const char* kSwitchWarning = "WARNING Cannot switch host PCIe back to Gen4";

const CodeCase kCodes[] = {
    {"NoDock", 3001, {kGenWarning}, 0, false, true, false, without("dock")},
    {"DockButNoNvidiaDriver", 3002, {kVbiosWarning}, 1, true, true, true, [](Ini&) {}},
    {"VbiosWriteRefused", 3005, {kVbiosWarning}, 1, false, true, true, knob("dock", "writes_left", "1")},
    {"DevsRepliesZero", 3020, {kSwitchWarning}, 1, false, false, true, knob("acpi", "devs_reply", "0")},
    {"NoPlatformDevice", 3010, {kNoDeviceWarning}, 0, false, false, true, without("acpi")},
    {"BothFail",
     3021,
     {kGenWarning, kSwitchWarning},
     1,
     false,
     true,
     true,
     [](Ini& m) { m.set("dock", "present", "no").set("acpi", "devs_reply", "0"); }},
    {"UpToDateWithFailingLink",
     3020,
     {kSwitchWarning},
     1,
     true,
     false,
     true,
     [](Ini& m) { m.set("amdvbflash", "version", "020.001.000.038.016300").set("acpi", "devs_reply", "0"); }},
    {"UpToDateAndBothDone", 1, {}, 1, false, true, true, knob("nvapi", "oem_revision", "0x02")},
    {"LinkAlreadyGen4", 0, {}, 0, false, false, true, knob("acpi", "dsts", "0x00010004")},
    {"NeitherConfigured", 0, {}, 0, false, false, false, [](Ini&) {}},
};

INSTANTIATE_TEST_SUITE_P(Codes, ClosingCodes, testing::ValuesIn(kCodes),
                         [](const testing::TestParamInfo<CodeCase>& info) { return info.param.name; });

TEST(ClosingSteps, SilentDockCostsFiveRetryPauses) {
  InstallerRun r;
  r.usePackage("nv-dock");
  r.writeConfigs(withSteps(kNvConfigs, true, false));
  r.writeMachine(withDockAndLink(e2e::nvMachine()).set("dock", "fail_sets", "1000"));
  ASSERT_EQ(r.run(), 3001) << r.output;
  size_t greetingPauses = 0;
  size_t retryPauses = 0;
  // Exactly these lengths: the flash's pacing waits a random 2000-10000 ms.
  for (const auto& sleep : r.events("sleep")) {
    greetingPauses += sleep.get("ms") == "250";
    retryPauses += sleep.get("ms") == "1000";
  }
  EXPECT_EQ(greetingPauses, 5u);
  // Five failed reads, then the completion exit's own 1000 ms wait.
  EXPECT_EQ(retryPauses, 6u);
}

}  // namespace
