#include "tools/package_check/package_folder.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "package/config_text.h"
#include "package/copy_refusal.h"
#include "package/package_signature.h"
#include "package/read_configs.h"
#include "package/vbios_configs.h"
#include "package/vbios_image.h"
#include "platform/ascii_text.h"
#include "platform/files.h"
#include "platform/folder_listing.h"
#include "platform/paths.h"
#include "platform/pinned_folder.h"
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

std::string readBounded(const fs::path& path, size_t limit) {
  std::ifstream in(path, std::ios::binary);
  std::string bytes(limit, '\0');
  in.read(bytes.data(), static_cast<std::streamsize>(limit));
  bytes.resize(static_cast<size_t>(in.gcount()));
  return bytes;
}

// The images an AMD package's entries name, each found as Windows finds it
// (letter case aside), read one byte past the bound so that a larger file
// is seen as one.
void readImages(const fs::path& dir, PackageFolder& package) {
  LogWriter noLog;
  VBiosConfigs configs(noLog);
  std::string problem;
  package::applyConfigText(configs, package::decodeText(package.configBytes), "\n", problem);
  if (!configs.isAmdType()) return;
  for (int32_t i = 0; i < package::countRomEntries(configs); ++i) {
    const std::string wanted = platform::lowerAscii(configs.vb[i].vbRom);
    for (const std::string& file : package.files)
      if (platform::lowerAscii(file) == wanted && !package.images.contains(file))
        package.images[file] = readBounded(dir / nativePath(file), package::kMaxVbiosImageBytes + 1);
  }
}

}  // namespace

// The installer's own walk, copying nothing: what it would refuse is what
// is reported, with its path made relative to the folder.
std::vector<CopyRefusal> copyRefusals(const std::string& folder) {
  const std::string root = platform::pathOfNative(folder);
  if (root.empty()) return {};
  platform::PinnedFolder::CopyOutcome walked =
      platform::PinnedFolder::checkFolder(root, package::packageCopyBounds());
  for (CopyRefusal& refusal : walked.refused) {
    std::string below =
        refusal.path.size() > root.size() ? refusal.path.substr(root.size() + 1) : std::string();
    std::replace(below.begin(), below.end(), '\\', static_cast<char>(fs::path::preferred_separator));
    refusal.path = below;
  }
  return walked.refused;
}

std::string describeRefusal(const CopyRefusal& refusal) {
  return package::describeCopyRefusal(refusal, refusal.path.empty() ? "the packages folder" : refusal.path);
}

PackageFolder loadPackageFolder(const std::string& folder, const std::string& toolsFolder) {
  PackageFolder package;
  const fs::path dir = nativePath(folder);
  std::error_code error;
  package.exists = fs::is_directory(dir, error);
  if (!package.exists) {
    package.isFile = fs::is_regular_file(dir, error);
    return package;
  }
  package.copyRefusals = copyRefusals(folder);
  // A package the copy refuses is never checked further by the installer.
  if (const std::string at = platform::pathOfNative(folder); package.copyRefusals.empty() && !at.empty())
    package.signature = package::checkPackageSignature(at, std::nullopt);
  package.files = regularFiles(dir);
  if (!toolsFolder.empty()) package.toolFiles = regularFiles(nativePath(toolsFolder));

  const fs::path config = dir / "configs.txt";
  package.hasConfig = fs::is_regular_file(config, error);
  if (!package.hasConfig) {
    // Only the first level, and no further than the copy would list: a
    // package unpacked with its own top folder.
    size_t listed = 0;
    for (fs::directory_iterator it(dir, error), end; !error && it != end && ++listed <= kMaxPackageEntries;
         it.increment(error)) {
      std::error_code typeError;
      if (it->is_directory(typeError) && !it->is_symlink(typeError) &&
          fs::is_regular_file(it->path() / "configs.txt", typeError))
        package.configBelow.push_back(utf8Of(it->path().filename()));
      if (package.configBelow.size() == 8) break;
    }
    std::sort(package.configBelow.begin(), package.configBelow.end());
    return package;
  }
  package.configSize = fs::file_size(config, error);
  if (error || package.configSize > kMaxConfigFileBytes) return package;
  std::ifstream in(config, std::ios::binary);
  package.configBytes.resize(static_cast<size_t>(package.configSize));
  in.read(package.configBytes.data(), static_cast<std::streamsize>(package.configBytes.size()));
  package.configBytes.resize(static_cast<size_t>(in.gcount()));
  readImages(dir, package);
  return package;
}

}  // namespace kit
