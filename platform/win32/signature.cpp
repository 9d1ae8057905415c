#include "platform/signature.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "platform/files.h"
#include "platform/win32/crypt_libraries.h"
#include "platform/win32/scoped_handle.h"
#include "platform/win32/wide_text.h"

namespace platform {

namespace {

using namespace win32;

constexpr DWORD kReadChunk = 64 * 1024;
constexpr const char* kSha256Oid = "2.16.840.1.101.3.4.2.1";
constexpr const char* kMessageDigestOid = "1.2.840.113549.1.9.4";

Error lastError(const char* function, std::string_view subject) {
  const DWORD code = GetLastError();
  return makeError(code != 0 ? code : kErrorGenericFailure,
                   std::string(function) + " " + std::string(subject));
}

// A SHA-256 in progress.
class Sha256 {
 public:
  Error start() {
    const Bcrypt& b = bcrypt();
    if (!b.loaded()) return makeError(kErrorInvalidFunction, "load bcrypt.dll from System32");
    BCRYPT_ALG_HANDLE algorithm = nullptr;
    if (b.openAlgorithm(&algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0) != 0)
      return makeError(kErrorInvalidFunction, "BCryptOpenAlgorithmProvider SHA256");
    algorithm_.reset(algorithm);
    BCRYPT_HASH_HANDLE hash = nullptr;
    if (b.createHash(algorithm, &hash, nullptr, 0, nullptr, 0, 0) != 0)
      return makeError(kErrorInvalidFunction, "BCryptCreateHash SHA256");
    hash_.reset(hash);
    return {};
  }
  Error add(const void* bytes, ULONG size) {
    if (bcrypt().hashData(hash_.get(), static_cast<PUCHAR>(const_cast<void*>(bytes)), size, 0) != 0)
      return makeError(kErrorInvalidFunction, "BCryptHashData");
    return {};
  }
  Error finish(Sha256Digest& digest) {
    if (bcrypt().finishHash(hash_.get(), digest.data(), static_cast<ULONG>(digest.size()), 0) != 0)
      return makeError(kErrorInvalidFunction, "BCryptFinishHash");
    return {};
  }

 private:
  Algorithm algorithm_;  // declared first: the hash goes before its algorithm
  Hash hash_;
};

// The length of the DER element at the start of `bytes` (tag, length and
// contents), or 0 when the bytes do not begin with one of definite length.
// crypt32 decodes the first element and ignores what follows; OpenSSL
// refuses trailing bytes, and both backends must give one answer.
size_t derElementLength(std::string_view bytes) {
  if (bytes.size() < 2) return 0;
  const auto byte = [&](size_t i) { return static_cast<uint8_t>(bytes[i]); };
  if ((byte(0) & 0x1F) == 0x1F) return 0;  // multi-byte tags never start a SignedData or a certificate
  size_t header = 2;
  size_t length = byte(1);
  if (length & 0x80) {
    const size_t octets = length & 0x7F;
    if (octets == 0 || octets > 4 || bytes.size() < 2 + octets) return 0;
    length = 0;
    for (size_t i = 0; i < octets; ++i) length = length << 8 | byte(2 + i);
    header += octets;
  }
  return length > bytes.size() - header ? 0 : header + length;
}

SignatureCheck fault(SignatureFault why, std::string detail) {
  SignatureCheck check;
  check.fault = why;
  check.detail = std::move(detail);
  return check;
}

// A decoded signature, detached or not; null when the bytes are none.
Message decodeSignature(std::string_view signature, DWORD flags) {
  Message message(crypt32().msgOpenToDecode(kCryptEncoding, flags, 0, 0, nullptr, nullptr));
  if (!message) return {};
  if (!crypt32().msgUpdate(message.get(), reinterpret_cast<const BYTE*>(signature.data()),
                           static_cast<DWORD>(signature.size()), TRUE))
    return {};
  return message;
}

// The messageDigest attribute, when the signer signed attributes, must be
// the content's digest: the signature covers the attributes, and only this
// ties them to the content.
bool attributesMatchContent(HCRYPTMSG message, std::string_view content) {
  const std::vector<BYTE> raw = messageParameter(message, CMSG_SIGNER_AUTH_ATTR_PARAM, 0);
  if (raw.empty()) return true;  // no signed attributes: the signature is over the content itself
  const auto* attributes = reinterpret_cast<const CRYPT_ATTRIBUTES*>(raw.data());
  Sha256Digest expected{};
  if (sha256(content, expected).failed()) return false;
  size_t found = 0;
  for (DWORD i = 0; i < attributes->cAttr; ++i) {
    const CRYPT_ATTRIBUTE& attribute = attributes->rgAttr[i];
    if (std::string_view(attribute.pszObjId) != kMessageDigestOid) continue;
    if (++found > 1 || attribute.cValue != 1) return false;
    CRYPT_DATA_BLOB* digest = nullptr;
    DWORD size = 0;
    if (!crypt32().decodeObject(X509_ASN_ENCODING, X509_OCTET_STRING, attribute.rgValue[0].pbData,
                                attribute.rgValue[0].cbData, CRYPT_DECODE_ALLOC_FLAG, nullptr, &digest,
                                &size))
      return false;
    const win32::ScopedLocalMemory owned(digest);
    if (digest->cbData != expected.size() ||
        std::memcmp(digest->pbData, expected.data(), expected.size()) != 0)
      return false;
  }
  return found == 1;
}

}  // namespace

Error sha256(std::string_view bytes, Sha256Digest& digest) {
  Sha256 hash;
  if (Error error = hash.start(); error.failed()) return error;
  while (!bytes.empty()) {
    const ULONG piece = static_cast<ULONG>(std::min<size_t>(bytes.size(), 1u << 30));
    if (Error error = hash.add(bytes.data(), piece); error.failed()) return error;
    bytes.remove_prefix(piece);
  }
  return hash.finish(digest);
}

Error sha256OfFile(std::string_view path, uint64_t maxBytes, Sha256Digest& digest) {
  win32::ScopedHandle file(CreateFileW(win32::toWide(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                       OPEN_EXISTING,
                                       FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
  if (!file) return lastError("CreateFileW", path);
  BY_HANDLE_FILE_INFORMATION information{};
  if (!GetFileInformationByHandle(file.get(), &information))
    return lastError("GetFileInformationByHandle", path);
  // Wine opens a Unix symbolic link's target even when asked not to and
  // shows the link only by its name.
  if ((information.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 || isLinkOrReparsePoint(path))
    return makeError(kErrorReparsePointEncountered, std::string(path));
  if ((information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ||
      GetFileType(file.get()) != FILE_TYPE_DISK)
    return makeError(kErrorUnsupportedType, std::string(path));
  Sha256 hash;
  if (Error error = hash.start(); error.failed()) return error;
  std::vector<BYTE> chunk(kReadChunk);
  uint64_t total = 0;
  for (;;) {
    DWORD got = 0;
    if (!ReadFile(file.get(), chunk.data(), kReadChunk, &got, nullptr)) return lastError("ReadFile", path);
    if (got == 0) break;
    // Counted as read: the file may grow meanwhile.
    if (got > maxBytes - total) return makeError(kErrorFileTooLarge, std::string(path));
    total += got;
    if (Error error = hash.add(chunk.data(), got); error.failed()) return error;
  }
  return hash.finish(digest);
}

Error readCertificate(std::string_view bytes, Certificate& certificate) {
  certificate = {};
  const Crypt32& c = crypt32();
  if (!c.loaded()) return makeError(kErrorInvalidFunction, "load crypt32.dll from System32");
  if (bytes.empty() || bytes.size() > kMaxCertificateFileBytes)
    return makeError(kErrorInvalidData, "read certificate (size)");
  std::string der;
  const size_t begin = bytes.find("-----BEGIN");
  if (begin != std::string_view::npos) {
    // One certificate is one signer: a bundle does not name which.
    if (bytes.find("-----BEGIN", begin + 1) != std::string_view::npos)
      return makeError(kErrorInvalidData, "read certificate (more than one)");
    DWORD size = 0;
    const auto* text = bytes.data() + begin;
    const auto length = static_cast<DWORD>(bytes.size() - begin);
    if (!c.stringToBinary(text, length, CRYPT_STRING_BASE64HEADER, nullptr, &size, nullptr, nullptr) ||
        size == 0)
      return makeError(kErrorInvalidData, "read certificate (not PEM)");
    der.assign(size, '\0');
    if (!c.stringToBinary(text, length, CRYPT_STRING_BASE64HEADER, reinterpret_cast<BYTE*>(der.data()), &size,
                          nullptr, nullptr))
      return makeError(kErrorInvalidData, "read certificate (not PEM)");
    der.resize(size);
  } else {
    der.assign(bytes);
  }
  if (derElementLength(der) != der.size())
    return makeError(kErrorInvalidData, "read certificate (not one PEM or DER certificate)");
  const CertificateContext context(c.createCertificate(
      X509_ASN_ENCODING, reinterpret_cast<const BYTE*>(der.data()), static_cast<DWORD>(der.size())));
  if (!context) return makeError(kErrorInvalidData, "read certificate (not one PEM or DER certificate)");
  return describeCertificate(context.get(), certificate);
}

SignatureCheck verifyDetachedSignature(std::string_view signature, std::string_view content) {
  const Crypt32& c = crypt32();
  if (!c.loaded()) return fault(SignatureFault::Unavailable, "crypt32.dll could not be loaded from System32");
  if (signature.empty()) return fault(SignatureFault::Malformed, "the signature file is empty");
  if (signature.size() > kMaxSignatureBytes)
    return fault(SignatureFault::Malformed,
                 "the signature file holds more than " + std::to_string(kMaxSignatureBytes) + " bytes");
  if (content.size() > 0x7FFFFFFF) return fault(SignatureFault::Unavailable, "the signed file is too large");
  if (derElementLength(signature) != signature.size())
    return fault(SignatureFault::Malformed, "the signature file is not a DER-encoded CMS signature");
  // Read once as it is, to see whether it holds its own content.
  const Message whole = decodeSignature(signature, 0);
  if (!whole)
    return fault(SignatureFault::Malformed, "the signature file is not a DER-encoded CMS signature");
  DWORD type = 0;
  DWORD typeSize = sizeof type;
  if (!c.msgGetParam(whole.get(), CMSG_TYPE_PARAM, 0, &type, &typeSize) || type != CMSG_SIGNED)
    return fault(SignatureFault::Malformed, "the signature file is CMS but not SignedData");
  DWORD contentSize = 0;
  if (c.msgGetParam(whole.get(), CMSG_CONTENT_PARAM, 0, nullptr, &contentSize) && contentSize > 0)
    return fault(SignatureFault::Malformed, "the signature holds its own content instead of being detached");

  const Message message = decodeSignature(signature, CMSG_DETACHED_FLAG);
  if (!message)
    return fault(SignatureFault::Malformed, "the signature file is not a DER-encoded CMS signature");
  DWORD signers = 0;
  DWORD certificates = 0;
  if (!messageCount(message.get(), CMSG_SIGNER_COUNT_PARAM, signers))
    return fault(SignatureFault::Malformed, "the signature file is not a DER-encoded CMS signature");
  if (signers == 0) return fault(SignatureFault::NoSigner, "the signature has no signer");
  if (signers > 1)
    return fault(SignatureFault::SeveralSigners,
                 "the signature has " + std::to_string(signers) + " signers instead of one");
  if (!messageCount(message.get(), CMSG_CERT_COUNT_PARAM, certificates)) certificates = 0;
  if (certificates != 1)
    return fault(SignatureFault::NotOneCertificate, "the signature carries " + std::to_string(certificates) +
                                                        " certificates instead of the signer's one");
  const std::vector<BYTE> info = messageParameter(message.get(), CMSG_SIGNER_INFO_PARAM, 0);
  if (info.empty()) return fault(SignatureFault::Malformed, "the signature's signer cannot be read");
  const auto* signer = reinterpret_cast<const CMSG_SIGNER_INFO*>(info.data());
  if (signer->HashAlgorithm.pszObjId == nullptr ||
      std::string_view(signer->HashAlgorithm.pszObjId) != kSha256Oid)
    return fault(SignatureFault::DoesNotVerify, "the signature's digest is not SHA-256");
  const std::vector<BYTE> encoded = messageParameter(message.get(), CMSG_CERT_PARAM, 0);
  const CertificateContext certificate(
      encoded.empty()
          ? nullptr
          : c.createCertificate(X509_ASN_ENCODING, encoded.data(), static_cast<DWORD>(encoded.size())));
  if (!certificate) return fault(SignatureFault::NotOneCertificate, "the signer's certificate is unreadable");
  // The signer names its certificate by issuer and serial number.
  CERT_NAME_BLOB issuer = signer->Issuer;
  CRYPT_INTEGER_BLOB serial = signer->SerialNumber;
  if (!c.compareName(X509_ASN_ENCODING, &issuer, &certificate->pCertInfo->Issuer) ||
      !c.compareInteger(&serial, &certificate->pCertInfo->SerialNumber))
    return fault(SignatureFault::DoesNotVerify,
                 "the signature is not over these bytes by the certificate it carries");

  // The content goes in after the signature, even when empty: that ends it.
  if (!c.msgUpdate(message.get(), reinterpret_cast<const BYTE*>(content.data()),
                   static_cast<DWORD>(content.size()), TRUE))
    return fault(SignatureFault::DoesNotVerify,
                 "the signature is not over these bytes by the certificate it carries");
  if (!c.msgControl(message.get(), 0, CMSG_CTRL_VERIFY_SIGNATURE, certificate->pCertInfo) ||
      !attributesMatchContent(message.get(), content))
    return fault(SignatureFault::DoesNotVerify,
                 "the signature is not over these bytes by the certificate it carries");
  SignatureCheck check;
  if (describeCertificate(certificate.get(), check.signer).failed())
    return fault(SignatureFault::NotOneCertificate, "the signer's certificate is unreadable");
  check.fault = SignatureFault::None;
  return check;
}

}  // namespace platform
