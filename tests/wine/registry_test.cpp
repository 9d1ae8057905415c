// HKEY_LOCAL_MACHINE through the real registry API, under a test key that
// each test creates fresh and deletes.
#include "platform/registry.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <string>

namespace {

using platform::readRegistryString;
using platform::RegistryStatus;

constexpr const wchar_t* kTestSubkey = L"SOFTWARE\\OrvoTest";
constexpr const char* kTestKey = "HKEY_LOCAL_MACHINE\\SOFTWARE\\OrvoTest";

class Registry : public ::testing::Test {
 protected:
  void SetUp() override { deleteTestKey(); }
  void TearDown() override { deleteTestKey(); }

  static void deleteTestKey() {
    HKEY software = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE", 0, KEY_ALL_ACCESS | KEY_WOW64_64KEY, &software) ==
        ERROR_SUCCESS) {
      RegDeleteTreeW(software, L"OrvoTest");
      RegCloseKey(software);
    }
  }

  // Stores raw data the way other programs might, bypassing our writer.
  static void setRaw(const wchar_t* name, DWORD type, const void* data, DWORD bytes) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, kTestSubkey, 0, nullptr, 0, KEY_SET_VALUE | KEY_WOW64_64KEY,
                              nullptr, &key, nullptr),
              ERROR_SUCCESS);
    EXPECT_EQ(RegSetValueExW(key, name, 0, type, static_cast<const BYTE*>(data), bytes), ERROR_SUCCESS);
    RegCloseKey(key);
  }
};

TEST_F(Registry, DwordsReadBackAsUnsignedDecimal) {
  struct Case {
    uint32_t value;
    const char* text;
  } cases[] = {{0, "0"}, {7, "7"}, {3001, "3001"}, {0xFFFFFFFFu, "4294967295"}};
  for (const Case& c : cases) {
    ASSERT_FALSE(platform::writeRegistryDword(kTestKey, "State", c.value).failed());
    const auto read = readRegistryString(kTestKey, "State");
    EXPECT_EQ(read.status, RegistryStatus::Ok);
    EXPECT_EQ(read.value, c.text);
  }
}

TEST_F(Registry, StringsRoundTripAndWritesKeepOtherValues) {
  ASSERT_FALSE(platform::writeRegistryString(kTestKey, "DisplayVersion", "1.2.3").failed());
  ASSERT_FALSE(platform::writeRegistryDword(kTestKey, "State", 1).failed());
  const std::string cases[] = {"9.2.0.0", "", "Größe 版本 версия", std::string(20000, 'v')};
  for (const std::string& value : cases) {
    ASSERT_FALSE(platform::writeRegistryString(kTestKey, "ToolVersion", value).failed());
    const auto read = readRegistryString(kTestKey, "ToolVersion");
    EXPECT_EQ(read.status, RegistryStatus::Ok);
    EXPECT_EQ(read.value, value);
  }
  EXPECT_EQ(readRegistryString(kTestKey, "DisplayVersion").value, "1.2.3");
  EXPECT_EQ(readRegistryString(kTestKey, "State").value, "1");
  // Stored as REG_SZ with its terminating NUL, as the system's tools expect.
  wchar_t data[16] = {};
  DWORD type = 0;
  DWORD bytes = sizeof data;
  ASSERT_FALSE(platform::writeRegistryString(kTestKey, "ToolVersion", "9.2").failed());
  ASSERT_EQ(RegGetValueW(HKEY_LOCAL_MACHINE, kTestSubkey, L"ToolVersion", RRF_RT_ANY | RRF_NOEXPAND, &type,
                         data, &bytes),
            ERROR_SUCCESS);
  EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
  EXPECT_EQ(bytes, 4 * sizeof(wchar_t));
}

TEST_F(Registry, MissingKeyAndMissingValueAreTold) {
  const auto noKey = readRegistryString(std::string(kTestKey) + "\\Absent", "BIOSVersion");
  EXPECT_EQ(noKey.status, RegistryStatus::KeyMissing);
  EXPECT_EQ(noKey.error.code, platform::kErrorFileNotFound);

  ASSERT_FALSE(platform::writeRegistryDword(kTestKey, "State", 0).failed());
  const auto noValue = readRegistryString(kTestKey, "BIOSVersion");
  EXPECT_EQ(noValue.status, RegistryStatus::ValueMissing);
  EXPECT_TRUE(noValue.value.empty());
}

TEST_F(Registry, KeyTextIsParsedStrictly) {
  ASSERT_FALSE(platform::writeRegistryDword(kTestKey, "State", 5).failed());
  // Case and a trailing separator do not matter to Windows either.
  EXPECT_EQ(readRegistryString("hkey_local_machine\\software\\orvotest\\", "State").value, "5");
  // Only the machine hive is ours; another root is a failure, not "missing".
  for (const char* key : {"HKEY_CURRENT_USER\\SOFTWARE\\OrvoTest", "HKEY_LOCAL_MACHINESOFTWARE\\OrvoTest",
                          "SOFTWARE\\OrvoTest", ""}) {
    const auto read = readRegistryString(key, "State");
    EXPECT_EQ(read.status, RegistryStatus::Failed) << key;
    EXPECT_EQ(read.error.code, platform::kErrorInvalidParameter) << key;
    EXPECT_TRUE(platform::writeRegistryDword(key, "State", 1).failed()) << key;
  }
}

TEST_F(Registry, ForeignDataIsReadSafely) {
  const wchar_t unterminated[] = {L'R', L'3', L'1'};  // written without its NUL
  setRaw(L"Unterminated", REG_SZ, unterminated, sizeof unterminated);
  const wchar_t expandable[] = L"%SystemRoot%\\x";
  setRaw(L"Expandable", REG_EXPAND_SZ, expandable, sizeof expandable);
  const unsigned char binary[] = {1, 2, 3};
  setRaw(L"Binary", REG_BINARY, binary, sizeof binary);
  const std::wstring huge(40000, L'h');  // 80000 bytes: over the bound
  setRaw(L"Huge", REG_SZ, huge.c_str(), static_cast<DWORD>((huge.size() + 1) * sizeof(wchar_t)));
  const unsigned char shortDword[] = {1, 0};
  setRaw(L"ShortDword", REG_DWORD, shortDword, sizeof shortDword);

  EXPECT_EQ(readRegistryString(kTestKey, "Unterminated").value, "R31");
  EXPECT_EQ(readRegistryString(kTestKey, "Expandable").value, "%SystemRoot%\\x");
  for (const char* name : {"Binary", "Huge", "ShortDword"}) {
    const auto read = readRegistryString(kTestKey, name);
    EXPECT_EQ(read.status, RegistryStatus::Failed) << name;
    EXPECT_TRUE(read.error.failed()) << name;
    EXPECT_TRUE(read.value.empty()) << name;
  }
}

}  // namespace
