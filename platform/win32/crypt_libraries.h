// bcrypt.dll and crypt32.dll as this program's signature code uses them:
// loaded from System32 only (neither is a KnownDLL), once, and reached
// through pointers, with owners that release what they hand out.
#pragma once

// clang-format off
#include <windows.h>
#include <bcrypt.h>
#include <wincrypt.h>
// clang-format on

#include <memory>
#include <vector>

#include "platform/error.h"
#include "platform/signature.h"
#include "platform/win32/scoped_handle.h"
#include "platform/win32/system_library.h"

namespace platform::win32 {

inline constexpr DWORD kCryptEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;

struct Bcrypt {
  ScopedModule module = loadSystemLibrary(L"bcrypt.dll");
  decltype(&BCryptOpenAlgorithmProvider) openAlgorithm =
      exportedFunction<decltype(&BCryptOpenAlgorithmProvider)>(module, "BCryptOpenAlgorithmProvider");
  decltype(&BCryptCloseAlgorithmProvider) closeAlgorithm =
      exportedFunction<decltype(&BCryptCloseAlgorithmProvider)>(module, "BCryptCloseAlgorithmProvider");
  decltype(&BCryptCreateHash) createHash =
      exportedFunction<decltype(&BCryptCreateHash)>(module, "BCryptCreateHash");
  decltype(&BCryptHashData) hashData = exportedFunction<decltype(&BCryptHashData)>(module, "BCryptHashData");
  decltype(&BCryptFinishHash) finishHash =
      exportedFunction<decltype(&BCryptFinishHash)>(module, "BCryptFinishHash");
  decltype(&BCryptDestroyHash) destroyHash =
      exportedFunction<decltype(&BCryptDestroyHash)>(module, "BCryptDestroyHash");

  bool loaded() const {
    return openAlgorithm && closeAlgorithm && createHash && hashData && finishHash && destroyHash;
  }
};

// The library, loaded on first use; loaded() says whether all is there.
const Bcrypt& bcrypt();

struct Crypt32 {
  ScopedModule module = loadSystemLibrary(L"crypt32.dll");
  template <typename Fn>
  Fn get(const char* name) const {
    return exportedFunction<Fn>(module, name);
  }
  decltype(&CryptMsgOpenToDecode) msgOpenToDecode =
      get<decltype(&CryptMsgOpenToDecode)>("CryptMsgOpenToDecode");
  decltype(&CryptMsgUpdate) msgUpdate = get<decltype(&CryptMsgUpdate)>("CryptMsgUpdate");
  decltype(&CryptMsgGetParam) msgGetParam = get<decltype(&CryptMsgGetParam)>("CryptMsgGetParam");
  decltype(&CryptMsgControl) msgControl = get<decltype(&CryptMsgControl)>("CryptMsgControl");
  decltype(&CryptMsgClose) msgClose = get<decltype(&CryptMsgClose)>("CryptMsgClose");
  decltype(&CertCreateCertificateContext) createCertificate =
      get<decltype(&CertCreateCertificateContext)>("CertCreateCertificateContext");
  decltype(&CertFreeCertificateContext) freeCertificate =
      get<decltype(&CertFreeCertificateContext)>("CertFreeCertificateContext");
  decltype(&CertCompareCertificateName) compareName =
      get<decltype(&CertCompareCertificateName)>("CertCompareCertificateName");
  decltype(&CertCompareIntegerBlob) compareInteger =
      get<decltype(&CertCompareIntegerBlob)>("CertCompareIntegerBlob");
  decltype(&CryptDecodeObjectEx) decodeObject = get<decltype(&CryptDecodeObjectEx)>("CryptDecodeObjectEx");
  decltype(&CertRDNValueToStrW) rdnValueToString = get<decltype(&CertRDNValueToStrW)>("CertRDNValueToStrW");
  decltype(&CryptStringToBinaryA) stringToBinary =
      get<decltype(&CryptStringToBinaryA)>("CryptStringToBinaryA");
  decltype(&CryptQueryObject) queryObject = get<decltype(&CryptQueryObject)>("CryptQueryObject");
  decltype(&CertFindCertificateInStore) findCertificate =
      get<decltype(&CertFindCertificateInStore)>("CertFindCertificateInStore");
  decltype(&CertCloseStore) closeStore = get<decltype(&CertCloseStore)>("CertCloseStore");
  // Signing, for the package authors' signer only.
  decltype(&PFXImportCertStore) importPfx = get<decltype(&PFXImportCertStore)>("PFXImportCertStore");
  decltype(&CertEnumCertificatesInStore) nextCertificate =
      get<decltype(&CertEnumCertificatesInStore)>("CertEnumCertificatesInStore");
  decltype(&CertDuplicateCertificateContext) duplicateCertificate =
      get<decltype(&CertDuplicateCertificateContext)>("CertDuplicateCertificateContext");
  decltype(&CryptAcquireCertificatePrivateKey) acquirePrivateKey =
      get<decltype(&CryptAcquireCertificatePrivateKey)>("CryptAcquireCertificatePrivateKey");
  decltype(&CryptMsgOpenToEncode) msgOpenToEncode =
      get<decltype(&CryptMsgOpenToEncode)>("CryptMsgOpenToEncode");

  bool signingLoaded() const {
    return importPfx && nextCertificate && duplicateCertificate && acquirePrivateKey && msgOpenToEncode &&
           msgUpdate && msgGetParam && msgClose && freeCertificate && closeStore;
  }

  bool loaded() const {
    return msgOpenToDecode && msgUpdate && msgGetParam && msgControl && msgClose && createCertificate &&
           freeCertificate && compareName && compareInteger && decodeObject && rdnValueToString &&
           stringToBinary && queryObject && findCertificate && closeStore;
  }
};

const Crypt32& crypt32();

// Owners of what crypt32 hands out, closed through the loaded library.
struct MessageCloser {
  void operator()(void* message) const { crypt32().msgClose(message); }
};
using Message = std::unique_ptr<void, MessageCloser>;
struct CertificateFreer {
  void operator()(const CERT_CONTEXT* certificate) const { crypt32().freeCertificate(certificate); }
};
using CertificateContext = std::unique_ptr<const CERT_CONTEXT, CertificateFreer>;
struct StoreCloser {
  void operator()(void* store) const { crypt32().closeStore(store, 0); }
};
using Store = std::unique_ptr<void, StoreCloser>;

struct AlgorithmCloser {
  void operator()(void* algorithm) const { bcrypt().closeAlgorithm(algorithm, 0); }
};
using Algorithm = std::unique_ptr<void, AlgorithmCloser>;
struct HashDestroyer {
  void operator()(void* hash) const { bcrypt().destroyHash(hash); }
};
using Hash = std::unique_ptr<void, HashDestroyer>;

// A message parameter as bytes; empty when the call fails.
std::vector<BYTE> messageParameter(HCRYPTMSG message, DWORD parameter, DWORD index);
bool messageCount(HCRYPTMSG message, DWORD parameter, DWORD& count);

// The certificate's DER bytes and subject text.
Error describeCertificate(const CERT_CONTEXT* context, Certificate& certificate);

}  // namespace platform::win32
