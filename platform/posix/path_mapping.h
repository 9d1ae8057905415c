// How the posix backend sees Windows paths, in Wine's manner: C:\ is the
// machine root's drive_c/, Z:\ is the Unix root. Shared by the files,
// process and paths services and by their tests.
#pragma once

#include <string>
#include <string_view>

#include "platform/error.h"

namespace platform::posix {

// "C:\x\y" (either separator, any case of the letter) -> <machine root>/drive_c/x/y,
// U+F000 plus a code that toWindowsPath stands in for -> that byte,
// "Z:\a\b" -> /a/b. "." and ".." are resolved as Windows does, never above
// the drive's root. A relative path stays relative to the current folder.
// Other drives, UNC and device paths give kErrorPathNotFound.
Error toNativePath(std::string_view windowsPath, std::string& nativePath);

// The Windows view of an absolute native path: "Z:" + the path with
// backslashes. A character no Windows name can hold (\ : * ? " < > | and
// control characters) is shown as U+F000 plus its code, as Cygwin does, and
// toNativePath maps it back, so every such name round-trips. A name that is
// not UTF-8, or that already holds one of those private-use characters, has
// no Windows spelling: kErrorInvalidName, and `windowsPath` is empty.
Error toWindowsPath(std::string_view nativePath, std::string& windowsPath);

// errno of a failed call on `nativePath` as a Windows error: ENOENT is
// "file not found" when the parent folder exists, else "path not found".
Error errorFromErrno(int error, std::string operation, const std::string& nativePath);

}  // namespace platform::posix
