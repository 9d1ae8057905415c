#include "platform/pinned_folder.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "platform/files.h"
#include "platform/folder_names.h"
#include "platform/paths.h"
#include "platform/posix/native_files.h"
#include "platform/posix/path_mapping.h"
#include "platform/posix/scoped_fd.h"

namespace platform {

namespace {

constexpr size_t kCopyChunk = size_t{64} << 10;

// The simulated machine's administrators: the system (root) and this
// program's own user, as an elevated program's folders belong to them.
bool trustedOwner(uid_t owner) { return owner == ::geteuid() || owner == 0; }

// Deeper than this, clear() stops: the folders it clears are the program's
// own, made no deeper than its copies go, and each level holds a descriptor.
constexpr uint32_t kMaxClearDepth = 64;

// A fresh name beside `name` for what stood in its way. Unpredictable, so
// that nobody can take it first; a name that is taken anyway is tried again.
Error moveAside(int parent, const std::string& name, const std::string& path, const std::string& nativePath,
                std::string& movedTo) {
  std::random_device random;
  for (int attempt = 0; attempt < 8; ++attempt) {
    char suffix[32];
    std::snprintf(suffix, sizeof(suffix), ".untrusted-%08x%08x", random(), random());
    const std::string aside = name + suffix;
    if (::renameat2(parent, name.c_str(), parent, aside.c_str(), RENAME_NOREPLACE) == 0) {
      movedTo = path.substr(0, path.size() - name.size()) + aside;
      return {};
    }
    if (errno != EEXIST) return posix::errorFromErrno(errno, "MoveFile " + path, nativePath);
  }
  return makeError(kErrorAlreadyExists, "MoveFile " + path);
}

// The names in an open folder, sorted so that a copy and its errors come out
// the same on every run.
Error folderNamesAt(int folder, const std::string& operation, std::vector<std::string>& names) {
  names.clear();
  const int listing = ::dup(folder);
  if (listing < 0) return makeError(kErrorTooManyOpenFiles, operation);
  DIR* raw = ::fdopendir(listing);
  if (raw == nullptr) {
    ::close(listing);
    return makeError(kErrorAccessDenied, operation);
  }
  ::rewinddir(raw);
  while (const dirent* entry = ::readdir(raw)) {
    const std::string name = entry->d_name;
    if (name != "." && name != "..") names.push_back(name);
  }
  ::closedir(raw);
  std::sort(names.begin(), names.end());
  return {};
}

struct CopyTally {
  const PinnedFolder::CopyBounds& bounds;
  uint64_t bytes = 0;
  uint32_t entries = 0;
};

Error copyFileAt(int from, int to, const std::string& name, const std::string& path, CopyTally& tally) {
  // Not following a link, and not waiting for a writer should the name now
  // be a pipe: what is opened is checked to be a plain file before a byte is read.
  posix::ScopedFd in(::openat(from, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  if (!in) {
    if (errno == ELOOP) return makeError(kErrorReparsePointEncountered, path);
    return makeError(errno == ENOENT ? kErrorFileNotFound : kErrorAccessDenied, "CopyFile " + path);
  }
  struct stat info {};
  if (::fstat(in.get(), &info) != 0) return makeError(kErrorAccessDenied, "CopyFile " + path);
  if (!S_ISREG(info.st_mode)) return makeError(kErrorUnsupportedType, path);
  if (static_cast<uint64_t>(info.st_size) > tally.bounds.maxBytes - tally.bytes)
    return makeError(kErrorFileTooLarge, path);
  posix::ScopedFd out(
      ::openat(to, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, info.st_mode & 0755));
  if (!out) return makeError(errno == EEXIST ? kErrorAlreadyExists : kErrorAccessDenied, "CopyFile " + path);
  std::string chunk(kCopyChunk, '\0');
  for (;;) {
    const ssize_t got = ::read(in.get(), chunk.data(), chunk.size());
    if (got < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (got < 0) return makeError(kErrorAccessDenied, "ReadFile " + path);
    if (got == 0) return {};
    // A file that grows while it is read counts with what it became.
    if (static_cast<uint64_t>(got) > tally.bounds.maxBytes - tally.bytes)
      return makeError(kErrorFileTooLarge, path);
    tally.bytes += static_cast<uint64_t>(got);
    if (!posix::writeAll(out.get(), std::string_view(chunk.data(), static_cast<size_t>(got))))
      return makeError(errno == ENOSPC ? kErrorDiskFull : kErrorAccessDenied, "WriteFile " + path);
  }
}

Error copyFolderAt(int from, const std::string& fromPath, int to, uint32_t depth, CopyTally& tally) {
  std::vector<std::string> names;
  if (Error error = folderNamesAt(from, "FindFirstFile " + fromPath, names); error.failed()) return error;
  for (const std::string& name : names) {
    const std::string path = fromPath + "\\" + name;
    if (++tally.entries > tally.bounds.maxEntries) return makeError(kErrorImplementationLimit, path);
    struct stat info {};
    if (::fstatat(from, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0)
      return makeError(kErrorFileNotFound, "FindNextFile " + path);
    if (S_ISLNK(info.st_mode)) return makeError(kErrorReparsePointEncountered, path);
    if (!S_ISDIR(info.st_mode)) {
      if (Error error = copyFileAt(from, to, name, path, tally); error.failed()) return error;
      continue;
    }
    if (depth + 1 > tally.bounds.maxDepth) return makeError(kErrorFilenameTooLong, path);
    posix::ScopedFd source(::openat(from, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!source) {
      if (errno == ELOOP || errno == ENOTDIR) return makeError(kErrorReparsePointEncountered, path);
      return makeError(kErrorAccessDenied, "CreateFile " + path);
    }
    if (::mkdirat(to, name.c_str(), 0700) != 0)
      return makeError(kErrorAccessDenied, "CreateDirectory " + path);
    posix::ScopedFd target(::openat(to, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!target) return makeError(kErrorAccessDenied, "CreateDirectory " + path);
    if (Error error = copyFolderAt(source.get(), path, target.get(), depth + 1, tally); error.failed())
      return error;
  }
  return {};
}

Error clearAt(int folder, const std::string& path, uint32_t depth) {
  if (depth > kMaxClearDepth) return makeError(kErrorImplementationLimit, "RemoveDirectory " + path);
  std::vector<std::string> names;
  if (Error error = folderNamesAt(folder, "FindFirstFile " + path, names); error.failed()) return error;
  for (const std::string& name : names) {
    const std::string inner = path + "\\" + name;
    struct stat info {};
    if (::fstatat(folder, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) continue;
    if (S_ISDIR(info.st_mode)) {
      posix::ScopedFd below(::openat(folder, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
      if (!below) return makeError(kErrorAccessDenied, "RemoveDirectory " + inner);
      if (Error error = clearAt(below.get(), inner, depth + 1); error.failed()) return error;
    }
    if (::unlinkat(folder, name.c_str(), S_ISDIR(info.st_mode) ? AT_REMOVEDIR : 0) != 0 && errno != ENOENT)
      return makeError(kErrorAccessDenied,
                       (S_ISDIR(info.st_mode) ? "RemoveDirectory " : "DeleteFile ") + inner);
  }
  return {};
}

}  // namespace

// POSIX has no share modes, so a pinned folder cannot keep its name; what it
// keeps is the descriptor, and every name below it is reached through that
// (openat, unlinkat), never through a path that could be swapped meanwhile.
struct PinnedFolder::Impl {
  std::vector<posix::ScopedFd> folders;  // the parent first, the working folder last
  std::string path;
  std::string nativePath;

  int last() const { return folders.back().get(); }
};

PinnedFolder::PinnedFolder() = default;
PinnedFolder::~PinnedFolder() = default;
PinnedFolder::PinnedFolder(PinnedFolder&&) noexcept = default;
PinnedFolder& PinnedFolder::operator=(PinnedFolder&&) noexcept = default;

Error PinnedFolder::open(std::string_view parent, std::string_view below, Make make) {
  close();
  std::vector<std::string_view> names;
  if (Error error = preparePinnedFolder(parent, below, make == Make::IfMissing, "open", names);
      error.failed())
    return error;

  auto impl = std::make_unique<Impl>();
  impl->path = parent;
  if (Error error = posix::toNativePath(parent, impl->nativePath); error.failed()) return error;
  impl->folders.emplace_back(
      ::open(impl->nativePath.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (!impl->folders.back())
    return missingIsPathNotFound(
        posix::errorFromErrno(errno, "open " + std::string(parent), impl->nativePath));

  for (size_t i = 0; i < names.size(); ++i) {
    const std::string name(names[i]);
    impl->path += '\\';
    impl->path += name;
    impl->nativePath += '/';
    impl->nativePath += name;
    const bool working = i + 1 == names.size();
    posix::ScopedFd folder;
    // Twice at most: what stood in the way is moved aside once, then the
    // folder made anew must be what is opened.
    for (int attempt = 0; attempt < 2; ++attempt) {
      if (make == Make::IfMissing && ::mkdirat(impl->last(), name.c_str(), working ? 0700 : 0755) != 0 &&
          errno != EEXIST)
        return posix::errorFromErrno(errno, "mkdir " + impl->path, impl->nativePath);
      Error untrusted;
      folder.reset(::openat(impl->last(), name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
      struct stat info {};
      if (!folder) {
        const int saved = errno;
        if (::fstatat(impl->last(), name.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(info.st_mode))
          untrusted = makeError(kErrorReparsePointEncountered, impl->path);
        else if (saved == ENOTDIR)
          untrusted = makeError(kErrorDirectory, "open " + impl->path);
        else
          return missingIsPathNotFound(posix::errorFromErrno(saved, "open " + impl->path, impl->nativePath));
      } else if (::fstat(folder.get(), &info) != 0) {
        return posix::errorFromErrno(errno, "stat " + impl->path, impl->nativePath);
      } else if (!trustedOwner(info.st_uid)) {
        // Whoever owns a folder may change who reads and writes in it.
        untrusted = makeError(kErrorInvalidOwner,
                              "open " + impl->path + " (owned by user " + std::to_string(info.st_uid) +
                                  ", not the administrators, the system or this program's user)");
      }
      if (!untrusted.failed()) break;
      folder.reset();
      if (make == Make::Never || attempt == 1) return untrusted;
      std::string movedTo;
      if (Error error = moveAside(impl->last(), name, impl->path, impl->nativePath, movedTo); error.failed())
        return error;
      movedAside_.push_back(impl->path + " -> " + movedTo);
    }
    struct stat info {};
    if (::fstat(folder.get(), &info) != 0)
      return posix::errorFromErrno(errno, "stat " + impl->path, impl->nativePath);
    if (working && make == Make::IfMissing && (info.st_mode & 077) != 0 &&
        ::fchmod(folder.get(), info.st_mode & 07700) != 0) {
      return posix::errorFromErrno(errno, "chmod " + impl->path, impl->nativePath);
    }
    impl->folders.push_back(std::move(folder));
  }
  path_ = impl->path;
  impl_ = std::move(impl);
  return {};
}

Error PinnedFolder::copyIn(std::string_view from, std::string_view name) {
  const std::string operation = "CopyFile " + std::string(from) + " -> " + path() + "\\" + std::string(name);
  if (!impl_) return makeError(kErrorInvalidHandle, operation);
  if (!isPlainName(name)) return makeError(kErrorInvalidName, operation);
  std::string source;
  if (Error error = posix::toNativePath(from, source); error.failed()) return error;
  posix::ScopedFd in(::open(source.c_str(), O_RDONLY | O_CLOEXEC));
  if (!in) return posix::errorFromErrno(errno, operation, source);
  struct stat info {};
  if (::fstat(in.get(), &info) != 0) return posix::errorFromErrno(errno, operation, source);
  if (!S_ISREG(info.st_mode)) return makeError(kErrorAccessDenied, operation);

  const std::string target(name);
  const std::string nativeTarget = impl_->nativePath + "/" + target;
  if (::unlinkat(impl_->last(), target.c_str(), 0) != 0 && errno != ENOENT)
    return posix::errorFromErrno(errno, operation, nativeTarget);
  // A new file, never an existing name: the copy keeps the source's
  // permission bits, as a copied program must stay runnable.
  posix::ScopedFd out(::openat(impl_->last(), target.c_str(),
                               O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, info.st_mode & 0777));
  if (!out) return posix::errorFromErrno(errno, operation, nativeTarget);
  std::string chunk(kCopyChunk, '\0');
  for (;;) {
    const ssize_t got = ::read(in.get(), chunk.data(), chunk.size());
    if (got < 0 && errno == EINTR) continue;
    bool ok = got >= 0;
    if (got > 0) {
      ok = posix::writeAll(out.get(), std::string_view(chunk.data(), static_cast<size_t>(got)));
    } else if (got == 0) {
      if (::fsync(out.get()) == 0) return {};
      ok = false;
    }
    if (!ok) {
      const Error error = posix::errorFromErrno(errno, operation, nativeTarget);
      out.reset();
      ::unlinkat(impl_->last(), target.c_str(), 0);  // a partial copy is no copy
      return error;
    }
  }
}

Error PinnedFolder::remove(std::string_view name) {
  const std::string operation = "DeleteFile " + path() + "\\" + std::string(name);
  if (!impl_) return makeError(kErrorInvalidHandle, operation);
  if (!isPlainName(name)) return makeError(kErrorInvalidName, operation);
  const std::string target(name);
  struct stat info {};
  if (::fstatat(impl_->last(), target.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(info.st_mode))
    return makeError(kErrorAccessDenied, operation);
  if (::unlinkat(impl_->last(), target.c_str(), 0) != 0)
    return posix::errorFromErrno(errno, operation, impl_->nativePath + "/" + target);
  return {};
}

Error PinnedFolder::copyFolderIn(std::string_view from, const CopyBounds& bounds) {
  if (!impl_) return makeError(kErrorInvalidHandle, "CopyFile " + std::string(from) + " -> " + path());
  // The folders on the way to `from` are the user's own business (a profile
  // moved by a junction is common); `from` and what is in it are the copy.
  const std::string source(from);
  std::string nativeSource;
  if (Error error = posix::toNativePath(source, nativeSource); error.failed()) return error;
  posix::ScopedFd folder(::open(nativeSource.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (!folder) {
    const int saved = errno;
    struct stat info {};
    if (::lstat(nativeSource.c_str(), &info) == 0 && S_ISLNK(info.st_mode))
      return makeError(kErrorReparsePointEncountered, source);
    errno = saved;
    if (errno == ENOENT) return makeError(kErrorPathNotFound, "CreateFile " + source);
    return posix::errorFromErrno(errno, "CreateFile " + source, nativeSource);
  }
  CopyTally tally{bounds};
  return copyFolderAt(folder.get(), source, impl_->last(), 0, tally);
}

Error PinnedFolder::clear() {
  if (!impl_) return makeError(kErrorInvalidHandle, "RemoveDirectory " + path());
  return clearAt(impl_->last(), path(), 0);
}

void PinnedFolder::close() {
  impl_.reset();
  path_.clear();
  movedAside_.clear();
}

}  // namespace platform
