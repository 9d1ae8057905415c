#include "platform/folder_names.h"

#include <cstdio>
#include <random>
#include <string>

#include "platform/files.h"

namespace platform {

Error preparePinnedFolder(std::string_view parent, std::string_view below, bool makeParent,
                          const char* function, std::vector<std::string_view>& names) {
  names = folderNames(below);
  bool plain = !names.empty();
  for (std::string_view name : names) plain = plain && isPlainName(name);
  if (!plain) return makeError(kErrorInvalidName, std::string(function) + " " + std::string(below));
  if (const std::string redirected = firstRedirection(parent); !redirected.empty())
    return makeError(kErrorReparsePointEncountered, redirected);
  if (makeParent && !directoryExists(parent)) return createDirectories(parent);
  return {};
}

std::string freshSuffix() {
  std::random_device random;
  char suffix[24];
  std::snprintf(suffix, sizeof(suffix), ".%08x%08x", random(), random());
  return suffix;
}

std::string untrustedSuffix() { return ".untrusted-" + freshSuffix().substr(1); }

Error missingIsPathNotFound(Error error) {
  if (error.code == kErrorFileNotFound) return makeError(kErrorPathNotFound, std::move(error.operation));
  return error;
}

}  // namespace platform
