#include "package/package_signature.h"

#include <algorithm>
#include <string>
#include <unordered_set>
#include <vector>

#include "package/package_manifest.h"
#include "package/vbios_configs.h"
#include "platform/files.h"
#include "platform/folder_listing.h"
#include "platform/paths.h"

namespace package {

namespace {

// A subject holds blanks and commas of its own.
std::string quoted(std::string_view subject) { return "\"" + std::string(subject) + "\""; }

PackageSignatureCheck refused(std::string reason, std::string detail, std::string signer = {}) {
  PackageSignatureCheck check;
  check.verdict = SignatureVerdict::Refused;
  check.reason = std::move(reason);
  check.detail = std::move(detail);
  check.signer = std::move(signer);
  return check;
}

std::string systemFailure(const platform::Error& error) {
  return error.operation + (error.message.empty() ? "" : ": " + error.message);
}

// The two signing files are read whole: both are small by their bounds, and
// the signature is verified over exactly the manifest's bytes.
enum class Read { Present, Missing, Failed };
Read readSigningFile(std::string_view folder, const char* name, size_t maxBytes, std::string& bytes,
                     platform::Error& error) {
  error = platform::readFile(platform::joinPath(folder, name), bytes, maxBytes);
  if (!error.failed()) return Read::Present;
  if (error.code == platform::kErrorFileNotFound) return Read::Missing;
  return Read::Failed;
}

std::string describeListing(const platform::Error& error) {
  switch (error.code) {
    case platform::kErrorReparsePointEncountered:
      return error.operation + " is a link or junction; a package holds plain files and folders only";
    case platform::kErrorUnsupportedType:
      return error.operation + " is neither a file nor a folder";
    case platform::kErrorImplementationLimit:
      return "the package holds more than " + std::to_string(kMaxPackageEntries) + " files and folders";
    case platform::kErrorFilenameTooLong:
      return "the package nests folders more than " + std::to_string(kMaxPackageDepth) + " deep";
    default:
      return systemFailure(error);
  }
}

}  // namespace

PackageSignatureCheck checkPackageSignature(std::string_view folder,
                                            const std::optional<platform::Certificate>& programSigner) {
  std::string manifestBytes, signatureBytes;
  platform::Error error;
  const Read manifest = readSigningFile(folder, kManifestName, kMaxManifestBytes, manifestBytes, error);
  if (manifest == Read::Failed) {
    if (error.code == platform::kErrorFileTooLarge)
      return refused("manifest over " + std::to_string(kMaxManifestBytes) + " bytes",
                     std::string(kManifestName) + " holds more than " + std::to_string(kMaxManifestBytes) +
                         " bytes, more than a manifest of " + std::to_string(kMaxManifestLines) +
                         " files can");
    return refused("package not readable", systemFailure(error));
  }
  const Read signature =
      readSigningFile(folder, kSignatureName, platform::kMaxSignatureBytes, signatureBytes, error);
  if (signature == Read::Failed && error.code != platform::kErrorFileTooLarge)
    return refused("package not readable", systemFailure(error));

  if (manifest == Read::Missing && signature == Read::Missing) {
    if (!programSigner) {
      PackageSignatureCheck check;
      check.verdict = SignatureVerdict::Unsigned;
      return check;
    }
    return refused("no signature", "the package has neither " + std::string(kManifestName) + " nor " +
                                       kSignatureName + "; the program is signed by " +
                                       quoted(programSigner->subject) + " and runs only packages it signed");
  }
  if (manifest == Read::Missing)
    return refused("no signature",
                   "the package has " + std::string(kSignatureName) + " but no " + kManifestName);
  if (signature == Read::Missing)
    return refused("no signature",
                   "the package has " + std::string(kManifestName) + " but no " + kSignatureName);
  if (signature == Read::Failed)
    return refused("signature does not verify", std::string(kSignatureName) + " holds more than " +
                                                    std::to_string(platform::kMaxSignatureBytes) + " bytes");

  const platform::SignatureCheck verified = platform::verifyDetachedSignature(signatureBytes, manifestBytes);
  if (verified.fault != platform::SignatureFault::None)
    return refused("signature does not verify", std::string(kSignatureName) + ": " + verified.detail);
  const std::string& signer = verified.signer.subject;
  if (programSigner && verified.signer.der != programSigner->der)
    return refused("signed by " + quoted(signer) + " and not by the program's publisher " +
                       quoted(programSigner->subject),
                   "the package's signature verifies, but its certificate is not the one the program is "
                   "signed with",
                   signer);

  const ManifestParse parsed = parseManifest(manifestBytes);
  if (!parsed.accepted())
    return refused(
        "manifest line " + std::to_string(parsed.badLine) + " malformed",
        std::string(kManifestName) + " line " + std::to_string(parsed.badLine) + ": " + parsed.problem,
        signer);

  std::vector<std::string> files;
  if (error = platform::listFilesBelow(folder, {kMaxPackageEntries, kMaxPackageDepth}, files); error.failed())
    return refused("package not readable", describeListing(error), signer);
  // The signing files themselves are listed by no manifest, but only where
  // they belong: a file of that name in a subfolder is a file like any other.
  std::erase_if(files,
                [](const std::string& file) { return file == kManifestName || file == kSignatureName; });
  std::unordered_set<std::string> listed;
  for (const ManifestEntry& entry : parsed.entries) listed.insert(entry.path);
  for (const std::string& file : files) {
    if (!listed.contains(file))
      return refused(file + " not listed",
                     file + " is in the package but not in " + std::string(kManifestName) +
                         ": it was added after signing",
                     signer);
  }
  std::vector<const ManifestEntry*> entries;
  for (const ManifestEntry& entry : parsed.entries) entries.push_back(&entry);
  std::sort(entries.begin(), entries.end(), [](auto* a, auto* b) { return a->path < b->path; });
  for (const ManifestEntry* entry : entries) {
    if (!std::binary_search(files.begin(), files.end(), entry->path))
      return refused(entry->path + " listed but missing",
                     entry->path + " is listed in " + std::string(kManifestName) +
                         " but not in the package: it was removed or renamed after signing",
                     signer);
  }
  for (const ManifestEntry* entry : entries) {
    std::string path(folder);
    for (size_t start = 0, end; start <= entry->path.size(); start = end + 1) {
      end = std::min(entry->path.find('/', start), entry->path.size());
      path = platform::joinPath(path, std::string_view(entry->path).substr(start, end - start));
    }
    platform::Sha256Digest digest{};
    if (error = platform::sha256OfFile(path, kMaxPackageBytes, digest); error.failed())
      return refused("package not readable", systemFailure(error), signer);
    if (digest != entry->sha256)
      return refused(entry->path + " changed since signing",
                     entry->path + " has SHA-256 " + platform::hexDigest(digest) + "; the manifest says " +
                         platform::hexDigest(entry->sha256),
                     signer);
  }
  PackageSignatureCheck check;
  check.verdict = SignatureVerdict::Verified;
  check.signer = signer;
  return check;
}

}  // namespace package
