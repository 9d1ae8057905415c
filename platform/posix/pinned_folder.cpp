// The pinned folder's system calls on posix. The rules are
// platform/pinned_folder_common.cpp's; nothing of win32 belongs here.
//
// POSIX has no share modes, so a pinned folder cannot keep its name; what it
// keeps is the descriptor, and every name below it is reached through that
// (openat, unlinkat), never through a path that could be swapped meanwhile.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <vector>

#include "platform/native_folder.h"
#include "platform/posix/native_files.h"
#include "platform/posix/path_mapping.h"
#include "platform/posix/scoped_fd.h"

namespace platform::native {

struct Node {
  posix::ScopedFd fd;
  std::string native;
  mode_t mode = 0;
};

void NodeDeleter::operator()(Node* node) const noexcept { delete node; }

namespace {

// errno of the call just failed, as the Windows code it stands for.
Error fail(const char* function, const std::string& path, const std::string& native) {
  const int code = errno;
  return posix::errorFromErrno(code, std::string(function) + " " + path, native);
}

std::string inside(const Node& folder, std::string_view name) {
  return folder.native + "/" + std::string(name);
}

// The simulated machine's administrators: the system (root) and this
// program's own user, as an elevated program's folders belong to them.
bool trustedOwner(uid_t owner) { return owner == 0 || owner == ::geteuid(); }

Found::Kind kindOf(mode_t mode) {
  if (S_ISLNK(mode)) return Found::Kind::Link;
  if (S_ISDIR(mode)) return Found::Kind::Folder;
  return S_ISREG(mode) ? Found::Kind::File : Found::Kind::Other;
}

}  // namespace

Error openIn(Node* folder, std::string_view name, const std::string& path, bool askOwner, bool, NodePtr& node,
             Found& found) {
  node.reset();
  found = {};
  std::string native = folder != nullptr ? inside(*folder, name) : std::string();
  if (folder == nullptr) {
    if (Error error = posix::toNativePath(path, native); error.failed()) return error;
  }
  const int at = folder != nullptr ? folder->fd.get() : AT_FDCWD;
  const std::string target = folder != nullptr ? std::string(name) : native;
  struct stat info {};
  if (::fstatat(at, target.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0)
    return errno == ENOENT || errno == ENOTDIR ? Error{} : fail("stat", path, native);
  found.kind = kindOf(info.st_mode);
  // Only a file or a folder is opened: opening a device may do something.
  if (found.kind != Found::Kind::File && found.kind != Found::Kind::Folder) return {};
  // Not following a link planted meanwhile, and not waiting for a writer
  // should the name now be a pipe: what was opened is what is judged.
  posix::ScopedFd fd(::openat(at, target.c_str(),
                              O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC |
                                  (found.kind == Found::Kind::Folder ? O_DIRECTORY : 0)));
  if (!fd) {
    if (errno == ELOOP || errno == ENOTDIR)
      found.kind = Found::Kind::Link;  // swapped for one meanwhile
    else if (errno == ENOENT)
      found.kind = Found::Kind::Missing;
    else
      return fail("open", path, native);
    return {};
  }
  if (::fstat(fd.get(), &info) != 0) return fail("stat", path, native);
  found.kind = kindOf(info.st_mode);
  found.size = static_cast<uint64_t>(info.st_size);
  if (askOwner) {
    found.trustedOwner = trustedOwner(info.st_uid);
    found.owner = "user " + std::to_string(info.st_uid);
  }
  node.reset(new Node{std::move(fd), std::move(native), info.st_mode});
  return {};
}

Error makeFolderIn(Node& folder, std::string_view name, const std::string& path) {
  if (::mkdirat(folder.fd.get(), std::string(name).c_str(), 0700) == 0 || errno == EEXIST) return {};
  return fail("mkdir", path, inside(folder, name));
}

Error secure(Node& folder, const std::string& path) {
  if ((folder.mode & 077) == 0 || ::fchmod(folder.fd.get(), folder.mode & 07700) == 0) return {};
  return fail("chmod", path, folder.native);
}

Error renameIn(Node& folder, std::string_view name, std::string_view newName, const std::string& path) {
  if (::renameat2(folder.fd.get(), std::string(name).c_str(), folder.fd.get(), std::string(newName).c_str(),
                  RENAME_NOREPLACE) == 0)
    return {};
  return fail("rename", path, inside(folder, name));
}

Error takeOverIn(Node& folder, std::string_view name, const std::string& path) {
  if (::fchownat(folder.fd.get(), std::string(name).c_str(), ::geteuid(), ::getegid(), AT_SYMLINK_NOFOLLOW) ==
      0)
    return {};
  return fail("chown", path, inside(folder, name));
}

Error listIn(Node& folder, size_t most, std::vector<std::string>& names, bool& more,
             const std::string& path) {
  names.clear();
  more = false;
  const int listing = ::dup(folder.fd.get());
  if (listing < 0) return fail("dup", path, folder.native);
  DIR* raw = ::fdopendir(listing);
  if (raw == nullptr) {
    const Error error = fail("opendir", path, folder.native);
    ::close(listing);
    return error;
  }
  ::rewinddir(raw);
  Error error;
  for (;;) {
    errno = 0;
    const dirent* entry = ::readdir(raw);
    if (entry == nullptr) {
      if (errno != 0) error = fail("readdir", path, folder.native);
      break;
    }
    const std::string name = entry->d_name;
    if (name == "." || name == "..") continue;
    if (names.size() == most) {
      more = true;
      break;
    }
    names.push_back(name);
  }
  ::closedir(raw);
  return error;
}

Error unlinkIn(Node& folder, std::string_view name, const std::string& path) {
  const std::string target(name);
  if (::unlinkat(folder.fd.get(), target.c_str(), 0) == 0) return {};
  // Linux says EISDIR of a folder.
  if (errno == EISDIR && ::unlinkat(folder.fd.get(), target.c_str(), AT_REMOVEDIR) == 0) return {};
  return fail("unlink", path, inside(folder, name));
}

Error createFileIn(Node& folder, std::string_view name, const Node& like, const std::string& path,
                   NodePtr& file) {
  // A new file, never an existing name: the copy keeps the source's
  // permission bits, as a copied program must stay runnable.
  const std::string native = inside(folder, name);
  posix::ScopedFd fd(::openat(folder.fd.get(), std::string(name).c_str(),
                              O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, like.mode & 0755));
  if (!fd) return fail("open", path, native);
  file.reset(new Node{std::move(fd), native, like.mode & 0755});
  return {};
}

Error readSome(Node& file, std::string& buffer, size_t& got, const std::string& path) {
  for (;;) {
    const ssize_t read = ::read(file.fd.get(), buffer.data(), buffer.size());
    if (read >= 0) {
      got = static_cast<size_t>(read);
      return {};
    }
    if (errno != EINTR && errno != EAGAIN) return fail("read", path, file.native);
  }
}

Error writeAll(Node& file, std::string_view bytes, const std::string& path) {
  return posix::writeAll(file.fd.get(), bytes) ? Error{} : fail("write", path, file.native);
}

Error finish(Node& file, const std::string& path) {
  return ::fsync(file.fd.get()) == 0 ? Error{} : fail("fsync", path, file.native);
}

}  // namespace platform::native
