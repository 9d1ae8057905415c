// Windows command-line text: quoting one argument and splitting a line back
// into arguments, by the rules of CommandLineToArgvW / the MSVC runtime.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace platform {

enum class Quoting {
  WhenNeeded,  // plain words stay bare
  Always,      // for a command line whose form is fixed, such as a path in quotes
};

// Quotes `argument` so that the Windows rules give it back unchanged:
// anything with blanks, tabs or quotes is quoted (with Quoting::Always,
// everything), and backslashes before a quote are doubled.
std::string quoteWindowsArgument(std::string_view argument, Quoting quoting = Quoting::WhenNeeded);

// Splits the text after the program name into arguments (MSVC 2008+ rules,
// including "" inside a quoted part).
std::vector<std::string> splitWindowsCommandLine(std::string_view text);

}  // namespace platform
