// OvVBiosPackageSign's work: the manifest of a packages folder and its
// detached signature, written into the folder, then checked by the
// installer's own package check so that nothing is left that it refuses.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace kit {

struct SignedPackage {
  std::string problem;             // why the folder was not signed (nothing was written); empty when signed
  std::vector<std::string> lines;  // the manifest's lines, without line ends
  std::string subject;             // the signer's subject
};

// Writes package.sha256 and package.sha256.p7s into `folder` (a native
// path), each replacing an old one atomically.
SignedPackage signPackage(const std::string& folder, std::string_view pkcs12, const std::string& password);

}  // namespace kit
