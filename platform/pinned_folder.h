// A folder that this program, running elevated, copies into and deletes from
// although other users may create folders beside it (C:\ProgramData lets
// them). Checking a path and then using it leaves a moment in which a
// planted link or junction turns the copy or the delete onto files that are
// not ours; this folder is opened once, without following links, and every
// write and delete goes through what was opened.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "platform/error.h"

namespace platform {

class PinnedFolder {
 public:
  PinnedFolder();
  ~PinnedFolder();
  PinnedFolder(PinnedFolder&&) noexcept;
  PinnedFolder& operator=(PinnedFolder&&) noexcept;
  PinnedFolder(const PinnedFolder&) = delete;
  PinnedFolder& operator=(const PinnedFolder&) = delete;

  // Opens `parent`\`below` (one or more folder names). With Make::IfMissing
  // what is missing is made (`parent`, a system folder, only if the machine
  // lacks it) and the last folder is left writable by the administrators and
  // the system alone (a protected DACL on Windows; no group or other write on
  // posix); with Make::Never a missing folder is kErrorPathNotFound and
  // nothing is changed. Each folder in `below` stays pinned while this is
  // held: on Windows it cannot be renamed, removed or replaced meanwhile.
  //
  // Refused, with nothing made beyond the refused folder:
  //  - kErrorReparsePointEncountered: a link or reparse point on the way;
  //    `operation` is exactly its path;
  //  - kErrorInvalidOwner: a folder in `below` belongs to someone other than
  //    the administrators, the system or this program's own user.
  enum class Make { IfMissing, Never };
  Error open(std::string_view parent, std::string_view below, Make make = Make::IfMissing);

  bool isOpen() const { return impl_ != nullptr; }
  const std::string& path() const { return path_; }  // the Windows path of the last folder; empty when closed

  // Copies `from` into the folder as `name`, a plain file name. A file of
  // that name is removed first and the copy is made as a new file: a link
  // planted under the name is removed, never written through.
  Error copyIn(std::string_view from, std::string_view name);

  // Deletes the file `name` from the folder; a link of that name is itself
  // deleted. A missing file is kErrorFileNotFound.
  Error remove(std::string_view name);

  void close();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
  std::string path_;
};

}  // namespace platform
