// readConfigs: how configs.txt lines become the package configuration, and
// what each result code logs.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "common/result_codes.h"
#include "package/read_configs.h"
#include "package/vbios_configs.h"
#include "tests/unit/test_machine.h"

namespace {

using testing_machine::TestMachine;
using Lines = std::vector<std::string>;

constexpr const char* kValidAmd =
    "; Kestrel dock, AMD\r\nReleaseVersion=V2.1\r\nVBiosType=KRAMD\r\nVBiosHWID_0=PCI\\VEN_1002&DEV_73DF\r\n"
    "VBiosVersion_0=020.001.000.038.016300\r\nVBiosROM_0=kestrel_rx6700.rom\r\n";

// The scalar fields in one line, so a table row can state them all.
std::string scalars(const VBiosConfigs& c) {
  return c.VbReleaseVersion + "|" + c.VbType + "|" + std::to_string(c.ECConfig) +
         std::to_string(c.WMIConfig) + "|" + std::to_string(c.VbReqBios) + "|" + c.VbReqVGAVersion;
}

TEST(ApplyConfigText, KeysValuesAndOrder) {
  struct Case {
    const char* text;
    const char* board;
    const char* scalars;
  };
  // clang-format off
  const std::vector<Case> cases = {
      {"ReleaseVersion=V2.1\nVGAVersion=v31.0.1",  "B", "2.1|UNKNOWN|00|1|31.0.1"},
      {"ReleaseVersion=vV9",                       "B", "V9|UNKNOWN|00|1|0.0.0.0"},   // one V only
      {"VBiosType=KRAMD=extra",                    "B", "0.0.0|KRAMD|00|1|0.0.0.0"},
      {"VBiosType = KRNV\nvbiostype=KRNV",         "B", "0.0.0|UNKNOWN|00|1|0.0.0.0"},  // untrimmed, case-sensitive
      {"ECConfig=1\nECConfig=0\rWMIConfig=1",      "B", "0.0.0|UNKNOWN|11|1|0.0.0.0"},  // a later 0 does not clear
      {"ECConfig=1 \nWMIConfig=01",                "B", "0.0.0|UNKNOWN|00|1|0.0.0.0"},
      {"BiosVersion= 310\t",                       "B", "0.0.0|UNKNOWN|00|310|0.0.0.0"},
      {"BiosVersion=300\nKestrel15=320",           "Kestrel15", "0.0.0|UNKNOWN|00|320|0.0.0.0"},
      {"Kestrel15=320\r\nBiosVersion=-5",          "Kestrel15", "0.0.0|UNKNOWN|00|-5|0.0.0.0"},
      {"UNKNOWN=7",                                "UNKNOWN", "0.0.0|UNKNOWN|00|7|0.0.0.0"},
      {"no equals sign\n\n# nor here",             "B", "0.0.0|UNKNOWN|00|1|0.0.0.0"},
  };
  // clang-format on
  for (const Case& c : cases) {
    LogWriter unopened;
    VBiosConfigs configs(unopened);
    std::string problem;
    EXPECT_EQ(package::applyConfigText(configs, c.text, c.board, problem), result::kSuccess) << c.text;
    EXPECT_EQ(scalars(configs), c.scalars) << c.text;
  }
}

TEST(ApplyConfigText, EntriesByNumber) {
  LogWriter unopened;
  VBiosConfigs configs(unopened);
  std::string problem;
  Lines unparsable;
  const char* text =
      "VBiosHWID_00=A\nVBiosHWID_ 1 =B\nVBiosHWID_+2_tail=C\nVBiosHWID_99=Z\nVBiosHWID_100=hundred\n"
      "VBiosHWID_-1=minus\nVBiosHWID_x=X\nVBiosROM_=R\nVBiosVersion_0=V1.2\n"
      "VBiosROM_0=a.rom\nVBiosROM_0=b.bin\nVBiosROM_1=a.001\nVBiosROM_2=a.ROM\n";
  ASSERT_EQ(package::applyConfigText(configs, text, "B", problem,
                                     [&](std::string_view piece) { unparsable.emplace_back(piece); }),
            result::kSuccess);
  Lines ids;
  for (const VBiosInfo& entry : configs.vb) ids.push_back(entry.vbHWID);
  Lines expected(kMaxRomEntries, "UNKNOWN");
  expected[0] = "A", expected[1] = "B", expected[2] = "C", expected[99] = "Z";
  EXPECT_EQ(ids, expected);
  EXPECT_EQ(unparsable, (Lines{"x", ""}));
  EXPECT_EQ(configs.vb[0].vbRomVersion, "V1.2");  // no V is removed from entry versions
  EXPECT_EQ(configs.vb[0].vbRom, "b.bin");
  // The raw-image flag is case-sensitive and only ever set.
  EXPECT_EQ((std::vector<bool>{configs.vb[0].vbIsRawRom, configs.vb[1].vbIsRawRom, configs.vb[2].vbIsRawRom}),
            (std::vector<bool>{true, true, false}));
}

TEST(ApplyConfigText, FailuresStopAtTheLineAndKeepWhatCameBefore) {
  struct Case {
    const char* badLine;
    const char* problem;
  };
  const std::vector<Case> cases = {
      {"BiosVersion=abc", "line 2: 'abc' is not a number"},
      {"Board=99999999999", "line 2: '99999999999' does not fit"},
      {"VBiosHWID_2147483648=X", "line 2: '2147483648' does not fit"},
  };
  for (const Case& c : cases) {
    LogWriter unopened;
    VBiosConfigs configs(unopened);
    std::string problem;
    const std::string text = std::string("VBiosType=AMD\n") + c.badLine + "\nReleaseVersion=1.0";
    EXPECT_EQ(package::applyConfigText(configs, text, "Board", problem), result::kConfigUnreadable)
        << c.badLine;
    EXPECT_EQ(scalars(configs), "0.0.0|AMD|00|1|0.0.0.0") << c.badLine;
    EXPECT_EQ(configs.VbReqBiosText, "1") << c.badLine;
    EXPECT_NE(problem.find(c.problem), std::string::npos) << problem;
  }
  LogWriter unopened;
  VBiosConfigs configs(unopened);
  std::string problem;
  package::applyConfigText(configs, "BiosVersion= 305", "B", problem);
  EXPECT_EQ(configs.VbReqBiosText, " 305");  // the dialog shows it as written
}

class ReadConfigs : public ::testing::Test {
 protected:
  TestMachine machine;
  std::filesystem::path folder = machine.makePackageFolder("pkg dir/packages");
  VBiosConfigs configs;  // opens the machine's installation log

  void SetUp() override { configs.VbConfig = TestMachine::windowsPath(folder / "configs.txt"); }
  void writeConfigs(std::string_view text) { testing_machine::writeNativeFile(folder / "configs.txt", text); }
};

TEST_F(ReadConfigs, ValidPackageLogsItsSummaryAndCountsUpToTheFirstGap) {
  machine.writeRegistry(
      "[HKEY_LOCAL_MACHINE\\HARDWARE\\DESCRIPTION\\System\\BIOS]\n\"BaseBoardProduct\"=\"Kestrel15\"\n");
  std::string utf16 = "\xFF\xFE";
  for (char c :
       std::string(kValidAmd) + "VGAVersion=v31.0.1\nKestrel15=308\nVBiosHWID_1=B\nVBiosHWID_3=D\n") {
    utf16 += c;
    utf16 += '\0';
  }
  writeConfigs(utf16);

  EXPECT_EQ(configs.readConfigs(), result::kSuccess);
  EXPECT_EQ(configs.VbCount, 2);
  // clang-format off
  EXPECT_EQ(machine.logLines(), (Lines{
      "Open configs.txt", "=================================", "ProductName: Kestrel15",
      "---------------------------------", "VbReleaseVersion: 2.1", "VbType: KRAMD", "VbReqBios: 308",
      "VbReqVGAVersion: 31.0.1", "---------------------------------",
      "VbRomHWID0: PCI\\VEN_1002&DEV_73DF", "VbRomVersion0: 020.001.000.038.016300",
      "VbFlashCmd0: kestrel_rx6700.rom", "---------------------------------",
      "VbRomHWID1: B", "VbRomVersion1: 0.0.0.0.0", "VbFlashCmd1: UNKNOWN", "---------------------------------",
      "================================="}));
  // clang-format on
}

TEST_F(ReadConfigs, UnparsableEntryNumberGoesToStandardOutputOnly) {
  writeConfigs(std::string(kValidAmd) + "VBiosHWID_x=oops\n");
  ::testing::internal::CaptureStdout();
  const int32_t code = configs.readConfigs();
  const std::string out = ::testing::internal::GetCapturedStdout();
  EXPECT_EQ(code, result::kSuccess);
  EXPECT_NE(out.find("Unable to parse 'x'\n"), std::string::npos) << out;
  EXPECT_EQ(machine.logLines()[2], "ProductName: UNKNOWN");  // no registry.reg at all
  for (const std::string& line : machine.logLines())
    EXPECT_EQ(line.find("Unable to parse"), std::string::npos);
}

TEST(ReadConfigsResult, EveryFailureCodeAndItsLines) {
  const std::string rule = "=================================";
  const char* incomplete = "ERROR problem reading the data from configs.txt";
  const char* unreadable = "ERROR problem reading configs.txt ";
  struct Case {
    const char* name;
    std::optional<std::string> text;  // nullopt: no configs.txt
    int32_t code;
    Lines tail;  // the last log lines
  };
  // clang-format off
  const std::vector<Case> cases = {
      {"missing file", std::nullopt, result::kConfigNotFound, {"Open configs.txt", "ERROR configs.txt Not Found", "<detail>"}},
      {"over the size bound", std::string(kValidAmd) + std::string(kMaxConfigFileBytes, ';'), result::kConfigUnreadable, {"Open configs.txt", unreadable, "<detail>"}},
      {"non-numeric BiosVersion", std::string(kValidAmd) + "BiosVersion=3O8\n", result::kConfigUnreadable, {"Open configs.txt", unreadable, "<detail>"}},
      {"entry number beyond 32 bits", std::string(kValidAmd) + "VBiosROM_4294967296=x\n", result::kConfigUnreadable, {"Open configs.txt", unreadable, "<detail>"}},
      {"entries start at 1", "ReleaseVersion=1\nVBiosType=AMD\nVBiosHWID_1=A\nVBiosVersion_1=1.2.3.4.5\nVBiosROM_1=a.rom\n", result::kConfigIncomplete, {rule, incomplete}},
      {"release version 0.0.0", "ReleaseVersion=v0.0.0\nVBiosType=AMD\nVBiosHWID_0=A\nVBiosVersion_0=1.2.3.4.5\nVBiosROM_0=a.rom\n", result::kConfigIncomplete, {rule, incomplete}},
      {"no type", "ReleaseVersion=1\nVBiosHWID_0=A\nVBiosVersion_0=1.2.3.4.5\nVBiosROM_0=a.rom\n", result::kConfigIncomplete, {rule, incomplete}},
      {"no entry version", "ReleaseVersion=1\nVBiosType=AMD\nVBiosHWID_0=A\nVBiosROM_0=a.rom\n", result::kConfigIncomplete, {rule, incomplete}},
      {"no entry ROM", "ReleaseVersion=1\nVBiosType=AMD\nVBiosHWID_0=A\nVBiosVersion_0=1.2.3.4.5\n", result::kConfigIncomplete, {rule, incomplete}},
  };
  // clang-format on
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TestMachine machine;
    const auto folder = machine.makePackageFolder("packages");
    if (c.text) testing_machine::writeNativeFile(folder / "configs.txt", *c.text);
    VBiosConfigs configs;
    configs.VbConfig = TestMachine::windowsPath(folder / "configs.txt");
    EXPECT_EQ(configs.readConfigs(), c.code);
    const Lines lines = machine.logLinesWithDetails();
    ASSERT_GE(lines.size(), c.tail.size());
    EXPECT_EQ(Lines(lines.end() - c.tail.size(), lines.end()), c.tail);
    if (c.code != result::kConfigIncomplete) {
      EXPECT_EQ(configs.VbCount, 0);  // a failed read counts nothing
    }
  }
  // Only a missing file is "not found"; a missing packages folder is not.
  TestMachine machine;
  VBiosConfigs configs;
  configs.VbConfig = TestMachine::windowsPath(machine.root() / "gone" / "configs.txt");
  EXPECT_EQ(configs.readConfigs(), result::kConfigUnreadable);
  EXPECT_EQ(machine.logLinesWithDetails(), (Lines{"Open configs.txt", unreadable, "<detail>"}));
}

}  // namespace
