// Digests and signatures from the platform's own cryptography (win32: bcrypt
// and crypt32 loaded from System32; posix: OpenSSL's libcrypto). Nothing here
// is written by hand: these functions only hand bytes to the platform and
// report what it found, in words a log line can carry.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/error.h"

namespace platform {

using Sha256Digest = std::array<uint8_t, 32>;

// A certificate as it is compared and shown: its exact DER bytes (two
// certificates are the same signer only when these are equal) and its
// subject as text, the most specific name first, e.g.
// "CN=Orvo Build Signing, O=Orvo Inc., C=TW". The attribute names are
// OpenSSL's short names (CN, O, OU, C, L, ST, emailAddress, ...; the dotted
// OID for others) on both backends, so a log reads the same everywhere; a
// control character in a value is shown as '?'.
struct Certificate {
  std::string der;
  std::string subject;
};

// Certificates beyond this size are refused as not being one; a PEM file
// (base64 and a few header lines) may take twice that.
inline constexpr size_t kMaxCertificateBytes = 64 * 1024;
inline constexpr size_t kMaxCertificateFileBytes = kMaxCertificateBytes * 2;

// SHA-256 of `bytes`.
Error sha256(std::string_view bytes, Sha256Digest& digest);

// SHA-256 of the file at the Windows path `path`, read in pieces (never
// whole into memory). A file over `maxBytes` is kErrorFileTooLarge; a link
// or reparse point is not followed (kErrorReparsePointEncountered); a
// missing file is code 2.
Error sha256OfFile(std::string_view path, uint64_t maxBytes, Sha256Digest& digest);

// Lower-case hexadecimal, 64 digits.
std::string hexDigest(const Sha256Digest& digest);

// Reads one certificate, PEM ("-----BEGIN CERTIFICATE-----") or DER bytes.
// More than one certificate, anything else, more than
// kMaxCertificateFileBytes of text or kMaxCertificateBytes of DER is
// kErrorInvalidData.
Error readCertificate(std::string_view bytes, Certificate& certificate);

// What is wrong with a detached signature, if anything.
enum class SignatureFault {
  None,
  Malformed,          // not a DER CMS SignedData (garbage, truncated, content inside it, over the bound)
  NoSigner,           // no SignerInfo
  SeveralSigners,     // more than one SignerInfo
  NotOneCertificate,  // no certificate, or more than one (a chain): the signer must be one certificate
  DoesNotVerify,      // the signature is not over these bytes by that certificate, or not SHA-256
  Unavailable,        // the platform's cryptography could not be used; `detail` says why
};

struct SignatureCheck {
  SignatureFault fault = SignatureFault::Unavailable;
  Certificate signer;  // with SignatureFault::None only
  std::string detail;  // with a fault: a few words for the log, e.g. "two signers"
};

// Signatures beyond this size are Malformed without being parsed.
inline constexpr size_t kMaxSignatureBytes = 256 * 1024;

// Verifies `signature`, a DER-encoded CMS (PKCS #7) SignedData, detached,
// with SHA-256 as its digest and exactly one signer whose one certificate
// it carries, over exactly `content`. Whether that certificate is trusted
// is not asked here (no chain, no time): the caller pins it by comparing
// its DER bytes with the one it expects.
SignatureCheck verifyDetachedSignature(std::string_view signature, std::string_view content);

// The certificate that signed the running program, if it is signed.
//  - win32: the leaf (signer's) certificate of the Authenticode signature
//    embedded in the program's own file (CryptQueryObject on its path).
//  - posix: a Linux program carries no such signature; on a simulated
//    machine, machine.ini's `[program] signer` (the native path of a PEM or
//    DER certificate) stands for it; elsewhere the program is unsigned.
// An unsigned program sets `signer` to nothing and returns success. A
// signature or certificate that is there but cannot be read is a failure,
// never "unsigned": that would turn a broken signed program into one that
// checks nothing.
Error readProgramSigner(std::optional<Certificate>& signer);

}  // namespace platform
