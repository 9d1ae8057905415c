#include <algorithm>
#include <limits>

#include "platform/folder_listing.h"
#include "platform/pinned_folder.h"

namespace platform {

// The package copy's own walk, copying nothing: what a manifest lists is
// exactly what the copy takes.
Error listFilesBelow(std::string_view folder, const ListingBounds& bounds, std::vector<std::string>& files) {
  files.clear();
  PinnedFolder::CopyOutcome walked = PinnedFolder::checkFolder(
      folder, {std::numeric_limits<uint64_t>::max(), bounds.maxEntries, bounds.maxDepth});
  if (walked.error.failed()) return walked.error;
  if (!walked.refused.empty()) {
    const CopyRefusal& first = walked.refused.front();
    switch (first.why) {
      case CopyRefusal::Why::Link:
        return makeError(kErrorReparsePointEncountered, first.path);
      case CopyRefusal::Why::NotPlain:
        return makeError(kErrorUnsupportedType, first.path);
      case CopyRefusal::Why::Entries:
      case CopyRefusal::Why::Bytes:
        return makeError(kErrorImplementationLimit, first.path);
      case CopyRefusal::Why::Depth:
        return makeError(kErrorFilenameTooLong, first.path);
    }
  }
  files = std::move(walked.files);
  // Sorted as whole paths, not folder by folder: "a-b" before "a/c".
  std::sort(files.begin(), files.end());
  return {};
}

}  // namespace platform
