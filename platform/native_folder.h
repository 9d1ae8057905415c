// What each pinned folder backend does its own way, beneath the portable
// rules of PinnedFolder (pinned_folder_common.cpp): open a name without
// following it, say what it is, make, rename, list and unlink. Every call
// takes the Windows path of what it acts on for its error's operation. Only
// pinned_folder_common.cpp and the two backends include this.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/error.h"
#include "platform/pinned_folder.h"

namespace platform::native {

// A folder or file opened without following a link, held until released.
using NodePtr = std::unique_ptr<Node, NodeDeleter>;

struct Found {
  enum class Kind { Missing, Folder, File, Link, Other };
  Kind kind = Kind::Missing;
  bool trustedOwner = false;  // only asked of folders when `askOwner`
  std::string owner;          // who owns it, as the log names them
  uint64_t size = 0;          // a file's bytes
};

// Opens `name` in `folder` (or the whole path `path` when `folder` is null)
// without following a link. A folder is opened for listing and shared for
// reading and writing, not deletion, so it cannot be renamed while held; a
// file for reading, shared for reading only. Only a folder or a file gives
// `node`; a missing name is Kind::Missing with no error. `secure` also asks
// for the right to change a folder's owner and DACL (see secure()).
Error openIn(Node* folder, std::string_view name, const std::string& path, bool askOwner, bool secure,
             NodePtr& node, Found& found);

// Makes the folder `name` in `folder` (already there is no error), owned by
// the administrators and closed to everyone else.
Error makeFolderIn(Node& folder, std::string_view name, const std::string& path);

// Leaves an opened folder to the administrators and the system alone.
Error secure(Node& folder, const std::string& path);

// Renames `name` to `newName` in `folder`, never replacing: a taken name is
// kErrorAlreadyExists.
Error renameIn(Node& folder, std::string_view name, std::string_view newName, const std::string& path);

// Makes the administrators owner of `name` in `folder` and resets its DACL
// to theirs and the system's, with whatever privilege that takes.
Error takeOverIn(Node& folder, std::string_view name, const std::string& path);

// At most `most` names in `folder`, in no particular order; `more` when
// there are others.
Error listIn(Node& folder, size_t most, std::vector<std::string>& names, bool& more, const std::string& path);

// Deletes `name` in `folder`: a file, a link (never what it leads to) or an
// empty folder. A missing name is kErrorFileNotFound.
Error unlinkIn(Node& folder, std::string_view name, const std::string& path);

// A new file `name` in `folder`, runnable if `like` is.
Error createFileIn(Node& folder, std::string_view name, const Node& like, const std::string& path,
                   NodePtr& file);

// Reads up to `buffer.size()` bytes; 0 at the end.
Error readSome(Node& file, std::string& buffer, size_t& got, const std::string& path);
Error writeAll(Node& file, std::string_view bytes, const std::string& path);
// Flushes a written file to the disk.
Error finish(Node& file, const std::string& path);

}  // namespace platform::native
