#include "platform/posix/path_mapping.h"

#include <errno.h>
#include <sys/stat.h>

#include <vector>

#include "platform/paths.h"
#include "platform/simulation.h"
#include "platform/unicode_text.h"

namespace platform::posix {

namespace {

// Bytes a POSIX name may hold but a Windows name may not. '/' never occurs
// inside a POSIX name and NUL nowhere.
bool needsStandIn(char32_t c) {
  return (c >= 0x01 && c <= 0x1F) || c == '\\' || c == ':' || c == '*' || c == '?' || c == '"' || c == '<' ||
         c == '>' || c == '|';
}

constexpr char32_t kStandInBase = 0xF000;

bool isStandIn(char32_t c) {
  return c >= kStandInBase && c < kStandInBase + 0x80 && needsStandIn(c - kStandInBase);
}

// The native spelling of Windows text: each stand-in back to its byte.
std::string withStandInsReplaced(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size();) {
    const size_t start = i;
    char32_t c = 0;
    if (nextCodePoint(text, i, c) && isStandIn(c)) {
      out += static_cast<char>(c - kStandInBase);
    } else {
      out.append(text.substr(start, i - start));
    }
  }
  return out;
}

// Components below a drive's root with "." dropped and ".." applied, clamped
// at the root as Windows clamps "C:\..\x" to "C:\x".
std::string normalizedBelowRoot(std::string_view rest) {
  std::vector<std::string_view> parts;
  size_t start = 0;
  while (start <= rest.size()) {
    size_t end = start;
    while (end < rest.size() && !isPathSeparator(rest[end])) ++end;
    const std::string_view part = rest.substr(start, end - start);
    if (part == "..") {
      if (!parts.empty()) parts.pop_back();
    } else if (!part.empty() && part != ".") {
      parts.push_back(part);
    }
    start = end + 1;
  }
  std::string out;
  for (std::string_view part : parts) {
    out += '/';
    out += part;
  }
  return out;
}

}  // namespace

Error toNativePath(std::string_view windowsPath, std::string& nativePath) {
  nativePath.clear();
  std::string_view path = windowsPath;
  // "\\?\C:\x" only switches off Win32 name parsing; the file is the same.
  if (path.size() >= 4 && isPathSeparator(path[0]) && isPathSeparator(path[1]) && path[2] == '?' &&
      isPathSeparator(path[3])) {
    path.remove_prefix(4);
  }
  if (path.empty()) return makeError(kErrorPathNotFound, "map path (empty)");
  if (path.size() >= 2 && path[1] == ':') {
    const char drive = static_cast<char>(path[0] | 0x20);
    const std::string below = withStandInsReplaced(normalizedBelowRoot(path.substr(2)));
    if (drive == 'c') {
      const SimulationHooks* machine = simulation();
      if (machine == nullptr || machine->machineRoot == nullptr)
        return makeError(kErrorPathNotFound,
                         "map path " + std::string(windowsPath) + " (no simulated machine)");
      nativePath = machine->machineRoot() + "/drive_c" + below;
      return {};
    }
    if (drive == 'z') {
      nativePath = below.empty() ? "/" : below;
      return {};
    }
    return makeError(kErrorPathNotFound, "map path " + std::string(windowsPath));
  }
  // UNC shares, device paths and "\x" (root of the current drive) have no
  // place on the simulated machine.
  if (isPathSeparator(path[0]) || path.find(':') != std::string_view::npos) {
    return makeError(kErrorPathNotFound, "map path " + std::string(windowsPath));
  }
  std::string relative(path);
  for (char& c : relative) {
    if (c == '\\') c = '/';
  }
  nativePath = withStandInsReplaced(relative);
  return {};
}

Error toWindowsPath(std::string_view nativePath, std::string& windowsPath) {
  windowsPath = "Z:";
  if (nativePath.empty() || nativePath == "/") {
    windowsPath += '\\';
    return {};
  }
  for (size_t i = 0; i < nativePath.size();) {
    const size_t start = i;
    char32_t c = 0;
    if (!nextCodePoint(nativePath, i, c) || isStandIn(c)) {
      windowsPath.clear();
      return makeError(kErrorInvalidName,
                       "map path " + std::string(nativePath) + " (a name that no Windows path can spell)");
    }
    if (c == '/') {
      windowsPath += '\\';
    } else if (needsStandIn(c)) {
      appendUtf8(windowsPath, kStandInBase + c);
    } else {
      windowsPath.append(nativePath.substr(start, i - start));
    }
  }
  while (windowsPath.size() > 3 && windowsPath.back() == '\\') windowsPath.pop_back();
  return {};
}

Error errorFromErrno(int error, std::string operation, const std::string& nativePath) {
  uint32_t code = kErrorGenericFailure;
  switch (error) {
    case ENOENT: {
      const size_t slash = nativePath.find_last_of('/');
      struct stat info {};
      if (slash == std::string::npos) {
        code = kErrorFileNotFound;
      } else {
        const std::string parent = slash == 0 ? "/" : nativePath.substr(0, slash);
        code = ::stat(parent.c_str(), &info) == 0 && S_ISDIR(info.st_mode) ? kErrorFileNotFound
                                                                           : kErrorPathNotFound;
      }
      break;
    }
    case ENOTDIR:
      code = kErrorPathNotFound;
      break;
    case EACCES:
    case EPERM:
    case EISDIR:
    case EROFS:
      code = kErrorAccessDenied;
      break;
    case EEXIST:
      code = kErrorAlreadyExists;
      break;
    case ENOSPC:
      code = kErrorDiskFull;
      break;
    case ENOEXEC:
      code = kErrorBadExeFormat;
      break;
    case ENAMETOOLONG:
      code = kErrorFilenameTooLong;
      break;
    case EMFILE:
    case ENFILE:
      code = kErrorTooManyOpenFiles;
      break;
    default:
      break;
  }
  return makeError(code, std::move(operation));
}

}  // namespace platform::posix
