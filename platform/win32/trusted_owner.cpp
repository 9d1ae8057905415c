#include "platform/win32/trusted_owner.h"

#include <sddl.h>

#include "platform/win32/last_error.h"
#include "platform/win32/wide_text.h"

namespace platform::win32 {

namespace {

constexpr wchar_t kTrustedInstaller[] = L"S-1-5-80-956008885-3425870106-3131436437-3526398217-1311993564";

bool underWine() {
  static const bool wine = GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
  return wine;
}

bool isTokenUser(PSID sid) {
  HANDLE raw = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &raw)) return false;
  const ScopedHandle token(raw);
  union {
    TOKEN_USER user;
    BYTE bytes[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
  } buffer{};
  DWORD size = 0;
  return GetTokenInformation(token.get(), TokenUser, &buffer, sizeof(buffer), &size) &&
         EqualSid(sid, buffer.user.User.Sid);
}

}  // namespace

bool isTrustedOwner(PSID owner) {
  if (owner == nullptr || !IsValidSid(owner)) return false;
  if (IsWellKnownSid(owner, WinBuiltinAdministratorsSid) || IsWellKnownSid(owner, WinLocalSystemSid))
    return true;
  PSID installer = nullptr;
  if (!ConvertStringSidToSidW(kTrustedInstaller, &installer)) return false;
  const ScopedLocalMemory owned(installer);
  return EqualSid(owner, installer) != FALSE;
}

Error readOwner(HANDLE object, SE_OBJECT_TYPE type, const std::string& name, bool& trusted,
                std::string& owner) {
  PSID sid = nullptr;
  PSECURITY_DESCRIPTOR raw = nullptr;
  const DWORD status =
      GetSecurityInfo(object, type, OWNER_SECURITY_INFORMATION, &sid, nullptr, nullptr, nullptr, &raw);
  const ScopedLocalMemory descriptor(raw);
  if (status != ERROR_SUCCESS) return makeError(status, "GetSecurityInfo " + name);
  trusted = isTrustedOwner(sid);
  // Wine keeps no owner of a file but its Unix one, and reports the running
  // user for each file that Unix user owns, whatever owner was set (measured
  // with Wine 8): there that user stands for the administrators.
  if (!trusted && type == SE_FILE_OBJECT && underWine()) trusted = isTokenUser(sid);
  LPWSTR text = nullptr;
  owner = sid != nullptr && ConvertSidToStringSidW(sid, &text) ? toUtf8(text) : "an unknown account";
  const ScopedLocalMemory ownedText(text);
  return {};
}

Error administratorsOnly(ScopedLocalMemory& descriptor) {
  PSECURITY_DESCRIPTOR raw = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(L"O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)",
                                                            SDDL_REVISION_1, &raw, nullptr))
    return lastError("ConvertStringSecurityDescriptorToSecurityDescriptorW", "administrators only");
  descriptor.reset(raw);
  return {};
}

}  // namespace platform::win32
