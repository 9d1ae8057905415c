#include "platform/folder_names.h"

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

Error missingIsPathNotFound(Error error) {
  if (error.code == kErrorFileNotFound) return makeError(kErrorPathNotFound, std::move(error.operation));
  return error;
}

}  // namespace platform
