// The shell's open verb for web pages, and the restart request through WMI's
// Win32_OperatingSystem.Win32Shutdown, with the ordinary ExitWindowsEx
// request where that method is missing. On a simulated machine the last step
// of each (opening, invoking, exiting) goes to the machine instead.
#include <windows.h>
// After windows.h, which declares the types these build on.
#include <shellapi.h>
#include <wbemidl.h>

#include <string>

#include "platform/shell.h"
#include "platform/simulation.h"
#include "platform/win32/com_owners.h"
#include "platform/win32/scoped_handle.h"
#include "platform/win32/wide_text.h"

namespace platform {

namespace {

using win32::ScopedBstr;
using win32::ScopedComApartment;
using win32::ScopedComPtr;
using win32::ScopedVariant;

// Restarting needs the shutdown privilege enabled in the process token (what
// the management layer's EnablePrivileges does for its call). A refusal is
// not ours to report: the request that follows is refused in its turn.
void enableShutdownPrivilege() {
  HANDLE raw = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &raw)) return;
  const win32::ScopedHandle token(raw);
  TOKEN_PRIVILEGES privileges{};
  privileges.PrivilegeCount = 1;
  privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
  if (!LookupPrivilegeValueW(nullptr, SE_SHUTDOWN_NAME, &privileges.Privileges[0].Luid)) return;
  AdjustTokenPrivileges(token.get(), FALSE, &privileges, 0, nullptr, nullptr);
}

bool setInteger(IWbemClassObject* parameters, const wchar_t* name, int32_t value) {
  ScopedVariant variant;
  V_VT(variant.get()) = VT_I4;
  V_I4(variant.get()) = value;
  return SUCCEEDED(parameters->Put(name, 0, variant.get(), 0));
}

enum class Shutdown { Invoked, Missing };

// Win32Shutdown(Flags 2, Reserved 0) on every instance, synchronously; the
// methods' own return values are not the caller's concern. Missing: WMI, the
// class or its method could not be reached, or no instance took the call.
Shutdown invokeWin32Shutdown() {
  const ScopedComApartment apartment(COINIT_MULTITHREADED);
  if (!apartment.usable()) return Shutdown::Missing;
  // Settable once per process; when set before (RPC_E_TOO_LATE) the proxy
  // blanket below still gives the calls impersonation.
  CoInitializeSecurity(nullptr, -1, nullptr, nullptr, RPC_C_AUTHN_LEVEL_DEFAULT, RPC_C_IMP_LEVEL_IMPERSONATE,
                       nullptr, EOAC_NONE, nullptr);

  ScopedComPtr<IWbemLocator> locator;
  if (FAILED(CoCreateInstance(CLSID_WbemLocator, nullptr, CLSCTX_INPROC_SERVER, IID_IWbemLocator,
                              locator.receiveVoid())))
    return Shutdown::Missing;
  const ScopedBstr nameSpace(L"ROOT\\CIMV2");
  ScopedComPtr<IWbemServices> services;
  if (!nameSpace || FAILED(locator->ConnectServer(nameSpace.get(), nullptr, nullptr, nullptr, 0, nullptr,
                                                  nullptr, services.receive())))
    return Shutdown::Missing;
  if (FAILED(CoSetProxyBlanket(services.get(), RPC_C_AUTHN_WINNT, RPC_C_AUTHZ_NONE, nullptr,
                               RPC_C_AUTHN_LEVEL_CALL, RPC_C_IMP_LEVEL_IMPERSONATE, nullptr, EOAC_NONE)))
    return Shutdown::Missing;

  const ScopedBstr className(L"Win32_OperatingSystem");
  const ScopedBstr methodName(L"Win32Shutdown");
  if (!className || !methodName) return Shutdown::Missing;
  ScopedComPtr<IWbemClassObject> classObject;
  if (FAILED(services->GetObject(className.get(), 0, nullptr, classObject.receive(), nullptr)))
    return Shutdown::Missing;
  ScopedComPtr<IWbemClassObject> signature;
  if (FAILED(classObject->GetMethod(methodName.get(), 0, signature.receive(), nullptr)) || !signature)
    return Shutdown::Missing;
  ScopedComPtr<IWbemClassObject> parameters;
  if (FAILED(signature->SpawnInstance(0, parameters.receive())) || !parameters) return Shutdown::Missing;
  if (!setInteger(parameters.get(), L"Flags", kRestartFlags) ||
      !setInteger(parameters.get(), L"Reserved", kRestartReserved))
    return Shutdown::Missing;

  ScopedComPtr<IEnumWbemClassObject> instances;
  if (FAILED(services->CreateInstanceEnum(className.get(), WBEM_FLAG_FORWARD_ONLY, nullptr,
                                          instances.receive())))
    return Shutdown::Missing;
  const SimulationHooks* machine = simulation();
  int invoked = 0;
  for (;;) {
    ScopedComPtr<IWbemClassObject> instance;
    ULONG returned = 0;
    // A provider that never answers must not hold the dialog for good.
    if (instances->Next(30000, 1, instance.receive(), &returned) != WBEM_S_NO_ERROR || returned != 1) break;
    ScopedVariant path;
    if (FAILED(instance->Get(L"__PATH", 0, path.get(), nullptr, nullptr)) || V_VT(path.get()) != VT_BSTR)
      continue;
    if (machine != nullptr && machine->restartRequested != nullptr) {
      machine->restartRequested("Win32Shutdown", kRestartFlags, kRestartReserved);
      ++invoked;
      continue;
    }
    ScopedComPtr<IWbemClassObject> out;
    if (SUCCEEDED(services->ExecMethod(V_BSTR(path.get()), methodName.get(), 0, nullptr, parameters.get(),
                                       out.receive(), nullptr)))
      ++invoked;
  }
  return invoked > 0 ? Shutdown::Invoked : Shutdown::Missing;
}

constexpr DWORD kRestartReason =
    SHTDN_REASON_MAJOR_APPLICATION | SHTDN_REASON_MINOR_INSTALLATION | SHTDN_REASON_FLAG_PLANNED;

}  // namespace

bool openWebAddress(std::string_view address) {
  const std::string target = shellSafeAddress(address);
  const SimulationHooks* machine = simulation();
  if (machine != nullptr && machine->shellOpen != nullptr) {
    machine->shellOpen(target);
    return true;
  }
  // The shell's own advice for ShellExecute: an apartment, and no DDE.
  const ScopedComApartment apartment(COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
  const std::wstring wide = win32::toWide(target);
  const auto result = reinterpret_cast<INT_PTR>(
      ShellExecuteW(nullptr, L"open", wide.c_str(), nullptr, nullptr, SW_SHOWNORMAL));
  return result > 32;
}

RestartRequest requestRestart() {
  enableShutdownPrivilege();
  if (invokeWin32Shutdown() == Shutdown::Invoked) return RestartRequest::Requested;
  // No Win32Shutdown to call: the ordinary, non-forced request.
  const SimulationHooks* machine = simulation();
  if (machine != nullptr && machine->restartRequested != nullptr) {
    machine->restartRequested("ExitWindowsEx", EWX_REBOOT, 0);
    return RestartRequest::Fallback;
  }
  return ExitWindowsEx(EWX_REBOOT, kRestartReason) ? RestartRequest::Fallback : RestartRequest::Failed;
}

}  // namespace platform
