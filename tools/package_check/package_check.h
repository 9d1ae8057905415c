// OvVBiosPackageCheck: reads a packages folder as the installer would and
// says, finding by finding, what the installer will do with it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "package/package_signature.h"
#include "platform/pinned_folder.h"
#include "tools/package_check/check_rules.h"

namespace kit {

struct Finding {
  std::string file;  // "configs.txt", a ROM's or a tool's name, or "" for the folder
  size_t line = 0;   // 1-based line of configs.txt; 0 when the finding has no line
  Severity severity = Severity::Note;
  Rule rule = Rule::FileUnused;
  std::string id;  // the rule's id, as the output shows it
  std::string message;
};

// Something in the folder the installer's copy of it refuses, which makes it
// refuse the whole package; here `path` is relative to the folder, empty for
// the folder itself.
using CopyRefusal = platform::CopyRefusal;

// A packages folder as the checker sees it: no file system here, so the
// checks can be fed from a test or a fuzzer as well as from a real folder.
struct PackageFolder {
  bool exists = true;
  bool isFile = false;  // the path names a file (often configs.txt itself), not a folder
  bool hasConfig = true;
  // Folders directly below that hold a configs.txt: a package unpacked with
  // its own top folder.
  std::vector<std::string> configBelow;
  uint64_t configSize = 0;
  std::string configBytes;                // empty when too large
  std::vector<std::string> files;         // names of the regular files in the folder
  std::vector<std::string> toolFiles;     // names in the folder of stand-in tools named with --tools, if any
  std::vector<CopyRefusal> copyRefusals;  // every link or odd entry, then the first bound passed, if any
  // The files an AMD package's entries name, by their name in `files`: at
  // most one byte past the bound an image may have.
  std::map<std::string, std::string> images;
  // The installer's signature check, as an unsigned installer makes it (a
  // signed package against its own signer); none when it was not made.
  std::optional<package::PackageSignatureCheck> signature;
};

struct LineReading {
  size_t number = 0;
  std::string text;     // the line as decoded, control characters made visible
  std::string reading;  // what readConfigs makes of it
};

struct CheckReport {
  std::vector<LineReading> lines;
  std::vector<Finding> findings;
  int32_t readResult = 0;            // what readConfigs returns for this folder: 0, 101, 102 or 103
  std::vector<std::string> summary;  // the installer's view of the package, one line each
  size_t count(Severity severity) const;
  int exitCode() const;  // 0 clean (notes at most), 1 warnings, 2 errors
};

CheckReport checkPackage(const PackageFolder& folder);

}  // namespace kit
