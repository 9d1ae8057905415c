// Signing a package as an author does with the tools everyone has
// (sha256sum, openssl), with throwaway certificates, for the runs of a
// signed program.
#pragma once

#include <filesystem>
#include <string>

namespace e2e {

struct TestSigner {
  std::filesystem::path certificate;  // PEM
  std::filesystem::path key;          // PEM, no password
  std::string subject;                // as the installer words it
};

// Made once per test program, in a folder removed when it ends.
const TestSigner& publisher();
const TestSigner& stranger();

// Writes package.sha256 in `packages` as sha256sum prints it for every other
// file, then package.sha256.p7s with `openssl cms -sign`.
void signPackage(const std::filesystem::path& packages, const TestSigner& signer);

// Signs what package.sha256 holds now, as it is, without remaking it.
void signManifest(const std::filesystem::path& packages, const TestSigner& signer);

}  // namespace e2e
