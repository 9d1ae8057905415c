#include "platform/pinned_folder.h"

#include <windows.h>
// After windows.h, which declares the types these build on.
#include <aclapi.h>
#include <sddl.h>

#include <string>
#include <vector>

#include "platform/files.h"
#include "platform/folder_names.h"
#include "platform/win32/scoped_handle.h"
#include "platform/win32/wide_text.h"

namespace platform {

namespace {

// The system and the administrators may do anything; other users may look.
// Protected, so nothing inherited from C:\ProgramData (where every user may
// create and write) reaches the folder.
constexpr wchar_t kWorkingFolderSddl[] = L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)";

Error lastError(const char* function, std::string_view path) {
  const DWORD code = GetLastError();
  return makeError(code != 0 ? code : kErrorGenericFailure, std::string(function) + " " + std::string(path));
}

struct SecurityDescriptor {
  win32::ScopedLocalMemory memory;
  PSECURITY_DESCRIPTOR get() const { return memory.get(); }
};

Error workingFolderSecurity(SecurityDescriptor& descriptor) {
  PSECURITY_DESCRIPTOR raw = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(kWorkingFolderSddl, SDDL_REVISION_1, &raw,
                                                            nullptr))
    return lastError("ConvertStringSecurityDescriptorToSecurityDescriptorW", "working folder");
  descriptor.memory.reset(raw);
  return {};
}

// The administrators, the system and this program's own user (an elevated
// program's folders belong to the administrators; with UAC off, to the user).
bool isTrustedOwner(PSID owner) {
  if (owner == nullptr || !IsValidSid(owner)) return false;
  if (IsWellKnownSid(owner, WinBuiltinAdministratorsSid) || IsWellKnownSid(owner, WinLocalSystemSid))
    return true;
  HANDLE raw = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &raw)) return false;
  const win32::ScopedHandle token(raw);
  union {
    TOKEN_USER user;
    BYTE bytes[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
  } buffer{};
  DWORD size = 0;
  if (!GetTokenInformation(token.get(), TokenUser, &buffer, sizeof(buffer), &size)) return false;
  return EqualSid(owner, buffer.user.User.Sid) != FALSE;
}

std::string sidText(PSID sid) {
  LPWSTR text = nullptr;
  if (sid == nullptr || !ConvertSidToStringSidW(sid, &text)) return "an unknown account";
  const win32::ScopedLocalMemory owned(text);
  return win32::toUtf8(text);
}

}  // namespace

struct PinnedFolder::Impl {
  std::vector<win32::ScopedHandle> folders;  // outermost first, the working folder last
  std::string path;
};

PinnedFolder::PinnedFolder() = default;
PinnedFolder::~PinnedFolder() = default;
PinnedFolder::PinnedFolder(PinnedFolder&&) noexcept = default;
PinnedFolder& PinnedFolder::operator=(PinnedFolder&&) noexcept = default;

Error PinnedFolder::open(std::string_view parent, std::string_view below, Make make) {
  close();
  std::vector<std::string_view> names;
  if (Error error = preparePinnedFolder(parent, below, make == Make::IfMissing, "CreateFileW", names);
      error.failed())
    return error;
  SecurityDescriptor security;
  if (make == Make::IfMissing) {
    if (Error error = workingFolderSecurity(security); error.failed()) return error;
  }

  auto impl = std::make_unique<Impl>();
  impl->path = parent;
  for (size_t i = 0; i < names.size(); ++i) {
    impl->path += '\\';
    impl->path += names[i];
    const std::wstring wide = win32::toWide(impl->path);
    const bool working = i + 1 == names.size();
    if (make == Make::IfMissing) {
      SECURITY_ATTRIBUTES attributes{sizeof(attributes), security.get(), FALSE};
      if (!CreateDirectoryW(wide.c_str(), working ? &attributes : nullptr) &&
          GetLastError() != ERROR_ALREADY_EXISTS)
        return lastError("CreateDirectoryW", impl->path);
    }
    // Not following a reparse point, and not sharing deletion: while this
    // handle is open nobody can rename, remove or replace the folder, nor a
    // folder above it, so the path keeps meaning this folder.
    const DWORD access =
        READ_CONTROL | FILE_READ_ATTRIBUTES | (working && make == Make::IfMissing ? WRITE_DAC : 0);
    win32::ScopedHandle folder(
        CreateFileW(wide.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                    FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!folder) return lastError("CreateFileW", impl->path);
    BY_HANDLE_FILE_INFORMATION information{};
    if (!GetFileInformationByHandle(folder.get(), &information))
      return lastError("GetFileInformationByHandle", impl->path);
    // By the handle, and by the name as well: Wine opens a Unix symbolic
    // link's target even when asked not to, and shows the link only by name.
    if ((information.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 ||
        isLinkOrReparsePoint(impl->path))
      return makeError(kErrorReparsePointEncountered, impl->path);
    if ((information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0)
      return makeError(kErrorDirectory, "CreateFileW " + impl->path);

    // Whoever owns a folder may change who writes into it.
    PSID owner = nullptr;
    PSECURITY_DESCRIPTOR ownerDescriptor = nullptr;
    const DWORD status = GetSecurityInfo(folder.get(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner,
                                         nullptr, nullptr, nullptr, &ownerDescriptor);
    const win32::ScopedLocalMemory ownerMemory(ownerDescriptor);
    if (status != ERROR_SUCCESS) return makeError(status, "GetSecurityInfo " + impl->path);
    if (!isTrustedOwner(owner)) {
      return makeError(kErrorInvalidOwner,
                       "CreateFileW " + impl->path + " (owned by " + sidText(owner) +
                           ", not the administrators, the system or this program's user)");
    }

    if (working && make == Make::IfMissing) {
      // Made by an earlier run or another program, it may still let every
      // user write; from now on it does not.
      PACL dacl = nullptr;
      BOOL present = FALSE, defaulted = FALSE;
      if (!GetSecurityDescriptorDacl(security.get(), &present, &dacl, &defaulted))
        return lastError("GetSecurityDescriptorDacl", impl->path);
      const DWORD set = SetSecurityInfo(folder.get(), SE_FILE_OBJECT,
                                        DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
                                        nullptr, nullptr, dacl, nullptr);
      if (set != ERROR_SUCCESS) return makeError(set, "SetSecurityInfo " + impl->path);
    }
    impl->folders.push_back(std::move(folder));
  }
  path_ = impl->path;
  impl_ = std::move(impl);
  return {};
}

Error PinnedFolder::copyIn(std::string_view from, std::string_view name) {
  const std::string target = path() + "\\" + std::string(name);
  const std::string operation = std::string(from) + " -> " + target;
  if (!impl_) return makeError(kErrorInvalidHandle, "CopyFileW " + operation);
  if (!isPlainName(name)) return makeError(kErrorInvalidName, "CopyFileW " + operation);
  const std::wstring wideTarget = win32::toWide(target);
  // A link of that name is removed, not written through; only the
  // administrators and the system can make a new one before the copy.
  if (!DeleteFileW(wideTarget.c_str()) && GetLastError() != ERROR_FILE_NOT_FOUND)
    return lastError("DeleteFileW", target);
  if (!CopyFileW(win32::toWide(from).c_str(), wideTarget.c_str(), TRUE))
    return lastError("CopyFileW", operation);
  // CopyFileW carries a read-only source's attribute over, and a read-only
  // copy could not be deleted at the end of the run.
  const DWORD attributes = GetFileAttributesW(wideTarget.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0 &&
      !SetFileAttributesW(wideTarget.c_str(), attributes & ~DWORD{FILE_ATTRIBUTE_READONLY}))
    return lastError("SetFileAttributesW", target);
  return {};
}

Error PinnedFolder::remove(std::string_view name) {
  const std::string target = path() + "\\" + std::string(name);
  if (!impl_) return makeError(kErrorInvalidHandle, "DeleteFileW " + target);
  if (!isPlainName(name)) return makeError(kErrorInvalidName, "DeleteFileW " + target);
  if (!DeleteFileW(win32::toWide(target).c_str())) return lastError("DeleteFileW", target);
  return {};
}

void PinnedFolder::close() {
  impl_.reset();
  path_.clear();
}

}  // namespace platform
