#include "tools/package_check/package_folder.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "package/package_signature.h"
#include "package/vbios_configs.h"
#include "platform/files.h"
#include "platform/folder_listing.h"
#include "tools/entry/native_path.h"

namespace fs = std::filesystem;

namespace kit {

namespace {

std::vector<std::string> regularFiles(const fs::path& dir) {
  std::vector<std::string> names;
  std::error_code error;
  for (fs::directory_iterator it(dir, error), end; !error && it != end; it.increment(error)) {
    std::error_code typeError;
    if (it->is_regular_file(typeError)) names.push_back(utf8Of(it->path().filename()));
  }
  // The order a folder lists its files in is the file system's; messages
  // must not depend on it.
  std::sort(names.begin(), names.end());
  return names;
}

bool isLink(const fs::path& path, const fs::file_status& own) {
  // libstdc++ on Windows sees through links and junctions alike, so the
  // platform's own test answers there; on posix that test knows only the
  // paths a Windows path maps to, and the status answers.
  return fs::is_symlink(own) || platform::isLinkOrReparsePoint(utf8Of(path));
}

// Walks the folder as the installer's copy does: names in sorted order, each
// file and folder counted, sizes summed, nothing followed. It goes on past a
// link, so the author hears of every one, but stops at the first bound passed.
class CopyWalk {
 public:
  explicit CopyWalk(std::vector<CopyRefusal>& out) : out_(out) {}

  // False once a bound is passed.
  bool walk(const fs::path& dir, const fs::path& below, uint32_t depth) {
    std::vector<fs::path> names;
    std::error_code error;
    for (fs::directory_iterator it(dir, error), end; !error && it != end; it.increment(error)) {
      // A flood of names is not listed to its end: the bound is passed here.
      if (names.size() == kMaxPackageEntries - entries_) return stop(CopyRefusal::Why::Entries, below);
      names.push_back(it->path().filename());
    }
    std::sort(names.begin(), names.end());
    for (const fs::path& name : names) {
      const fs::path path = dir / name, at = below / name;
      if (++entries_ > kMaxPackageEntries) return stop(CopyRefusal::Why::Entries, below);
      std::error_code statusError;
      const fs::file_status own = fs::symlink_status(path, statusError);
      if (isLink(path, own)) {
        out_.push_back({CopyRefusal::Why::Link, utf8Of(at)});
      } else if (fs::is_regular_file(own)) {
        const uint64_t size = fs::file_size(path, statusError);
        if (!statusError && size > kMaxPackageBytes - bytes_) return stop(CopyRefusal::Why::Bytes, at);
        if (!statusError) bytes_ += size;
      } else if (!fs::is_directory(own)) {
        out_.push_back({CopyRefusal::Why::NotPlain, utf8Of(at)});
      } else if (depth + 1 > kMaxPackageDepth) {
        return stop(CopyRefusal::Why::Depth, at);
      } else if (!walk(path, at, depth + 1)) {
        return false;
      }
    }
    return true;
  }

 private:
  bool stop(CopyRefusal::Why why, const fs::path& at) {
    out_.push_back({why, utf8Of(at)});
    return false;
  }

  std::vector<CopyRefusal>& out_;
  uint64_t bytes_ = 0;
  uint32_t entries_ = 0;
};

}  // namespace

std::vector<CopyRefusal> copyRefusals(const std::string& folder) {
  std::vector<CopyRefusal> refusals;
  const fs::path dir = nativePath(folder);
  std::error_code error;
  if (isLink(dir, fs::symlink_status(dir, error))) {
    refusals.push_back({CopyRefusal::Why::Link, ""});
    return refusals;
  }
  if (fs::is_directory(dir, error)) CopyWalk(refusals).walk(dir, fs::path(), 0);
  return refusals;
}

std::string describeRefusal(const CopyRefusal& refusal) {
  const std::string at = refusal.path.empty() ? std::string("the packages folder") : refusal.path;
  switch (refusal.why) {
    case CopyRefusal::Why::Link:
      return at + " is a link or junction that leads elsewhere";
    case CopyRefusal::Why::NotPlain:
      return at + " is neither a file nor a folder";
    case CopyRefusal::Why::Bytes:
      return "the files up to " + at + " hold more than " + std::to_string(kMaxPackageBytes) + " bytes";
    case CopyRefusal::Why::Entries:
      return "the package holds more than " + std::to_string(kMaxPackageEntries) +
             " files and folders (the count passes it in " + at + ")";
    case CopyRefusal::Why::Depth:
      return at + " nests folders more than " + std::to_string(kMaxPackageDepth) + " deep";
  }
  return at;
}

PackageFolder loadPackageFolder(const std::string& folder, const std::string& toolsFolder) {
  PackageFolder package;
  const fs::path dir = nativePath(folder);
  std::error_code error;
  package.exists = fs::is_directory(dir, error);
  if (!package.exists) return package;
  package.copyRefusals = copyRefusals(folder);
  // A package the copy refuses is never checked further by the installer.
  std::string at;
  if (package.copyRefusals.empty() && !platform::windowsPathOfNative(folder, at).failed())
    package.signature = package::checkPackageSignature(at, std::nullopt);
  package.files = regularFiles(dir);
  if (!toolsFolder.empty()) package.toolFiles = regularFiles(nativePath(toolsFolder));

  const fs::path config = dir / "configs.txt";
  package.hasConfig = fs::is_regular_file(config, error);
  if (!package.hasConfig) return package;
  package.configSize = fs::file_size(config, error);
  if (error || package.configSize > kMaxConfigFileBytes) return package;
  std::ifstream in(config, std::ios::binary);
  package.configBytes.resize(static_cast<size_t>(package.configSize));
  in.read(package.configBytes.data(), static_cast<std::streamsize>(package.configBytes.size()));
  package.configBytes.resize(static_cast<size_t>(in.gcount()));
  return package;
}

}  // namespace kit
