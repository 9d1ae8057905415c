#include "package/copy_refusal.h"

#include "package/vbios_configs.h"

namespace package {

std::string describeCopyRefusal(const platform::CopyRefusal& refusal, std::string_view where) {
  const std::string at(where);
  using Why = platform::CopyRefusal::Why;
  switch (refusal.why) {
    case Why::Link:
      return at + " is a link or junction that leads elsewhere; a package holds plain files and folders only";
    case Why::NotPlain:
      return at + " is neither a file nor a folder; a package holds plain files and folders only";
    case Why::Bytes:
      return "the package holds more than " + std::to_string(kMaxPackageBytes) + " bytes (at " + at + ")";
    case Why::Entries:
      return "the package holds more than " + std::to_string(kMaxPackageEntries) + " files and folders (at " +
             at + ")";
    case Why::Depth:
      return "the package nests folders more than " + std::to_string(kMaxPackageDepth) + " deep (at " + at +
             ")";
  }
  return at;
}

platform::PinnedFolder::CopyBounds packageCopyBounds() {
  return {kMaxPackageBytes, kMaxPackageEntries, kMaxPackageDepth};
}

}  // namespace package
