#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/pkcs12.h>
#include <openssl/rand.h>
#include <openssl/rsa.h>
#include <openssl/x509.h>

#include "tools/package_sign/openssl_owners.h"
#include "tools/package_sign/throwaway_signer.h"

namespace kit {

namespace {

std::string randomPassword() {
  unsigned char bytes[16];
  if (RAND_bytes(bytes, sizeof bytes) != 1) return {};
  std::string text;
  for (unsigned char b : bytes) text += "0123456789abcdef"[b >> 4], text += "0123456789abcdef"[b & 15];
  return text;
}

}  // namespace

ThrowawaySigner makeThrowawaySigner(const std::string& commonName) {
  ThrowawaySigner out;
  openssl::Owner<EVP_PKEY, EVP_PKEY_free> key(EVP_RSA_gen(2048));
  openssl::Owner<X509, X509_free> certificate(X509_new());
  X509_NAME* name = certificate ? X509_get_subject_name(certificate.get()) : nullptr;
  const bool made =
      key && name && X509_set_version(certificate.get(), 2) &&
      ASN1_INTEGER_set(X509_get_serialNumber(certificate.get()), 1) &&
      X509_gmtime_adj(X509_getm_notBefore(certificate.get()), -3600) &&
      X509_gmtime_adj(X509_getm_notAfter(certificate.get()), 2 * 24 * 3600) &&
      X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_UTF8,
                                 reinterpret_cast<const unsigned char*>(commonName.c_str()), -1, -1, 0) &&
      X509_set_issuer_name(certificate.get(), name) && X509_set_pubkey(certificate.get(), key.get()) &&
      X509_sign(certificate.get(), key.get(), EVP_sha256()) > 0;
  out.password = randomPassword();
  openssl::Owner<PKCS12, PKCS12_free> file(
      made && !out.password.empty() ? PKCS12_create(out.password.c_str(), commonName.c_str(), key.get(),
                                                    certificate.get(), nullptr, 0, 0, 0, 0, 0)
                                    : nullptr);
  openssl::Bio der = openssl::writingToMemory(), pem = openssl::writingToMemory();
  if (!file || !der || !pem || !i2d_PKCS12_bio(der.get(), file.get()) ||
      !PEM_write_bio_X509(pem.get(), certificate.get())) {
    ERR_clear_error();
    out.problem = "cannot make a throwaway signing certificate";
    return out;
  }
  out.pkcs12 = openssl::contentsOf(der.get());
  out.certificatePem = openssl::contentsOf(pem.get());
  return out;
}

}  // namespace kit
