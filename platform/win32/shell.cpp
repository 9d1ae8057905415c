// Web pages opened by the desktop's shell, and the restart request through
// WMI's Win32_OperatingSystem.Win32Shutdown, with the ordinary ExitWindowsEx
// request where that method is missing. On a simulated machine the last step
// of each (opening, invoking, exiting) goes to the machine instead.
#include <windows.h>
// After windows.h, which declares the types these build on.
#include <exdisp.h>
#include <shldisp.h>
#include <shlguid.h>
#include <shlobj.h>
#include <wbemidl.h>

#include <cstdio>
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

std::string hresultText(HRESULT hr) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08lX", static_cast<unsigned long>(hr));
  return text;
}

struct DesktopShell {
  ScopedComPtr<IShellDispatch2> dispatch;
  std::string whyNot;  // when there is no dispatch
};

// The automation object of the desktop's own folder view. It lives in the
// desktop's process (Explorer), which runs as the signed-in user without
// elevation, so what it starts does too: the pattern the shell offers an
// elevated program for just this. A local server only: a shell object made
// inside this process would start the browser as administrator after all.
DesktopShell findDesktopShell() {
  DesktopShell shell;
  auto fail = [&shell](const char* what, HRESULT hr) {
    shell.whyNot = std::string(what) + " (" + hresultText(hr) + ")";
    return std::move(shell);
  };
  ScopedComPtr<IShellWindows> windows;
  HRESULT hr = CoCreateInstance(CLSID_ShellWindows, nullptr, CLSCTX_LOCAL_SERVER, IID_IShellWindows,
                                windows.receiveVoid());
  if (FAILED(hr) || !windows) return fail("no desktop shell: the shell's window list cannot be reached", hr);
  ScopedVariant location, root;
  long window = 0;
  ScopedComPtr<IDispatch> desktop;
  hr = windows->FindWindowSW(location.get(), root.get(), SWC_DESKTOP, &window, SWFO_NEEDDISPATCH,
                             desktop.receive());
  // S_FALSE: the list has no desktop (another session's, or none shown).
  if (hr != S_OK || !desktop) return fail("no desktop shell: the shell's window list has no desktop", hr);
  ScopedComPtr<IServiceProvider> services;
  hr = desktop->QueryInterface(IID_IServiceProvider, services.receiveVoid());
  if (FAILED(hr) || !services) return fail("the desktop offers no services", hr);
  ScopedComPtr<IShellBrowser> browser;
  hr = services->QueryService(SID_STopLevelBrowser, IID_IShellBrowser, browser.receiveVoid());
  if (FAILED(hr) || !browser) return fail("the desktop has no shell browser", hr);
  ScopedComPtr<IShellView> view;
  hr = browser->QueryActiveShellView(view.receive());
  if (FAILED(hr) || !view) return fail("the desktop has no folder view", hr);
  ScopedComPtr<IDispatch> background;
  hr = view->GetItemObject(SVGIO_BACKGROUND, IID_IDispatch, background.receiveVoid());
  if (FAILED(hr) || !background) return fail("the desktop's view has no automation object", hr);
  ScopedComPtr<IShellFolderViewDual> folderView;
  hr = background->QueryInterface(IID_IShellFolderViewDual, folderView.receiveVoid());
  if (FAILED(hr) || !folderView) return fail("the desktop's view has no automation object", hr);
  ScopedComPtr<IDispatch> application;
  hr = folderView->get_Application(application.receive());
  if (FAILED(hr) || !application) return fail("the desktop's shell has no application object", hr);
  hr = application->QueryInterface(IID_IShellDispatch2, shell.dispatch.receiveVoid());
  if (FAILED(hr) || !shell.dispatch) return fail("the desktop's shell cannot start programs", hr);
  return shell;
}

constexpr DWORD kRestartReason =
    SHTDN_REASON_MAJOR_APPLICATION | SHTDN_REASON_MINOR_INSTALLATION | SHTDN_REASON_FLAG_PLANNED;

}  // namespace

std::string webPagesCannotOpen() {
  const SimulationHooks* machine = simulation();
  std::string whyNot;
  if (machine != nullptr && machine->desktopShell != nullptr && !machine->desktopShell(whyNot)) return whyNot;
  const ScopedComApartment apartment(COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
  if (!apartment.usable()) return "COM is not usable on this thread (" + hresultText(apartment.result()) + ")";
  return findDesktopShell().whyNot;
}

WebPageOpening openWebAddress(std::string_view address) {
  const std::string target = shellSafeAddress(address);
  const SimulationHooks* machine = simulation();
  auto notOpened = [&](std::string whyNot) {
    if (machine != nullptr && machine->shellNotOpened != nullptr) machine->shellNotOpened(target, whyNot);
    return WebPageOpening{false, std::move(whyNot)};
  };
  std::string whyNot;
  if (machine != nullptr && machine->desktopShell != nullptr && !machine->desktopShell(whyNot))
    return notOpened(std::move(whyNot));
  // The shell's own advice for its calls: an apartment, and no DDE.
  const ScopedComApartment apartment(COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
  if (!apartment.usable())
    return notOpened("COM is not usable on this thread (" + hresultText(apartment.result()) + ")");
  DesktopShell shell = findDesktopShell();
  if (!shell.dispatch) return notOpened(std::move(shell.whyNot));
  // The simulated machine takes the page in place of the desktop's browser;
  // everything up to here was the real shell's.
  if (machine != nullptr && machine->shellOpen != nullptr) {
    machine->shellOpen(target);
    return {true, {}};
  }
  const ScopedBstr file(win32::toWide(target));
  ScopedVariant noArguments, noFolder, operation, show;
  V_VT(operation.get()) = VT_BSTR;
  V_BSTR(operation.get()) = SysAllocString(L"open");  // freed with the variant
  V_VT(show.get()) = VT_I4;
  V_I4(show.get()) = SW_SHOWNORMAL;
  if (!file || V_BSTR(operation.get()) == nullptr) return notOpened("out of memory");
  const HRESULT hr =
      shell.dispatch->ShellExecute(file.get(), *noArguments.get(), *noFolder.get(), *operation.get(), *show.get());
  if (FAILED(hr)) return notOpened("the desktop's shell refused it (" + hresultText(hr) + ")");
  return {true, {}};
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
