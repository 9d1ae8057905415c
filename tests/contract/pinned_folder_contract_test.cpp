// What every pinned folder backend promises (platform/pinned_folder.h),
// checked with the same source against posix natively and win32 under Wine:
// what open() makes, moves aside or refuses, copies that replace what is
// there, and a package copied whole or not at all. Links, owners, modes and
// DACLs are each backend's own tests.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/files.h"
#include "platform/pinned_folder.h"
#include "tests/contract/machine.h"

namespace {

using contract::Machine;
using platform::PinnedFolder;

TEST(PinnedFolderContract, NeverMakesNothingAndAFileInTheWayIsMovedAside) {
  Machine machine;
  const std::string parent = machine.file("ProgramData");
  PinnedFolder pinned;
  EXPECT_EQ(pinned.open(parent, "Orvo\\VBIOS", PinnedFolder::Make::Never).code, platform::kErrorPathNotFound);
  EXPECT_FALSE(platform::directoryExists(parent));
  EXPECT_FALSE(pinned.isOpen());
  EXPECT_EQ(pinned.copyIn(machine.file("x"), "x").code, platform::kErrorInvalidHandle);
  EXPECT_EQ(pinned.remove("x").code, platform::kErrorInvalidHandle);
  EXPECT_EQ(pinned.copyFolderIn(machine.file("x"), {1, 1, 1}).error.code, platform::kErrorInvalidHandle);
  EXPECT_EQ(pinned.clear().code, platform::kErrorInvalidHandle);
  ASSERT_FALSE(platform::createDirectories(parent + "\\Orvo").failed());
  EXPECT_EQ(pinned.open(parent, "Orvo\\VBIOS", PinnedFolder::Make::Never).code, platform::kErrorPathNotFound);

  ASSERT_FALSE(platform::writeFileAtomic(parent + "\\Orvo\\VBIOS", "a file").failed());
  EXPECT_EQ(pinned.open(parent, "Orvo\\VBIOS", PinnedFolder::Make::Never).code, platform::kErrorDirectory);
  EXPECT_TRUE(pinned.movedAside().empty()) << "Make::Never changes nothing";
  const platform::Error opened = pinned.open(parent, "Orvo\\VBIOS");
  ASSERT_FALSE(opened.failed()) << opened.operation << ": " << opened.message;
  EXPECT_EQ(pinned.path(), parent + "\\Orvo\\VBIOS");
  ASSERT_EQ(pinned.movedAside().size(), 1u);
  EXPECT_EQ(pinned.movedAside()[0].rfind(pinned.path() + " -> " + pinned.path() + ".untrusted-", 0), 0u)
      << pinned.movedAside()[0];
  EXPECT_TRUE(platform::directoryExists(pinned.path()));

  PinnedFolder again;
  ASSERT_FALSE(again.open(parent, "Orvo\\VBIOS", PinnedFolder::Make::Never).failed());
  EXPECT_TRUE(again.movedAside().empty());
}

TEST(PinnedFolderContract, CopiesReplaceWhatIsThereAndRefuseOtherNames) {
  Machine machine;
  ASSERT_FALSE(platform::writeFileAtomic(machine.file("new.rom"), "VBIOS_VERSION=2").failed());
  PinnedFolder pinned;
  ASSERT_FALSE(pinned.open(machine.file("ProgramData"), "Orvo\\VBIOS").failed());
  ASSERT_FALSE(platform::writeFileAtomic(pinned.path() + "\\x.rom", "an older, longer copy").failed());

  ASSERT_FALSE(pinned.copyIn(machine.file("new.rom"), "x.rom").failed());
  std::string contents;
  ASSERT_FALSE(platform::readFile(pinned.path() + "\\x.rom", contents, 100).failed());
  EXPECT_EQ(contents, "VBIOS_VERSION=2");

  EXPECT_EQ(pinned.copyIn(machine.file("new.rom"), "sub\\x.rom").code, platform::kErrorInvalidName);
  EXPECT_EQ(pinned.copyIn(machine.file("new.rom"), "..").code, platform::kErrorInvalidName);
  EXPECT_EQ(pinned.remove("..").code, platform::kErrorInvalidName);
  EXPECT_EQ(pinned.copyIn(machine.file("absent.rom"), "y.rom").code, platform::kErrorFileNotFound);

  EXPECT_FALSE(pinned.remove("x.rom").failed());
  EXPECT_FALSE(platform::fileExists(pinned.path() + "\\x.rom"));
  EXPECT_EQ(pinned.remove("x.rom").code, platform::kErrorFileNotFound);
  ASSERT_FALSE(platform::createDirectories(pinned.path() + "\\sub").failed());
  EXPECT_EQ(pinned.remove("sub").code, platform::kErrorAccessDenied) << "remove() deletes files only";
  EXPECT_EQ(pinned.copyIn(pinned.path() + "\\sub", "y.rom").code, platform::kErrorAccessDenied);

  // A package on read-only media: its copy must still go at the end.
  machine.setReadOnly("new.rom", true);
  ASSERT_FALSE(pinned.copyIn(machine.file("new.rom"), "x.rom").failed());
  const platform::Error removed = pinned.remove("x.rom");
  EXPECT_FALSE(removed.failed()) << removed.operation << ": " << removed.message;
  machine.setReadOnly("new.rom", false);
}

// A package of 21 bytes in 3 names, 1 level deep, at `source`, and the
// folder it is copied into.
void packageAndCopy(const Machine& machine, const std::string& source, PinnedFolder& pinned) {
  ASSERT_FALSE(platform::createDirectories(source + "\\driver").failed());
  ASSERT_FALSE(platform::writeFileAtomic(source + "\\configs.txt", "VBiosType=KRAMD").failed());
  ASSERT_FALSE(platform::writeFileAtomic(source + "\\driver\\amdtools.sys", "driver").failed());
  ASSERT_FALSE(pinned.open(machine.file("ProgramData"), "Orvo\\Package").failed());
}

TEST(PinnedFolderContract, APackageIsCopiedWholeOrRefusedAtTheBoundAndClearedAfterwards) {
  Machine machine;
  const std::string source = machine.file("packages");
  PinnedFolder pinned;
  ASSERT_NO_FATAL_FAILURE(packageAndCopy(machine, source, pinned));

  // The package's 21 bytes, 3 names and 1 level below it are just allowed.
  const PinnedFolder::CopyOutcome copied = pinned.copyFolderIn(source, {21, 3, 1});
  ASSERT_FALSE(copied.failed()) << copied.error.operation << ": " << copied.error.message;
  std::string contents;
  ASSERT_FALSE(platform::readFile(pinned.path() + "\\driver\\amdtools.sys", contents, 100).failed());
  EXPECT_EQ(contents, "driver");
  ASSERT_FALSE(pinned.clear().failed());
  EXPECT_EQ(machine.names("ProgramData\\Orvo\\Package"), std::vector<std::string>{});
  EXPECT_TRUE(platform::directoryExists(pinned.path()));
  EXPECT_EQ(pinned.copyFolderIn(machine.file("gone"), {21, 3, 1}).error.code, platform::kErrorPathNotFound);
  EXPECT_EQ(pinned.copyFolderIn(source + "\\configs.txt", {21, 3, 1}).error.code, platform::kErrorDirectory);
}

// The checker's walk and the installer's copy are one: each tree over a
// bound is refused by both, for the same reason, at the same path.
TEST(PinnedFolderContract, ACheckRefusesWhatTheCopyRefuses) {
  using Why = platform::CopyRefusal::Why;
  struct Case {
    const char* name;
    PinnedFolder::CopyBounds bounds;
    bool refused;
    Why why;
    const char* at;  // below the source
  } cases[] = {
      {"within every bound", {21, 3, 1}, false, Why::Link, ""},
      {"a byte too many", {20, 3, 1}, true, Why::Bytes, "\\driver\\amdtools.sys"},
      {"a name too many below", {21, 2, 1}, true, Why::Entries, "\\driver"},
      {"a name too many at the top", {21, 1, 1}, true, Why::Entries, ""},
      {"a level too deep", {21, 3, 0}, true, Why::Depth, "\\driver"},
  };
  Machine machine;
  const std::string source = machine.file("packages");
  PinnedFolder pinned;
  ASSERT_NO_FATAL_FAILURE(packageAndCopy(machine, source, pinned));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const PinnedFolder::CopyOutcome copied = pinned.copyFolderIn(source, c.bounds);
    const PinnedFolder::CopyOutcome checked = PinnedFolder::checkFolder(source, c.bounds);
    EXPECT_FALSE(copied.error.failed()) << copied.error.operation << ": " << copied.error.message;
    EXPECT_FALSE(checked.error.failed()) << checked.error.operation << ": " << checked.error.message;
    ASSERT_EQ(copied.refused.size(), c.refused ? 1u : 0u);
    ASSERT_EQ(checked.refused.size(), copied.refused.size());
    if (c.refused) {
      EXPECT_EQ(copied.refused[0].why, c.why);
      EXPECT_EQ(copied.refused[0].path, source + c.at);
      EXPECT_EQ(checked.refused[0].why, c.why);
      EXPECT_EQ(checked.refused[0].path, copied.refused[0].path);
    }
    ASSERT_FALSE(pinned.clear().failed());
  }
  EXPECT_EQ(machine.names("packages\\driver"), std::vector<std::string>{"amdtools.sys"})
      << "a check copies nothing";
}

}  // namespace
