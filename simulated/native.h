// The few things about the simulated machine's own files that differ between
// the systems it runs on, picked at link time (simulated/posix, simulated/win32):
// how a UTF-8 name becomes a file-system path, and where the machine is.
#pragma once

#include <cstdio>
#include <filesystem>
#include <string>
#include <string_view>

namespace simulated::native {

// A UTF-8 path as the file system names it (win32: converted to UTF-16, so
// names outside the ANSI code page survive).
std::filesystem::path fromUtf8(std::string_view utf8);
std::string toUtf8(const std::filesystem::path& path);

// The machine root as OVVB_MACHINE names it (win32: a Unix path, as a test
// harness under Wine passes it, is read on Wine's Z: drive), or the folder
// "machine" beside the program when the variable is empty or unset.
std::filesystem::path namedRoot();

std::FILE* openForAppend(const std::filesystem::path& path);

// Puts `from` in the place of `to` in one step. On Windows a file that another
// process is reading cannot be replaced, and the installer, its stand-in tools
// and the emulators read machine.ini all the time, so there a refused
// replacement is tried again for a bounded time (about two seconds).
bool replaceFile(const std::filesystem::path& from, const std::filesystem::path& to);

}  // namespace simulated::native
