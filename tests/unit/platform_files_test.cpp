// The posix files backend's own promises; what every backend promises is
// tests/contract/files_contract_test.cpp.
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

TEST(Files, CopyKeepsAProgramRunnable) {
  TestMachine machine;
  const fs::path source = machine.root() / "drive_c" / "pkg" / "tool.exe";
  writeNativeFile(source, "#!/bin/sh\n");
  fs::permissions(source, fs::perms::owner_all);
  ASSERT_FALSE(platform::copyFile("C:\\pkg\\tool.exe", "c:/copy.exe").failed());
  const fs::path copy = machine.root() / "drive_c" / "copy.exe";
  EXPECT_EQ(readNativeFile(copy), "#!/bin/sh\n");
  EXPECT_NE(fs::status(copy).permissions() & fs::perms::owner_exec, fs::perms::none);
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
