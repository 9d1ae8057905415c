// Reading a real packages folder into what the checks look at.
#pragma once

#include <string>
#include <vector>

#include "tools/package_check/package_check.h"

namespace kit {

// `folder` and `toolsFolder` are native paths in UTF-8; an empty
// `toolsFolder` means the package's tools are looked for in the package only.
PackageFolder loadPackageFolder(const std::string& folder, const std::string& toolsFolder);

// What the installer's copy of `folder` would refuse, found without
// following any link and walking no further than the copy's bounds allow.
std::vector<CopyRefusal> copyRefusals(const std::string& folder);

// The refusal in a few words, its path in the folder included.
std::string describeRefusal(const CopyRefusal& refusal);

}  // namespace kit
