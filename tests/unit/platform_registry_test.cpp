// registry.reg, the posix registry: regedit's text, kept line for line, and
// the trace of writes. What every backend promises is
// tests/contract/registry_contract_test.cpp.
#include <gtest/gtest.h>

#include <string>

#include "platform/registry.h"
#include "tests/unit/test_machine.h"

namespace {

using testing_machine::TestMachine;

constexpr const char* kBiosKey = "HKEY_LOCAL_MACHINE\\HARDWARE\\DESCRIPTION\\System\\BIOS";
constexpr const char* kStateKey = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Orvo\\VBIOS";

TEST(Registry, ReadsRegeditsEscapesDefaultValuesAndContinuedLines) {
  TestMachine machine;
  machine.writeRegistry(
      "[HKEY_LOCAL_MACHINE\\HARDWARE\\DESCRIPTION\\System\\BIOS]\n"
      "\"BaseBoardProduct\"=\"KR15 \\\"Pro\\\" \\\\ A\"\n"
      "@=\"default\"\n"
      "\"Blob\"=hex:01,02,\\\n"
      "  03\n");
  const auto read = [](const char* key, const char* name) { return platform::readRegistryString(key, name); };
  EXPECT_EQ(read(kBiosKey, "BaseBoardProduct").value, "KR15 \"Pro\" \\ A");
  EXPECT_EQ(read(kBiosKey, "").value, "default");
  EXPECT_EQ(read(kBiosKey, "Blob").error.code, platform::kErrorUnsupportedType);
}

TEST(Registry, TheFirstWriteCreatesTheFileAndEachWriteIsTraced) {
  TestMachine machine;
  ASSERT_FALSE(platform::writeRegistryDword(kStateKey, "State", 3020).failed());
  ASSERT_FALSE(platform::writeRegistryString(kStateKey, "ToolVersion", "9.2.0.0").failed());
  EXPECT_EQ(machine.readFile("registry.reg"),
            "Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Orvo\\VBIOS]\n"
            "\"State\"=dword:00000bcc\n\"ToolVersion\"=\"9.2.0.0\"\n");
  const auto trace = machine.traceLines();
  ASSERT_EQ(trace.size(), 2u);
  EXPECT_EQ(trace[0],
            "{\"event\":\"registry.set\",\"key\":\"HKEY_LOCAL_MACHINE\\\\SOFTWARE\\\\Orvo\\\\VBIOS\","
            "\"name\":\"State\",\"type\":\"REG_DWORD\",\"data\":3020}");
  EXPECT_EQ(trace[1],
            "{\"event\":\"registry.set\",\"key\":\"HKEY_LOCAL_MACHINE\\\\SOFTWARE\\\\Orvo\\\\VBIOS\","
            "\"name\":\"ToolVersion\",\"type\":\"REG_SZ\",\"data\":\"9.2.0.0\"}");
}

TEST(Registry, WritesChangeOneValueAndKeepEveryOtherLine) {
  TestMachine machine;
  const std::string before =
      "Windows Registry Editor Version 5.00\r\n"
      "\r\n"
      "; written by hand\r\n"
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Orvo\\VBIOS]\r\n"
      "\"State\"=dword:00000001\r\n"
      "\"DisplayVersion\"=\"1.0\"\r\n"
      "\r\n"
      "[HKEY_LOCAL_MACHINE\\HARDWARE\\DESCRIPTION\\System\\BIOS]\r\n"
      "\"Raw\"=hex:00,11,\\\r\n"
      "  22\r\n"
      "\"BIOSVersion\"=\"X1.308\"\r\n";
  testing_machine::writeNativeFile(machine.root() / "registry.reg", before);
  ASSERT_FALSE(
      platform::writeRegistryDword("HKEY_LOCAL_MACHINE\\software\\orvo\\vbios", "state", 0).failed());
  ASSERT_FALSE(platform::writeRegistryString(kStateKey, "ToolVersion", "9.2.0.0").failed());
  ASSERT_FALSE(platform::writeRegistryString(kBiosKey, "BaseBoardProduct", "KR15").failed());
  EXPECT_EQ(machine.readFile("registry.reg"),
            "Windows Registry Editor Version 5.00\r\n"
            "\r\n"
            "; written by hand\r\n"
            "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Orvo\\VBIOS]\r\n"
            "\"State\"=dword:00000000\r\n"
            "\"DisplayVersion\"=\"1.0\"\r\n"
            "\"ToolVersion\"=\"9.2.0.0\"\r\n"
            "\r\n"
            "[HKEY_LOCAL_MACHINE\\HARDWARE\\DESCRIPTION\\System\\BIOS]\r\n"
            "\"Raw\"=hex:00,11,\\\r\n"
            "  22\r\n"
            "\"BIOSVersion\"=\"X1.308\"\r\n"
            "\"BaseBoardProduct\"=\"KR15\"\r\n");
}

TEST(Registry, ReadsRegeditsUtf16Export) {
  TestMachine machine;
  const std::string text =
      "Windows Registry Editor Version "
      "5.00\r\n\r\n[HKEY_LOCAL_MACHINE\\HARDWARE\\DESCRIPTION\\System\\BIOS]\r\n"
      "\"BaseBoardProduct\"=\"\xC3\x84rvo\"\r\n";
  std::string utf16 = "\xFF\xFE";
  for (size_t i = 0; i < text.size(); ++i) {
    if (text.compare(i, 2, "\xC3\x84") == 0) {  // U+00C4
      utf16 += std::string("\xC4\x00", 2);
      ++i;
    } else {
      utf16 += text[i];
      utf16 += '\0';
    }
  }
  testing_machine::writeNativeFile(machine.root() / "registry.reg", utf16);
  EXPECT_EQ(platform::readRegistryString(kBiosKey, "BaseBoardProduct").value, "\xC3\x84rvo");
}

}  // namespace
