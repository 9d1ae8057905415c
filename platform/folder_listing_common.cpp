#include <algorithm>

#include "platform/folder_listing.h"
#include "platform/folder_walk.h"

namespace platform {

Error listFilesBelow(std::string_view folder, const ListingBounds& bounds, std::vector<std::string>& files) {
  files.clear();
  FolderWalk walk{bounds, files};
  if (Error error = walkFilesBelow(folder, walk); error.failed()) {
    files.clear();
    return error;
  }
  // Sorted as whole paths, not folder by folder: "a-b" before "a/c".
  std::sort(files.begin(), files.end());
  return {};
}

}  // namespace platform
