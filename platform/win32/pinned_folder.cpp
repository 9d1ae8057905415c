// The pinned folder's system calls on Windows. The rules are
// platform/pinned_folder_common.cpp's; nothing of posix belongs here.
#include <windows.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "platform/files.h"
#include "platform/native_folder.h"
#include "platform/win32/last_error.h"
#include "platform/win32/scoped_handle.h"
#include "platform/win32/trusted_owner.h"
#include "platform/win32/wide_text.h"

namespace platform::native {

struct Node {
  win32::ScopedHandle handle;
  std::wstring path;
};

void NodeDeleter::operator()(Node* node) const noexcept { delete node; }

namespace {

using win32::lastError;

constexpr DWORD kUnfollowed = FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT;

std::wstring inside(const Node& folder, std::string_view name) {
  return folder.path + L"\\" + win32::toWide(name);
}

// Opens `path` itself, a reparse point included, never what it leads to.
HANDLE openUnfollowed(const std::string& path, DWORD access, DWORD share) {
  return CreateFileW(win32::toWide(path).c_str(), access, share, nullptr, OPEN_EXISTING, kUnfollowed,
                     nullptr);
}

// Gives the administrators and the system alone full control, through a
// handle opened with WRITE_OWNER and WRITE_DAC.
Error administratorsOnly(HANDLE handle, const std::string& path) {
  win32::ScopedLocalMemory descriptor;
  if (Error error = win32::administratorsOnly(descriptor); error.failed()) return error;
  PSID owner = nullptr;
  PACL dacl = nullptr;
  BOOL present = FALSE, defaulted = FALSE;
  if (!GetSecurityDescriptorOwner(descriptor.get(), &owner, &defaulted) ||
      !GetSecurityDescriptorDacl(descriptor.get(), &present, &dacl, &defaulted))
    return lastError("GetSecurityDescriptorDacl", path);
  const DWORD set = SetSecurityInfo(
      handle, SE_FILE_OBJECT,
      OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION, owner,
      nullptr, dacl, nullptr);
  return set == ERROR_SUCCESS ? Error{} : makeError(set, "SetSecurityInfo " + path);
}

// The administrators hold these, disabled: enabled only while a plant is
// taken over, so that no child inherits them enabled.
class BackupPrivileges {
 public:
  BackupPrivileges() {
    HANDLE raw = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &raw)) return;
    token_.reset(raw);
    struct {
      DWORD count = 2;
      LUID_AND_ATTRIBUTES privileges[2];
    } wanted;
    const wchar_t* names[] = {SE_TAKE_OWNERSHIP_NAME, SE_RESTORE_NAME};
    for (int i = 0; i < 2; ++i) {
      LookupPrivilegeValueW(nullptr, names[i], &wanted.privileges[i].Luid);
      wanted.privileges[i].Attributes = SE_PRIVILEGE_ENABLED;
    }
    DWORD size = sizeof(previous_);
    AdjustTokenPrivileges(token_.get(), FALSE, reinterpret_cast<TOKEN_PRIVILEGES*>(&wanted),
                          sizeof(previous_), reinterpret_cast<TOKEN_PRIVILEGES*>(previous_), &size);
  }
  ~BackupPrivileges() {
    if (token_)
      AdjustTokenPrivileges(token_.get(), FALSE, reinterpret_cast<TOKEN_PRIVILEGES*>(previous_), 0, nullptr,
                            nullptr);
  }
  BackupPrivileges(const BackupPrivileges&) = delete;
  BackupPrivileges& operator=(const BackupPrivileges&) = delete;

 private:
  win32::ScopedHandle token_;
  alignas(TOKEN_PRIVILEGES) BYTE previous_[sizeof(TOKEN_PRIVILEGES) + sizeof(LUID_AND_ATTRIBUTES)] = {};
};

}  // namespace

Error openIn(Node*, std::string_view, const std::string& path, bool askOwner, bool secure, NodePtr& node,
             Found& found) {
  node.reset();
  found = {};
  const DWORD hint = GetFileAttributesW(win32::toWide(path).c_str());
  const bool folder = hint != INVALID_FILE_ATTRIBUTES && (hint & FILE_ATTRIBUTE_DIRECTORY) != 0;
  // Not sharing deletion: while the handle is open nobody can rename, remove
  // or replace it. A file is shared for reading only: nobody writes it while
  // it is copied.
  win32::ScopedHandle handle(openUnfollowed(path, GENERIC_READ | (secure ? WRITE_DAC | WRITE_OWNER : 0),
                                            FILE_SHARE_READ | (folder ? FILE_SHARE_WRITE : 0)));
  if (!handle) {
    if (GetLastError() == ERROR_FILE_NOT_FOUND || GetLastError() == ERROR_PATH_NOT_FOUND) return {};
    return lastError("CreateFileW", path);
  }
  BY_HANDLE_FILE_INFORMATION information{};
  if (!GetFileInformationByHandle(handle.get(), &information))
    return lastError("GetFileInformationByHandle", path);
  // Wine opens a Unix symbolic link's target even when asked not to, and
  // shows the link only by name.
  if ((information.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 || isLinkOrReparsePoint(path)) {
    found.kind = Found::Kind::Link;
    return {};
  }
  const bool isFolder = (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  found.kind = isFolder ? Found::Kind::Folder : Found::Kind::File;
  found.size = (uint64_t{information.nFileSizeHigh} << 32) | information.nFileSizeLow;
  if (askOwner && isFolder) {
    if (Error error = win32::readOwner(handle.get(), SE_FILE_OBJECT, path, found.trustedOwner, found.owner);
        error.failed())
      return error;
  }
  node.reset(new Node{std::move(handle), win32::toWide(path)});
  return {};
}

Error makeFolderIn(Node&, std::string_view, const std::string& path) {
  win32::ScopedLocalMemory descriptor;
  if (Error error = win32::administratorsOnly(descriptor); error.failed()) return error;
  SECURITY_ATTRIBUTES attributes{sizeof(attributes), descriptor.get(), FALSE};
  if (CreateDirectoryW(win32::toWide(path).c_str(), &attributes) || GetLastError() == ERROR_ALREADY_EXISTS)
    return {};
  return lastError("CreateDirectoryW", path);
}

// Made by an earlier run or another program, it may still let other users
// in; from now on it does not.
Error secure(Node& folder, const std::string& path) { return administratorsOnly(folder.handle.get(), path); }

Error renameIn(Node& folder, std::string_view, std::string_view newName, const std::string& path) {
  // Renamed through a handle on the name itself. Wine would open a link's
  // target, and moving that would move what the link leads to: refused.
  win32::ScopedHandle handle(openUnfollowed(path, DELETE | FILE_READ_ATTRIBUTES,
                                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE));
  if (!handle) return lastError("CreateFileW", path);
  BY_HANDLE_FILE_INFORMATION information{};
  if (!GetFileInformationByHandle(handle.get(), &information))
    return lastError("GetFileInformationByHandle", path);
  if ((information.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0 && isLinkOrReparsePoint(path))
    return makeError(kErrorReparsePointEncountered, path);
  const std::wstring target = inside(folder, newName);
  const size_t nameBytes = target.size() * sizeof(wchar_t);
  std::vector<BYTE> buffer(sizeof(FILE_RENAME_INFO) + nameBytes);
  auto* rename = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
  rename->ReplaceIfExists = FALSE;
  rename->FileNameLength = static_cast<DWORD>(nameBytes);
  std::memcpy(rename->FileName, target.data(), nameBytes);
  if (SetFileInformationByHandle(handle.get(), FileRenameInfo, rename, static_cast<DWORD>(buffer.size())))
    return {};
  if (GetLastError() == ERROR_FILE_EXISTS)
    return makeError(kErrorAlreadyExists, "SetFileInformationByHandle " + path);
  return lastError("SetFileInformationByHandle", path);
}

Error takeOverIn(Node&, std::string_view, const std::string& path) {
  const BackupPrivileges privileges;
  // With the restore privilege, backup semantics grant WRITE_OWNER and
  // WRITE_DAC whatever the DACL says, and sharing does not govern either.
  win32::ScopedHandle handle(
      openUnfollowed(path, WRITE_OWNER | WRITE_DAC, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE));
  if (!handle) return lastError("CreateFileW", path);
  return administratorsOnly(handle.get(), path);
}

Error listIn(Node& folder, size_t most, std::vector<std::string>& names, bool& more,
             const std::string& path) {
  names.clear();
  more = false;
  WIN32_FIND_DATAW data{};
  win32::ScopedFindHandle search(FindFirstFileExW((folder.path + L"\\*").c_str(), FindExInfoBasic, &data,
                                                  FindExSearchNameMatch, nullptr, 0));
  if (!search) return GetLastError() == ERROR_FILE_NOT_FOUND ? Error{} : lastError("FindFirstFileExW", path);
  do {
    if (std::wcscmp(data.cFileName, L".") == 0 || std::wcscmp(data.cFileName, L"..") == 0) continue;
    if (names.size() == most) {
      more = true;
      return {};
    }
    names.push_back(win32::toUtf8(data.cFileName));
  } while (FindNextFileW(search.get(), &data));
  return GetLastError() == ERROR_NO_MORE_FILES ? Error{} : lastError("FindNextFileW", path);
}

Error unlinkIn(Node&, std::string_view, const std::string& path) {
  const std::wstring wide = win32::toWide(path);
  const DWORD attributes = GetFileAttributesW(wide.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    if (GetLastError() == ERROR_PATH_NOT_FOUND) SetLastError(ERROR_FILE_NOT_FOUND);
    return lastError("GetFileAttributesW", path);
  }
  // A read-only file (a package from read-only media) must still go.
  if ((attributes & FILE_ATTRIBUTE_READONLY) != 0)
    SetFileAttributesW(wide.c_str(), attributes & ~DWORD{FILE_ATTRIBUTE_READONLY});
  // A link to a folder goes with RemoveDirectoryW, which removes the link itself.
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
    return RemoveDirectoryW(wide.c_str()) ? Error{} : lastError("RemoveDirectoryW", path);
  return DeleteFileW(wide.c_str()) ? Error{} : lastError("DeleteFileW", path);
}

Error createFileIn(Node&, std::string_view, const Node&, const std::string& path, NodePtr& file) {
  // A new file in a folder of ours, taking its protected DACL.
  win32::ScopedHandle handle(CreateFileW(win32::toWide(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                         FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!handle) return lastError("CreateFileW", path);
  file.reset(new Node{std::move(handle), win32::toWide(path)});
  return {};
}

Error readSome(Node& file, std::string& buffer, size_t& got, const std::string& path) {
  DWORD read = 0;
  const DWORD size = static_cast<DWORD>(std::min<size_t>(buffer.size(), DWORD{1} << 30));
  if (!ReadFile(file.handle.get(), buffer.data(), size, &read, nullptr)) return lastError("ReadFile", path);
  got = read;
  return {};
}

Error writeAll(Node& file, std::string_view bytes, const std::string& path) {
  while (!bytes.empty()) {
    DWORD written = 0;
    const DWORD size = static_cast<DWORD>(std::min<size_t>(bytes.size(), DWORD{1} << 30));
    if (!WriteFile(file.handle.get(), bytes.data(), size, &written, nullptr) || written == 0)
      return lastError("WriteFile", path);
    bytes.remove_prefix(written);
  }
  return {};
}

Error finish(Node& file, const std::string& path) {
  return FlushFileBuffers(file.handle.get()) ? Error{} : lastError("FlushFileBuffers", path);
}

}  // namespace platform::native
