// The simulated machine's folder and its files. Only std::filesystem and
// stdio here: the stand-in tools and the windows-sim build (mingw, run under
// Wine) link this too, so nothing may assume a POSIX kernel. What must ask the
// OS (where the machine is, how a name becomes a path) is in simulated/{posix,win32}.
#include "simulated/machine.h"

#include <atomic>
#include <chrono>
#include <fstream>
#include <random>
#include <system_error>

#include "simulated/native.h"

namespace simulated {

namespace fs = std::filesystem;

namespace {

fs::path rootPath() {
  const fs::path root = native::namedRoot();
  std::error_code ec;
  fs::path absolute = fs::absolute(root, ec);
  if (ec) return root;
  absolute = absolute.lexically_normal();
  // "/m/./" normalises to "/m/"; children and callers compare the plain form.
  if (!absolute.has_filename() && absolute.has_relative_path()) absolute = absolute.parent_path();
  return absolute;
}

// The root, created when missing, as a path every file below it is named from.
fs::path existingRoot() {
  const fs::path root = rootPath();
  std::error_code ec;
  fs::create_directories(root, ec);
  return root;
}

// Beside the target so the rename stays on one file system; unique per call
// so two processes updating at once never share a temporary.
fs::path temporaryBeside(const fs::path& target) {
  static std::atomic<unsigned> counter{0};
  std::random_device entropy;
  const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
  std::string name = target.filename().string() + ".tmp." + std::to_string(entropy()) + "." +
                     std::to_string(stamp & 0xFFFFFF) + "." + std::to_string(counter++);
  return target.parent_path() / name;
}

}  // namespace

std::string machineRoot() { return native::toUtf8(existingRoot()); }

fs::path machineFile(std::string_view name) { return existingRoot() / native::fromUtf8(name); }

bool readWholeFile(const fs::path& path, std::uintmax_t maxBytes, std::string& out) {
  std::error_code ec;
  const std::uintmax_t size = fs::file_size(path, ec);
  if (ec || size > maxBytes) return false;
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  out.assign(static_cast<size_t>(size), '\0');
  in.read(out.data(), static_cast<std::streamsize>(size));
  out.resize(static_cast<size_t>(in.gcount()));
  return true;
}

bool replaceWholeFile(const fs::path& target, std::string_view contents) {
  const fs::path temporary = temporaryBeside(target);
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    if (!out) return false;
    out.write(contents.data(), static_cast<std::streamsize>(contents.size()));
    out.flush();
    if (!out) {
      out.close();
      std::error_code ignored;
      fs::remove(temporary, ignored);
      return false;
    }
  }
  if (!native::replaceFile(temporary, target)) {
    std::error_code ignored;
    fs::remove(temporary, ignored);
    return false;
  }
  return true;
}

}  // namespace simulated
