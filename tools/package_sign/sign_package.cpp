#include "tools/package_sign/sign_package.h"

#include "package/package_manifest.h"
#include "package/package_signature.h"
#include "package/vbios_configs.h"
#include "platform/files.h"
#include "platform/folder_listing.h"
#include "platform/paths.h"
#include "platform/signature.h"
#include "tools/package_check/package_folder.h"
#include "tools/package_sign/detached_signer.h"

namespace kit {

namespace {

std::string below(const std::string& folder, std::string_view relative) {
  std::string path = folder + "\\";
  for (char c : relative) path += c == '/' ? '\\' : c;
  return path;
}

bool isSigningFile(std::string_view path) {
  return path == package::kManifestName || path == package::kSignatureName;
}

}  // namespace

SignedPackage signPackage(const std::string& folder, std::string_view pkcs12, const std::string& password) {
  SignedPackage out;
  // What the installer's copy refuses, said as the checker says it: a
  // signature cannot make such a package run.
  if (const std::vector<CopyRefusal> refusals = copyRefusals(folder); !refusals.empty()) {
    out.problem = describeRefusal(refusals.front()) +
                  ": the installer refuses to copy this package (102), signed or not";
    return out;
  }
  const std::string at = platform::pathOfNative(folder);
  std::vector<std::string> files;
  if (at.empty()) {
    out.problem = "no Windows name for " + folder;
    return out;
  }
  if (const platform::Error error =
          platform::listFilesBelow(at, {kMaxPackageEntries, kMaxPackageDepth}, files);
      error.failed()) {
    out.problem = "cannot list the folder (" + error.operation + "): " + error.message;
    return out;
  }
  std::string manifest;
  uint64_t bytes = 0;
  for (const std::string& file : files) {
    if (isSigningFile(file)) continue;
    package::ManifestEntry entry{file, {}};
    if (const platform::Error error = platform::sha256OfFile(below(at, file), kMaxPackageBytes, entry.sha256);
        error.failed()) {
      out.problem = "cannot read " + file + ": " + error.message;
      return out;
    }
    const std::string line = package::manifestLine(entry);
    manifest += line;
    out.lines.push_back(line.substr(0, line.size() - 1));
    bytes += line.size();
  }
  if (out.lines.empty()) {
    out.problem = "the folder holds no file to sign";
    return out;
  }
  if (bytes > package::kMaxManifestBytes) {
    out.problem = "the manifest would be larger than the installer reads";
    return out;
  }

  const DetachedSignature signature = signDetached(pkcs12, password, manifest);
  if (!signature.problem.empty()) {
    out.problem = signature.problem;
    return out;
  }
  // Made by the platform, checked by the platform before a byte is written:
  // a key that is not the certificate's, or a signature the installer's
  // verifier reads otherwise, never replaces a good pair of files.
  const platform::SignatureCheck made = platform::verifyDetachedSignature(signature.der, manifest);
  if (made.fault != platform::SignatureFault::None || made.signer.der != signature.certificate) {
    out.problem =
        "the signature made does not verify" + (made.detail.empty() ? "" : " (" + made.detail + ")");
    return out;
  }
  const platform::Certificate& signer = made.signer;
  out.subject = signer.subject;

  if (platform::Error error = platform::writeFileAtomic(below(at, package::kManifestName), manifest);
      error.failed() ||
      (error = platform::writeFileAtomic(below(at, package::kSignatureName), signature.der)).failed()) {
    out.problem = "cannot write the signature files: " + error.message;
    return out;
  }
  // The installer's own check, as a program signed with this certificate
  // makes it: whatever it would refuse is said now, not on a notebook.
  const package::PackageSignatureCheck check = package::checkPackageSignature(at, signer);
  if (check.verdict != package::SignatureVerdict::Verified)
    out.problem = "the files are written, but the installer would refuse them: " + check.reason + " (" +
                  check.detail + ")";
  return out;
}

}  // namespace kit
