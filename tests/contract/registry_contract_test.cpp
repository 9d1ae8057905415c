// What every registry backend promises (platform/registry.h), checked with
// the same source against registry.reg natively and the real registry under
// Wine, with values written as the program writes them and as other programs
// might have.
#include <gtest/gtest.h>

#include <string>

#include "platform/registry.h"
#include "tests/contract/machine.h"

namespace {

using contract::Machine;
using platform::readRegistryString;
using platform::RegistryStatus;

// Text as the registry stores it, UTF-16LE (both builds run on x86).
std::string utf16(std::u16string_view text) {
  return {reinterpret_cast<const char*>(text.data()), text.size() * 2};
}

TEST(RegistryContract, WhatIsWrittenReadsBackAndOtherValuesStay) {
  Machine machine;
  const std::string& key = machine.registryKey();
  EXPECT_EQ(readRegistryString(key, "State").status, RegistryStatus::KeyMissing);
  ASSERT_FALSE(platform::writeRegistryString(key, "DisplayVersion", "1.2.3").failed());
  struct Dword {
    uint32_t value;
    const char* text;
  } dwords[] = {{0, "0"}, {7, "7"}, {3001, "3001"}, {0xFFFFFFFFu, "4294967295"}};
  for (const Dword& c : dwords) {
    ASSERT_FALSE(platform::writeRegistryDword(key, "State", c.value).failed());
    EXPECT_EQ(readRegistryString(key, "State").value, c.text);
  }
  const std::string texts[] = {"9.2.0.0",
                               "",
                               "C:\\Path\\\"quoted\"",
                               "two\r\nlines",
                               "tab\there",
                               "Größe 版本 версия \xF0\x9F\x98\x80",
                               std::string(20000, 'v')};
  for (const std::string& text : texts) {
    ASSERT_FALSE(platform::writeRegistryString(key, "ToolVersion", text).failed());
    EXPECT_EQ(readRegistryString(key, "ToolVersion").value, text);
  }
  EXPECT_EQ(platform::writeRegistryString(key, "ToolVersion", std::string(40000, 'v')).code,
            platform::kErrorInvalidParameter)
      << "over 64 KiB as UTF-16";
  EXPECT_EQ(readRegistryString(key, "DisplayVersion").value, "1.2.3");
  // Case and a trailing separator do not matter to Windows either.
  std::string lower = key + "\\";
  for (char& c : lower) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  EXPECT_EQ(readRegistryString(lower, "displayversion").value, "1.2.3");
}

TEST(RegistryContract, MissingKeyMissingValueAndAnotherRootAreTold) {
  Machine machine;
  const std::string& key = machine.registryKey();
  ASSERT_FALSE(platform::writeRegistryDword(key, "State", 0).failed());
  struct Case {
    std::string key;
    const char* name;
    RegistryStatus status;
    uint32_t code;
  } cases[] = {
      {key + "\\Absent", "State", RegistryStatus::KeyMissing, platform::kErrorFileNotFound},
      {key, "BIOSVersion", RegistryStatus::ValueMissing, platform::kErrorFileNotFound},
      // Only the machine hive is ours; another root is a failure, not "missing".
      {"HKEY_CURRENT_USER\\SOFTWARE\\OrvoTest", "State", RegistryStatus::Failed,
       platform::kErrorInvalidParameter},
      {"HKEY_LOCAL_MACHINESOFTWARE\\OrvoTest", "State", RegistryStatus::Failed,
       platform::kErrorInvalidParameter},
      {"SOFTWARE\\OrvoTest", "State", RegistryStatus::Failed, platform::kErrorInvalidParameter},
      {"", "State", RegistryStatus::Failed, platform::kErrorInvalidParameter},
  };
  for (const Case& c : cases) {
    const platform::RegistryString read = readRegistryString(c.key, c.name);
    EXPECT_EQ(read.status, c.status) << c.key << " " << c.name;
    EXPECT_EQ(read.error.code, c.code) << c.key << " " << c.name;
    EXPECT_TRUE(read.value.empty());
    if (c.status != RegistryStatus::Failed) continue;
    EXPECT_EQ(platform::writeRegistryDword(c.key, "State", 1).code, platform::kErrorInvalidParameter)
        << c.key;
  }
}

// The conversion of each value type to text (platform/registry_value.h), as
// both backends read it.
TEST(RegistryContract, ForeignDataIsReadSafely) {
  Machine machine;
  const std::string nul(2, '\0');
  struct Case {
    const char* name;
    uint32_t type;
    std::string data;
    const char* text;  // nullptr: refused with `code`
    uint32_t code;
  } cases[] = {
      {"Unterminated", 1, utf16(u"R31"), "R31", 0},
      {"Terminated", 1, utf16(u"X1.308") + nul, "X1.308", 0},
      {"TextAfterNul", 1, utf16(u"A") + nul + utf16(u"B") + nul, "A", 0},
      {"OddByte", 1, utf16(u"\u00C4rvo") + "x", "\xC3\x84rvo", 0},
      {"Expandable", 2, utf16(u"%SystemRoot%\\x") + nul, "%SystemRoot%\\x", 0},
      {"Dword", 4, std::string("\x6e\0\0\0", 4), "110", 0},
      {"Qword", 11, std::string("\0\0\0\0\1\0\0\0", 8), "4294967296", 0},
      {"ShortDword", 4, std::string("\1\0", 2), nullptr, platform::kErrorInvalidData},
      {"LongQword", 11, std::string(9, '\1'), nullptr, platform::kErrorInvalidData},
      {"Huge", 1, std::string(80000, 'h'), nullptr, platform::kErrorInvalidData},
      {"Binary", 3, "\1\2\3", nullptr, platform::kErrorUnsupportedType},
      {"MultiText", 7, utf16(u"a") + nul + utf16(u"b") + nul + nul, nullptr, platform::kErrorUnsupportedType},
      {"None", 0, "", nullptr, platform::kErrorUnsupportedType},
  };
  for (const Case& c : cases) machine.writeRawRegistryValue(c.name, c.type, c.data);
  for (const Case& c : cases) {
    const platform::RegistryString read = readRegistryString(machine.registryKey(), c.name);
    if (c.text != nullptr) {
      EXPECT_EQ(read.status, RegistryStatus::Ok) << c.name << ": " << read.error.operation;
      EXPECT_EQ(read.value, c.text) << c.name;
    } else {
      EXPECT_EQ(read.status, RegistryStatus::Failed) << c.name;
      EXPECT_EQ(read.error.code, c.code) << c.name;
      EXPECT_TRUE(read.value.empty()) << c.name;
    }
  }
}

}  // namespace
