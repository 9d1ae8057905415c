#include <gtest/gtest.h>

#include <string>

#include "platform/paths.h"
#include "platform/posix/path_mapping.h"
#include "tests/unit/test_machine.h"

namespace {

struct NameCase {
  const char* name;
  bool contained;
};

TEST(IsContainedRelativePath, AcceptsOnlyNamesThatStayBelowTheFolder) {
  const NameCase cases[] = {
      {"rom.bin", true},
      {"UNKNOWN", true},
      {"sub\\rom.bin", true},
      {"sub/rom.bin", true},
      {".\\rom.bin", true},
      {"a\\.\\b", true},
      {"my rom v1.2.bin", true},
      {"..rom", true},
      {"rom..bin", true},
      {"", false},
      {"\\rom.bin", false},
      {"/rom.bin", false},
      {"C:rom.bin", false},
      {"C:\\Windows\\rom.bin", false},
      {"rom.bin:stream", false},
      {"\\\\?\\C:\\rom.bin", false},
      {"\\\\.\\ZELACPI", false},
      {"\\\\server\\share\\rom.bin", false},
      {"..", false},
      {"..\\rom.bin", false},
      {"../rom.bin", false},
      {"sub\\..\\..\\rom.bin", false},
      {"sub/../rom.bin", false},
      {"sub\\..", false},
      {"...\\rom.bin", false},
      {".. \\rom.bin", false},
      {"rom.bin.", false},
      {"rom.bin ", false},
      {"rom\nbin", false},
      {"rom\tbin", false},
      {"CON", false},
      {"nul.txt", false},
      {"sub\\com1.bin", false},
      {"LPT9", false},
      {"console.bin", true},
      {"com10.bin", true},
      {"rom*.bin", false},
      {"rom?.bin", false},
      {"a|b", false},
  };
  for (const NameCase& c : cases) {
    EXPECT_EQ(platform::isContainedRelativePath(c.name), c.contained) << "name: [" << c.name << "]";
  }
  EXPECT_FALSE(platform::isContainedRelativePath(std::string_view("rom\0.bin", 8)));
}

TEST(JoinPath, PutsExactlyOneBackslashBetween) {
  EXPECT_EQ(platform::joinPath("C:\\pkg", "rom.bin"), "C:\\pkg\\rom.bin");
  EXPECT_EQ(platform::joinPath("C:\\pkg\\", "rom.bin"), "C:\\pkg\\rom.bin");
  EXPECT_EQ(platform::joinPath("Z:\\", "opt"), "Z:\\opt");
  EXPECT_EQ(platform::joinPath("", "rom.bin"), "rom.bin");
  // An absolute-looking name is kept below the folder, never replaces it.
  EXPECT_EQ(platform::joinPath("C:\\pkg", "\\Windows\\x"), "C:\\pkg\\Windows\\x");
}

TEST(PathMapping, FollowsWinesDrives) {
  testing_machine::TestMachine machine;
  const std::string root = machine.root().string();
  struct Case {
    const char* windows;
    std::string native;
  };
  const Case cases[] = {
      {"C:\\Windows\\Log\\OrvoVbInst.txt", root + "/drive_c/Windows/Log/OrvoVbInst.txt"},
      {"c:/Windows/Log", root + "/drive_c/Windows/Log"},
      {"C:\\", root + "/drive_c"},
      {"C:\\..\\..\\etc\\passwd", root + "/drive_c/etc/passwd"},
      {"C:\\a\\.\\b\\..\\c\\", root + "/drive_c/a/c"},
      {"\\\\?\\C:\\x", root + "/drive_c/x"},
      {"Z:\\opt\\x\\packages", "/opt/x/packages"},
      {"z:/tmp", "/tmp"},
      {"Z:\\", "/"},
      {"packages\\rom.bin", "packages/rom.bin"},
  };
  for (const Case& c : cases) {
    std::string native;
    EXPECT_FALSE(platform::posix::toNativePath(c.windows, native).failed()) << c.windows;
    EXPECT_EQ(native, c.native) << c.windows;
  }
  for (const char* unmapped : {"D:\\data", "\\\\server\\share\\x", "\\\\.\\ZELACPI", "\\rooted", ""}) {
    std::string native;
    EXPECT_EQ(platform::posix::toNativePath(unmapped, native).code, platform::kErrorPathNotFound) << unmapped;
  }
}

TEST(PathMapping, ShowsNativePathsAsDriveZAndBackByteForByte) {
  struct Case {
    const char* native;
    const char* windows;  // nullptr: no Windows spelling
    const char* back;     // nullptr: the native path itself
  };
  const Case cases[] = {
      {"/opt/x", "Z:\\opt\\x", nullptr},
      {"/opt/x/", "Z:\\opt\\x", "/opt/x"},
      {"/", "Z:\\", nullptr},
      {"/tmp/Пакет ü/prog", "Z:\\tmp\\Пакет ü\\prog", nullptr},
      // Characters no Windows name holds stand in as U+F000 + their code.
      {"/tmp/dock\\tools", "Z:\\tmp\\dock\xEF\x81\x9Ctools", nullptr},
      {"/tmp/a:b*c?d\"e<f>g|h",
       "Z:\\tmp\\a\xEF\x80\xBA"
       "b\xEF\x80\xAA"
       "c\xEF\x80\xBF"
       "d\xEF\x80\xA2"
       "e\xEF\x80\xBC"
       "f\xEF\x80\xBE"
       "g\xEF\x81\xBC"
       "h",
       nullptr},
      {"/tmp/tab\there", "Z:\\tmp\\tab\xEF\x80\x89here", nullptr},
      // Other private-use characters are ordinary letters.
      {"/tmp/\xEF\x81\x81", "Z:\\tmp\\\xEF\x81\x81", nullptr},
      // Not UTF-8, or a stand-in already: nothing Windows could name.
      {"/tmp/latin1-\xFC", nullptr, nullptr},
      {"/tmp/\xEF\x81\x9C", nullptr, nullptr},
  };
  for (const Case& c : cases) {
    std::string windows;
    const platform::Error error = platform::posix::toWindowsPath(c.native, windows);
    if (c.windows == nullptr) {
      EXPECT_EQ(error.code, platform::kErrorInvalidName) << c.native;
      EXPECT_EQ(windows, "") << c.native;
      continue;
    }
    ASSERT_FALSE(error.failed()) << c.native;
    EXPECT_EQ(windows, c.windows) << c.native;
    std::string native;
    ASSERT_FALSE(platform::posix::toNativePath(windows, native).failed()) << windows;
    EXPECT_EQ(native, c.back != nullptr ? c.back : c.native) << windows;
  }
  const std::string folder = platform::programFolder();
  ASSERT_EQ(folder.rfind("Z:\\", 0), 0u) << folder;
  std::string native;
  ASSERT_FALSE(platform::posix::toNativePath(folder, native).failed());
  EXPECT_EQ(native, std::string(OVVB_BIN_DIR));
}

}  // namespace
