// packages/package.sha256: one line per file of the packages folder, as
// `sha256sum` prints it when run inside the folder on every file,
//   <64 hex digits of SHA-256><two blanks><path relative to the folder>
// with '/' between folder names. Tools outside this program write and read
// it, so its spelling is a contract. Accepted beside that exact form, since
// careful authors' tools produce them and nothing is lost by taking them:
//   - CRLF line ends (a file edited or made on Windows), and a last line
//     without its line end;
//   - upper-case hex digits;
//   - " *" in place of the two blanks (sha256sum's binary-mode marker).
// Refused, naming the line: a byte order mark, a blank line, a line over
// kMaxManifestLineBytes, a path with '\', a "." or ".." component (so also
// "./x"), an empty component, a leading '/', a character no Windows name
// holds (control characters, : * ? " < > |), a name ending in a blank or a
// dot (Windows drops them), text that is not UTF-8, the same path twice
// (ASCII case ignored: Windows names are one file), the two signing files
// themselves, more than kMaxManifestLines lines, and a manifest with no line.
// A path names a file only when it is spelled exactly as the file is, case
// included, so that a package checks the same on every system.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "package/vbios_configs.h"
#include "platform/signature.h"

namespace package {

inline constexpr const char* kManifestName = "package.sha256";
inline constexpr const char* kSignatureName = "package.sha256.p7s";

// A package holds at most kMaxPackageEntries files and folders, so its
// manifest at most that many lines; a path of a package is far shorter than
// a line may be.
inline constexpr size_t kMaxManifestLines = kMaxPackageEntries;
inline constexpr size_t kMaxManifestLineBytes = 1024;  // the line end not counted
inline constexpr size_t kMaxManifestBytes = kMaxManifestLines * (kMaxManifestLineBytes + 2);

struct ManifestEntry {
  std::string path;  // relative, '/' between names, as written
  platform::Sha256Digest sha256{};
};

struct ManifestParse {
  std::vector<ManifestEntry> entries;  // in the manifest's order; empty when refused
  size_t badLine = 0;                  // 1-based number of the first refused line; 0 when accepted
  std::string problem;                 // why that line was refused, e.g. "the path holds \"..\""

  bool accepted() const { return badLine == 0; }
};

// Reads a manifest. The line bounds are checked as the text is read, so a
// flood is refused at the line that passes them without the rest being
// looked at.
ManifestParse parseManifest(std::string_view text);

// One manifest line as written: lower-case hex, two blanks, the path, LF.
std::string manifestLine(const ManifestEntry& entry);

}  // namespace package
