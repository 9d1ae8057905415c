// Whether a packages folder is the one its signer signed, and whether that
// signer is the program's own publisher. The installer asks this of its copy
// of the package before it reads anything in it; the authors' checker and the
// rehearsal ask the same function, so all three tell the same story.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/signature.h"

namespace package {

enum class SignatureVerdict {
  Unsigned,  // neither the program nor the package is signed: nothing was checked
  Verified,  // signed, the signature verifies, every file is as it was signed
  Refused,   // anything else: the run must stop with kPackageNotSigned
};

struct PackageSignatureCheck {
  SignatureVerdict verdict = SignatureVerdict::Refused;
  // Verified: the package signer's subject. Refused: the package signer's
  // subject when the signature itself verified, else empty.
  std::string signer;
  // Refused: the reason as the log's "ERROR package signature: <reason>"
  // words it, one of
  //   no signature
  //   signature does not verify
  //   signed by "<subject>" and not by the program's publisher "<subject>"
  //   <file> not listed
  //   <file> listed but missing
  //   <file> changed since signing
  //   manifest line <n> malformed
  //   manifest over <N> bytes
  //   package not readable
  // (file paths as the manifest writes them: relative, '/' between names;
  // subjects as platform::Certificate words them).
  std::string reason;
  // Refused: one sentence that names the file or the signer and says what
  // was found, for the detail line after the ERROR line.
  std::string detail;
};

// Checks the packages folder at the Windows path `folder` (the installer:
// its copy) against `programSigner`, the program's own signer, or nothing
// for an unsigned program:
//  - signed program: package.sha256 and package.sha256.p7s must both be
//    there, the signature must verify over the manifest's exact bytes, its
//    certificate must be the program's (DER bytes equal), every file of the
//    folder but those two must be listed, every listed file must be there,
//    and each must have the SHA-256 its line says;
//  - unsigned program: a package with neither file is Unsigned; one with
//    either is checked the same way against its own signer.
// Files are hashed in the folder's sorted order and the first problem found
// is the one reported: signature, then signer, then manifest lines, then
// unlisted files, then missing ones, then changed ones.
PackageSignatureCheck checkPackageSignature(std::string_view folder,
                                            const std::optional<platform::Certificate>& programSigner);

}  // namespace package
