// Windows path helpers and the program's own location.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace platform {

// Windows takes the slash for the backslash in a path, so either separates
// components. Wide for the win32 backend's own path strings.
inline bool isPathSeparator(char c) { return c == '\\' || c == '/'; }
inline bool isPathSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

// Folder of the running executable as a Windows path without a trailing
// separator ("C:\Program Files\Orvo" on win32, "Z:\opt\x" on posix).
std::string programFolder();

// The path this platform's services take for a path of the machine the
// program runs on (a tool's argument): the same path on win32, "Z:\a\b"
// for "/a/b" (relative to the current folder if relative) on posix. Empty
// when it has no such path.
std::string pathOfNative(std::string_view native);

// Joins a folder and a name with one backslash. Unlike Path.Combine it never
// lets an absolute `name` replace `folder`; callers validate names first.
std::string joinPath(std::string_view folder, std::string_view name);

// True when `name` is a plain relative path that stays below the folder it is
// joined to: no drive, UNC or device prefix, no leading separator, no ".."
// component, no ':' (alternate streams) and no control characters.
bool isContainedRelativePath(std::string_view name);

// The value of an environment variable, empty when unset.
std::string environmentVariable(const char* name);

// The program's arguments after its own name, as UTF-8. win32 reads them
// from the wide command line: the C runtime's argv is in the ANSI code page
// and would mangle a path outside it.
std::vector<std::string> programArguments(int argc, char** argv);

}  // namespace platform
