// The portable rules of PinnedFolder: which folder is trusted, what is done
// with what stands in its way, and the bounded walks that copy and clear.
// Every call on the system goes through native_folder.h.
#include <algorithm>
#include <string>
#include <vector>

#include "platform/folder_names.h"
#include "platform/native_folder.h"
#include "platform/pinned_folder.h"

namespace platform {

namespace {

using native::Found;
using native::NodePtr;
using Kind = Found::Kind;
using Why = CopyRefusal::Why;

constexpr size_t kCopyChunk = size_t{64} << 10;

// Deeper than this, clear() stops: the folders it clears are the program's
// own, made no deeper than its copies go, and each level holds a handle.
constexpr uint32_t kMaxClearDepth = 64;
// clear() reads this many names at a time, whatever a folder holds.
constexpr size_t kClearBatch = 256;

std::string inside(const std::string& folder, std::string_view name) {
  return folder + "\\" + std::string(name);
}

// Why what was found at `path` cannot be one of the folders; no failure when it can.
Error untrusted(const Found& found, const std::string& path) {
  switch (found.kind) {
    case Kind::Folder:
      if (found.trustedOwner) return {};
      // Whoever owns a folder may change who reads and writes in it.
      return makeError(kErrorInvalidOwner, "open " + path + " (owned by " + found.owner +
                                               ", not the administrators or the system)");
    case Kind::Link:
      return makeError(kErrorReparsePointEncountered, path);
    case Kind::Missing:
      return makeError(kErrorPathNotFound, "open " + path);
    case Kind::File:
    case Kind::Other:
      break;
  }
  return makeError(kErrorDirectory, "open " + path);
}

// Renames `name` to a fresh name beside it; a name taken anyway is tried again.
Error moveAside(native::Node& parent, std::string_view name, const std::string& path, std::string& movedTo) {
  for (int attempt = 0; attempt < 8; ++attempt) {
    const std::string suffix = untrustedSuffix();
    const Error error = native::renameIn(parent, name, std::string(name) + suffix, path);
    if (!error.failed()) {
      movedTo = path + suffix;
      return {};
    }
    if (error.code != kErrorAlreadyExists) return error;
  }
  return makeError(kErrorAlreadyExists, "rename " + path);
}

// Out of the way of the folder `name`: moved aside, or taken over and then
// moved; a failure says what still stands there.
Error clearTheWay(native::Node& parent, std::string_view name, const std::string& path,
                  std::string& movedTo) {
  Error moved = moveAside(parent, name, path, movedTo);
  // Held open without delete sharing, or closed to the administrators:
  // theirs again, what holds it may have to let go.
  if (moved.failed() && moved.code != kErrorReparsePointEncountered &&
      !native::takeOverIn(parent, name, path).failed())
    moved = moveAside(parent, name, path, movedTo);
  return moved;
}

struct Level {
  native::Node& parent;
  std::string name;
  std::string path;
  bool make = false;
};

// Opens one folder of `below`, trusted, or says why not.
Error openLevel(Level& level, NodePtr& folder, std::vector<std::string>& movedAside,
                std::vector<std::string>& notFreed) {
  const std::string parentPath = level.path.substr(0, level.path.size() - level.name.size() - 1);
  Error why;
  // Twice at most: what stood in the way is dealt with once, then the
  // folder made anew must be what is opened.
  for (int attempt = 0; attempt < 2; ++attempt) {
    if (level.make) {
      if (Error error = native::makeFolderIn(level.parent, level.name, level.path); error.failed())
        return error;
    }
    Found found;
    why = native::openIn(&level.parent, level.name, level.path, true, level.make, folder, found);
    if (!why.failed()) why = untrusted(found, level.path);
    if (!why.failed()) return level.make ? native::secure(*folder, level.path) : Error{};
    folder.reset();  // held, it could not be moved
    if (!level.make || attempt == 1) return missingIsPathNotFound(why);
    std::string movedTo;
    const Error moved = clearTheWay(level.parent, level.name, level.path, movedTo);
    if (!moved.failed()) {
      movedAside.push_back(level.path + " -> " + movedTo);
      continue;
    }
    if (moved.code == kErrorReparsePointEncountered) return moved;
    // Nothing frees the name while its holder runs; this run works beside it.
    level.name += freshSuffix();
    const std::string fresh = inside(parentPath, level.name);
    notFreed.push_back(level.path + " -> " + fresh + " (" + moved.operation + ": " + moved.message + ")");
    level.path = fresh;
  }
  return why;
}

// One walk of a folder for copyFolderIn and checkFolder. A copy stops at the
// first refusal; a check goes on past what is refused one entry at a time
// and stops at a bound.
class CopyWalk {
 public:
  CopyWalk(const PinnedFolder::CopyBounds& bounds, native::Node* target, std::string targetPath)
      : bounds_(bounds), target_(target), targetPath_(std::move(targetPath)) {}

  PinnedFolder::CopyOutcome run(std::string_view from) {
    const std::string source(from);
    sourceLength_ = source.size();
    NodePtr root;
    Found found;
    if (Error error = native::openIn(nullptr, from, source, false, false, root, found); error.failed())
      out_.error = missingIsPathNotFound(error);
    else if (found.kind == Kind::Missing)
      out_.error = makeError(kErrorPathNotFound, "open " + source);
    else if (found.kind == Kind::File)
      out_.error = makeError(kErrorDirectory, "open " + source);
    else if (found.kind != Kind::Folder)
      refuse(found.kind == Kind::Link ? Why::Link : Why::NotPlain, source);
    else
      walk(*root, source, target_, targetPath_, 0);
    return std::move(out_);
  }

 private:
  // False: stop the walk.
  bool refuse(Why why, const std::string& path) {
    out_.refused.push_back({why, path});
    return target_ == nullptr && (why == Why::Link || why == Why::NotPlain);
  }
  bool fail(Error error) {
    out_.error = std::move(error);
    return false;
  }

  bool walk(native::Node& from, const std::string& fromPath, native::Node* to, const std::string& toPath,
            uint32_t depth) {
    std::vector<std::string> names;
    bool more = false;
    // No more names are read than the bound lets in: a flood is not listed to its end.
    if (Error error = native::listIn(from, bounds_.maxEntries - entries_, names, more, fromPath);
        error.failed())
      return fail(error);
    if (more) return refuse(Why::Entries, fromPath);
    entries_ += static_cast<uint32_t>(names.size());
    // Sorted, so that a copy and its refusals come out the same on every run.
    std::sort(names.begin(), names.end());
    for (const std::string& name : names) {
      const std::string path = inside(fromPath, name), targetPath = inside(toPath, name);
      NodePtr node;
      Found found;
      if (Error error = native::openIn(&from, name, path, false, false, node, found); error.failed())
        return fail(error);
      bool goOn = true;
      switch (found.kind) {
        case Kind::Missing:
          return fail(makeError(kErrorFileNotFound, "open " + path));
        case Kind::Link:
          goOn = refuse(Why::Link, path);
          break;
        case Kind::Other:
          goOn = refuse(Why::NotPlain, path);
          break;
        case Kind::File:
          goOn = copyFile(*node, found.size, path, to, name, targetPath);
          break;
        case Kind::Folder:
          goOn = copyFolder(*node, path, to, name, targetPath, depth + 1);
          break;
      }
      if (!goOn) return false;
    }
    return true;
  }

  bool copyFolder(native::Node& from, const std::string& path, native::Node* to, const std::string& name,
                  const std::string& targetPath, uint32_t depth) {
    if (depth > bounds_.maxDepth) return refuse(Why::Depth, path);
    NodePtr made;
    if (to != nullptr) {
      Found found;
      if (Error error = native::makeFolderIn(*to, name, targetPath); error.failed()) return fail(error);
      if (Error error = native::openIn(to, name, targetPath, false, false, made, found); error.failed())
        return fail(error);
      if (found.kind != Kind::Folder) return fail(makeError(kErrorDirectory, "open " + targetPath));
    }
    return walk(from, path, made.get(), targetPath, depth);
  }

  bool copyFile(native::Node& in, uint64_t size, const std::string& path, native::Node* to,
                const std::string& name, const std::string& targetPath) {
    if (size > bounds_.maxBytes - bytes_) return refuse(Why::Bytes, path);
    std::string below = path.substr(std::min(path.size(), sourceLength_ + 1));
    std::replace(below.begin(), below.end(), '\\', '/');
    out_.files.push_back(std::move(below));
    if (to == nullptr) {
      bytes_ += size;
      return true;
    }
    NodePtr out;
    if (Error error = native::createFileIn(*to, name, in, targetPath, out); error.failed())
      return fail(error);
    std::string chunk(kCopyChunk, '\0');
    for (;;) {
      size_t got = 0;
      if (Error error = native::readSome(in, chunk, got, path); error.failed()) return fail(error);
      if (got == 0) return true;
      // A file that grows while it is read counts with what it became.
      if (got > bounds_.maxBytes - bytes_) return refuse(Why::Bytes, path);
      bytes_ += got;
      if (Error error = native::writeAll(*out, std::string_view(chunk.data(), got), targetPath);
          error.failed())
        return fail(error);
    }
  }

  const PinnedFolder::CopyBounds& bounds_;
  size_t sourceLength_ = 0;
  native::Node* target_;  // null: a check, nothing is copied
  std::string targetPath_;
  uint64_t bytes_ = 0;
  uint32_t entries_ = 0;
  PinnedFolder::CopyOutcome out_;
};

Error clearIn(native::Node& folder, const std::string& path, uint32_t depth) {
  if (depth > kMaxClearDepth) return makeError(kErrorImplementationLimit, "remove " + path);
  for (bool more = true; more;) {
    std::vector<std::string> names;
    if (Error error = native::listIn(folder, kClearBatch, names, more, path); error.failed()) return error;
    size_t removed = 0;
    for (const std::string& name : names) {
      const std::string inner = inside(path, name);
      NodePtr node;
      Found found;
      if (Error error = native::openIn(&folder, name, inner, false, false, node, found); error.failed())
        return error;
      // A link goes itself, never what it leads to; only a real folder is emptied first.
      if (found.kind == Kind::Folder) {
        if (Error error = clearIn(*node, inner, depth + 1); error.failed()) return error;
      }
      node.reset();  // held, it could not be removed
      const Error error = native::unlinkIn(folder, name, inner);
      if (error.failed() && error.code != kErrorFileNotFound) return error;
      ++removed;
    }
    if (more && removed == 0) return makeError(kErrorImplementationLimit, "remove " + path);
  }
  return {};
}

}  // namespace

PinnedFolder::PinnedFolder() = default;
PinnedFolder::~PinnedFolder() = default;
PinnedFolder::PinnedFolder(PinnedFolder&&) noexcept = default;
PinnedFolder& PinnedFolder::operator=(PinnedFolder&&) noexcept = default;

Error PinnedFolder::open(std::string_view parent, std::string_view below, Make make) {
  close();
  std::vector<std::string_view> names;
  if (Error error = preparePinnedFolder(parent, below, make == Make::IfMissing, "open", names);
      error.failed())
    return error;
  std::vector<NodePtr> folders(1);
  std::string path(parent);
  Found found;
  if (Error error = native::openIn(nullptr, parent, path, false, false, folders[0], found); error.failed())
    return missingIsPathNotFound(error);
  if (found.kind != Kind::Folder) return untrusted(found, path);
  for (std::string_view name : names) {
    Level level{*folders.back(), std::string(name), inside(path, name), make == Make::IfMissing};
    NodePtr folder;
    if (Error error = openLevel(level, folder, movedAside_, notFreed_); error.failed()) return error;
    path = level.path;
    folders.push_back(std::move(folder));
  }
  path_ = path;
  folders_ = std::move(folders);
  return {};
}

Error PinnedFolder::copyIn(std::string_view from, std::string_view name) {
  const std::string target = inside(path_, name), source(from);
  if (!isOpen()) return makeError(kErrorInvalidHandle, "copy " + source + " -> " + target);
  if (!isPlainName(name)) return makeError(kErrorInvalidName, "copy " + source + " -> " + target);
  NodePtr in;
  Found found;
  if (Error error = native::openIn(nullptr, from, source, false, false, in, found); error.failed())
    return error;
  if (found.kind == Kind::Missing) return makeError(kErrorFileNotFound, "open " + source);
  if (found.kind != Kind::File) return makeError(kErrorAccessDenied, "copy " + source + " -> " + target);
  native::Node& folder = *folders_.back();
  // A link of that name is removed, not written through; only the
  // administrators and the system can make a new one before the copy.
  if (Error error = native::unlinkIn(folder, name, target);
      error.failed() && error.code != kErrorFileNotFound)
    return error;
  NodePtr out;
  if (Error error = native::createFileIn(folder, name, *in, target, out); error.failed()) return error;
  std::string chunk(kCopyChunk, '\0');
  Error error;
  for (size_t got = 1; !error.failed() && got != 0;) {
    error = native::readSome(*in, chunk, got, source);
    if (!error.failed() && got != 0)
      error = native::writeAll(*out, std::string_view(chunk.data(), got), target);
  }
  if (!error.failed()) error = native::finish(*out, target);
  if (!error.failed()) return {};
  out.reset();
  ignoreFailure(native::unlinkIn(folder, name, target));  // a partial copy is no copy
  return error;
}

Error PinnedFolder::remove(std::string_view name) {
  const std::string target = inside(path_, name);
  if (!isOpen()) return makeError(kErrorInvalidHandle, "delete " + target);
  if (!isPlainName(name)) return makeError(kErrorInvalidName, "delete " + target);
  NodePtr node;
  Found found;
  if (Error error = native::openIn(folders_.back().get(), name, target, false, false, node, found);
      error.failed())
    return error;
  if (found.kind == Kind::Missing) return makeError(kErrorFileNotFound, "delete " + target);
  if (found.kind == Kind::Folder) return makeError(kErrorAccessDenied, "delete " + target);
  node.reset();
  return native::unlinkIn(*folders_.back(), name, target);
}

PinnedFolder::CopyOutcome PinnedFolder::copyFolderIn(std::string_view from, const CopyBounds& bounds) {
  if (!isOpen()) return {makeError(kErrorInvalidHandle, "copy " + std::string(from) + " -> " + path_), {}, {}};
  // The folders on the way to `from` are the user's own business (a profile
  // moved by a junction is common); `from` and what is in it are the copy.
  return CopyWalk(bounds, folders_.back().get(), path_).run(from);
}

PinnedFolder::CopyOutcome PinnedFolder::checkFolder(std::string_view from, const CopyBounds& bounds) {
  return CopyWalk(bounds, nullptr, std::string()).run(from);
}

Error PinnedFolder::clear() {
  if (!isOpen()) return makeError(kErrorInvalidHandle, "remove " + path_);
  return clearIn(*folders_.back(), path_, 0);
}

void PinnedFolder::close() {
  folders_.clear();
  path_.clear();
  movedAside_.clear();
  notFreed_.clear();
}

}  // namespace platform
