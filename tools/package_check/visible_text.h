// Text from a package shown on a terminal: control characters become
// escapes, so a stray NUL, tab or CR is seen instead of acted on.
#pragma once

#include <string>
#include <string_view>

namespace kit {

std::string visibleText(std::string_view text);

// The text as a JSON string, quotes included (platform/json_text.h: one
// spelling for every JSON text the project writes).
std::string jsonString(std::string_view text);

}  // namespace kit
