// Files and folders by Windows path. posix maps C:\ to the machine root's
// drive_c/ and Z:\ to /, as Wine does.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "platform/error.h"

namespace platform {

bool fileExists(std::string_view path);       // an existing regular file
bool directoryExists(std::string_view path);  // an existing folder

// A symbolic link, junction or other reparse point: a name that leads
// somewhere other than where it stands. A missing path is none.
bool isLinkOrReparsePoint(std::string_view path);

// The first of `path` and the folders on the way to it, below its drive's
// root ("C:\A", "C:\A\B", ...), that is a link or reparse point; empty when
// none is. A program running elevated that writes into or deletes from a
// folder others may create must not follow such a name: a junction planted
// there would turn the write or the delete onto files that are not ours.
std::string firstRedirection(std::string_view path);

// Creates the folder and any missing parents; an existing folder is success.
// A file in the way is kErrorAlreadyExists when it has the folder's own name,
// kErrorPathNotFound when it stands where a parent belongs.
Error createDirectories(std::string_view path);

// Copies a file, replacing an existing target. A missing source is
// kErrorFileNotFound; a folder as the target kErrorAccessDenied.
Error copyFile(std::string_view from, std::string_view to);

// Deletes a file. A missing file is an error (code 2) so callers can decide;
// a folder is kErrorAccessDenied.
Error deleteFile(std::string_view path);

// Reads a whole file. Files over `maxBytes` are refused (kErrorFileTooLarge)
// rather than truncated, and `contents` is then empty. A missing file gives
// code 2, a missing folder 3, a folder kErrorAccessDenied.
Error readFile(std::string_view path, std::string& contents, size_t maxBytes);

// Replaces `path` with `contents` atomically: a temporary file beside it is
// written and flushed, then renamed over the target.
Error writeFileAtomic(std::string_view path, std::string_view contents);

// A file opened for appending. It shares reading, writing and deleting, so
// that no reader of it is ever turned away; but a program that already holds
// it without letting writers in (posix: one holding a flock on it) keeps it
// from being opened: kErrorSharingViolation. A link or reparse point in its
// place is never followed: kErrorReparsePointEncountered. Writing to or
// flushing one that is not open is kErrorInvalidHandle. Closed exactly once
// by its destructor.
class AppendFile {
 public:
  enum class Creation {
    OpenOrCreate,  // appends to an existing file
    CreateNew,     // an existing name of any kind is kErrorAlreadyExists
  };

  AppendFile();
  ~AppendFile();
  AppendFile(AppendFile&&) noexcept;
  AppendFile& operator=(AppendFile&&) noexcept;
  AppendFile(const AppendFile&) = delete;
  AppendFile& operator=(const AppendFile&) = delete;

  Error open(std::string_view path, Creation creation = Creation::OpenOrCreate);
  bool isOpen() const;
  Error write(std::string_view bytes);  // the bytes reach the OS at once
  Error flush();                        // and the disk, as far as the OS allows

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace platform
