// Why the installer does not take a package it was given, in the words its
// log and the package checker both use.
#pragma once

#include <string>
#include <string_view>

#include "platform/pinned_folder.h"

namespace package {

// `at` names what was refused as the reader knows it: the installer gives
// the whole path, the checker the path inside the package.
std::string describeCopyRefusal(const platform::CopyRefusal& refusal, std::string_view at);

// The bounds of the installer's copy of a package.
platform::PinnedFolder::CopyBounds packageCopyBounds();

}  // namespace package
