#include <optional>
#include <string>

#include "platform/signature.h"
#include "platform/win32/crypt_libraries.h"
#include "platform/win32/wide_text.h"

namespace platform {

namespace {

using namespace win32;

constexpr size_t kMaxProgramPath = 32768;

Error lastError(const char* function, std::string_view subject) {
  const DWORD code = GetLastError();
  return makeError(code != 0 ? code : kErrorGenericFailure,
                   std::string(function) + " " + std::string(subject));
}

}  // namespace

// The leaf of the Authenticode signature embedded in the program's own file.
Error readProgramSigner(std::optional<Certificate>& signer) {
  signer.reset();
  const Crypt32& c = crypt32();
  if (!c.loaded()) return makeError(kErrorInvalidFunction, "load crypt32.dll from System32");
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (length == 0) return lastError("GetModuleFileNameW", "(the program)");
    if (length < path.size()) {
      path.resize(length);
      break;
    }
    if (path.size() >= kMaxProgramPath) return makeError(kErrorFilenameTooLong, "GetModuleFileNameW");
    path.resize(path.size() * 2);
  }
  // CryptQueryObject reads a program's signature through wintrust.dll, which
  // it loads by name: loaded here first, from System32, it is the one used.
  const ScopedModule wintrust = loadSystemLibrary(L"wintrust.dll");
  HCERTSTORE rawStore = nullptr;
  HCRYPTMSG rawMessage = nullptr;
  if (!c.queryObject(CERT_QUERY_OBJECT_FILE, path.c_str(), CERT_QUERY_CONTENT_FLAG_PKCS7_SIGNED_EMBED,
                     CERT_QUERY_FORMAT_FLAG_BINARY, 0, nullptr, nullptr, nullptr, &rawStore, &rawMessage,
                     nullptr)) {
    const DWORD code = GetLastError();
    // No embedded signature at all: a development build.
    if (code == static_cast<DWORD>(CRYPT_E_NO_MATCH) || code == static_cast<DWORD>(TRUST_E_NOSIGNATURE))
      return {};
    return lastError("CryptQueryObject", toUtf8(path));
  }
  const Store store(rawStore);
  const Message message(rawMessage);
  const std::vector<BYTE> info = messageParameter(rawMessage, CMSG_SIGNER_INFO_PARAM, 0);
  if (info.empty()) return lastError("CryptMsgGetParam CMSG_SIGNER_INFO_PARAM", toUtf8(path));
  const auto* signerInfo = reinterpret_cast<const CMSG_SIGNER_INFO*>(info.data());
  CERT_INFO wanted{};
  wanted.Issuer = signerInfo->Issuer;
  wanted.SerialNumber = signerInfo->SerialNumber;
  const CertificateContext leaf(
      c.findCertificate(rawStore, kCryptEncoding, 0, CERT_FIND_SUBJECT_CERT, &wanted, nullptr));
  if (!leaf) return lastError("CertFindCertificateInStore", toUtf8(path));
  Certificate certificate;
  if (Error error = describeCertificate(leaf.get(), certificate); error.failed()) return error;
  signer = std::move(certificate);
  return {};
}

}  // namespace platform
