#include "platform/run_lock.h"

#include <windows.h>
// After windows.h: they rely on the types it declares.
#include <aclapi.h>
#include <sddl.h>

#include <cstdio>
#include <string>

#include "platform/simulation.h"
#include "platform/win32/last_error.h"
#include "platform/win32/scoped_handle.h"
#include "platform/win32/trusted_owner.h"
#include "platform/win32/wide_text.h"

namespace platform {

namespace {

constexpr wchar_t kMutexName[] = L"Global\\Orvo.VBiosInstaller.Run";

// Owned by the administrators, open to them and to the system only, not
// inherited: no standard user can open it, wait on it or hold it.
constexpr wchar_t kMutexSecurity[] = L"O:BAD:P(A;;GA;;;SY)(A;;GA;;;BA)";

// A simulated machine is a machine of its own: runs on two of them (two test
// folders under one Wine) do not wait for each other.
std::wstring mutexName() {
  std::wstring name = kMutexName;
  const SimulationHooks* machine = simulation();
  if (machine == nullptr || machine->machineRoot == nullptr) return name;
  uint64_t hash = 14695981039346656037ull;  // FNV-1a
  for (const unsigned char c : machine->machineRoot()) {
    hash ^= c;
    hash *= 1099511628211ull;
  }
  wchar_t suffix[24];
  std::swprintf(suffix, sizeof suffix / sizeof suffix[0], L".%016llx", static_cast<unsigned long long>(hash));
  return name + suffix;
}

// A mutex of that name that someone made before this run: trusted only if the
// administrators or the system own it, since only they could have chosen its
// access rules. Anyone else could hold it for ever, or let two runs in.
Error checkOwner(HANDLE mutex, const std::string& name) {
  bool trusted = false;
  std::string owner;
  if (Error error = win32::readOwner(mutex, SE_KERNEL_OBJECT, name, trusted, owner); error.failed())
    return error;
  if (!trusted)
    return makeError(ERROR_INVALID_OWNER,
                     "CreateMutexW " + name + " (made by a user who is not an administrator)");
  return {};
}

}  // namespace

struct RunLock::Held {
  win32::ScopedHandle mutex;
  ~Held() { ReleaseMutex(mutex.get()); }
};

void RunLock::HeldDeleter::operator()(Held* held) const noexcept { delete held; }

RunLock::RunLock() = default;
RunLock::~RunLock() = default;

Error RunLock::acquire(uint32_t noticeAfterMs, const std::function<void()>& stillWaiting) {
  if (held()) return {};
  const std::wstring wideName = mutexName();
  const std::string name = win32::toUtf8(wideName);
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(kMutexSecurity, SDDL_REVISION_1, &descriptor,
                                                            nullptr))
    return win32::lastError("ConvertStringSecurityDescriptorToSecurityDescriptorW", name);
  const win32::ScopedLocalMemory ownedDescriptor(descriptor);
  SECURITY_ATTRIBUTES attributes{};
  attributes.nLength = sizeof attributes;
  attributes.lpSecurityDescriptor = descriptor;
  attributes.bInheritHandle = FALSE;
  win32::ScopedHandle mutex(CreateMutexW(&attributes, FALSE, wideName.c_str()));
  if (!mutex) return win32::lastError("CreateMutexW", name);
  if (GetLastError() == ERROR_ALREADY_EXISTS) {
    if (Error error = checkOwner(mutex.get(), name); error.failed()) return error;
  }
  // WAIT_ABANDONED: the run that held it died; its lock is ours now.
  DWORD waited = WaitForSingleObject(mutex.get(), noticeAfterMs);
  if (waited == WAIT_TIMEOUT) {
    if (stillWaiting) stillWaiting();
    waited = WaitForSingleObject(mutex.get(), INFINITE);
  }
  if (waited == WAIT_FAILED) return win32::lastError("WaitForSingleObject", name);
  if (waited != WAIT_OBJECT_0 && waited != WAIT_ABANDONED)
    return makeError(ERROR_GEN_FAILURE, "WaitForSingleObject " + name);
  held_.reset(new Held{std::move(mutex)});
  return {};
}

}  // namespace platform
