#include "platform/win32/crypt_libraries.h"

#include <string>

#include "platform/certificate_subject.h"
#include "platform/win32/wide_text.h"

namespace platform::win32 {

const Bcrypt& bcrypt() {
  static const Bcrypt library;
  return library;
}

const Crypt32& crypt32() {
  static const Crypt32 library;
  return library;
}

std::vector<BYTE> messageParameter(HCRYPTMSG message, DWORD parameter, DWORD index) {
  DWORD size = 0;
  if (!crypt32().msgGetParam(message, parameter, index, nullptr, &size) || size == 0) return {};
  std::vector<BYTE> out(size);
  if (!crypt32().msgGetParam(message, parameter, index, out.data(), &size)) return {};
  out.resize(size);
  return out;
}

bool messageCount(HCRYPTMSG message, DWORD parameter, DWORD& count) {
  DWORD size = sizeof count;
  return crypt32().msgGetParam(message, parameter, 0, &count, &size) != FALSE;
}

Error describeCertificate(const CERT_CONTEXT* context, Certificate& certificate) {
  if (context->cbCertEncoded > kMaxCertificateBytes) return makeError(kErrorInvalidData, "certificate size");
  certificate.der.assign(reinterpret_cast<const char*>(context->pbCertEncoded), context->cbCertEncoded);
  CERT_NAME_INFO* name = nullptr;
  DWORD size = 0;
  if (!crypt32().decodeObject(X509_ASN_ENCODING, X509_NAME, context->pCertInfo->Subject.pbData,
                              context->pCertInfo->Subject.cbData, CRYPT_DECODE_ALLOC_FLAG, nullptr, &name,
                              &size))
    return makeError(GetLastError() != 0 ? GetLastError() : kErrorGenericFailure,
                     "CryptDecodeObjectEx X509_NAME");
  const ScopedLocalMemory owned(name);
  std::vector<NameAttribute> attributes;
  for (DWORD i = 0; i < name->cRDN; ++i) {
    for (DWORD j = 0; j < name->rgRDN[i].cRDNAttr; ++j) {
      CERT_RDN_ATTR& attribute = name->rgRDN[i].rgRDNAttr[j];
      const DWORD length = crypt32().rdnValueToString(attribute.dwValueType, &attribute.Value, nullptr, 0);
      std::wstring value(length, L'\0');
      crypt32().rdnValueToString(attribute.dwValueType, &attribute.Value, value.data(), length);
      while (!value.empty() && value.back() == L'\0') value.pop_back();
      attributes.push_back({attribute.pszObjId, toUtf8(value)});
    }
  }
  certificate.subject = subjectText(attributes);
  return {};
}

}  // namespace platform::win32
