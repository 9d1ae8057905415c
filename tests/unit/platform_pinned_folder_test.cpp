#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "platform/pinned_folder.h"
#include "tests/unit/test_machine.h"

namespace {

namespace fs = std::filesystem;
using platform::PinnedFolder;
using testing_machine::readNativeFile;
using testing_machine::TestMachine;
using testing_machine::writeNativeFile;

TEST(PinnedFolder, ALinkOnTheWayIsRefusedByItsExactName) {
  TestMachine machine;
  const fs::path c = machine.root() / "drive_c";
  fs::create_directories(c / "Elsewhere");
  fs::create_directories(c / "ProgramData");
  fs::create_directory_symlink(c / "Elsewhere", c / "ProgramData" / "Orvo");
  PinnedFolder folder;
  platform::Error error = folder.open("C:\\ProgramData", "Orvo\\VBIOS");
  EXPECT_EQ(error.code, platform::kErrorReparsePointEncountered);
  EXPECT_EQ(error.operation, "C:\\ProgramData\\Orvo");
  EXPECT_FALSE(fs::exists(c / "Elsewhere" / "VBIOS")) << "made a folder through the link";

  fs::create_directory_symlink(c / "Elsewhere", c / "Linked");
  error = folder.open("C:\\Linked", "VBIOS");
  EXPECT_EQ(error.code, platform::kErrorReparsePointEncountered) << "the parent is checked too";
  EXPECT_EQ(error.operation, "C:\\Linked");
  EXPECT_FALSE(folder.isOpen());
}

TEST(PinnedFolder, CopyAndRemoveWorkThroughTheFolderAndNeverThroughALink) {
  TestMachine machine;
  const fs::path c = machine.root() / "drive_c";
  writeNativeFile(c / "new.rom", "VBIOS_VERSION=2");
  writeNativeFile(c / "system.dll", "system file");
  PinnedFolder folder;
  ASSERT_FALSE(folder.open("C:\\ProgramData", "Orvo\\VBIOS").failed());
  const fs::path working = c / "ProgramData" / "Orvo" / "VBIOS";
  fs::create_symlink(c / "system.dll", working / "x.rom");

  ASSERT_FALSE(folder.copyIn("C:\\new.rom", "x.rom").failed());
  EXPECT_EQ(readNativeFile(c / "system.dll"), "system file");
  EXPECT_FALSE(fs::is_symlink(working / "x.rom"));
  EXPECT_EQ(readNativeFile(working / "x.rom"), "VBIOS_VERSION=2");

  fs::remove(working / "x.rom");
  fs::create_symlink(c / "system.dll", working / "x.rom");
  EXPECT_FALSE(folder.remove("x.rom").failed());
  EXPECT_FALSE(fs::exists(fs::symlink_status(working / "x.rom")));
  EXPECT_EQ(readNativeFile(c / "system.dll"), "system file") << "deleted what the link led to";
  EXPECT_EQ(folder.remove("x.rom").code, platform::kErrorFileNotFound);

  EXPECT_EQ(folder.copyIn("C:\\new.rom", "sub\\x.rom").code, platform::kErrorInvalidName);
  EXPECT_EQ(folder.remove("..").code, platform::kErrorInvalidName);
  EXPECT_EQ(folder.copyIn("C:\\absent.rom", "y.rom").code, platform::kErrorFileNotFound);
}

TEST(PinnedFolder, NeverMakesNothingAndChangesNothing) {
  TestMachine machine;
  const fs::path c = machine.root() / "drive_c";
  PinnedFolder folder;
  const platform::Error missing = folder.open("C:\\ProgramData", "Orvo\\VBIOS", PinnedFolder::Make::Never);
  EXPECT_TRUE(missing.failed());
  EXPECT_FALSE(fs::exists(c / "ProgramData"));

  fs::create_directories(c / "ProgramData" / "Orvo" / "VBIOS");
  fs::permissions(c / "ProgramData" / "Orvo" / "VBIOS", fs::perms::all);
  ASSERT_FALSE(folder.open("C:\\ProgramData", "Orvo\\VBIOS", PinnedFolder::Make::Never).failed());
  EXPECT_EQ(fs::status(c / "ProgramData" / "Orvo" / "VBIOS").permissions(), fs::perms::all);
}

}  // namespace
