// readConfigs: how configs.txt lines become the package configuration, and
// what each result code logs.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "installer/result_codes.h"
#include "package/read_configs.h"
#include "package/vbios_configs.h"
#include "tests/unit/test_machine.h"
#include "ui/dialogs.h"

namespace {

using testing_machine::TestMachine;
using Lines = std::vector<std::string>;

constexpr const char* kValidAmd =
    "; Kestrel dock, AMD\r\n"
    "ReleaseVersion=V2.1\r\n"
    "VBiosType=KRAMD\r\n"
    "VBiosHWID_0=PCI\\VEN_1002&DEV_73DF\r\n"
    "VBiosVersion_0=020.001.000.038.016300\r\n"
    "VBiosROM_0=kestrel_rx6700.rom\r\n";

class ApplyConfigText : public ::testing::Test {
 protected:
  TestMachine machine;
  LogWriter writer;  // never opened: nothing here may log
  VBiosConfigs configs{writer};
  std::string problem;
  std::vector<std::string> unparsable;

  int32_t apply(std::string_view text, std::string_view board = "UNKNOWN") {
    return package::applyConfigText(configs, text, board, problem,
                                    [this](std::string_view piece) { unparsable.emplace_back(piece); });
  }
};

TEST_F(ApplyConfigText, ScalarKeys) {
  struct Case {
    const char* text;
    std::function<void(const VBiosConfigs&)> expect;
  };
  const std::vector<Case> cases = {
      {"ReleaseVersion=V2.1", [](auto& c) { EXPECT_EQ(c.VbReleaseVersion, "2.1"); }},
      {"ReleaseVersion=vV9", [](auto& c) { EXPECT_EQ(c.VbReleaseVersion, "V9"); }},
      {"ReleaseVersion=", [](auto& c) { EXPECT_EQ(c.VbReleaseVersion, ""); }},
      {"VBiosType=KRAMD=extra", [](auto& c) { EXPECT_EQ(c.VbType, "KRAMD"); }},
      {"VBiosType = KRNV",
       [](auto& c) { EXPECT_EQ(c.VbType, "UNKNOWN"); }},  // key "VBiosType " matches nothing
      {"vbiostype=KRNV", [](auto& c) { EXPECT_EQ(c.VbType, "UNKNOWN"); }},
      {"ECConfig=1\nECConfig=0", [](auto& c) { EXPECT_EQ(c.ECConfig, 1); }},
      {"ECConfig=1 ", [](auto& c) { EXPECT_EQ(c.ECConfig, 0); }},
      {"ECConfig=01", [](auto& c) { EXPECT_EQ(c.ECConfig, 0); }},
      {"WMIConfig=1\rWMIConfig=2", [](auto& c) { EXPECT_EQ(c.WMIConfig, 1); }},
      {"VGAVersion=V31.0.21001.45002", [](auto& c) { EXPECT_EQ(c.VbReqVGAVersion, "31.0.21001.45002"); }},
      {"BiosVersion=310", [](auto& c) { EXPECT_EQ(c.VbReqBios, 310); }},
      {"BiosVersion= 310\t", [](auto& c) { EXPECT_EQ(c.VbReqBios, 310); }},
      {"BiosVersion=-5", [](auto& c) { EXPECT_EQ(c.VbReqBios, -5); }},
      {"no equals sign here\n\n# nor here", [](auto& c) { EXPECT_EQ(c.VbType, "UNKNOWN"); }},
  };
  for (const Case& c : cases) {
    VBiosConfigs fresh(writer);
    std::string why;
    EXPECT_EQ(package::applyConfigText(fresh, c.text, "UNKNOWN", why), result::kSuccess) << c.text;
    SCOPED_TRACE(c.text);
    c.expect(fresh);
  }
}

TEST_F(ApplyConfigText, EntryNumbers) {
  ASSERT_EQ(apply("VBiosHWID_00=A\n"
                  "VBiosHWID_ 1 =B\n"
                  "VBiosHWID_+2_tail=C\n"
                  "VBiosHWID_99=Z\n"
                  "VBiosHWID_100=hundred\n"
                  "VBiosHWID_-1=minus\n"
                  "VBiosHWID_x=X\n"
                  "VBiosROM_=R\n"
                  "VBiosVersion_0=V1.2\n"),
            result::kSuccess);
  EXPECT_EQ(configs.vb[0].vbHWID, "A");
  EXPECT_EQ(configs.vb[1].vbHWID, "B");
  EXPECT_EQ(configs.vb[2].vbHWID, "C");
  EXPECT_EQ(configs.vb[99].vbHWID, "Z");
  EXPECT_EQ(configs.vb[0].vbRomVersion, "V1.2");  // no prefix is removed from entry versions
  EXPECT_EQ(configs.vb[0].vbRom, "UNKNOWN");
  EXPECT_EQ(unparsable, (std::vector<std::string>{"x", ""}));
  for (int i = 3; i < 99; ++i) EXPECT_EQ(configs.vb[i].vbHWID, "UNKNOWN") << i;
}

TEST_F(ApplyConfigText, RawRomFlagIsCaseSensitiveAndSticky) {
  struct Case {
    const char* rom;
    bool raw;
  };
  for (const Case& c :
       std::vector<Case>{{"a.rom", true}, {"a.001", true}, {"a.ROM", false}, {"flash.exe", false}}) {
    VBiosConfigs fresh(writer);
    std::string why;
    package::applyConfigText(fresh, std::string("VBiosROM_0=") + c.rom, "UNKNOWN", why);
    EXPECT_EQ(fresh.vb[0].vbIsRawRom, c.raw) << c.rom;
  }
  apply("VBiosROM_0=a.rom\nVBiosROM_0=b.bin");
  EXPECT_EQ(configs.vb[0].vbRom, "b.bin");
  EXPECT_TRUE(configs.vb[0].vbIsRawRom);
}

TEST_F(ApplyConfigText, BoardProductKeyAndBiosVersionLastOneWins) {
  apply("BiosVersion=300\nKestrel15=320\n", "Kestrel15");
  EXPECT_EQ(configs.VbReqBios, 320);
  EXPECT_EQ(OvVBiosInstaller::BiosCheckForm::version, "320");

  apply("BiosVersion= 305\n", "Kestrel15");
  EXPECT_EQ(configs.VbReqBios, 305);
  EXPECT_EQ(OvVBiosInstaller::BiosCheckForm::version, " 305");  // the dialog shows it as written

  apply("UNKNOWN=7\n");
  EXPECT_EQ(configs.VbReqBios, 7);
}

TEST_F(ApplyConfigText, FailuresStopAtTheLineAndKeepWhatCameBefore) {
  struct Case {
    const char* text;
    const char* problemMentions;
  };
  const std::vector<Case> cases = {
      {"VBiosType=AMD\nBiosVersion=abc\nReleaseVersion=1.0", "'abc' is not a number"},
      {"VBiosType=AMD\nBoard=99999999999\nReleaseVersion=1.0", "'99999999999' does not fit"},
      {"VBiosType=AMD\nVBiosHWID_2147483648=X\nReleaseVersion=1.0", "'2147483648' does not fit"},
  };
  for (const Case& c : cases) {
    VBiosConfigs fresh(writer);
    std::string why;
    EXPECT_EQ(package::applyConfigText(fresh, c.text, "Board", why), result::kConfigUnreadable) << c.text;
    EXPECT_EQ(fresh.VbType, "AMD") << c.text;
    EXPECT_EQ(fresh.VbReleaseVersion, "0.0.0") << c.text;
    EXPECT_EQ(fresh.VbReqBios, 1) << c.text;
    EXPECT_NE(why.find("line 2"), std::string::npos) << why;
    EXPECT_NE(why.find(c.problemMentions), std::string::npos) << why;
  }
}

class ReadConfigs : public ::testing::Test {
 protected:
  TestMachine machine;
  std::filesystem::path folder = machine.makePackageFolder("pkg dir/packages");
  VBiosConfigs configs;  // opens the machine's installation log

  void SetUp() override { configs.VbConfig = TestMachine::windowsPath(folder / "configs.txt"); }
  void writeConfigs(std::string_view text) { testing_machine::writeNativeFile(folder / "configs.txt", text); }
};

TEST_F(ReadConfigs, ValidPackageLogsItsSummary) {
  machine.writeRegistry(
      "[HKEY_LOCAL_MACHINE\\HARDWARE\\DESCRIPTION\\System\\BIOS]\n\"BaseBoardProduct\"=\"Kestrel15\"\n");
  writeConfigs(std::string(kValidAmd) +
               "VGAVersion=v31.0.1\nKestrel15=308\nVBiosHWID_1=PCI\\VEN_1002&DEV_73FF\n");

  EXPECT_EQ(configs.readConfigs(), result::kSuccess);
  EXPECT_EQ(configs.VbCount, 2);
  EXPECT_EQ(machine.logLines(), (Lines{
                                    "Open configs.txt",
                                    "=================================",
                                    "ProductName: Kestrel15",
                                    "---------------------------------",
                                    "VbReleaseVersion: 2.1",
                                    "VbType: KRAMD",
                                    "VbReqBios: 308",
                                    "VbReqVGAVersion: 31.0.1",
                                    "---------------------------------",
                                    "VbRomHWID0: PCI\\VEN_1002&DEV_73DF",
                                    "VbRomVersion0: 020.001.000.038.016300",
                                    "VbFlashCmd0: kestrel_rx6700.rom",
                                    "---------------------------------",
                                    "VbRomHWID1: PCI\\VEN_1002&DEV_73FF",
                                    "VbRomVersion1: 0.0.0.0.0",
                                    "VbFlashCmd1: UNKNOWN",
                                    "---------------------------------",
                                    "=================================",
                                }));
}

TEST_F(ReadConfigs, ByteOrderMarkedUtf16FileReads) {
  std::string utf16 = "\xFF\xFE";
  for (char c : std::string(kValidAmd)) {
    utf16 += c;
    utf16 += '\0';
  }
  writeConfigs(utf16);
  EXPECT_EQ(configs.readConfigs(), result::kSuccess);
  EXPECT_EQ(configs.VbType, "KRAMD");
  EXPECT_EQ(configs.vb[0].vbRom, "kestrel_rx6700.rom");
}

TEST_F(ReadConfigs, EntriesAfterAGapAreNeitherCountedNorLogged) {
  writeConfigs(std::string(kValidAmd) + "VBiosHWID_1=B\nVBiosHWID_3=D\n");
  EXPECT_EQ(configs.readConfigs(), result::kSuccess);
  EXPECT_EQ(configs.VbCount, 2);
  EXPECT_EQ(configs.vb[3].vbHWID, "D");
  for (const std::string& line : machine.logLines()) EXPECT_EQ(line.find("VbRomHWID3"), std::string::npos);
  EXPECT_EQ(machine.logLines()[2], "ProductName: UNKNOWN");  // no registry.reg at all
}

TEST_F(ReadConfigs, MandatoryDataMissingIs103AfterTheSummary) {
  struct Case {
    const char* name;
    std::string text;
  };
  const std::vector<Case> cases = {
      {"entries start at 1",
       "ReleaseVersion=1\nVBiosType=AMD\nVBiosHWID_1=A\nVBiosVersion_1=1.2.3.4.5\nVBiosROM_1=a.rom\n"},
      {"no release version", "VBiosType=AMD\nVBiosHWID_0=A\nVBiosVersion_0=1.2.3.4.5\nVBiosROM_0=a.rom\n"},
      {"release version 0.0.0 as written",
       "ReleaseVersion=v0.0.0\nVBiosType=AMD\nVBiosHWID_0=A\nVBiosVersion_0=1.2.3.4.5\nVBiosROM_0=a.rom\n"},
      {"no type", "ReleaseVersion=1\nVBiosHWID_0=A\nVBiosVersion_0=1.2.3.4.5\nVBiosROM_0=a.rom\n"},
      {"no entry version", "ReleaseVersion=1\nVBiosType=AMD\nVBiosHWID_0=A\nVBiosROM_0=a.rom\n"},
      {"no entry ROM", "ReleaseVersion=1\nVBiosType=AMD\nVBiosHWID_0=A\nVBiosVersion_0=1.2.3.4.5\n"},
  };
  for (const Case& c : cases) {
    TestMachine own;
    const auto pkg = own.makePackageFolder("packages");
    testing_machine::writeNativeFile(pkg / "configs.txt", c.text);
    VBiosConfigs fresh;
    fresh.VbConfig = TestMachine::windowsPath(pkg / "configs.txt");
    EXPECT_EQ(fresh.readConfigs(), result::kConfigIncomplete) << c.name;
    const Lines lines = own.logLines();
    ASSERT_GE(lines.size(), 2u) << c.name;
    EXPECT_EQ(lines[lines.size() - 2], "=================================") << c.name;
    EXPECT_EQ(lines.back(), "ERROR problem reading the data from configs.txt") << c.name;
  }
}

TEST(ReadConfigsFailure, UnreadableFilesAnd101Versus102) {
  using Arrange = std::function<void(const TestMachine&, const std::filesystem::path&, VBiosConfigs&)>;
  auto withConfigs = [](std::string text) -> Arrange {
    return [text](const TestMachine&, const std::filesystem::path& folder, VBiosConfigs&) {
      testing_machine::writeNativeFile(folder / "configs.txt", text);
    };
  };
  struct Case {
    const char* name;
    Arrange arrange;
    int32_t code;
    const char* errorLine;
  };
  const std::vector<Case> cases = {
      {"missing file", [](auto&, auto&, auto&) {}, result::kConfigNotFound, "ERROR configs.txt Not Found"},
      {"missing packages folder",
       [](const TestMachine& m, auto&, VBiosConfigs& c) {
         c.VbConfig = TestMachine::windowsPath(m.root() / "gone" / "configs.txt");
       },
       result::kConfigUnreadable, "ERROR problem reading configs.txt "},
      {"over the size bound", withConfigs(std::string(kValidAmd) + std::string(kMaxConfigFileBytes, ';')),
       result::kConfigUnreadable, "ERROR problem reading configs.txt "},
      {"non-numeric BiosVersion", withConfigs(std::string(kValidAmd) + "BiosVersion=3O8\n"),
       result::kConfigUnreadable, "ERROR problem reading configs.txt "},
      {"entry number beyond 32 bits", withConfigs(std::string(kValidAmd) + "VBiosROM_4294967296=x\n"),
       result::kConfigUnreadable, "ERROR problem reading configs.txt "},
  };
  for (const Case& c : cases) {
    TestMachine machine;
    const auto folder = machine.makePackageFolder("packages");
    VBiosConfigs configs;
    configs.VbConfig = TestMachine::windowsPath(folder / "configs.txt");
    c.arrange(machine, folder, configs);

    EXPECT_EQ(configs.readConfigs(), c.code) << c.name;
    EXPECT_EQ(configs.VbCount, 0) << c.name;
    const Lines lines = machine.logLines();
    ASSERT_GE(lines.size(), 3u) << c.name;
    EXPECT_EQ(lines[0], "Open configs.txt") << c.name;
    EXPECT_EQ(lines[1], c.errorLine) << c.name;
    EXPECT_NE(lines[2].find("VBiosConfigs.readConfigs"), std::string::npos)
        << c.name << ": the detail entry follows the error";
    for (const std::string& line : lines) EXPECT_NE(line, "=================================") << c.name;
  }
}

TEST_F(ReadConfigs, UnparsableEntryNumberGoesToStandardOutputOnly) {
  writeConfigs(std::string(kValidAmd) + "VBiosHWID_x=oops\n");
  ::testing::internal::CaptureStdout();
  const int32_t code = configs.readConfigs();
  const std::string out = ::testing::internal::GetCapturedStdout();
  EXPECT_EQ(code, result::kSuccess);
  EXPECT_NE(out.find("Unable to parse 'x'\n"), std::string::npos) << out;
  for (const std::string& line : machine.logLines())
    EXPECT_EQ(line.find("Unable to parse"), std::string::npos);
}

}  // namespace
