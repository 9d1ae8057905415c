#include "platform/pinned_folder.h"

#include <windows.h>
// After windows.h, which declares the types these build on.
#include <aclapi.h>
#include <sddl.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "platform/files.h"
#include "platform/folder_names.h"
#include "platform/win32/scoped_handle.h"
#include "platform/win32/wide_text.h"

namespace platform {

namespace {

// The system and the administrators may do anything; nobody else may even
// look (what the flash tool is given, and the package copy, are no other
// program's business). Protected, so nothing inherited from C:\ProgramData
// (where every user may create and write) reaches the folder.
constexpr wchar_t kWorkingFolderSddl[] = L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)";

constexpr DWORD kCopyChunk = DWORD{64} << 10;

// Deeper than this, clear() stops: the folders it clears are the program's
// own, made no deeper than its copies go.
constexpr uint32_t kMaxClearDepth = 64;

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

// A fresh name beside `path` for what stood in its way. Unpredictable, so
// that nobody can take it first; a name that is taken anyway is tried again.
// Renamed through a handle opened on the name itself, not on what a link
// leads to. Wine opens a Unix symbolic link's target even when asked not to
// (and shows the link only by name): there a link cannot be moved without
// moving what it leads to, so it is refused instead.
Error moveAside(const std::string& path, std::string& movedTo) {
  const std::wstring wide = win32::toWide(path);
  win32::ScopedHandle handle(CreateFileW(
      wide.c_str(), DELETE | FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!handle) return lastError("CreateFileW", path);
  BY_HANDLE_FILE_INFORMATION information{};
  if (!GetFileInformationByHandle(handle.get(), &information))
    return lastError("GetFileInformationByHandle", path);
  if ((information.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0 && isLinkOrReparsePoint(path))
    return makeError(kErrorReparsePointEncountered, path);

  std::random_device random;
  for (int attempt = 0; attempt < 8; ++attempt) {
    char suffix[32];
    std::snprintf(suffix, sizeof(suffix), ".untrusted-%08x%08x", random(), random());
    const std::string aside = path + suffix;
    const std::wstring wideAside = win32::toWide(aside);
    const size_t nameBytes = wideAside.size() * sizeof(wchar_t);
    std::vector<BYTE> buffer(sizeof(FILE_RENAME_INFO) + nameBytes);
    auto* rename = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
    rename->ReplaceIfExists = FALSE;
    rename->RootDirectory = nullptr;
    rename->FileNameLength = static_cast<DWORD>(nameBytes);
    std::memcpy(rename->FileName, wideAside.data(), nameBytes);
    if (SetFileInformationByHandle(handle.get(), FileRenameInfo, rename, static_cast<DWORD>(buffer.size()))) {
      movedTo = aside;
      return {};
    }
    if (GetLastError() != ERROR_ALREADY_EXISTS && GetLastError() != ERROR_FILE_EXISTS)
      return lastError("SetFileInformationByHandle", path);
  }
  return makeError(kErrorAlreadyExists, "SetFileInformationByHandle " + path);
}

struct FoundName {
  std::wstring name;
  DWORD attributes = 0;
};

// The names in a folder, sorted so that a copy and its errors come out the
// same on every run.
Error folderNamesIn(const std::string& folder, std::vector<FoundName>& names) {
  names.clear();
  WIN32_FIND_DATAW data{};
  win32::ScopedFindHandle search(FindFirstFileExW(win32::toWide(folder + "\\*").c_str(), FindExInfoBasic,
                                                  &data, FindExSearchNameMatch, nullptr, 0));
  if (!search) {
    if (GetLastError() == ERROR_FILE_NOT_FOUND) return {};
    return lastError("FindFirstFileExW", folder);
  }
  do {
    const std::wstring name = data.cFileName;
    if (name != L"." && name != L"..") names.push_back({name, data.dwFileAttributes});
  } while (FindNextFileW(search.get(), &data));
  if (GetLastError() != ERROR_NO_MORE_FILES) return lastError("FindNextFileW", folder);
  std::sort(names.begin(), names.end(),
            [](const FoundName& a, const FoundName& b) { return a.name < b.name; });
  return {};
}

// Opens `path` without following a reparse point and checks, by the handle
// and by the name (Wine opens a Unix symbolic link's target even when asked
// not to, and shows the link only by name), that it is not one. Not sharing
// deletion: while the handle is held the name cannot be renamed or replaced.
Error openUnfollowed(const std::string& path, DWORD access, DWORD share, win32::ScopedHandle& handle,
                     BY_HANDLE_FILE_INFORMATION& information) {
  handle.reset(CreateFileW(win32::toWide(path).c_str(), access, share, nullptr, OPEN_EXISTING,
                           FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!handle) return lastError("CreateFileW", path);
  if (!GetFileInformationByHandle(handle.get(), &information))
    return lastError("GetFileInformationByHandle", path);
  if ((information.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 || isLinkOrReparsePoint(path))
    return makeError(kErrorReparsePointEncountered, path);
  return {};
}

struct CopyTally {
  const PinnedFolder::CopyBounds& bounds;
  uint64_t bytes = 0;
  uint32_t entries = 0;
};

Error copyOneFile(const std::string& from, const std::string& to, CopyTally& tally) {
  win32::ScopedHandle in;
  BY_HANDLE_FILE_INFORMATION information{};
  // Shared for reading only: nobody writes the file while it is copied.
  if (Error error = openUnfollowed(from, GENERIC_READ, FILE_SHARE_READ, in, information); error.failed())
    return error;
  if ((information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
    return makeError(kErrorUnsupportedType, from);
  const uint64_t size = (uint64_t{information.nFileSizeHigh} << 32) | information.nFileSizeLow;
  if (size > tally.bounds.maxBytes - tally.bytes) return makeError(kErrorFileTooLarge, from);
  // A new file in a folder of ours, taking its protected DACL.
  win32::ScopedHandle out(CreateFileW(win32::toWide(to).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!out) return lastError("CreateFileW", to);
  std::string chunk(kCopyChunk, '\0');
  for (;;) {
    DWORD got = 0;
    if (!ReadFile(in.get(), chunk.data(), kCopyChunk, &got, nullptr)) return lastError("ReadFile", from);
    if (got == 0) return {};
    if (got > tally.bounds.maxBytes - tally.bytes) return makeError(kErrorFileTooLarge, from);
    tally.bytes += got;
    DWORD written = 0;
    if (!WriteFile(out.get(), chunk.data(), got, &written, nullptr) || written != got)
      return lastError("WriteFile", to);
  }
}

// `from` is held by the caller, so its names are the ones listed.
Error copyFolderContents(const std::string& from, const std::string& to, uint32_t depth, CopyTally& tally) {
  std::vector<FoundName> names;
  if (Error error = folderNamesIn(from, names); error.failed()) return error;
  for (const FoundName& found : names) {
    const std::string name = win32::toUtf8(found.name);
    const std::string source = from + "\\" + name;
    const std::string target = to + "\\" + name;
    if (++tally.entries > tally.bounds.maxEntries) return makeError(kErrorImplementationLimit, source);
    if ((found.attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0)
      return makeError(kErrorReparsePointEncountered, source);
    if ((found.attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
      if (Error error = copyOneFile(source, target, tally); error.failed()) return error;
      continue;
    }
    if (depth + 1 > tally.bounds.maxDepth) return makeError(kErrorFilenameTooLong, source);
    win32::ScopedHandle held;
    BY_HANDLE_FILE_INFORMATION information{};
    if (Error error = openUnfollowed(source, FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE, held, information);
        error.failed())
      return error;
    if ((information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0)
      return makeError(kErrorUnsupportedType, source);
    if (!CreateDirectoryW(win32::toWide(target).c_str(), nullptr))
      return lastError("CreateDirectoryW", target);
    if (Error error = copyFolderContents(source, target, depth + 1, tally); error.failed()) return error;
  }
  return {};
}

Error clearFolder(const std::string& folder, uint32_t depth) {
  if (depth > kMaxClearDepth) return makeError(kErrorImplementationLimit, "RemoveDirectoryW " + folder);
  std::vector<FoundName> names;
  if (Error error = folderNamesIn(folder, names); error.failed()) return error;
  for (const FoundName& found : names) {
    const std::string path = folder + "\\" + win32::toUtf8(found.name);
    const std::wstring wide = win32::toWide(path);
    const bool link = (found.attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 || isLinkOrReparsePoint(path);
    const bool directory = (found.attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    // A link to a folder goes with RemoveDirectoryW, which removes the link
    // itself; only a real folder is emptied first.
    if (directory && !link) {
      if (Error error = clearFolder(path, depth + 1); error.failed()) return error;
    }
    if ((found.attributes & FILE_ATTRIBUTE_READONLY) != 0)
      SetFileAttributesW(wide.c_str(), found.attributes & ~DWORD{FILE_ATTRIBUTE_READONLY});
    if (directory ? !RemoveDirectoryW(wide.c_str()) : !DeleteFileW(wide.c_str())) {
      if (GetLastError() == ERROR_FILE_NOT_FOUND || GetLastError() == ERROR_PATH_NOT_FOUND) continue;
      return lastError(directory ? "RemoveDirectoryW" : "DeleteFileW", path);
    }
  }
  return {};
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
    // Not following a reparse point, and not sharing deletion: while this
    // handle is open nobody can rename, remove or replace the folder, nor a
    // folder above it, so the path keeps meaning this folder.
    const DWORD access =
        READ_CONTROL | FILE_READ_ATTRIBUTES | (working && make == Make::IfMissing ? WRITE_DAC : 0);
    win32::ScopedHandle folder;
    // Twice at most: what stood in the way is moved aside once, then the
    // folder made anew must be what is opened.
    for (int attempt = 0; attempt < 2; ++attempt) {
      if (make == Make::IfMissing) {
        SECURITY_ATTRIBUTES attributes{sizeof(attributes), security.get(), FALSE};
        if (!CreateDirectoryW(wide.c_str(), working ? &attributes : nullptr) &&
            GetLastError() != ERROR_ALREADY_EXISTS)
          return lastError("CreateDirectoryW", impl->path);
      }
      BY_HANDLE_FILE_INFORMATION information{};
      Error untrusted =
          openUnfollowed(impl->path, access, FILE_SHARE_READ | FILE_SHARE_WRITE, folder, information);
      if (untrusted.failed() && untrusted.code != kErrorReparsePointEncountered)
        return missingIsPathNotFound(untrusted);
      if (!untrusted.failed() && (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0)
        untrusted = makeError(kErrorDirectory, "CreateFileW " + impl->path);
      if (!untrusted.failed()) {
        // Whoever owns a folder may change who reads and writes in it.
        PSID owner = nullptr;
        PSECURITY_DESCRIPTOR ownerDescriptor = nullptr;
        const DWORD status = GetSecurityInfo(folder.get(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner,
                                             nullptr, nullptr, nullptr, &ownerDescriptor);
        const win32::ScopedLocalMemory ownerMemory(ownerDescriptor);
        if (status != ERROR_SUCCESS) return makeError(status, "GetSecurityInfo " + impl->path);
        if (!isTrustedOwner(owner)) {
          untrusted = makeError(kErrorInvalidOwner,
                                "CreateFileW " + impl->path + " (owned by " + sidText(owner) +
                                    ", not the administrators, the system or this program's user)");
        }
      }
      if (!untrusted.failed()) break;
      folder.reset();  // held, it could not be moved
      if (make == Make::Never || attempt == 1) return untrusted;
      std::string movedTo;
      if (Error error = moveAside(impl->path, movedTo); error.failed()) return error;
      movedAside_.push_back(impl->path + " -> " + movedTo);
    }

    if (working && make == Make::IfMissing) {
      // Made by an earlier run or another program, it may still let other
      // users in; from now on it does not.
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

Error PinnedFolder::copyFolderIn(std::string_view from, const CopyBounds& bounds) {
  const std::string source(from);
  if (!impl_) return makeError(kErrorInvalidHandle, "CopyFileW " + source + " -> " + path());
  // The folders on the way to `from` are the user's own business (a profile
  // moved by a junction is common); `from` and what is in it are the copy.
  win32::ScopedHandle held;
  BY_HANDLE_FILE_INFORMATION information{};
  if (Error error = openUnfollowed(source, FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE, held, information);
      error.failed()) {
    return missingIsPathNotFound(error);
  }
  if ((information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0)
    return makeError(kErrorDirectory, "CreateFileW " + source);
  CopyTally tally{bounds};
  return copyFolderContents(source, path(), 0, tally);
}

Error PinnedFolder::clear() {
  if (!impl_) return makeError(kErrorInvalidHandle, "RemoveDirectoryW " + path());
  return clearFolder(path(), 0);
}

void PinnedFolder::close() {
  impl_.reset();
  path_.clear();
  movedAside_.clear();
}

}  // namespace platform
