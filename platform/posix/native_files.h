// Native-path file helpers shared by the posix services (files, registry).
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "platform/error.h"

namespace platform::posix {

// Reads a whole regular file of at most `maxBytes` bytes.
Error readNativeFile(const std::string& path, std::string& contents, size_t maxBytes);

// Writes a temporary file beside `path`, flushes it to disk and renames it
// over `path`. The target keeps its permission bits when it existed.
Error writeNativeFileAtomic(const std::string& path, std::string_view contents);

// write(2) until every byte is taken, across partial writes and signals.
bool writeAll(int fd, std::string_view bytes);

}  // namespace platform::posix
