#include "platform/pinned_folder.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <vector>

#include "platform/folder_names.h"
#include "platform/paths.h"
#include "platform/posix/native_files.h"
#include "platform/posix/path_mapping.h"
#include "platform/posix/scoped_fd.h"

namespace platform {

namespace {

constexpr size_t kCopyChunk = size_t{64} << 10;

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
    return posix::errorFromErrno(errno, "open " + std::string(parent), impl->nativePath);

  for (size_t i = 0; i < names.size(); ++i) {
    const std::string name(names[i]);
    impl->path += '\\';
    impl->path += name;
    impl->nativePath += '/';
    impl->nativePath += name;
    const bool working = i + 1 == names.size();
    if (make == Make::IfMissing && ::mkdirat(impl->last(), name.c_str(), 0755) != 0 && errno != EEXIST)
      return posix::errorFromErrno(errno, "mkdir " + impl->path, impl->nativePath);
    posix::ScopedFd folder(
        ::openat(impl->last(), name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!folder) {
      const int saved = errno;
      struct stat info {};
      if (::fstatat(impl->last(), name.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(info.st_mode))
        return makeError(kErrorReparsePointEncountered, impl->path);
      if (saved == ENOTDIR) return makeError(kErrorDirectory, "open " + impl->path);
      return posix::errorFromErrno(saved, "open " + impl->path, impl->nativePath);
    }
    struct stat info {};
    if (::fstat(folder.get(), &info) != 0)
      return posix::errorFromErrno(errno, "stat " + impl->path, impl->nativePath);
    // Whoever owns a folder may change who writes into it.
    if (info.st_uid != ::geteuid() && info.st_uid != 0) {
      return makeError(kErrorInvalidOwner,
                       "open " + impl->path + " (owned by user " + std::to_string(info.st_uid) +
                           ", not the administrators, the system or this program's user)");
    }
    if (working && make == Make::IfMissing && (info.st_mode & 022) != 0 &&
        ::fchmod(folder.get(), info.st_mode & 07755) != 0) {
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

void PinnedFolder::close() {
  impl_.reset();
  path_.clear();
}

}  // namespace platform
