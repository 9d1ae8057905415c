// The backends' half of listFilesBelow (platform/folder_listing.h): each
// walks its own file system; folder_listing_common.cpp does the rest.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/error.h"
#include "platform/folder_listing.h"

namespace platform {

struct FolderWalk {
  const ListingBounds& bounds;
  std::vector<std::string>& files;  // appended to, in the order found
  uint32_t entries = 0;             // files and folders seen so far
};

// Adds every regular file below `folder` to walk.files, refusing as
// listFilesBelow says; what was added before a refusal is left.
Error walkFilesBelow(std::string_view folder, FolderWalk& walk);

}  // namespace platform
