#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <filesystem>
#include <string>

#include "platform/files.h"
#include "platform/posix/scoped_fd.h"
#include "tests/unit/test_machine.h"

namespace {

namespace fs = std::filesystem;
using testing_machine::readNativeFile;
using testing_machine::TestMachine;
using testing_machine::writeNativeFile;

TEST(Files, MissingFileAndMissingFolderGiveDifferentCodes) {
  TestMachine machine;
  std::string contents = "stale";
  EXPECT_EQ(platform::readFile("C:\\Windows\\Log\\none.txt", contents, 100).code,
            platform::kErrorFileNotFound);
  EXPECT_TRUE(contents.empty());
  EXPECT_EQ(platform::readFile("C:\\NoSuchFolder\\none.txt", contents, 100).code,
            platform::kErrorPathNotFound);
  EXPECT_EQ(platform::deleteFile("C:\\Windows\\Log\\none.txt").code, platform::kErrorFileNotFound);
  EXPECT_EQ(platform::copyFile("C:\\none.bin", "C:\\copy.bin").code, platform::kErrorFileNotFound);
  EXPECT_EQ(platform::readFile("D:\\x.txt", contents, 100).code, platform::kErrorPathNotFound);
  EXPECT_EQ(platform::readFile("C:\\Windows", contents, 100).code, platform::kErrorAccessDenied);
}

TEST(Files, ReadRefusesFilesOverTheLimitInsteadOfTruncating) {
  TestMachine machine;
  writeNativeFile(machine.root() / "drive_c" / "ten.txt", "0123456789");
  std::string contents;
  EXPECT_FALSE(platform::readFile("C:\\ten.txt", contents, 10).failed());
  EXPECT_EQ(contents, "0123456789");
  EXPECT_EQ(platform::readFile("C:\\ten.txt", contents, 9).code, platform::kErrorFileTooLarge);
  EXPECT_TRUE(contents.empty());
  writeNativeFile(machine.root() / "drive_c" / "empty.txt", "");
  EXPECT_FALSE(platform::readFile("c:/empty.txt", contents, 0).failed());
}

TEST(Files, WriteAtomicReplacesAndLeavesNoTemporary) {
  TestMachine machine;
  ASSERT_FALSE(platform::createDirectories("C:\\ProgramData\\Orvo\\VBIOS").failed());
  EXPECT_TRUE(platform::directoryExists("C:\\ProgramData\\Orvo\\VBIOS"));
  EXPECT_FALSE(platform::createDirectories("C:\\ProgramData\\Orvo\\VBIOS").failed());  // exists: fine
  ASSERT_FALSE(platform::writeFileAtomic("C:\\ProgramData\\Orvo\\VBIOS\\f.txt", "first version").failed());
  ASSERT_FALSE(platform::writeFileAtomic("C:\\ProgramData\\Orvo\\VBIOS\\f.txt", "second").failed());
  const fs::path folder = machine.root() / "drive_c" / "ProgramData" / "Orvo" / "VBIOS";
  EXPECT_EQ(readNativeFile(folder / "f.txt"), "second");
  EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator()), 1);
  EXPECT_TRUE(platform::fileExists("C:\\ProgramData\\Orvo\\VBIOS\\f.txt"));
  EXPECT_FALSE(platform::fileExists("C:\\ProgramData\\Orvo\\VBIOS"));
  EXPECT_EQ(platform::writeFileAtomic("C:\\NoFolder\\f.txt", "x").code, platform::kErrorPathNotFound);
}

TEST(Files, CreateDirectoriesThroughAFileFails) {
  TestMachine machine;
  writeNativeFile(machine.root() / "drive_c" / "file", "x");
  EXPECT_TRUE(platform::createDirectories("C:\\file").failed());
  EXPECT_EQ(platform::createDirectories("C:\\file\\sub").code, platform::kErrorPathNotFound);
}

TEST(Files, CopyReplacesTheTargetAndKeepsAProgramRunnable) {
  TestMachine machine;
  const fs::path source = machine.root() / "drive_c" / "pkg" / "tool.exe";
  writeNativeFile(source, "#!/bin/sh\n");
  fs::permissions(source, fs::perms::owner_all);
  writeNativeFile(machine.root() / "drive_c" / "copy.exe", "old and longer contents");
  ASSERT_FALSE(platform::copyFile("C:\\pkg\\tool.exe", "C:\\copy.exe").failed());
  const fs::path copy = machine.root() / "drive_c" / "copy.exe";
  EXPECT_EQ(readNativeFile(copy), "#!/bin/sh\n");
  EXPECT_NE(fs::status(copy).permissions() & fs::perms::owner_exec, fs::perms::none);
  EXPECT_EQ(platform::copyFile("C:\\pkg\\tool.exe", "C:\\Windows").code, platform::kErrorAccessDenied);
  ASSERT_FALSE(platform::deleteFile("C:\\copy.exe").failed());
  EXPECT_FALSE(fs::exists(copy));
}

TEST(AppendFile, AppendsAcrossOpensAndRefusesASecondWriter) {
  TestMachine machine;
  const char* path = "C:\\Windows\\Log\\OrvoVbInst.txt";
  {
    platform::AppendFile log;
    EXPECT_FALSE(log.isOpen());
    EXPECT_TRUE(log.write("x").failed());
    ASSERT_FALSE(log.open(path).failed());
    EXPECT_TRUE(log.isOpen());
    EXPECT_FALSE(log.write("one\r\n").failed());
    EXPECT_FALSE(log.flush().failed());
    // Visible to readers at once, before any close.
    EXPECT_EQ(machine.readLog(), "one\r\n");
    platform::AppendFile second;
    EXPECT_EQ(second.open(path).code, platform::kErrorSharingViolation);
    platform::AppendFile moved(std::move(log));
    EXPECT_FALSE(moved.write("two\r\n").failed());
  }
  platform::AppendFile again;
  ASSERT_FALSE(again.open(path).failed());
  EXPECT_FALSE(again.write("three\r\n").failed());
  EXPECT_EQ(machine.readLog(), "one\r\ntwo\r\nthree\r\n");
  platform::AppendFile nowhere;
  EXPECT_EQ(nowhere.open("C:\\Missing\\log.txt").code, platform::kErrorPathNotFound);
  EXPECT_FALSE(nowhere.isOpen());
}

// A caller that resets its descriptor on the way out of a failed call still
// reports that call's errno, even when the close itself fails.
TEST(ScopedFd, ResetKeepsErrno) {
  constexpr int kNeverOpen = 1 << 24;  // above any descriptor limit: close() gives EBADF
  errno = ENOENT;
  ASSERT_EQ(::close(kNeverOpen), -1);
  ASSERT_EQ(errno, EBADF);

  platform::posix::ScopedFd fd(kNeverOpen);
  errno = ENOENT;
  fd.reset();
  EXPECT_EQ(errno, ENOENT);
  EXPECT_FALSE(fd.valid());
}

}  // namespace
