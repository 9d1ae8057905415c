// What every files backend promises (platform/files.h), checked with the same
// source against posix natively and win32 under Wine: the error codes the
// core tells apart, bounded reads, atomic replacement and the log's
// append-only, read-shared file.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/files.h"
#include "tests/contract/machine.h"

namespace {

using contract::Machine;

std::string read(const std::string& path) {
  std::string contents;
  const platform::Error error = platform::readFile(path, contents, 1 << 20);
  EXPECT_FALSE(error.failed()) << error.operation << ": " << error.message;
  return contents;
}

TEST(FilesContract, EachFailureHasTheCodeTheCoreTellsApart) {
  Machine machine;
  ASSERT_FALSE(platform::createDirectories(machine.file("work")).failed());
  ASSERT_FALSE(platform::writeFileAtomic(machine.file("work\\Log"), "a file").failed());
  const std::string folder = machine.file("work");
  std::string contents = "stale";
  platform::AppendFile log;
  struct Case {
    const char* what;
    platform::Error error;
    uint32_t code;
  } cases[] = {
      {"read, missing file", platform::readFile(machine.file("work\\absent.txt"), contents, 100),
       platform::kErrorFileNotFound},
      {"read, missing folder", platform::readFile(machine.file("work\\absent\\configs.txt"), contents, 100),
       platform::kErrorPathNotFound},
      {"read, a folder", platform::readFile(folder, contents, 100), platform::kErrorAccessDenied},
      {"delete, missing file", platform::deleteFile(machine.file("work\\absent.rom")),
       platform::kErrorFileNotFound},
      {"delete, a folder", platform::deleteFile(folder), platform::kErrorAccessDenied},
      {"copy, missing source",
       platform::copyFile(machine.file("work\\absent.rom"), machine.file("work\\c.rom")),
       platform::kErrorFileNotFound},
      {"copy, onto a folder", platform::copyFile(machine.file("work\\Log"), folder),
       platform::kErrorAccessDenied},
      {"write, missing folder", platform::writeFileAtomic(machine.file("work\\absent\\x.ini"), "x"),
       platform::kErrorPathNotFound},
      {"append, missing folder", log.open(machine.file("work\\absent\\log.txt")),
       platform::kErrorPathNotFound},
      {"append, not open", log.write("lost"), platform::kErrorInvalidHandle},
      {"flush, not open", log.flush(), platform::kErrorInvalidHandle},
      // A file where a folder should be is a failure, never a silent success.
      {"folder, a file of its name", platform::createDirectories(machine.file("work\\Log")),
       platform::kErrorAlreadyExists},
      {"folder, a file above it", platform::createDirectories(machine.file("work\\Log\\Inner")),
       platform::kErrorPathNotFound},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.error.code, c.code) << c.what << ": " << c.error.operation;
    EXPECT_FALSE(c.error.message.empty()) << c.what;
  }
  EXPECT_TRUE(contents.empty());
  EXPECT_FALSE(log.isOpen());
  EXPECT_EQ(machine.names("work"), std::vector<std::string>{"Log"}) << "a failed write leaves nothing behind";
}

TEST(FilesContract, FoldersAreMadeWholeAndFilesReadAndReplacedWhole) {
  Machine machine;
  const std::string deep = machine.file("work\\ProgramData\\Orvo\\VBIOS");
  ASSERT_FALSE(platform::createDirectories(deep).failed());
  EXPECT_TRUE(platform::directoryExists(deep));
  EXPECT_FALSE(platform::fileExists(deep));
  EXPECT_FALSE(platform::createDirectories(deep + "\\").failed()) << "an existing folder is success";

  const std::string target = deep + "\\machine.ini";
  const std::string bytes("line 1\r\nline\0 2\n\xEF\xBB\xBFrest", 24);
  ASSERT_FALSE(platform::writeFileAtomic(target, std::string(5000, 'o')).failed());
  ASSERT_FALSE(platform::writeFileAtomic(target, bytes).failed());
  std::string contents;
  ASSERT_FALSE(platform::readFile(target, contents, bytes.size()).failed());
  EXPECT_EQ(contents, bytes) << "read and written byte for byte";
  EXPECT_EQ(platform::readFile(target, contents, bytes.size() - 1).code, platform::kErrorFileTooLarge);
  EXPECT_TRUE(contents.empty()) << "a refused file is not handed over in part";
  EXPECT_TRUE(platform::fileExists(target));
  EXPECT_FALSE(platform::directoryExists(target));
  EXPECT_EQ(machine.names("work\\ProgramData\\Orvo\\VBIOS"), std::vector<std::string>{"machine.ini"})
      << "no temporary file is left";

  const std::string copy = deep + "\\b.rom";
  ASSERT_FALSE(platform::writeFileAtomic(copy, "older and longer contents").failed());
  ASSERT_FALSE(platform::copyFile(target, copy).failed()) << "replaces";
  EXPECT_EQ(read(copy), bytes);
  ASSERT_FALSE(platform::writeFileAtomic(copy, "").failed());
  EXPECT_FALSE(platform::readFile(copy, contents, 0).failed()) << "an empty file is within any bound";
  ASSERT_FALSE(platform::deleteFile(copy).failed());
  EXPECT_FALSE(platform::fileExists(copy));
}

TEST(FilesContract, AppendFileAppendsExactBytesSharesEverythingAndYieldsOnlyToAHolder) {
  Machine machine;
  const std::string log = machine.file("OrvoVbInst.txt");
  {
    platform::AppendFile file;
    EXPECT_FALSE(file.isOpen());
    ASSERT_FALSE(file.open(log).failed());
    EXPECT_TRUE(file.isOpen());
    ASSERT_FALSE(file.write("[12/7/2026 9:48:52 PM] \r\n").failed());
    ASSERT_FALSE(file.flush().failed());
    // Others may read the log while it is open, and no reader is turned away.
    EXPECT_EQ(read(log), "[12/7/2026 9:48:52 PM] \r\n");
    platform::AppendFile second;
    EXPECT_FALSE(second.open(log).failed());

    platform::AppendFile moved(std::move(file));
    EXPECT_TRUE(moved.isOpen());
    ASSERT_FALSE(moved.write("=== VBIOS Installer ===\r\n").failed());
  }
  {
    // A second run appends; nothing is truncated and no byte-order mark added.
    platform::AppendFile again;
    ASSERT_FALSE(again.open(log).failed());
    ASSERT_FALSE(again.write("state 0\r\n\xC3\x9C").failed());
    ASSERT_FALSE(again.flush().failed());
    EXPECT_EQ(read(log), "[12/7/2026 9:48:52 PM] \r\n=== VBIOS Installer ===\r\nstate 0\r\n\xC3\x9C");
  }
  // Only a reader that lets no writer in keeps it out, for as long as it
  // holds it (on Windows such a reader cannot come in while a writer is there).
  {
    const auto held = machine.holdAgainstWriters("OrvoVbInst.txt");
    platform::AppendFile blocked;
    EXPECT_EQ(blocked.open(log).code, platform::kErrorSharingViolation);
    EXPECT_FALSE(blocked.isOpen());
  }
  platform::AppendFile freed;
  EXPECT_FALSE(freed.open(log).failed());
  // A file of its own is never an existing name.
  platform::AppendFile fresh;
  EXPECT_EQ(fresh.open(log, platform::AppendFile::Creation::CreateNew).code, platform::kErrorAlreadyExists);
  EXPECT_FALSE(
      fresh.open(machine.file("OrvoVbInst-1.txt"), platform::AppendFile::Creation::CreateNew).failed());
  EXPECT_EQ(read(log), "[12/7/2026 9:48:52 PM] \r\n=== VBIOS Installer ===\r\nstate 0\r\n\xC3\x9C");
}

}  // namespace
