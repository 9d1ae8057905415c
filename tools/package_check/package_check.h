// OvVBiosPackageCheck: reads a packages folder as the installer would and
// says, finding by finding, what the installer will do with it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "package/package_signature.h"
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
// refuse the whole package; `path` is relative to the folder, empty for the
// folder itself.
struct CopyRefusal {
  enum class Why { Link, NotPlain, Bytes, Entries, Depth };
  Why why = Why::Link;
  std::string path;
};

// A packages folder as the checker sees it: no file system here, so the
// checks can be fed from a test or a fuzzer as well as from a real folder.
struct PackageFolder {
  bool exists = true;
  bool hasConfig = true;
  uint64_t configSize = 0;
  std::string configBytes;                // empty when too large
  std::vector<std::string> files;         // names of the regular files in the folder
  std::vector<std::string> toolFiles;     // names in the folder of stand-in tools named with --tools, if any
  std::vector<CopyRefusal> copyRefusals;  // every link or odd entry, then the first bound passed, if any
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
