// Reading a real packages folder into what the checks look at.
#pragma once

#include <string>

#include "tools/package_check/package_check.h"

namespace kit {

// `folder` and `toolsFolder` are native paths in UTF-8; an empty
// `toolsFolder` means the package's tools are looked for in the package only.
PackageFolder loadPackageFolder(const std::string& folder, const std::string& toolsFolder);

}  // namespace kit
