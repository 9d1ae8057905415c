#include "platform/files.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <vector>

#include "platform/posix/native_files.h"
#include "platform/posix/path_mapping.h"
#include "platform/posix/scoped_fd.h"

namespace platform {

namespace posix {

namespace {

std::string temporaryPathFor(const std::string& path) {
  static std::atomic<unsigned> counter{0};
  return path + ".tmp." + std::to_string(::getpid()) + "." + std::to_string(counter++);
}

Error writeTemporaryThenRename(const std::string& path, const std::string& temporary, int sourceFd,
                               std::string_view contents, mode_t mode) {
  ScopedFd out(::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode));
  if (!out.valid()) return errorFromErrno(errno, "open " + temporary, temporary);
  bool written = true;
  if (sourceFd >= 0) {
    std::vector<char> buffer(1 << 16);
    for (;;) {
      const ssize_t got = ::read(sourceFd, buffer.data(), buffer.size());
      if (got < 0 && errno == EINTR) continue;
      if (got < 0) {
        const int saved = errno;
        ::unlink(temporary.c_str());
        return errorFromErrno(saved, "read", path);
      }
      if (got == 0) break;
      if (!writeAll(out.get(), std::string_view(buffer.data(), static_cast<size_t>(got)))) {
        written = false;
        break;
      }
    }
  } else {
    written = writeAll(out.get(), contents);
  }
  if (!written || ::fchmod(out.get(), mode) != 0 || ::fsync(out.get()) != 0) {
    const int saved = errno;
    ::unlink(temporary.c_str());
    return errorFromErrno(saved, "write " + path, path);
  }
  out.reset();
  if (::rename(temporary.c_str(), path.c_str()) != 0) {
    const int saved = errno;
    ::unlink(temporary.c_str());
    return errorFromErrno(saved, "rename " + temporary + " to " + path, path);
  }
  return {};
}

}  // namespace

bool writeAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t written = ::write(fd, bytes.data(), bytes.size());
    if (written < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    bytes.remove_prefix(static_cast<size_t>(written));
  }
  return true;
}

Error readNativeFile(const std::string& path, std::string& contents, size_t maxBytes) {
  contents.clear();
  ScopedFd in(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!in.valid()) return errorFromErrno(errno, "open " + path, path);
  struct stat info {};
  if (::fstat(in.get(), &info) != 0) return errorFromErrno(errno, "stat " + path, path);
  if (S_ISDIR(info.st_mode)) return makeError(kErrorAccessDenied, "open " + path);
  if (!S_ISREG(info.st_mode)) return makeError(kErrorAccessDenied, "open " + path + " (not a file)");
  if (static_cast<unsigned long long>(info.st_size) > maxBytes) {
    return makeError(kErrorFileTooLarge, "read " + path);
  }
  try {
    contents.resize(static_cast<size_t>(info.st_size));
    size_t filled = 0;
    // The size may change while reading; never take more than maxBytes.
    for (;;) {
      if (filled == contents.size()) {
        if (contents.size() >= maxBytes) {
          char probe = 0;
          ssize_t more = 0;
          do {
            more = ::read(in.get(), &probe, 1);
          } while (more < 0 && errno == EINTR);
          if (more > 0) {
            contents.clear();
            return makeError(kErrorFileTooLarge, "read " + path);
          }
          break;
        }
        contents.resize(std::min(maxBytes, contents.size() + (size_t{1} << 16)));
      }
      const ssize_t got = ::read(in.get(), contents.data() + filled, contents.size() - filled);
      if (got < 0 && errno == EINTR) continue;
      if (got < 0) {
        const int saved = errno;
        contents.clear();
        return errorFromErrno(saved, "read " + path, path);
      }
      if (got == 0) break;
      filled += static_cast<size_t>(got);
    }
    contents.resize(filled);
  } catch (const std::bad_alloc&) {
    contents.clear();
    return makeError(kErrorNotEnoughMemory, "read " + path);
  }
  return {};
}

Error writeNativeFileAtomic(const std::string& path, std::string_view contents) {
  struct stat existing {};
  const mode_t mode = ::stat(path.c_str(), &existing) == 0 ? (existing.st_mode & 07777) : 0644;
  return writeTemporaryThenRename(path, temporaryPathFor(path), -1, contents, mode);
}

}  // namespace posix

namespace {

bool statMapped(std::string_view path, struct stat& info) {
  std::string native;
  if (posix::toNativePath(path, native).failed()) return false;
  return ::stat(native.c_str(), &info) == 0;
}

}  // namespace

bool fileExists(std::string_view path) {
  struct stat info {};
  return statMapped(path, info) && S_ISREG(info.st_mode);
}

bool directoryExists(std::string_view path) {
  struct stat info {};
  return statMapped(path, info) && S_ISDIR(info.st_mode);
}

bool isLinkOrReparsePoint(std::string_view path) {
  std::string native;
  if (posix::toNativePath(path, native).failed()) return false;
  struct stat info {};
  return ::lstat(native.c_str(), &info) == 0 && S_ISLNK(info.st_mode);
}

Error createDirectories(std::string_view path) {
  std::string native;
  if (Error error = posix::toNativePath(path, native); error.failed()) return error;
  // Each prefix in turn, so the failing folder is the one reported.
  for (size_t i = 1; i <= native.size(); ++i) {
    if (i != native.size() && native[i] != '/') continue;
    const std::string prefix = native.substr(0, i);
    if (::mkdir(prefix.c_str(), 0755) == 0) continue;
    const int saved = errno;
    struct stat info {};
    if (saved == EEXIST && ::stat(prefix.c_str(), &info) == 0) {
      if (S_ISDIR(info.st_mode)) continue;
      return makeError(i == native.size() ? kErrorAlreadyExists : kErrorPathNotFound,
                       "CreateDirectory " + std::string(path));
    }
    return posix::errorFromErrno(saved, "CreateDirectory " + std::string(path), prefix);
  }
  return {};
}

Error copyFile(std::string_view from, std::string_view to) {
  std::string source, target;
  if (Error error = posix::toNativePath(from, source); error.failed()) return error;
  if (Error error = posix::toNativePath(to, target); error.failed()) return error;
  posix::ScopedFd in(::open(source.c_str(), O_RDONLY | O_CLOEXEC));
  if (!in.valid()) return posix::errorFromErrno(errno, "CopyFile " + std::string(from), source);
  struct stat info {};
  if (::fstat(in.get(), &info) != 0)
    return posix::errorFromErrno(errno, "CopyFile " + std::string(from), source);
  if (!S_ISREG(info.st_mode)) return makeError(kErrorAccessDenied, "CopyFile " + std::string(from));
  struct stat targetInfo {};
  if (::stat(target.c_str(), &targetInfo) == 0 && S_ISDIR(targetInfo.st_mode)) {
    return makeError(kErrorAccessDenied, "CopyFile to " + std::string(to));
  }
  // The copy keeps the source's permission bits, as a copied program must
  // stay runnable.
  Error error = posix::writeTemporaryThenRename(target, posix::temporaryPathFor(target), in.get(), {},
                                                info.st_mode & 0777);
  if (error.failed()) error.operation = "CopyFile " + std::string(from) + " -> " + std::string(to);
  return error;
}

Error deleteFile(std::string_view path) {
  std::string native;
  if (Error error = posix::toNativePath(path, native); error.failed()) return error;
  struct stat info {};
  if (::lstat(native.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) {
    return makeError(kErrorAccessDenied, "DeleteFile " + std::string(path));
  }
  if (::unlink(native.c_str()) != 0)
    return posix::errorFromErrno(errno, "DeleteFile " + std::string(path), native);
  return {};
}

Error readFile(std::string_view path, std::string& contents, size_t maxBytes) {
  contents.clear();
  std::string native;
  if (Error error = posix::toNativePath(path, native); error.failed()) return error;
  Error error = posix::readNativeFile(native, contents, maxBytes);
  if (error.failed()) error.operation = "ReadFile " + std::string(path);
  return error;
}

Error writeFileAtomic(std::string_view path, std::string_view contents) {
  std::string native;
  if (Error error = posix::toNativePath(path, native); error.failed()) return error;
  Error error = posix::writeNativeFileAtomic(native, contents);
  if (error.failed()) error.operation = "WriteFile " + std::string(path);
  return error;
}

struct AppendFile::Impl {
  posix::ScopedFd fd;
};

AppendFile::AppendFile() = default;
AppendFile::~AppendFile() = default;
AppendFile::AppendFile(AppendFile&&) noexcept = default;
AppendFile& AppendFile::operator=(AppendFile&&) noexcept = default;

Error AppendFile::open(std::string_view path, Creation creation) {
  impl_.reset();
  std::string native;
  if (Error error = posix::toNativePath(path, native); error.failed()) return error;
  const int how = creation == Creation::CreateNew ? O_CREAT | O_EXCL : O_CREAT;
  posix::ScopedFd fd(::open(native.c_str(), O_WRONLY | O_APPEND | O_NOFOLLOW | O_CLOEXEC | how, 0644));
  if (!fd.valid()) {
    if (errno == ELOOP) return makeError(kErrorReparsePointEncountered, "CreateFile " + std::string(path));
    if (errno == EEXIST) return makeError(kErrorAlreadyExists, "CreateFile " + std::string(path));
    return posix::errorFromErrno(errno, "CreateFile " + std::string(path), native);
  }
  // Windows sharing, as far as posix has it: another program holding a
  // flock on the file stands for one that opened it without sharing writes.
  // This writer shares everything, so it takes the lock only to look.
  if (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) {
    if (errno == EWOULDBLOCK) return makeError(kErrorSharingViolation, "CreateFile " + std::string(path));
  } else {
    ::flock(fd.get(), LOCK_UN);
  }
  try {
    impl_ = std::make_unique<Impl>();
  } catch (const std::bad_alloc&) {
    return makeError(kErrorNotEnoughMemory, "CreateFile " + std::string(path));
  }
  impl_->fd.reset(fd.release());
  return {};
}

bool AppendFile::isOpen() const { return impl_ != nullptr && impl_->fd.valid(); }

Error AppendFile::write(std::string_view bytes) {
  if (!isOpen()) return makeError(kErrorInvalidHandle, "WriteFile (file not open)");
  if (!posix::writeAll(impl_->fd.get(), bytes)) return posix::errorFromErrno(errno, "WriteFile", "");
  return {};
}

Error AppendFile::flush() {
  // Every write already reached the OS; waiting for the disk would cost a
  // sync per log line for no gain on the simulated machine.
  if (!isOpen()) return makeError(kErrorInvalidHandle, "FlushFileBuffers (file not open)");
  return {};
}

}  // namespace platform
