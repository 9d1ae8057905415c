// package.sha256 as anyone who can write the packages folder might write it:
// any bytes, any length. The reader runs elevated before the signature over
// it is known to be good, so it must stay in its bounds and agree with itself.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "package/package_manifest.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > package::kMaxManifestBytes) return 0;  // the check reads no more than this
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const package::ManifestParse parsed = package::parseManifest(text);
  if (!parsed.accepted()) {
    if (parsed.problem.empty() || !parsed.entries.empty()) __builtin_trap();
    if (parsed.badLine > package::kMaxManifestLines + 1) __builtin_trap();
    return 0;
  }
  if (parsed.entries.empty() || parsed.entries.size() > package::kMaxManifestLines) __builtin_trap();
  // What was accepted, written back the one way the kit writes it, reads
  // back the same.
  std::string written;
  for (const package::ManifestEntry& entry : parsed.entries) written += package::manifestLine(entry);
  const package::ManifestParse again = package::parseManifest(written);
  if (!again.accepted() || again.entries.size() != parsed.entries.size()) __builtin_trap();
  for (size_t i = 0; i < again.entries.size(); ++i) {
    if (again.entries[i].path != parsed.entries[i].path || again.entries[i].sha256 != parsed.entries[i].sha256)
      __builtin_trap();
  }
  return 0;
}
