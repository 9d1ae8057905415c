// A test-only in-process server of CLSID_WbemLocator for the Wine test
// prefix (scripts/wine-prefix.sh registers it there alone): the product's
// device search gets the simulated machine's [pnp] devices through the very
// COM calls it makes on Windows, where Wine's WMI lists none. Everything
// else (other namespaces, other classes, Win32_OperatingSystem's methods) is
// handed on to Wine's own wbemprox.dll, loaded by path.
#include <windows.h>
// wbemidl.h after windows.h: it builds on the COM types windows.h declares.
#include <wbemidl.h>

#include <atomic>
#include <memory>
#include <string>

#include "tests/wine/emulators/machine_file.h"
#include "tests/wine/emulators/wmi_devices.h"
#include "tests/wine/emulators/wmi_objects.h"

namespace winetest::emulators {
namespace {

// As HRESULTs, so that "Wine's answer, or this" is one type.
constexpr HRESULT kNotSupported = WBEM_E_NOT_SUPPORTED;
constexpr HRESULT kInvalidQuery = WBEM_E_INVALID_QUERY;

// Wine's own locator, created through its class factory: the registry entry
// of CLSID_WbemLocator is ours, so CoCreateInstance would come back here.
IWbemLocator* wineLocator() {
  wchar_t system[MAX_PATH] = {};
  const UINT length = GetSystemDirectoryW(system, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return nullptr;
  const std::wstring path = std::wstring(system, length) + L"\\wbem\\wbemprox.dll";
  // Kept loaded for the process's life: objects of it may outlive ours.
  const HMODULE wbemprox = LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
  if (wbemprox == nullptr) return nullptr;
  using GetClassObject = HRESULT(WINAPI*)(REFCLSID, REFIID, void**);
  const auto get = reinterpret_cast<GetClassObject>(
      reinterpret_cast<void*>(GetProcAddress(wbemprox, "DllGetClassObject")));
  IClassFactory* factory = nullptr;
  if (get == nullptr || FAILED(get(CLSID_WbemLocator, IID_IClassFactory, reinterpret_cast<void**>(&factory))))
    return nullptr;
  IWbemLocator* locator = nullptr;
  factory->CreateInstance(nullptr, IID_IWbemLocator, reinterpret_cast<void**>(&locator));
  factory->Release();
  return locator;
}

// The local machine's default namespace, as a program names it.
bool isLocalDefaultNamespace(const wchar_t* name) {
  if (name == nullptr) return false;
  std::wstring text(name);
  for (wchar_t& c : text) c = c == L'/' ? L'\\' : static_cast<wchar_t>(towlower(c));
  return text == L"root\\cimv2" || text == L"\\\\.\\root\\cimv2" || text == L"\\\\localhost\\root\\cimv2";
}

// The local default namespace: our answers for Win32_PnPSignedDriver,
// Wine's for everything else. In process, so a proxy blanket is accepted as
// Windows accepts it for an in-process object.
class Services final : public ComObject<IWbemServices>, public IClientSecurity {
 public:
  explicit Services(IWbemServices* wine) : wine_(wine) {}

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
    if (out == nullptr || riid != IID_IClientSecurity) return ComObject::QueryInterface(riid, out);
    *out = static_cast<IClientSecurity*>(this);
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ComObject::AddRef(); }
  ULONG STDMETHODCALLTYPE Release() override { return ComObject::Release(); }

  // IClientSecurity
  HRESULT STDMETHODCALLTYPE QueryBlanket(IUnknown*, DWORD* authn, DWORD* authz, OLECHAR** server,
                                         DWORD* level, DWORD* impersonation, void** identity,
                                         DWORD* capabilities) override {
    if (authn != nullptr) *authn = RPC_C_AUTHN_WINNT;
    if (authz != nullptr) *authz = RPC_C_AUTHZ_NONE;
    if (server != nullptr) *server = nullptr;
    if (level != nullptr) *level = RPC_C_AUTHN_LEVEL_CALL;
    if (impersonation != nullptr) *impersonation = RPC_C_IMP_LEVEL_IMPERSONATE;
    if (identity != nullptr) *identity = nullptr;
    if (capabilities != nullptr) *capabilities = EOAC_NONE;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE SetBlanket(IUnknown*, DWORD, DWORD, OLECHAR*, DWORD, DWORD, void*,
                                       DWORD) override {
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE CopyProxy(IUnknown* proxy, IUnknown** copy) override {
    if (copy == nullptr) return E_POINTER;
    *copy = nullptr;
    return proxy == nullptr ? E_INVALIDARG
                            : proxy->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(copy));
  }

  HRESULT STDMETHODCALLTYPE ExecQuery(const BSTR language, const BSTR query, LONG flags,
                                      IWbemContext* context, IEnumWbemClassObject** result) override {
    if (result == nullptr || language == nullptr || query == nullptr) return WBEM_E_INVALID_PARAMETER;
    *result = nullptr;
    const DeviceQuery kind = classifyQuery(query);
    if (kind.kind == QueryKind::NotOurs) {
      return wine_ ? wine_->ExecQuery(language, query, flags, context, result) : kInvalidQuery;
    }
    if (_wcsicmp(language, L"WQL") != 0) return WBEM_E_INVALID_QUERY_TYPE;
    if (kind.kind == QueryKind::Invalid) return WBEM_E_INVALID_QUERY;
    auto list = std::make_shared<DeviceList>(listDevices(MachineFile::load(), kind));
    if (list->failed) return WBEM_E_FAILED;
    *result = newDeviceEnumeration(std::move(list));
    return WBEM_S_NO_ERROR;
  }

  // Everything else is Wine's.
  template <class Method, class... Arguments>
  HRESULT forward(Method method, Arguments... arguments) {
    return wine_ ? (wine_->*method)(arguments...) : kNotSupported;
  }
  HRESULT STDMETHODCALLTYPE OpenNamespace(const BSTR a, LONG b, IWbemContext* c, IWbemServices** d,
                                          IWbemCallResult** e) override {
    return forward(&IWbemServices::OpenNamespace, a, b, c, d, e);
  }
  HRESULT STDMETHODCALLTYPE CancelAsyncCall(IWbemObjectSink* a) override {
    return forward(&IWbemServices::CancelAsyncCall, a);
  }
  HRESULT STDMETHODCALLTYPE QueryObjectSink(LONG a, IWbemObjectSink** b) override {
    return forward(&IWbemServices::QueryObjectSink, a, b);
  }
  HRESULT STDMETHODCALLTYPE GetObject(const BSTR a, LONG b, IWbemContext* c, IWbemClassObject** d,
                                      IWbemCallResult** e) override {
    return forward(&IWbemServices::GetObject, a, b, c, d, e);
  }
  HRESULT STDMETHODCALLTYPE GetObjectAsync(const BSTR a, LONG b, IWbemContext* c,
                                           IWbemObjectSink* d) override {
    return forward(&IWbemServices::GetObjectAsync, a, b, c, d);
  }
  HRESULT STDMETHODCALLTYPE PutClass(IWbemClassObject* a, LONG b, IWbemContext* c,
                                     IWbemCallResult** d) override {
    return forward(&IWbemServices::PutClass, a, b, c, d);
  }
  HRESULT STDMETHODCALLTYPE PutClassAsync(IWbemClassObject* a, LONG b, IWbemContext* c,
                                          IWbemObjectSink* d) override {
    return forward(&IWbemServices::PutClassAsync, a, b, c, d);
  }
  HRESULT STDMETHODCALLTYPE DeleteClass(const BSTR a, LONG b, IWbemContext* c, IWbemCallResult** d) override {
    return forward(&IWbemServices::DeleteClass, a, b, c, d);
  }
  HRESULT STDMETHODCALLTYPE DeleteClassAsync(const BSTR a, LONG b, IWbemContext* c,
                                             IWbemObjectSink* d) override {
    return forward(&IWbemServices::DeleteClassAsync, a, b, c, d);
  }
  HRESULT STDMETHODCALLTYPE CreateClassEnum(const BSTR a, LONG b, IWbemContext* c,
                                            IEnumWbemClassObject** d) override {
    return forward(&IWbemServices::CreateClassEnum, a, b, c, d);
  }
  HRESULT STDMETHODCALLTYPE CreateClassEnumAsync(const BSTR a, LONG b, IWbemContext* c,
                                                 IWbemObjectSink* d) override {
    return forward(&IWbemServices::CreateClassEnumAsync, a, b, c, d);
  }
  HRESULT STDMETHODCALLTYPE PutInstance(IWbemClassObject* a, LONG b, IWbemContext* c,
                                        IWbemCallResult** d) override {
    return forward(&IWbemServices::PutInstance, a, b, c, d);
  }
  HRESULT STDMETHODCALLTYPE PutInstanceAsync(IWbemClassObject* a, LONG b, IWbemContext* c,
                                             IWbemObjectSink* d) override {
    return forward(&IWbemServices::PutInstanceAsync, a, b, c, d);
  }
  HRESULT STDMETHODCALLTYPE DeleteInstance(const BSTR a, LONG b, IWbemContext* c,
                                           IWbemCallResult** d) override {
    return forward(&IWbemServices::DeleteInstance, a, b, c, d);
  }
  HRESULT STDMETHODCALLTYPE DeleteInstanceAsync(const BSTR a, LONG b, IWbemContext* c,
                                                IWbemObjectSink* d) override {
    return forward(&IWbemServices::DeleteInstanceAsync, a, b, c, d);
  }
  HRESULT STDMETHODCALLTYPE CreateInstanceEnum(const BSTR a, LONG b, IWbemContext* c,
                                               IEnumWbemClassObject** d) override {
    return forward(&IWbemServices::CreateInstanceEnum, a, b, c, d);
  }
  HRESULT STDMETHODCALLTYPE CreateInstanceEnumAsync(const BSTR a, LONG b, IWbemContext* c,
                                                    IWbemObjectSink* d) override {
    return forward(&IWbemServices::CreateInstanceEnumAsync, a, b, c, d);
  }
  HRESULT STDMETHODCALLTYPE ExecQueryAsync(const BSTR a, const BSTR b, LONG c, IWbemContext* d,
                                           IWbemObjectSink* e) override {
    return forward(&IWbemServices::ExecQueryAsync, a, b, c, d, e);
  }
  HRESULT STDMETHODCALLTYPE ExecNotificationQuery(const BSTR a, const BSTR b, LONG c, IWbemContext* d,
                                                  IEnumWbemClassObject** e) override {
    return forward(&IWbemServices::ExecNotificationQuery, a, b, c, d, e);
  }
  HRESULT STDMETHODCALLTYPE ExecNotificationQueryAsync(const BSTR a, const BSTR b, LONG c, IWbemContext* d,
                                                       IWbemObjectSink* e) override {
    return forward(&IWbemServices::ExecNotificationQueryAsync, a, b, c, d, e);
  }
  HRESULT STDMETHODCALLTYPE ExecMethod(const BSTR a, const BSTR b, LONG c, IWbemContext* d,
                                       IWbemClassObject* e, IWbemClassObject** f,
                                       IWbemCallResult** g) override {
    return forward(&IWbemServices::ExecMethod, a, b, c, d, e, f, g);
  }
  HRESULT STDMETHODCALLTYPE ExecMethodAsync(const BSTR a, const BSTR b, LONG c, IWbemContext* d,
                                            IWbemClassObject* e, IWbemObjectSink* f) override {
    return forward(&IWbemServices::ExecMethodAsync, a, b, c, d, e, f);
  }

 private:
  ~Services() override {
    if (wine_) wine_->Release();
  }
  IWbemServices* wine_;
};

class Locator final : public ComObject<IWbemLocator> {
 public:
  HRESULT STDMETHODCALLTYPE ConnectServer(const BSTR resource, const BSTR user, const BSTR password,
                                          const BSTR locale, LONG flags, const BSTR authority,
                                          IWbemContext* context, IWbemServices** services) override {
    if (services == nullptr) return WBEM_E_INVALID_PARAMETER;
    *services = nullptr;
    IWbemLocator* wine = wineLocator();
    IWbemServices* wineServices = nullptr;
    HRESULT hr = WBEM_E_INVALID_NAMESPACE;
    if (wine != nullptr) {
      hr = wine->ConnectServer(resource, user, password, locale, flags, authority, context, &wineServices);
      wine->Release();
    }
    if (!isLocalDefaultNamespace(resource)) {
      *services = wineServices;
      return hr;
    }
    // Another machine or account is nothing a test asks of us.
    if (user != nullptr || password != nullptr) {
      if (wineServices != nullptr) wineServices->Release();
      return WBEM_E_ACCESS_DENIED;
    }
    *services = new Services(wineServices);
    return WBEM_S_NO_ERROR;
  }
};

class LocatorFactory final : public IClassFactory {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
    if (out == nullptr) return E_POINTER;
    *out = nullptr;
    if (riid != IID_IUnknown && riid != IID_IClassFactory) return E_NOINTERFACE;
    *out = static_cast<IClassFactory*>(this);
    return S_OK;
  }
  // One static factory for the process's life.
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** out) override {
    if (out == nullptr) return E_POINTER;
    *out = nullptr;
    if (outer != nullptr) return CLASS_E_NOAGGREGATION;
    Locator* locator = new Locator();
    const HRESULT hr = locator->QueryInterface(riid, out);
    locator->Release();
    return hr;
  }
  HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }
};

LocatorFactory theFactory;

}  // namespace
}  // namespace winetest::emulators

extern "C" HRESULT WINAPI DllGetClassObject(REFCLSID clsid, REFIID riid, void** out) {
  if (out == nullptr) return E_POINTER;
  *out = nullptr;
  if (clsid != CLSID_WbemLocator) return CLASS_E_CLASSNOTAVAILABLE;
  return winetest::emulators::theFactory.QueryInterface(riid, out);
}

// Wine's objects handed out through ours keep wbemprox.dll in use, and a
// test DLL gains nothing from being unloaded early.
extern "C" HRESULT WINAPI DllCanUnloadNow() { return S_FALSE; }
