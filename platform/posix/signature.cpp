#include "platform/signature.h"

#include <fcntl.h>
#include <openssl/bio.h>
#include <openssl/cms.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/objects.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <memory>
#include <string>
#include <vector>

#include "platform/certificate_subject.h"
#include "platform/posix/path_mapping.h"
#include "platform/posix/scoped_fd.h"

namespace platform {

namespace {

template <auto Free>
struct Freer {
  template <typename T>
  void operator()(T* p) const {
    Free(p);
  }
};
using DigestContext = std::unique_ptr<EVP_MD_CTX, Freer<EVP_MD_CTX_free>>;
using Bio = std::unique_ptr<BIO, Freer<BIO_free>>;
using X509Owner = std::unique_ptr<X509, Freer<X509_free>>;
using CmsOwner = std::unique_ptr<CMS_ContentInfo, Freer<CMS_ContentInfo_free>>;

// The certificates CMS_get1_certs hands out, each with its own reference.
struct CertificateStack {
  STACK_OF(X509) * certificates = nullptr;
  explicit CertificateStack(STACK_OF(X509) * held) : certificates(held) {}
  CertificateStack(const CertificateStack&) = delete;
  CertificateStack& operator=(const CertificateStack&) = delete;
  ~CertificateStack() {
    if (certificates != nullptr) sk_X509_pop_free(certificates, X509_free);
  }
};

constexpr size_t kReadChunk = 1 << 16;

// OpenSSL keeps its errors in a per-thread queue; one failure's entries
// must not be read as the next call's.
void forgetOpensslErrors() { ERR_clear_error(); }

Bio memoryBio(std::string_view bytes) {
  return Bio(BIO_new_mem_buf(bytes.data(), static_cast<int>(bytes.size())));
}

std::string utf8Text(const ASN1_STRING* value) {
  unsigned char* text = nullptr;
  const int length = ASN1_STRING_to_UTF8(&text, value);
  if (length < 0) return "?";
  std::string out(reinterpret_cast<const char*>(text), static_cast<size_t>(length));
  OPENSSL_free(text);
  return out;
}

Error describe(X509* x509, Certificate& certificate) {
  const int length = i2d_X509(x509, nullptr);
  if (length <= 0 || static_cast<size_t>(length) > kMaxCertificateBytes)
    return makeError(kErrorInvalidData, "i2d_X509");
  certificate.der.assign(static_cast<size_t>(length), '\0');
  auto* out = reinterpret_cast<unsigned char*>(certificate.der.data());
  i2d_X509(x509, &out);
  std::vector<NameAttribute> attributes;
  const X509_NAME* name = X509_get_subject_name(x509);
  for (int i = 0; i < X509_NAME_entry_count(name); ++i) {
    const X509_NAME_ENTRY* entry = X509_NAME_get_entry(name, i);
    char oid[128] = {};
    OBJ_obj2txt(oid, sizeof oid, X509_NAME_ENTRY_get_object(entry), 1);
    attributes.push_back({oid, utf8Text(X509_NAME_ENTRY_get_data(entry))});
  }
  certificate.subject = subjectText(attributes);
  return {};
}

SignatureCheck fault(SignatureFault why, std::string detail) {
  forgetOpensslErrors();
  SignatureCheck check;
  check.fault = why;
  check.detail = std::move(detail);
  return check;
}

}  // namespace

Error sha256(std::string_view bytes, Sha256Digest& digest) {
  unsigned int length = 0;
  if (EVP_Digest(bytes.data(), bytes.size(), digest.data(), &length, EVP_sha256(), nullptr) != 1 ||
      length != digest.size()) {
    forgetOpensslErrors();
    return makeError(kErrorInvalidFunction, "EVP_Digest SHA-256");
  }
  return {};
}

Error sha256OfFile(std::string_view path, uint64_t maxBytes, Sha256Digest& digest) {
  std::string native;
  if (Error error = posix::toNativePath(path, native); error.failed()) return error;
  // Not following a link, and not waiting for a writer should the name be a
  // pipe: what is opened is checked to be a plain file before it is read.
  posix::ScopedFd file(::open(native.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  if (!file) {
    if (errno == ELOOP) return makeError(kErrorReparsePointEncountered, std::string(path));
    return posix::errorFromErrno(errno, "open " + std::string(path), native);
  }
  struct stat info {};
  if (::fstat(file.get(), &info) != 0)
    return posix::errorFromErrno(errno, "fstat " + std::string(path), native);
  if (!S_ISREG(info.st_mode)) return makeError(kErrorUnsupportedType, std::string(path));
  DigestContext context(EVP_MD_CTX_new());
  if (!context || EVP_DigestInit_ex(context.get(), EVP_sha256(), nullptr) != 1) {
    forgetOpensslErrors();
    return makeError(kErrorNotEnoughMemory, "EVP_DigestInit_ex SHA-256");
  }
  std::vector<unsigned char> chunk(kReadChunk);
  uint64_t total = 0;
  for (;;) {
    const ssize_t got = ::read(file.get(), chunk.data(), chunk.size());
    if (got < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (got < 0) return posix::errorFromErrno(errno, "read " + std::string(path), native);
    if (got == 0) break;
    // Counted as read, not as stat said: the file may grow meanwhile.
    if (static_cast<uint64_t>(got) > maxBytes - total)
      return makeError(kErrorFileTooLarge, std::string(path));
    total += static_cast<uint64_t>(got);
    EVP_DigestUpdate(context.get(), chunk.data(), static_cast<size_t>(got));
  }
  unsigned int length = 0;
  if (EVP_DigestFinal_ex(context.get(), digest.data(), &length) != 1 || length != digest.size()) {
    forgetOpensslErrors();
    return makeError(kErrorInvalidFunction, "EVP_DigestFinal_ex SHA-256");
  }
  return {};
}

Error readCertificate(std::string_view bytes, Certificate& certificate) {
  certificate = {};
  if (bytes.empty() || bytes.size() > kMaxCertificateFileBytes)
    return makeError(kErrorInvalidData, "read certificate (size)");
  X509Owner x509;
  if (bytes.find("-----BEGIN") != std::string_view::npos) {
    Bio in = memoryBio(bytes);
    x509.reset(PEM_read_bio_X509(in.get(), nullptr, nullptr, nullptr));
    // One certificate is one signer: a bundle does not name which.
    if (x509 && X509Owner(PEM_read_bio_X509(in.get(), nullptr, nullptr, nullptr))) x509.reset();
  } else {
    const auto* in = reinterpret_cast<const unsigned char*>(bytes.data());
    x509.reset(d2i_X509(nullptr, &in, static_cast<long>(bytes.size())));
    if (x509 && in != reinterpret_cast<const unsigned char*>(bytes.data()) + bytes.size()) x509.reset();
  }
  forgetOpensslErrors();
  if (!x509) return makeError(kErrorInvalidData, "read certificate (not one PEM or DER certificate)");
  return describe(x509.get(), certificate);
}

SignatureCheck verifyDetachedSignature(std::string_view signature, std::string_view content) {
  if (signature.empty()) return fault(SignatureFault::Malformed, "the signature file is empty");
  if (signature.size() > kMaxSignatureBytes)
    return fault(SignatureFault::Malformed,
                 "the signature file holds more than " + std::to_string(kMaxSignatureBytes) + " bytes");
  if (content.size() > static_cast<size_t>(INT_MAX))
    return fault(SignatureFault::Unavailable, "the signed file is too large");
  const auto* begin = reinterpret_cast<const unsigned char*>(signature.data());
  const unsigned char* in = begin;
  CmsOwner cms(d2i_CMS_ContentInfo(nullptr, &in, static_cast<long>(signature.size())));
  if (!cms || in != begin + signature.size())
    return fault(SignatureFault::Malformed, "the signature file is not a DER-encoded CMS signature");
  if (OBJ_obj2nid(CMS_get0_type(cms.get())) != NID_pkcs7_signed)
    return fault(SignatureFault::Malformed, "the signature file is CMS but not SignedData");
  if (CMS_is_detached(cms.get()) != 1)
    return fault(SignatureFault::Malformed, "the signature holds its own content instead of being detached");
  STACK_OF(CMS_SignerInfo)* signers = CMS_get0_SignerInfos(cms.get());
  const int signerCount = signers == nullptr ? 0 : sk_CMS_SignerInfo_num(signers);
  if (signerCount == 0) return fault(SignatureFault::NoSigner, "the signature has no signer");
  if (signerCount > 1)
    return fault(SignatureFault::SeveralSigners,
                 "the signature has " + std::to_string(signerCount) + " signers instead of one");
  CertificateStack certificates{CMS_get1_certs(cms.get())};
  const int certificateCount =
      certificates.certificates == nullptr ? 0 : sk_X509_num(certificates.certificates);
  if (certificateCount != 1)
    return fault(SignatureFault::NotOneCertificate, "the signature carries " +
                                                        std::to_string(certificateCount) +
                                                        " certificates instead of the signer's one");
  X509_ALGOR* digestAlgorithm = nullptr;
  CMS_SignerInfo_get0_algs(sk_CMS_SignerInfo_value(signers, 0), nullptr, nullptr, &digestAlgorithm, nullptr);
  const ASN1_OBJECT* digestOid = nullptr;
  if (digestAlgorithm != nullptr) X509_ALGOR_get0(&digestOid, nullptr, nullptr, digestAlgorithm);
  if (digestOid == nullptr || OBJ_obj2nid(digestOid) != NID_sha256)
    return fault(SignatureFault::DoesNotVerify, "the signature's digest is not SHA-256");

  Bio data = memoryBio(content);
  // The signer is pinned by the caller, byte for byte, so no chain or time
  // is asked of it here; CMS_BINARY keeps the bytes from being read as MIME
  // text.
  if (!data || CMS_verify(cms.get(), nullptr, nullptr, data.get(), nullptr,
                          CMS_BINARY | CMS_NO_SIGNER_CERT_VERIFY | CMS_DETACHED) != 1)
    return fault(SignatureFault::DoesNotVerify,
                 "the signature is not over these bytes by the certificate it carries");
  STACK_OF(X509)* signer = CMS_get0_signers(cms.get());
  SignatureCheck check;
  if (signer == nullptr || sk_X509_num(signer) != 1) {
    if (signer != nullptr) sk_X509_free(signer);
    return fault(SignatureFault::NotOneCertificate, "the signer's certificate is not in the signature");
  }
  const Error described = describe(sk_X509_value(signer, 0), check.signer);
  sk_X509_free(signer);
  if (described.failed())
    return fault(SignatureFault::NotOneCertificate, "the signer's certificate is unreadable");
  forgetOpensslErrors();
  check.fault = SignatureFault::None;
  return check;
}

}  // namespace platform
