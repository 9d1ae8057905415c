// The checker's two outputs: text for a person, JSON for a build script.
#pragma once

#include <string>

#include "tools/package_check/package_check.h"

namespace kit {

std::string formatText(const CheckReport& report, const std::string& folderShown);
std::string formatJson(const CheckReport& report, const std::string& folderShown);

}  // namespace kit
