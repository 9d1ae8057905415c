#include "package/package_manifest.h"

#include <string>
#include <unordered_map>

#include "platform/ascii_text.h"
#include "platform/unicode_text.h"

namespace package {

namespace {

constexpr size_t kHexDigits = 64;

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool readDigest(std::string_view hex, platform::Sha256Digest& digest) {
  for (size_t i = 0; i < digest.size(); ++i) {
    const int high = hexValue(hex[2 * i]);
    const int low = hexValue(hex[2 * i + 1]);
    if (high < 0 || low < 0) return false;
    digest[i] = static_cast<uint8_t>(high << 4 | low);
  }
  return true;
}

// Why `path` cannot name a file of the package on every system the package
// is made and used on; empty when it can.
std::string pathProblem(std::string_view path) {
  for (size_t i = 0; i < path.size();) {
    char32_t c = 0;
    if (!platform::nextCodePoint(path, i, c)) return "the path is not UTF-8 text";
    if (c < 0x20 || c == 0x7F) return "the path holds a control character";
    if (c == '\\') return "the path holds \\; folders are separated by /";
    if (std::u32string_view(U":*?\"<>|").find(c) != std::u32string_view::npos)
      return "the path holds a character no Windows name may hold";
  }
  if (path.front() == '/') return "the path starts with /; paths are relative to the packages folder";
  size_t start = 0;
  for (;;) {
    const size_t end = std::min(path.find('/', start), path.size());
    const std::string_view name = path.substr(start, end - start);
    if (name.empty()) return "the path has an empty name between two /, or ends with /";
    if (name == "." || name == "..")
      return "the path holds \"" + std::string(name) +
             "\"; each name must be a file or folder of the package";
    if (name.back() == ' ' || name.back() == '.')
      return "a name in the path ends with a blank or a dot, which Windows drops";
    if (end == path.size()) return {};
    start = end + 1;
  }
}

}  // namespace

ManifestParse parseManifest(std::string_view text) {
  ManifestParse out;
  auto refuse = [&out](size_t line, std::string why) {
    out.entries.clear();
    out.badLine = line;
    out.problem = std::move(why);
    return out;
  };
  if (text.empty()) return refuse(1, "the manifest is empty: it must list every file of the package");
  if (text.starts_with("\xEF\xBB\xBF"))
    return refuse(1, "a byte order mark starts the manifest; save it as UTF-8 without one");
  // Lower-cased path -> its line: Windows holds one file for both spellings.
  std::unordered_map<std::string, size_t> seen;
  size_t line = 0;
  size_t start = 0;
  while (start < text.size()) {
    ++line;
    if (line > kMaxManifestLines)
      return refuse(line, "the manifest has more than " + std::to_string(kMaxManifestLines) +
                              " lines, more than a package may hold files");
    size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    std::string_view content = text.substr(start, end - start);
    start = end + 1;
    if (content.ends_with('\r')) content.remove_suffix(1);
    if (content.size() > kMaxManifestLineBytes)
      return refuse(line, "the line is longer than " + std::to_string(kMaxManifestLineBytes) + " bytes");
    if (content.empty()) return refuse(line, "the line is blank");
    ManifestEntry entry;
    if (content.size() < kHexDigits || !readDigest(content.substr(0, kHexDigits), entry.sha256))
      return refuse(line, "the line does not start with the 64 hexadecimal digits of a SHA-256");
    const std::string_view separator = content.substr(kHexDigits, 2);
    if (separator != "  " && separator != " *")
      return refuse(line, "the digits are not followed by two blanks and the path");
    const std::string_view path = content.substr(std::min(content.size(), kHexDigits + 2));
    if (path.empty()) return refuse(line, "the line names no file");
    if (std::string why = pathProblem(path); !why.empty()) return refuse(line, why);
    if (platform::equalsIgnoringAsciiCase(path, kManifestName) ||
        platform::equalsIgnoringAsciiCase(path, kSignatureName))
      return refuse(line, "the manifest lists " + std::string(path) + ", which is never listed");
    const auto [at, fresh] = seen.try_emplace(platform::lowerAscii(path), line);
    if (!fresh) return refuse(line, "the path is listed before, on line " + std::to_string(at->second));
    entry.path = path;
    out.entries.push_back(std::move(entry));
  }
  return out;
}

std::string manifestLine(const ManifestEntry& entry) {
  return platform::hexDigest(entry.sha256) + "  " + entry.path + "\n";
}

}  // namespace package
