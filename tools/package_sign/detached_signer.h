// The signing half of the package signature: a PKCS#12 file's key and
// certificate make a detached CMS SignedData over the manifest. One
// implementation per platform (libcrypto; crypt32 loaded from System32), so
// that neither the linux nor the Windows kit writes any cryptography itself.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace kit {

// A certificate file larger than this is not one an author signs with.
inline constexpr size_t kMaxPkcs12Bytes = 1 << 20;
inline constexpr size_t kMaxPasswordBytes = 1024;

struct DetachedSignature {
  std::string der;          // DER CMS SignedData: detached, SHA-256, the signer's certificate only
  std::string certificate;  // the signer's certificate, DER
  std::string problem;      // why nothing was signed; empty when signed
};

// Signs `content` with the key of `pkcs12` (the bytes of a .p12/.pfx file)
// and the certificate that belongs to it; other certificates in the file
// (a chain) are not carried.
DetachedSignature signDetached(std::string_view pkcs12, const std::string& password,
                               std::string_view content);

// One line of standard input without its line end, the echo switched off
// while a terminal is asked; false when there is no line to read.
bool readPasswordLine(std::string& password);

}  // namespace kit
