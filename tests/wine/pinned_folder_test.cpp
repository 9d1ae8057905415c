// The working folder's protection on Windows: made with a DACL that lets
// only the administrators and the system in, a copied package and an older
// folder closed the same way, another user's folder moved aside, pinned
// against renaming while held. What every backend promises is
// tests/contract/pinned_folder_contract_test.cpp.
#include "platform/pinned_folder.h"

#include <gtest/gtest.h>
#include <windows.h>
// After windows.h, which declares the types these build on.
#include <aclapi.h>
#include <sddl.h>

#include <cstdio>
#include <string>
#include <vector>

#include "platform/files.h"
#include "platform/win32/scoped_handle.h"
#include "platform/win32/trusted_owner.h"
#include "platform/win32/wide_text.h"
#include "tests/wine/wine_test_support.h"

namespace {

using platform::win32::toWide;

bool runningUnderWine() {
  return GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
}

// This program's own user, as its token names it; empty if it cannot be read.
std::vector<BYTE> ownUser() {
  HANDLE raw = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &raw)) return {};
  const platform::win32::ScopedHandle token(raw);
  union {
    TOKEN_USER user;
    BYTE bytes[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
  } self{};
  DWORD size = 0;
  if (!GetTokenInformation(token.get(), TokenUser, &self, sizeof(self), &size)) return {};
  const auto* sid = static_cast<const BYTE*>(self.user.User.Sid);
  return std::vector<BYTE>(sid, sid + GetLengthSid(self.user.User.Sid));
}

// A file planted by another program at `path` and held open by it, without
// delete sharing or with no sharing at all, while this is in scope.
class HeldOpen {
 public:
  HeldOpen(const std::string& path, bool shareNothing) {
    static int count = 0;
    const std::wstring event =
        L"Local\\ovvb-held-" + std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(++count);
    ready_.reset(CreateEventW(nullptr, TRUE, FALSE, event.c_str()));
    std::wstring command = L"\"" + toWide(winetest::binProgram("hold_open.exe")) + L"\" \"" + toWide(path) +
                           L"\" " + event + (shareNothing ? L" none" : L"");
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION started{};
    if (!ready_ || !CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                                   &startup, &started))
      return;
    process_.reset(started.hProcess);
    platform::win32::ScopedHandle thread(started.hThread);
    const HANDLE waited[] = {ready_.get(), process_.get()};
    held_ = WaitForMultipleObjects(2, waited, FALSE, 20000) == WAIT_OBJECT_0;
  }
  ~HeldOpen() {
    if (!process_) return;
    TerminateProcess(process_.get(), 0);
    WaitForSingleObject(process_.get(), 10000);
  }
  bool held() const { return held_; }

 private:
  platform::win32::ScopedHandle ready_, process_;
  bool held_ = false;
};

// Who besides the system, the administrators and this program's own user may
// read, write into, delete or re-own the folder, as the read-back DACL says. Wine
// keeps no DACL of its own but maps one onto the Unix mode bits and back,
// so this is asked of what the system reports, not of the text we set.
std::string otherAccessors(const std::string& path) {
  PSECURITY_DESCRIPTOR raw = nullptr;
  PACL dacl = nullptr;
  if (GetNamedSecurityInfoW(toWide(path).c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr,
                            &dacl, nullptr, &raw) != ERROR_SUCCESS)
    return "(unreadable)";
  const platform::win32::ScopedLocalMemory descriptor(raw);
  if (dacl == nullptr) return "everyone (no DACL)";
  std::vector<BYTE> self = ownUser();
  std::string others;
  for (DWORD i = 0; i < dacl->AceCount; ++i) {
    void* ace = nullptr;
    if (!GetAce(dacl, i, &ace)) return "(unreadable ACE)";
    const auto* header = static_cast<ACE_HEADER*>(ace);
    if (header->AceType != ACCESS_ALLOWED_ACE_TYPE) continue;
    const auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(ace);
    // Wine maps a DACL onto the Unix mode bits and back, and keeps read and
    // list for everyone whatever the DACL says; there only writing is asked.
    constexpr DWORD kWriting = FILE_WRITE_DATA | FILE_APPEND_DATA | FILE_WRITE_EA | FILE_DELETE_CHILD |
                               FILE_WRITE_ATTRIBUTES | DELETE | WRITE_DAC | WRITE_OWNER | GENERIC_WRITE |
                               GENERIC_ALL;
    if ((allowed->Mask & (runningUnderWine() ? kWriting : ~DWORD{0})) == 0) continue;
    const PSID sid = const_cast<DWORD*>(&allowed->SidStart);
    if (IsWellKnownSid(sid, WinLocalSystemSid) || IsWellKnownSid(sid, WinBuiltinAdministratorsSid) ||
        (!self.empty() && EqualSid(sid, self.data())))
      continue;
    LPWSTR text = nullptr;
    if (ConvertSidToStringSidW(sid, &text)) {
      const platform::win32::ScopedLocalMemory ownedText(text);
      char mask[16];
      std::snprintf(mask, sizeof(mask), ":%#lx ", static_cast<unsigned long>(allowed->Mask));
      others += platform::win32::toUtf8(text) + mask;
    }
  }
  return others;
}

TEST(PinnedFolder, NewAndOlderFoldersAreReachableByAdministratorsAndSystemAlone) {
  winetest::TemporaryFolder folder;
  const std::string parent = folder.file("ProgramData");
  {
    platform::PinnedFolder pinned;
    const platform::Error error = pinned.open(parent, "Orvo\\VBIOS");
    ASSERT_FALSE(error.failed()) << error.operation << ": " << error.message;
    EXPECT_EQ(otherAccessors(pinned.path()), "");
    EXPECT_EQ(otherAccessors(parent + "\\Orvo"), "") << "not even listed by others";
    // A package copied in is closed the same way.
    ASSERT_FALSE(platform::createDirectories(folder.file("packages\\driver")).failed());
    ASSERT_FALSE(pinned.copyFolderIn(folder.file("packages"), {100, 3, 1}).failed());
    EXPECT_EQ(otherAccessors(pinned.path() + "\\driver"), "");
  }
  // Made by an earlier program so that everyone may write into it.
  const std::string older = parent + "\\Older";
  ASSERT_TRUE(CreateDirectoryW(toWide(older).c_str(), nullptr));
  PSECURITY_DESCRIPTOR raw = nullptr;
  ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:(A;OICI;FA;;;WD)", SDDL_REVISION_1,
                                                                   &raw, nullptr));
  const platform::win32::ScopedLocalMemory everyone(raw);
  PACL open = nullptr;
  BOOL present = FALSE, defaulted = FALSE;
  ASSERT_TRUE(GetSecurityDescriptorDacl(raw, &present, &open, &defaulted));
  ASSERT_EQ(SetNamedSecurityInfoW(toWide(older).data(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                                  nullptr, open, nullptr),
            static_cast<DWORD>(ERROR_SUCCESS));
  ASSERT_NE(otherAccessors(older), "") << "the older folder is not open to everyone to begin with";

  platform::PinnedFolder pinned;
  ASSERT_FALSE(pinned.open(parent, "Older").failed());
  EXPECT_EQ(otherAccessors(older), "");
}

// Wine does not refuse to rename a folder that another handle holds without
// sharing deletion; Windows does, and this is what pins the folder there.
TEST(PinnedFolder, HeldFolderCannotBeRenamedAway) {
  if (runningUnderWine()) GTEST_SKIP() << "Wine lets a held folder be renamed";
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

TEST(PinnedFolder, AFolderOfAnotherAccountIsMovedAside) {
  winetest::TemporaryFolder folder;
  const std::string parent = folder.file("ProgramData");
  ASSERT_FALSE(platform::createDirectories(parent + "\\Orvo\\VBIOS").failed());
  platform::PinnedFolder pinned;
  PSID users = nullptr;
  ASSERT_TRUE(ConvertStringSidToSidW(L"S-1-5-21-1111111111-2222222222-3333333333-1001", &users));
  const platform::win32::ScopedLocalMemory ownedUsers(users);
  const DWORD given = SetNamedSecurityInfoW(toWide(parent + "\\Orvo\\VBIOS").data(), SE_FILE_OBJECT,
                                            OWNER_SECURITY_INFORMATION, users, nullptr, nullptr, nullptr);
  PSID owner = nullptr;
  PSECURITY_DESCRIPTOR ownerMemory = nullptr;
  GetNamedSecurityInfoW(toWide(parent + "\\Orvo\\VBIOS").c_str(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION,
                        &owner, nullptr, nullptr, nullptr, &ownerMemory);
  const platform::win32::ScopedLocalMemory ownedOwnerMemory(ownerMemory);
  // Wine reports "success" but keeps the Unix owner: the linux tests cover it there.
  if (given != ERROR_SUCCESS || owner == nullptr || !EqualSid(owner, users))
    GTEST_SKIP() << "the folder cannot be given to another account here (" << given << ")";
  EXPECT_EQ(pinned.open(parent, "Orvo\\VBIOS", platform::PinnedFolder::Make::Never).code,
            platform::kErrorInvalidOwner);
  ASSERT_FALSE(pinned.open(parent, "Orvo\\VBIOS").failed());
  EXPECT_EQ(pinned.movedAside().size(), 1u) << "another user's folder is not used";
  EXPECT_EQ(otherAccessors(pinned.path()), "");
}

TEST(PinnedFolder, OnlyTheAdministratorsTheSystemAndTrustedInstallerAreTrustedOwners) {
  const struct {
    const wchar_t* sid;
    bool trusted;
  } cases[] = {
      {L"BA", true},
      {L"SY", true},
      {L"S-1-5-80-956008885-3425870106-3131436437-3526398217-1311993564", true},
      {L"BU", false},
      {L"WD", false},
      {L"S-1-5-21-1111111111-2222222222-3333333333-1001", false},
  };
  for (const auto& c : cases) {
    PSID sid = nullptr;
    ASSERT_TRUE(ConvertStringSidToSidW(c.sid, &sid));
    const platform::win32::ScopedLocalMemory owned(sid);
    EXPECT_EQ(platform::win32::isTrustedOwner(sid), c.trusted) << platform::win32::toUtf8(c.sid);
  }
  // This program's own user is shared by every unelevated program of the same person.
  std::vector<BYTE> self = ownUser();
  ASSERT_FALSE(self.empty());
  EXPECT_FALSE(platform::win32::isTrustedOwner(self.data()));
}

// Held open by another program, a plant cannot be moved, whatever is done
// to its owner and DACL: the run works beside it rather than stop.
TEST(PinnedFolder, APlantHeldOpenIsWorkedBesideNeverALastingStop) {
  for (const bool shareNothing : {false, true}) {
    SCOPED_TRACE(shareNothing ? "no sharing" : "no delete sharing");
    winetest::TemporaryFolder folder;
    const std::string parent = folder.file("ProgramData");
    ASSERT_FALSE(platform::createDirectories(parent + "\\Orvo").failed());
    ASSERT_FALSE(platform::writeFileAtomic(folder.file("new.rom"), "VBIOS_VERSION=2").failed());
    HeldOpen plant(parent + "\\Orvo\\VBIOS", shareNothing);
    ASSERT_TRUE(plant.held());
    platform::PinnedFolder pinned;
    const platform::Error error = pinned.open(parent, "Orvo\\VBIOS");
    ASSERT_FALSE(error.failed()) << error.operation << ": " << error.message;
    EXPECT_EQ(pinned.path().rfind(parent + "\\Orvo\\VBIOS.", 0), 0u) << pinned.path();
    EXPECT_TRUE(pinned.movedAside().empty());
    ASSERT_EQ(pinned.notFreed().size(), 1u);
    EXPECT_EQ(pinned.notFreed()[0].rfind(parent + "\\Orvo\\VBIOS -> " + pinned.path() + " (", 0), 0u)
        << pinned.notFreed()[0];
    EXPECT_EQ(otherAccessors(pinned.path()), "");
    EXPECT_FALSE(pinned.copyIn(folder.file("new.rom"), "x.rom").failed());
    EXPECT_TRUE(platform::fileExists(parent + "\\Orvo\\VBIOS")) << "the plant is left where it is";
    EXPECT_FALSE(pinned.remove("x.rom").failed());
  }
}

// A DACL that denies the administrators even reading it does not keep them out.
TEST(PinnedFolder, AFolderClosedToTheAdministratorsIsTakenOver) {
  winetest::TemporaryFolder folder;
  const std::string parent = folder.file("ProgramData");
  ASSERT_FALSE(platform::createDirectories(parent + "\\Orvo").failed());
  PSECURITY_DESCRIPTOR raw = nullptr;
  ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(
      L"D:P(D;OICI;RCWDWO;;;BA)(D;OICI;RCWDWO;;;SY)(A;OICI;FA;;;WD)", SDDL_REVISION_1, &raw, nullptr));
  const platform::win32::ScopedLocalMemory closed(raw);
  SECURITY_ATTRIBUTES attributes{sizeof(attributes), raw, FALSE};
  ASSERT_TRUE(CreateDirectoryW(toWide(parent + "\\Orvo\\VBIOS").c_str(), &attributes));
  platform::PinnedFolder pinned;
  const platform::Error error = pinned.open(parent, "Orvo\\VBIOS");
  ASSERT_FALSE(error.failed()) << error.operation << ": " << error.message;
  EXPECT_TRUE(pinned.notFreed().empty());
  EXPECT_EQ(otherAccessors(pinned.path()), "");
}

}  // namespace
