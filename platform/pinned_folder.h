// A folder that this program, running elevated, copies into and deletes from
// although other users may create folders beside it (C:\ProgramData lets
// them). Checking a path and then using it leaves a moment in which a
// planted link or junction turns the copy or the delete onto files that are
// not ours; this folder is opened once, without following links, and every
// write and delete goes through what was opened.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/error.h"

namespace platform {

namespace native {
struct Node;
struct NodeDeleter {
  void operator()(Node* node) const noexcept;
};
}  // namespace native

// Why a folder was not copied: a refusal of what is in it, not a failure of
// the system. `path` names what was refused (a folder, for Entries).
struct CopyRefusal {
  enum class Why { Link, NotPlain, Bytes, Entries, Depth };
  Why why = Why::Link;
  std::string path;
};

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
  // lacks it), and each folder in `below` is left to the administrators and
  // the system alone: owned by the administrators, nobody else may read,
  // write or list it (a protected DACL on Windows; owner-only mode bits on
  // posix). What stands in the way of a folder in `below` and cannot be
  // trusted (a link or reparse point, a file, a folder owned by anyone but
  // the administrators, the system or TrustedInstaller; on posix, by anyone
  // but root and this program's user) is moved aside, never followed, to a
  // new name beside it, and the folder is made anew: anyone may create
  // folders in C:\ProgramData, and what they made must not stop every later
  // run. movedAside() names each such move. What cannot be moved (held open
  // without delete sharing, or closed to the administrators) is taken over
  // first; if it still cannot be moved, the folder is made under a fresh
  // name beside it (`VBIOS.<random>`), named by notFreed(). (Under Wine,
  // which opens a Unix symbolic link's target even when asked not to, a link
  // cannot be moved without moving what it leads to: there it is refused as
  // with Make::Never.)
  //
  // With Make::Never a missing folder is kErrorPathNotFound, nothing is
  // changed and nothing is moved; what cannot be trusted is refused:
  //  - kErrorReparsePointEncountered: a link or reparse point on the way;
  //    `operation` is exactly its path;
  //  - kErrorInvalidOwner: a folder in `below` belongs to someone else;
  //  - kErrorDirectory: a file stands where a folder belongs.
  // A link on the way to `parent` is refused in either mode. Every call on a
  // folder that is not open is kErrorInvalidHandle.
  //
  // Each folder in `below` stays pinned while this is held: on Windows it
  // cannot be renamed, removed or replaced meanwhile.
  enum class Make { IfMissing, Never };
  Error open(std::string_view parent, std::string_view below, Make make = Make::IfMissing);

  bool isOpen() const { return !folders_.empty(); }
  const std::string& path() const { return path_; }  // the Windows path of the last folder; empty when closed

  // Copies the file `from` into the folder as `name`, a plain file name. A
  // file of that name is removed first and the copy is made as a new file: a
  // link planted under the name is removed, never written through. A name
  // that is not plain (a folder in it, "..") is kErrorInvalidName; a missing
  // `from` kErrorFileNotFound.
  Error copyIn(std::string_view from, std::string_view name);

  // Deletes the file `name` from the folder; a link of that name is itself
  // deleted. A missing file is kErrorFileNotFound.
  Error remove(std::string_view name);

  // Copies everything in the folder `from` into this folder, subfolders
  // alike, as it is at this moment: each source folder is held while its
  // names are copied, nothing is followed and no folder's names are read
  // past the bound. What is in it and cannot be copied is a refusal, and
  // what was copied so far is left for clear(): a link or reparse point
  // (`from` itself too), anything neither a file nor a folder, more than
  // `maxBytes` in all, more than `maxEntries` files and folders, folders
  // nested deeper than `maxDepth`. A missing `from` is kErrorPathNotFound, a
  // file kErrorDirectory.
  struct CopyBounds {
    uint64_t maxBytes = 0;
    uint32_t maxEntries = 0;
    uint32_t maxDepth = 0;
  };
  struct CopyOutcome {
    Error error;                       // the system failed
    std::vector<CopyRefusal> refused;  // the folder's contents were refused
    // Every file walked, as its path below `from` with '/' between names,
    // in the walk's order.
    std::vector<std::string> files;
    bool failed() const { return error.failed() || !refused.empty(); }
  };
  CopyOutcome copyFolderIn(std::string_view from, const CopyBounds& bounds);

  // The walk of copyFolderIn, copying nothing: every link and entry neither
  // a file nor a folder (the walk goes on past them), then the first bound
  // passed, if any. Paths are as copyFolderIn gives them.
  static CopyOutcome checkFolder(std::string_view from, const CopyBounds& bounds);

  // Deletes everything in the folder, the folder itself staying; a link in
  // it is itself deleted, never what it leads to.
  Error clear();

  // What open() moved out of the way, each as "<old path> -> <new path>".
  const std::vector<std::string>& movedAside() const { return movedAside_; }
  // What open() could not move, each as "<path> (<why>) -> <fresh path>".
  const std::vector<std::string>& notFreed() const { return notFreed_; }

  void close();

 private:
  std::vector<std::unique_ptr<native::Node, native::NodeDeleter>> folders_;  // the parent first
  std::string path_;
  std::vector<std::string> movedAside_;
  std::vector<std::string> notFreed_;
};

}  // namespace platform
