// Reading a real packages folder into what the checks look at.
#pragma once

#include <string>

#include "tools/package_check/package_check.h"

namespace kit {

// `folder` and `toolsFolder` are native paths in UTF-8; `toolsShown` is how
// messages name the tools folder.
PackageFolder loadPackageFolder(const std::string& folder, const std::string& toolsFolder,
                                const std::string& toolsShown);

}  // namespace kit
