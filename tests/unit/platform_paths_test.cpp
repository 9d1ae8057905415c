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

TEST(PathMapping, ShowsNativePathsAsDriveZ) {
  EXPECT_EQ(platform::posix::toWindowsPath("/opt/x"), "Z:\\opt\\x");
  EXPECT_EQ(platform::posix::toWindowsPath("/opt/x/"), "Z:\\opt\\x");
  EXPECT_EQ(platform::posix::toWindowsPath("/"), "Z:\\");
  const std::string folder = platform::programFolder();
  ASSERT_EQ(folder.rfind("Z:\\", 0), 0u) << folder;
  std::string native;
  ASSERT_FALSE(platform::posix::toNativePath(folder, native).failed());
  EXPECT_EQ(native, std::string(OVVB_BIN_DIR));
}

}  // namespace
