// The files of a folder tree, as names relative to it: what a manifest of the
// tree lists.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/error.h"

namespace platform {

struct ListingBounds {
  uint32_t maxEntries = 0;  // files and folders in all
  uint32_t maxDepth = 0;    // folders nested below the top
};

// Every regular file below the folder at the Windows path `folder`,
// subfolders included, each as its path relative to `folder` with '/'
// between names ("tools/amdvbflash.exe"), sorted by byte value. Nothing is
// followed. Refused, with `files` empty:
//  - kErrorReparsePointEncountered: a link or reparse point in the tree;
//    `operation` is exactly its path;
//  - kErrorUnsupportedType: something neither a file nor a folder;
//  - kErrorImplementationLimit: more than `maxEntries` files and folders;
//  - kErrorFilenameTooLong: folders nested deeper than `maxDepth`.
// A missing `folder` is kErrorPathNotFound.
Error listFilesBelow(std::string_view folder, const ListingBounds& bounds, std::vector<std::string>& files);

}  // namespace platform
