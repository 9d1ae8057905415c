#include "platform/folder_listing.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <string>
#include <vector>

#include "platform/folder_walk.h"
#include "platform/posix/path_mapping.h"
#include "platform/posix/scoped_fd.h"

namespace platform {

namespace {

// The names in the folder `fd`, "." and ".." left out, sorted; at most
// `room` of them, so that a flood of names is not read to its end.
Error namesIn(int fd, const std::string& path, uint32_t room, std::vector<std::string>& names) {
  const int listing = ::dup(fd);
  if (listing < 0) return makeError(kErrorTooManyOpenFiles, "FindFirstFile " + path);
  DIR* raw = ::fdopendir(listing);
  if (raw == nullptr) {
    ::close(listing);
    return makeError(kErrorAccessDenied, "FindFirstFile " + path);
  }
  ::rewinddir(raw);
  Error error;
  while (const dirent* entry = ::readdir(raw)) {
    const std::string name = entry->d_name;
    if (name == "." || name == "..") continue;
    if (names.size() == room) {
      error = makeError(kErrorImplementationLimit, path + "\\" + name);
      break;
    }
    names.push_back(name);
  }
  ::closedir(raw);
  std::sort(names.begin(), names.end());
  return error;
}

Error walkFolder(int fd, const std::string& path, const std::string& relative, uint32_t depth,
                 FolderWalk& walk) {
  std::vector<std::string> names;
  if (Error error = namesIn(fd, path, walk.bounds.maxEntries - walk.entries, names); error.failed())
    return error;
  for (const std::string& name : names) {
    std::string windowsName;
    // A name is shown as Windows would hold it; one with no such spelling
    // could never be listed in a manifest.
    if (Error error = posix::toWindowsPath("/" + name, windowsName); error.failed())
      return makeError(kErrorInvalidName, path + "\\" + name);
    windowsName.erase(0, 3);  // "Z:\"
    const std::string inner = path + "\\" + windowsName;
    const std::string innerRelative = relative.empty() ? windowsName : relative + "/" + windowsName;
    if (++walk.entries > walk.bounds.maxEntries) return makeError(kErrorImplementationLimit, inner);
    struct stat info {};
    if (::fstatat(fd, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0)
      return makeError(kErrorFileNotFound, "FindNextFile " + inner);
    if (S_ISLNK(info.st_mode)) return makeError(kErrorReparsePointEncountered, inner);
    if (S_ISREG(info.st_mode)) {
      walk.files.push_back(innerRelative);
      continue;
    }
    if (!S_ISDIR(info.st_mode)) return makeError(kErrorUnsupportedType, inner);
    if (depth + 1 > walk.bounds.maxDepth) return makeError(kErrorFilenameTooLong, inner);
    posix::ScopedFd below(::openat(fd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!below) {
      if (errno == ELOOP || errno == ENOTDIR) return makeError(kErrorReparsePointEncountered, inner);
      return makeError(kErrorAccessDenied, "FindFirstFile " + inner);
    }
    if (Error error = walkFolder(below.get(), inner, innerRelative, depth + 1, walk); error.failed())
      return error;
  }
  return {};
}

}  // namespace

Error walkFilesBelow(std::string_view folder, FolderWalk& walk) {
  std::string native;
  if (Error error = posix::toNativePath(folder, native); error.failed()) return error;
  posix::ScopedFd top(::open(native.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (!top) {
    if (errno == ELOOP) return makeError(kErrorReparsePointEncountered, std::string(folder));
    if (errno == ENOENT || errno == ENOTDIR)
      return makeError(kErrorPathNotFound, "FindFirstFile " + std::string(folder));
    return posix::errorFromErrno(errno, "FindFirstFile " + std::string(folder), native);
  }
  return walkFolder(top.get(), std::string(folder), "", 0, walk);
}

Error windowsPathOfNative(std::string_view nativePath, std::string& windowsPath) {
  windowsPath.clear();
  std::string absolute(nativePath);
  if (absolute.empty() || absolute.front() != '/') {
    char here[PATH_MAX];
    if (::getcwd(here, sizeof here) == nullptr) return makeError(kErrorPathNotFound, "getcwd");
    absolute = std::string(here) + (absolute.empty() ? "" : "/" + absolute);
  }
  return posix::toWindowsPath(absolute, windowsPath);
}

}  // namespace platform
