// The working folder as the elevated program opens it: made with a DACL that
// lets only the administrators and the system write, an older folder closed
// the same way, pinned against renaming while held, and copies that never
// write through a name already there.
#include "platform/pinned_folder.h"

#include <gtest/gtest.h>
#include <windows.h>
// After windows.h, which declares the types these build on.
#include <aclapi.h>
#include <sddl.h>

#include <string>

#include "platform/files.h"
#include "platform/win32/scoped_handle.h"
#include "platform/win32/wide_text.h"
#include "tests/wine/wine_test_support.h"

namespace {

using platform::win32::toWide;

std::string daclText(const std::string& path) {
  PSECURITY_DESCRIPTOR raw = nullptr;
  PACL dacl = nullptr;
  if (GetNamedSecurityInfoW(toWide(path).c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr,
                            &dacl, nullptr, &raw) != ERROR_SUCCESS)
    return "(unreadable)";
  const platform::win32::ScopedLocalMemory descriptor(raw);
  LPWSTR text = nullptr;
  if (!ConvertSecurityDescriptorToStringSecurityDescriptorW(raw, SDDL_REVISION_1, DACL_SECURITY_INFORMATION, &text,
                                                            nullptr))
    return "(not convertible)";
  const platform::win32::ScopedLocalMemory owned(text);
  return platform::win32::toUtf8(text);
}

constexpr const char* kOursOnly = "D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)";

TEST(PinnedFolder, NewAndOlderFoldersAreWritableByAdministratorsAndSystemAlone) {
  winetest::TemporaryFolder folder;
  const std::string parent = folder.file("ProgramData");
  {
    platform::PinnedFolder pinned;
    const platform::Error error = pinned.open(parent, "Orvo\\VBIOS");
    ASSERT_FALSE(error.failed()) << error.operation << ": " << error.message;
    EXPECT_EQ(pinned.path(), parent + "\\Orvo\\VBIOS");
    EXPECT_EQ(daclText(pinned.path()), kOursOnly);
    EXPECT_NE(daclText(parent + "\\Orvo"), kOursOnly) << "only the working folder itself is closed";
  }
  // Made by an earlier program with what C:\ProgramData hands down.
  const std::string older = parent + "\\Older";
  ASSERT_TRUE(CreateDirectoryW(toWide(older).c_str(), nullptr));
  platform::PinnedFolder pinned;
  ASSERT_FALSE(pinned.open(parent, "Older").failed());
  EXPECT_EQ(daclText(older), kOursOnly);
}

TEST(PinnedFolder, HeldFolderCannotBeRenamedAway) {
  winetest::TemporaryFolder folder;
  const std::string parent = folder.file("ProgramData");
  const std::wstring working = toWide(parent + "\\Orvo\\VBIOS");
  const std::wstring aside = toWide(parent + "\\Orvo\\Aside");
  {
    platform::PinnedFolder pinned;
    ASSERT_FALSE(pinned.open(parent, "Orvo\\VBIOS").failed());
    EXPECT_FALSE(MoveFileW(working.c_str(), aside.c_str())) << "renamed while held";
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  }
  EXPECT_TRUE(MoveFileW(working.c_str(), aside.c_str())) << "still pinned after close: " << GetLastError();
}

TEST(PinnedFolder, CopiesReplaceWhatIsThereAndRefuseOtherNames) {
  winetest::TemporaryFolder folder;
  const std::string parent = folder.file("ProgramData");
  ASSERT_FALSE(platform::writeFileAtomic(folder.file("new.rom"), "VBIOS_VERSION=2").failed());
  platform::PinnedFolder pinned;
  ASSERT_FALSE(pinned.open(parent, "Orvo\\VBIOS").failed());
  ASSERT_FALSE(platform::writeFileAtomic(pinned.path() + "\\x.rom", "an older, longer copy").failed());

  ASSERT_FALSE(pinned.copyIn(folder.file("new.rom"), "x.rom").failed());
  std::string contents;
  ASSERT_FALSE(platform::readFile(pinned.path() + "\\x.rom", contents, 100).failed());
  EXPECT_EQ(contents, "VBIOS_VERSION=2");

  EXPECT_EQ(pinned.copyIn(folder.file("new.rom"), "sub\\x.rom").code, platform::kErrorInvalidName);
  EXPECT_EQ(pinned.copyIn(folder.file("new.rom"), "..").code, platform::kErrorInvalidName);
  EXPECT_EQ(pinned.copyIn(folder.file("absent.rom"), "y.rom").code, platform::kErrorFileNotFound);

  EXPECT_FALSE(pinned.remove("x.rom").failed());
  EXPECT_FALSE(platform::fileExists(pinned.path() + "\\x.rom"));
  EXPECT_EQ(pinned.remove("x.rom").code, platform::kErrorFileNotFound);
}

TEST(PinnedFolder, NeverMakesNothingAndRefusesAFileInTheWay) {
  winetest::TemporaryFolder folder;
  const std::string parent = folder.file("ProgramData");
  platform::PinnedFolder pinned;
  const platform::Error missing = pinned.open(parent, "Orvo\\VBIOS", platform::PinnedFolder::Make::Never);
  EXPECT_TRUE(missing.code == platform::kErrorFileNotFound || missing.code == platform::kErrorPathNotFound)
      << missing.code;
  EXPECT_FALSE(platform::directoryExists(parent));
  EXPECT_FALSE(pinned.isOpen());

  ASSERT_FALSE(platform::createDirectories(parent + "\\Orvo").failed());
  ASSERT_FALSE(platform::writeFileAtomic(parent + "\\Orvo\\VBIOS", "a file").failed());
  EXPECT_TRUE(pinned.open(parent, "Orvo\\VBIOS").failed());
  EXPECT_FALSE(pinned.isOpen());
  EXPECT_EQ(pinned.copyIn(folder.file("x"), "x").code, platform::kErrorInvalidHandle);
}

}  // namespace
