// Detached CMS signing with crypt32, loaded from System32 (it is not a
// KnownDLL): the PKCS#12 file is imported into a memory store whose key is
// never persisted, and the message is made by the CryptMsg functions.
#include <algorithm>
#include <cstdio>
#include <string>

#include "platform/win32/crypt_libraries.h"
#include "platform/win32/scoped_handle.h"
#include "platform/win32/wide_text.h"
#include "tools/package_sign/detached_signer.h"

namespace kit {

namespace {

using platform::win32::crypt32;

struct ProviderTraits {
  using Type = HCRYPTPROV;
  static Type invalid() noexcept { return 0; }
  static bool isValid(Type p) noexcept { return p != 0; }
  static void close(Type p) noexcept { CryptReleaseContext(p, 0); }
};
using ScopedProvider = platform::win32::ScopedGeneric<ProviderTraits>;

std::string withError(const std::string& what) {
  char code[16];
  std::snprintf(code, sizeof code, "0x%08lX", GetLastError());
  return what + " (error " + code + ")";
}

// The password lives in memory no longer than it must.
class WidePassword {
 public:
  explicit WidePassword(const std::string& utf8) : text_(platform::win32::toWide(utf8)) {}
  ~WidePassword() { SecureZeroMemory(text_.data(), text_.size() * sizeof(wchar_t)); }
  WidePassword(const WidePassword&) = delete;
  WidePassword& operator=(const WidePassword&) = delete;
  const wchar_t* get() const { return text_.c_str(); }

 private:
  std::wstring text_;
};

// A key in a legacy RSA "full" provider cannot make SHA-256 digests (Wine
// imports every PKCS#12 key there). The same key container opened by the
// RSA-and-AES provider of the same maker can; empty when it cannot be.
ScopedProvider sha256CapableProvider(HCRYPTPROV_OR_NCRYPT_KEY_HANDLE key, DWORD keySpec) {
  ScopedProvider provider;
  DWORD type = 0, size = sizeof type;
  if (keySpec == CERT_NCRYPT_KEY_SPEC ||
      !CryptGetProvParam(key, PP_PROVTYPE, reinterpret_cast<BYTE*>(&type), &size, 0) || type != PROV_RSA_FULL)
    return provider;
  DWORD keySet = 0;
  size = sizeof keySet;
  if (!CryptGetProvParam(key, PP_KEYSET_TYPE, reinterpret_cast<BYTE*>(&keySet), &size, 0)) keySet = 0;
  size = 0;
  if (!CryptGetProvParam(key, PP_CONTAINER, nullptr, &size, 0) || size == 0 || size > 1024) return provider;
  std::string container(size, '\0');
  if (!CryptGetProvParam(key, PP_CONTAINER, reinterpret_cast<BYTE*>(container.data()), &size, 0))
    return provider;
  container.resize(std::min<size_t>(container.find('\0'), container.size()));
  CryptAcquireContextA(provider.receive(), container.c_str(), MS_ENH_RSA_AES_PROV_A, PROV_RSA_AES,
                       CRYPT_SILENT | (keySet & CRYPT_MACHINE_KEYSET));
  return provider;
}

}  // namespace

DetachedSignature signDetached(std::string_view pkcs12, const std::string& password,
                               std::string_view content) {
  DetachedSignature out;
  const platform::win32::Crypt32& api = crypt32();
  if (!api.signingLoaded()) {
    out.problem = withError("crypt32.dll cannot be loaded from System32");
    return out;
  }
  if (pkcs12.size() > kMaxPkcs12Bytes) {
    out.problem = "the certificate file is larger than " + std::to_string(kMaxPkcs12Bytes) + " bytes";
    return out;
  }
  CRYPT_DATA_BLOB pfx{static_cast<DWORD>(pkcs12.size()),
                      reinterpret_cast<BYTE*>(const_cast<char*>(pkcs12.data()))};
  platform::win32::Store store;
  {
    const WidePassword wide(password);
    // Not persisted: nothing of the key stays in the user's key store.
    store.reset(api.importPfx(&pfx, wide.get(), PKCS12_NO_PERSIST_KEY));
  }
  if (!store) {
    out.problem = withError("the password does not open the PKCS#12 file, or it is not one");
    return out;
  }

  // The certificate whose key is in the file signs; a chain's others do not.
  platform::win32::CertificateContext signer;
  HCRYPTPROV_OR_NCRYPT_KEY_HANDLE key = 0;
  DWORD keySpec = 0;
  for (PCCERT_CONTEXT at = api.nextCertificate(store.get(), nullptr); at;
       at = api.nextCertificate(store.get(), at)) {
    BOOL callerFrees = FALSE;
    // Cached in the certificate's context, so it goes when the context goes.
    if (api.acquirePrivateKey(
            at, CRYPT_ACQUIRE_CACHE_FLAG | CRYPT_ACQUIRE_SILENT_FLAG | CRYPT_ACQUIRE_ALLOW_NCRYPT_KEY_FLAG,
            nullptr, &key, &keySpec, &callerFrees)) {
      signer.reset(api.duplicateCertificate(at));
      api.freeCertificate(at);
      break;
    }
  }
  if (!signer) {
    out.problem = "the PKCS#12 file holds no private key with its certificate";
    return out;
  }

  const ScopedProvider sha256Provider = sha256CapableProvider(key, keySpec);
  if (sha256Provider) key = sha256Provider.get();

  CMSG_SIGNER_ENCODE_INFO signerInfo{};
  signerInfo.cbSize = sizeof signerInfo;
  signerInfo.pCertInfo = signer.get()->pCertInfo;
  signerInfo.hCryptProv = key;
  signerInfo.dwKeySpec = keySpec;
  signerInfo.HashAlgorithm.pszObjId = const_cast<char*>(szOID_NIST_sha256);
  CERT_BLOB certificate{signer.get()->cbCertEncoded, signer.get()->pbCertEncoded};
  CMSG_SIGNED_ENCODE_INFO signedInfo{};
  signedInfo.cbSize = sizeof signedInfo;
  signedInfo.cSigners = 1;
  signedInfo.rgSigners = &signerInfo;
  signedInfo.cCertEncoded = 1;
  signedInfo.rgCertEncoded = &certificate;
  platform::win32::Message message(api.msgOpenToEncode(platform::win32::kCryptEncoding, CMSG_DETACHED_FLAG,
                                                       CMSG_SIGNED, &signedInfo, nullptr, nullptr));
  if (!message || !api.msgUpdate(message.get(), reinterpret_cast<const BYTE*>(content.data()),
                                 static_cast<DWORD>(content.size()), TRUE)) {
    out.problem = withError("cannot sign with this key and certificate");
    return out;
  }
  DWORD size = 0;
  if (!api.msgGetParam(message.get(), CMSG_CONTENT_PARAM, 0, nullptr, &size)) {
    out.problem = withError("cannot encode the signature");
    return out;
  }
  out.der.resize(size);
  if (!api.msgGetParam(message.get(), CMSG_CONTENT_PARAM, 0, out.der.data(), &size)) {
    out.der.clear();
    out.problem = withError("cannot encode the signature");
    return out;
  }
  out.der.resize(size);
  out.certificate.assign(reinterpret_cast<const char*>(certificate.pbData), certificate.cbData);
  return out;
}

bool readPasswordLine(std::string& password) {
  password.clear();
  const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
  DWORD mode = 0;
  if (input != nullptr && input != INVALID_HANDLE_VALUE && GetConsoleMode(input, &mode)) {
    std::fputs("Password of the certificate file: ", stderr);
    std::fflush(stderr);
    SetConsoleMode(input, (mode | ENABLE_LINE_INPUT) & ~static_cast<DWORD>(ENABLE_ECHO_INPUT));
    std::wstring line;
    wchar_t buffer[256];
    DWORD read = 0;
    while (line.find(L'\n') == std::wstring::npos && line.size() <= kMaxPasswordBytes &&
           ReadConsoleW(input, buffer, 256, &read, nullptr) && read > 0)
      line.append(buffer, read);
    SetConsoleMode(input, mode);
    std::fputs("\n", stderr);
    const bool gotLine = line.find(L'\n') != std::wstring::npos;
    line.resize(std::min(line.find_first_of(L"\r\n"), line.size()));
    password = platform::win32::toUtf8(line);
    SecureZeroMemory(line.data(), line.size() * sizeof(wchar_t));
    return gotLine && password.size() <= kMaxPasswordBytes;
  }
  bool gotLine = false;
  char c = 0;
  DWORD read = 0;
  while (ReadFile(input, &c, 1, &read, nullptr) && read == 1) {
    gotLine = true;
    if (c == '\n') break;
    if (password.size() <= kMaxPasswordBytes) password += c;
  }
  if (!password.empty() && password.back() == '\r') password.pop_back();
  return gotLine && password.size() <= kMaxPasswordBytes;
}

}  // namespace kit
