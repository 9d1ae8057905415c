// A key and self-signed certificate made on the spot, for a signature that
// only this run trusts: the rehearsal signs its copy of a package again after
// the stand-ins replace the vendor's tools, and tests sign their packages.
// Linux only (libcrypto), as the rehearsal is.
#pragma once

#include <string>

namespace kit {

struct ThrowawaySigner {
  std::string pkcs12;          // a PKCS#12 file's bytes with the key and the certificate
  std::string password;        // that opens it
  std::string certificatePem;  // the certificate alone, as machine.ini's [program] signer takes it
  std::string problem;         // why none could be made; empty otherwise
};

// RSA 2048 with SHA-256, subject "CN=<commonName>", valid for two days.
ThrowawaySigner makeThrowawaySigner(const std::string& commonName);

}  // namespace kit
