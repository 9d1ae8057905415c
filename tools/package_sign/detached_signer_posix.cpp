// Detached CMS signing with OpenSSL's libcrypto, as `openssl cms -sign
// -binary -md sha256 -outform DER` does it.
#include <openssl/bio.h>
#include <openssl/cms.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pkcs12.h>
#include <openssl/x509.h>
#include <termios.h>
#include <unistd.h>

#include <cstdio>

#include "tools/package_sign/detached_signer.h"
#include "tools/package_sign/openssl_owners.h"

namespace kit {

namespace {

using openssl::Bio;
using Pkcs12 = openssl::Owner<PKCS12, PKCS12_free>;
using Key = openssl::Owner<EVP_PKEY, EVP_PKEY_free>;
using Certificate = openssl::Owner<X509, X509_free>;
using Cms = openssl::Owner<CMS_ContentInfo, CMS_ContentInfo_free>;

void freeChain(STACK_OF(X509) * chain) { sk_X509_pop_free(chain, X509_free); }
using Chain = openssl::Owner<STACK_OF(X509), freeChain>;

std::string lastOpenSslError() {
  const unsigned long code = ERR_peek_last_error();
  ERR_clear_error();
  if (code == 0) return "no reason given";
  char text[256];
  ERR_error_string_n(code, text, sizeof text);
  return text;
}

}  // namespace

DetachedSignature signDetached(std::string_view pkcs12, const std::string& password,
                               std::string_view content) {
  DetachedSignature out;
  ERR_clear_error();
  if (pkcs12.size() > kMaxPkcs12Bytes) {
    out.problem = "the certificate file is larger than " + std::to_string(kMaxPkcs12Bytes) + " bytes";
    return out;
  }
  Bio in = openssl::readingFrom(pkcs12);
  Pkcs12 file(in ? d2i_PKCS12_bio(in.get(), nullptr) : nullptr);
  if (!file) {
    out.problem = "not a PKCS#12 file (" + lastOpenSslError() + ")";
    return out;
  }
  EVP_PKEY* rawKey = nullptr;
  X509* rawCertificate = nullptr;
  STACK_OF(X509)* rawChain = nullptr;
  const int parsed = PKCS12_parse(file.get(), password.c_str(), &rawKey, &rawCertificate, &rawChain);
  Key key(rawKey);
  Certificate certificate(rawCertificate);
  Chain chain(rawChain);
  if (!parsed) {
    out.problem = "the password does not open the PKCS#12 file (" + lastOpenSslError() + ")";
    return out;
  }
  if (!key || !certificate) {
    out.problem = "the PKCS#12 file holds no private key with its certificate";
    return out;
  }

  // PARTIAL, so that the digest is named rather than left to the default.
  constexpr unsigned kFlags = CMS_DETACHED | CMS_BINARY | CMS_PARTIAL;
  Cms cms(CMS_sign(nullptr, nullptr, nullptr, nullptr, kFlags));
  Bio data = openssl::readingFrom(content);
  if (!cms || !data || !CMS_add1_signer(cms.get(), certificate.get(), key.get(), EVP_sha256(), kFlags) ||
      !CMS_final(cms.get(), data.get(), nullptr, kFlags)) {
    out.problem = "cannot sign with this key and certificate (" + lastOpenSslError() + ")";
    return out;
  }
  Bio der = openssl::writingToMemory();
  Bio certificateDer = openssl::writingToMemory();
  if (!der || !certificateDer || !i2d_CMS_bio(der.get(), cms.get()) ||
      !i2d_X509_bio(certificateDer.get(), certificate.get())) {
    out.problem = "cannot encode the signature (" + lastOpenSslError() + ")";
    return out;
  }
  out.der = openssl::contentsOf(der.get());
  out.certificate = openssl::contentsOf(certificateDer.get());
  return out;
}

bool readPasswordLine(std::string& password) {
  password.clear();
  termios saved{};
  const bool terminal = isatty(STDIN_FILENO) && tcgetattr(STDIN_FILENO, &saved) == 0;
  if (terminal) {
    std::fputs("Password of the certificate file: ", stderr);
    std::fflush(stderr);
    termios quiet = saved;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
  }
  bool gotLine = false;
  for (char c; read(STDIN_FILENO, &c, 1) == 1;) {
    gotLine = true;
    if (c == '\n') break;
    if (password.size() > kMaxPasswordBytes) continue;  // too long: refused below, the line still read
    password += c;
  }
  if (terminal) {
    tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved);
    std::fputs("\n", stderr);
  }
  if (!password.empty() && password.back() == '\r') password.pop_back();
  return gotLine && password.size() <= kMaxPasswordBytes;
}

}  // namespace kit
