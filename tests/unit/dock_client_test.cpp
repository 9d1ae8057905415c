// The dock controller client and the dock configuration update against the
// simulated controller: what reaches [dock] of machine.ini, what is printed,
// how long a silent controller costs.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "dock/dock_controller_client.h"
#include "dock/write_kr_ec.h"
#include "simulated/machine.h"
#include "tests/unit/test_machine.h"

namespace {

using testing_machine::TestMachine;
namespace dock_ec = result::dock_ec;

// 4PARTID 0123456789ABCDEF, GEN "2", VBIOS "86.04.0F.00.01" as the block
// group's 128 hex digits.
const std::string kStoredBlock =
    "0123456789ABCDEF00FFFFFFFFFFFFFF"
    "47454E0132FFFFFFFFFFFFFFFFFFFFFF"
    "5645520E38362E30342E30462E30302E3031FFFFFFFFFFFFFFFFFFFFFFFFFFFF";

std::string machineWith(const std::string& dock, const std::string& more = "") {
  return std::string(testing_machine::kFastTime) +
         "[hid]\nother = "
         "\\\\?\\hid#vid_046d&pid_c52b&mi_00#7&1b2c3d4e&0&0000#{4d1e55b2-f16f-11cf-88cb-001111000030}\n" +
         "[dock]\n" + dock + more;
}

std::vector<std::string> events(const TestMachine& machine, const std::string& event) {
  std::vector<std::string> found;
  for (const std::string& line : machine.traceLines()) {
    if (line.find("\"event\":\"" + event + "\"") != std::string::npos) found.push_back(line);
  }
  return found;
}

size_t countWith(const std::vector<std::string>& lines, const std::string& part) {
  return static_cast<size_t>(std::count_if(
      lines.begin(), lines.end(), [&](const std::string& l) { return l.find(part) != std::string::npos; }));
}

std::string dockKey(const std::string& key) {
  return simulated::MachineIni::load().get("dock", key, "<absent>");
}

TEST(DockClient, ConnectingPrintsWhenNoControllerIsGreeted) {
  struct Case {
    const char* name;
    std::string ini;
    const char* printed;
    int greetingPauses;
  };
  const Case cases[] = {
      {"greeted", machineWith(""), "", 1},
      {"no dock", machineWith("present = no\n"), "Initial fail or DIvivazuv not found!\n", 0},
      {"greeting refused", machineWith("greeting = reject\n"), "Initial fail or DIvivazuv not found!\n", 5},
      {"third greeting taken", machineWith("fail_sets = 2\n"), "", 3},
  };
  for (const Case& c : cases) {
    TestMachine machine;
    machine.writeMachineIni(c.ini);
    testing::internal::CaptureStdout();
    { COrvoDIvivazuv client; }
    EXPECT_EQ(testing::internal::GetCapturedStdout(), c.printed) << c.name;
    EXPECT_EQ(countWith(events(machine, "sleep"), "\"ms\":250"), static_cast<size_t>(c.greetingPauses))
        << c.name;
  }
}

TEST(DockClient, WritesAreReadModifyWriteOfTheirGroup) {
  TestMachine machine;
  machine.writeMachineIni(machineWith("block = " + kStoredBlock + "\ntext = MB:A1;SN:B2;PRO:P3;PNUM:N4;\n"));
  COrvoDIvivazuv client;
  EXPECT_EQ(client.WriteGcConfig("GEN", "3"), COrvoDIvivazuv::kWriteOk);
  // GEN replaced; 4PARTID and VBIOS re-sent as read back (VBIOS as its 15
  // bytes, the first fill byte included).
  EXPECT_EQ(dockKey("block"),
            "0123456789ABCDEF00FFFFFFFFFFFFFF"
            "47454E0133FFFFFFFFFFFFFFFFFFFFFF"
            "5645520F38362E30342E30462E30302E3031FFFFFFFFFFFFFFFFFFFFFFFFFFFF");
  EXPECT_EQ(client.WriteGcConfig("VBIOS", "86.04.0F.00.02"), COrvoDIvivazuv::kWriteOk);
  EXPECT_EQ(dockKey("block").substr(64), "5645520E38362E30342E30462E30302E3032FFFFFFFFFFFFFFFFFFFFFFFFFFFF");
  EXPECT_EQ(client.WriteGcConfig("SSN", "Z9"), COrvoDIvivazuv::kWriteOk);
  EXPECT_EQ(dockKey("text"), "MB:A1;SN:Z9;PRO:P3;PNUM:N4;");
  // A name that is no item rewrites the text group as it was read.
  EXPECT_EQ(client.WriteGcConfig("mbsn", "lower case is no item"), COrvoDIvivazuv::kWriteOk);
  EXPECT_EQ(dockKey("text"), "MB:A1;SN:Z9;PRO:P3;PNUM:N4;");

  EXPECT_EQ(client.ReadGcConfigs("INDEX3"), COrvoDIvivazuv::kReadOk);
  EXPECT_EQ(client.config.item[kSlotINDEX3].size(), 768u);
  EXPECT_EQ(client.config.item[kSlotINDEX3].substr(0, 24), " 5E CE 03 01 23 45 67 89");
  EXPECT_EQ(client.config.item[kSlotGEN], "3");
}

TEST(DockClient, FailedOrRefusedWritesLeaveTheItems) {
  struct Case {
    const char* name;
    std::string dock;  // applied after the greeting
    std::string item;
    int retryPauses;
    size_t writeFrames;  // group writes sent
  };
  const Case cases[] = {
      {"no read response", "fail_gets = 5\n", "GEN", 5, 0},
      {"INDEX3", "", "INDEX3", 0, 0},
      {"report too short for the block", "feature_report_length = 40\n", "GEN", 5, 5},
      {"writes refused", "writes_left = 0\n", "MBSN", 5, 5},
  };
  for (const Case& c : cases) {
    TestMachine machine;
    const std::string stored = "block = " + kStoredBlock + "\ntext = MB:A1;SN:B2;PRO:;PNUM:;\n";
    machine.writeMachineIni(machineWith(stored));
    COrvoDIvivazuv client;
    machine.writeMachineIni(machineWith(stored + c.dock));
    EXPECT_EQ(client.WriteGcConfig(c.item, "X"), COrvoDIvivazuv::kNotWritten) << c.name;
    EXPECT_EQ(dockKey("block"), kStoredBlock) << c.name;
    EXPECT_EQ(dockKey("text"), "MB:A1;SN:B2;PRO:;PNUM:;") << c.name;
    EXPECT_EQ(countWith(events(machine, "sleep"), "\"ms\":1000"), static_cast<size_t>(c.retryPauses))
        << c.name;
    EXPECT_EQ(countWith(events(machine, "hid.set_feature"), "\"data\":\"5ECF"), c.writeFrames) << c.name;
  }
}

TEST(DockClient, RetriesUntilTheControllerAnswers) {
  TestMachine machine;
  machine.writeMachineIni(machineWith(""));
  COrvoDIvivazuv client;
  machine.writeMachineIni(machineWith("fail_sets = 2\nfail_gets = 1\n"));
  EXPECT_EQ(client.WriteGcConfig("GEN", "3"), COrvoDIvivazuv::kWriteOk);
  EXPECT_EQ(countWith(events(machine, "sleep"), "\"ms\":1000"), 3u);
  EXPECT_EQ(dockKey("fail_sets"), "0");
  EXPECT_EQ(dockKey("fail_gets"), "0");
  EXPECT_EQ(dockKey("block").substr(32, 32), "47454E0133FFFFFFFFFFFFFFFFFFFFFF");
}

TEST(DockUpdate, ResultCodesPrintedLinesAndNvapiCalls) {
  struct Case {
    const char* name;
    std::string ini;
    int32_t result;
    const char* lastLine;
    size_t nvapiCalls;
    size_t unloads;
    std::string gen;    // the GEN field afterwards (hex)
    std::string vbios;  // the first 18 bytes of the VBIOS field afterwards
  };
  const std::string nvapi = "[nvapi]\nversion_string = 94.06.2F.00.AB\n";
  const std::string written = "5645520E39342E30362E32462E30302E4142";
  const std::string erasedGen = std::string(32, 'F');
  const std::string genThree = "47454E0133" + std::string(22, 'F');
  const Case cases[] = {
      {"both written", machineWith("", nvapi), dock_ec::kWritten, "", 4, 1, genThree, written},
      {"no dock", machineWith("present = no\n", nvapi), dock_ec::kGenFailed, "FAIL to write Gc Config GEN\n",
       0, 0, erasedGen, std::string(36, 'F')},
      {"no NVIDIA driver", machineWith(""), dock_ec::kNvapiInitializeFailed, "FAIL to use API\n", 1, 0,
       genThree, std::string(36, 'F')},
      {"no GPU", machineWith("", nvapi + "enum = -6\n"), dock_ec::kNvapiEnumFailed,
       "FAIL to get Physical GPU\n", 3, 1, genThree, std::string(36, 'F')},
      {"no version text", machineWith("", nvapi + "version_string_status = -1\n"),
       dock_ec::kNvapiVersionFailed, "FAIL to get VBIOS Version String\n", 4, 1, genThree,
       std::string(36, 'F')},
      {"VBIOS refused", machineWith("writes_left = 1\n", nvapi), dock_ec::kVbiosFailed,
       "FAIL to write Gc Config VBIOS\n", 4, 1, genThree, std::string(36, 'F')},
  };
  for (const Case& c : cases) {
    TestMachine machine;
    machine.writeMachineIni(c.ini);
    testing::internal::CaptureStdout();
    EXPECT_EQ(writeKrEC(), c.result) << c.name;
    const std::string printed = testing::internal::GetCapturedStdout();
    if (*c.lastLine != '\0') {
      EXPECT_NE(printed.find(c.lastLine), std::string::npos) << c.name << ": " << printed;
    } else {
      EXPECT_EQ(printed, "") << c.name;
    }
    const std::vector<std::string> calls = events(machine, "nvapi");
    EXPECT_EQ(calls.size(), c.nvapiCalls) << c.name;
    EXPECT_EQ(countWith(calls, "NvAPI_Unload"), c.unloads) << c.name;
    const std::string block = dockKey("block");
    if (c.result != dock_ec::kGenFailed) {
      EXPECT_EQ(block.substr(32, 32), c.gen) << c.name;
      EXPECT_EQ(block.substr(64, 36), c.vbios) << c.name;
    }
  }
}

}  // namespace
