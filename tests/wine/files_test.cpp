// Files and folders by C:\ path through the real file API: the error codes
// the core tells apart, bounded reads, atomic replacement and the log's
// append-only, read-shared file.
#include "platform/files.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "platform/paths.h"
#include "tests/wine/wine_test_support.h"

namespace {

std::string read(const std::string& path) {
  std::string contents;
  const platform::Error error = platform::readFile(path, contents, 1 << 20);
  EXPECT_FALSE(error.failed()) << error.operation << ": " << error.message;
  return contents;
}

TEST(Files, MissingFileAndMissingFolderGiveDistinctCodes) {
  winetest::TemporaryFolder folder;
  std::string contents = "stale";
  struct Case {
    const char* what;
    platform::Error error;
    uint32_t code;
  } cases[] = {
      {"read, missing file", platform::readFile(folder.file("absent.txt"), contents, 100),
       platform::kErrorFileNotFound},
      {"read, missing folder", platform::readFile(folder.file("absent\\configs.txt"), contents, 100),
       platform::kErrorPathNotFound},
      {"delete, missing file", platform::deleteFile(folder.file("absent.rom")), platform::kErrorFileNotFound},
      {"copy, missing source", platform::copyFile(folder.file("absent.rom"), folder.file("copy.rom")),
       platform::kErrorFileNotFound},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.error.code, c.code) << c.what;
    EXPECT_FALSE(c.error.message.empty()) << c.what;
    EXPECT_NE(c.error.operation.find("absent"), std::string::npos) << c.what << ": " << c.error.operation;
  }
  EXPECT_TRUE(contents.empty());
}

TEST(Files, ReadsAreExactAndBounded) {
  winetest::TemporaryFolder folder;
  const std::string bytes("line 1\r\nline\0 2\n\xEF\xBB\xBFrest", 24);
  ASSERT_FALSE(platform::writeFileAtomic(folder.file("data.bin"), bytes).failed());

  std::string contents;
  ASSERT_FALSE(platform::readFile(folder.file("data.bin"), contents, bytes.size()).failed());
  EXPECT_EQ(contents, bytes);

  const platform::Error tooLarge = platform::readFile(folder.file("data.bin"), contents, bytes.size() - 1);
  EXPECT_EQ(tooLarge.code, platform::kErrorFileTooLarge);
  EXPECT_TRUE(contents.empty()) << "a refused file is not handed over in part";
}

TEST(Files, CreateDirectoriesMakesEveryMissingParent) {
  winetest::TemporaryFolder folder;
  const std::string deep = folder.file("ProgramData\\Orvo\\VBIOS");
  ASSERT_FALSE(platform::createDirectories(deep).failed());
  EXPECT_TRUE(platform::directoryExists(deep));
  EXPECT_FALSE(platform::createDirectories(deep + "\\").failed()) << "an existing folder is success";

  // A file where a folder should be is a failure, never a silent success.
  ASSERT_FALSE(platform::writeFileAtomic(folder.file("Log"), "x").failed());
  EXPECT_TRUE(platform::createDirectories(folder.file("Log")).failed());
  EXPECT_TRUE(platform::createDirectories(folder.file("Log\\Inner")).failed());
  EXPECT_TRUE(platform::fileExists(folder.file("Log")));
  EXPECT_FALSE(platform::directoryExists(folder.file("Log")));
  EXPECT_FALSE(platform::fileExists(deep));
}

TEST(Files, CopyAndDeleteWork) {
  winetest::TemporaryFolder folder;
  ASSERT_FALSE(platform::writeFileAtomic(folder.file("a.rom"), "VBIOS_VERSION=1").failed());
  ASSERT_FALSE(platform::writeFileAtomic(folder.file("b.rom"), "older and longer contents").failed());
  ASSERT_FALSE(platform::copyFile(folder.file("a.rom"), folder.file("b.rom")).failed()) << "replaces";
  EXPECT_EQ(read(folder.file("b.rom")), "VBIOS_VERSION=1");
  ASSERT_FALSE(platform::deleteFile(folder.file("b.rom")).failed());
  EXPECT_FALSE(platform::fileExists(folder.file("b.rom")));
}

TEST(Files, AtomicWriteReplacesWholeAndLeavesNoTemporaryFile) {
  winetest::TemporaryFolder folder;
  const std::string target = folder.file("machine.ini");
  ASSERT_FALSE(platform::writeFileAtomic(target, std::string(5000, 'o')).failed());
  ASSERT_FALSE(platform::writeFileAtomic(target, "short").failed());
  EXPECT_EQ(read(target), "short");

  // Into a missing folder: a failure, and nothing left behind.
  EXPECT_EQ(platform::writeFileAtomic(folder.file("absent\\x.ini"), "x").code, platform::kErrorPathNotFound);

  WIN32_FIND_DATAW found{};
  const std::wstring pattern = platform::win32::toWide(folder.file("*"));
  HANDLE search = FindFirstFileW(pattern.c_str(), &found);
  ASSERT_NE(search, INVALID_HANDLE_VALUE);
  std::string names;
  do {
    const std::string name = platform::win32::toUtf8(found.cFileName);
    if (name != "." && name != "..") names += name + " ";
  } while (FindNextFileW(search, &found));
  FindClose(search);
  EXPECT_EQ(names, "machine.ini ");
}

TEST(Files, AppendFileAppendsExactBytesAndSharesOnlyReading) {
  winetest::TemporaryFolder folder;
  const std::string log = folder.file("OrvoVbInst.txt");
  {
    platform::AppendFile file;
    EXPECT_FALSE(file.isOpen());
    EXPECT_TRUE(file.write("lost").failed()) << "writing to a closed file is not success";
    ASSERT_FALSE(file.open(log).failed());
    ASSERT_FALSE(file.write("[12/7/2026 9:48:52 PM] \r\n").failed());
    ASSERT_FALSE(file.flush().failed());
    // Others may read the log while it is open, but not write to it.
    EXPECT_EQ(read(log), "[12/7/2026 9:48:52 PM] \r\n");
    platform::AppendFile second;
    EXPECT_EQ(second.open(log).code, static_cast<uint32_t>(ERROR_SHARING_VIOLATION));

    platform::AppendFile moved(std::move(file));
    EXPECT_TRUE(moved.isOpen());
    ASSERT_FALSE(moved.write("=== VBIOS Installer ===\r\n").failed());
  }
  // A second run appends; nothing is truncated and no byte-order mark added.
  platform::AppendFile again;
  ASSERT_FALSE(again.open(log).failed());
  ASSERT_FALSE(again.write("state 0\r\nÜ").failed());
  ASSERT_FALSE(again.flush().failed());
  EXPECT_EQ(read(log), "[12/7/2026 9:48:52 PM] \r\n=== VBIOS Installer ===\r\nstate 0\r\nÜ");

  EXPECT_EQ(platform::AppendFile().open(folder.file("absent\\log.txt")).code, platform::kErrorPathNotFound);
}

TEST(Paths, ProgramFolderAndEnvironment) {
  const std::string folder = platform::programFolder();
  ASSERT_GE(folder.size(), 3u);
  EXPECT_EQ(folder[1], ':') << folder;
  EXPECT_NE(folder.back(), '\\');
  EXPECT_TRUE(platform::directoryExists(folder));
  EXPECT_TRUE(platform::fileExists(winetest::binProgram("echo_args.exe")));

  // Longer than any first guess of a buffer, and not ASCII.
  const std::string value = std::string(3000, 'p') + "ß日";
  {
    winetest::ScopedEnvironment set("OVVB_WINE_TEST_VALUE", value);
    EXPECT_EQ(platform::environmentVariable("OVVB_WINE_TEST_VALUE"), value);
  }
  EXPECT_EQ(platform::environmentVariable("OVVB_WINE_TEST_VALUE"), "");
}

}  // namespace
