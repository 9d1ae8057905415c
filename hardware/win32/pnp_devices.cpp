// The signed-driver device list through WMI over COM. Every COM object and
// the apartment are owned by the query and released on every path, in the
// reverse order of their creation.
#include <windows.h>
// wbemidl.h after windows.h: it builds on the COM types windows.h declares.
#include <wbemidl.h>

#include <cstdio>
#include <optional>
#include <string>

#include "hardware/pnp_devices.h"
#include "platform/win32/com_owners.h"
#include "platform/win32/scoped_handle.h"
#include "platform/win32/wide_text.h"

namespace hardware {
namespace {

using platform::win32::ScopedBstr;
using platform::win32::ScopedComApartment;
using platform::win32::ScopedComPtr;
using platform::win32::ScopedVariant;

// A device name or version is a few dozen characters; anything near this is
// not a property WMI meant to give us, and it is refused rather than copied.
constexpr UINT kMaxPropertyChars = 32768;

// A forward-only enumeration blocks in Next until the provider answers; a
// provider that never does must not hang the installer for good.
constexpr LONG kNextTimeoutMs = 120000;

struct WbemText {
  HRESULT code;
  const char* text;
};

// The system message table knows none of WMI's own codes; these are the
// ones a query of the local CIMV2 namespace can give.
constexpr WbemText kWbemTexts[] = {
    {static_cast<HRESULT>(0x80041001), "Generic WMI failure"},
    {static_cast<HRESULT>(0x80041002), "Object not found"},
    {static_cast<HRESULT>(0x80041003), "Access denied"},
    {static_cast<HRESULT>(0x80041006), "Out of memory"},
    {static_cast<HRESULT>(0x80041008), "Invalid parameter"},
    {static_cast<HRESULT>(0x8004100E), "Invalid namespace"},
    {static_cast<HRESULT>(0x80041010), "Invalid class"},
    {static_cast<HRESULT>(0x80041017), "Invalid query"},
    {static_cast<HRESULT>(0x80041018), "Invalid query type"},
    {static_cast<HRESULT>(0x80041032), "Call cancelled"},
    {static_cast<HRESULT>(0x80041033), "Shutting down"},
    {static_cast<HRESULT>(0x80041045), "Timed out"},
    {static_cast<HRESULT>(WBEM_S_TIMEDOUT), "Timed out waiting for the next object"},
};

platform::Error hresultError(HRESULT hr, const std::string& operation) {
  char code[16];
  std::snprintf(code, sizeof code, "0x%08lX", static_cast<unsigned long>(hr));
  platform::Error error =
      platform::makeError(static_cast<uint32_t>(hr), operation + " (HRESULT " + code + ")");
  for (const WbemText& known : kWbemTexts) {
    if (known.code == hr) error.message = known.text;
  }
  return error;
}

enum class PropertyRead { Text, Null, TooLong, Failed };

// Reads a string property. VT_NULL (and VT_EMPTY) mean WMI has no value for
// this device; any other type is a provider we do not understand.
PropertyRead readText(IWbemClassObject* object, const wchar_t* name, std::string& text,
                      platform::Error& error) {
  ScopedVariant value;
  const HRESULT hr = object->Get(name, 0, value.get(), nullptr, nullptr);
  const std::string operation = "IWbemClassObject::Get " + platform::win32::toUtf8(name);
  if (FAILED(hr)) {
    error = hresultError(hr, operation);
    return PropertyRead::Failed;
  }
  const VARTYPE type = V_VT(value.get());
  if (type == VT_NULL || type == VT_EMPTY) return PropertyRead::Null;
  if (type != VT_BSTR) {
    error = hresultError(DISP_E_TYPEMISMATCH, operation);
    return PropertyRead::Failed;
  }
  const BSTR bstr = V_BSTR(value.get());
  const UINT length = bstr == nullptr ? 0 : SysStringLen(bstr);
  if (length > kMaxPropertyChars) {
    error = platform::makeError(platform::kErrorInvalidData, operation + ": value too long");
    return PropertyRead::TooLong;
  }
  text = platform::win32::toUtf8(std::wstring_view(bstr == nullptr ? L"" : bstr, length));
  return PropertyRead::Text;
}

}  // namespace

struct PnpDeviceQuery::Impl {
  // Declared first so that it is undone after the objects made in it.
  std::optional<ScopedComApartment> apartment;
  ScopedComPtr<IWbemLocator> locator;
  ScopedComPtr<IWbemServices> services;
  ScopedComPtr<IEnumWbemClassObject> enumerator;
  ScopedComPtr<IWbemClassObject> current;  // the device next() returned last

  void release() {
    current.reset();
    enumerator.reset();
    services.reset();
    locator.reset();
    apartment.reset();
  }
};

PnpDeviceQuery::PnpDeviceQuery() : impl_(std::make_unique<Impl>()) {}

PnpDeviceQuery::~PnpDeviceQuery() = default;

platform::Error PnpDeviceQuery::run(std::string_view wql) {
  impl_->release();

  impl_->apartment.emplace(COINIT_MULTITHREADED);
  if (!impl_->apartment->usable()) {
    const HRESULT failed = impl_->apartment->result();
    impl_->release();
    return hresultError(failed, "CoInitializeEx");
  }

  // Process-wide and settable once; when someone set it first
  // (RPC_E_TOO_LATE) their choice stands, and the proxy blanket below makes
  // this query work either way.
  CoInitializeSecurity(nullptr, -1, nullptr, nullptr, RPC_C_AUTHN_LEVEL_DEFAULT, RPC_C_IMP_LEVEL_IMPERSONATE,
                       nullptr, EOAC_NONE, nullptr);

  HRESULT hr = CoCreateInstance(CLSID_WbemLocator, nullptr, CLSCTX_INPROC_SERVER, IID_IWbemLocator,
                                impl_->locator.receiveVoid());
  if (FAILED(hr)) {
    impl_->release();
    return hresultError(hr, "CoCreateInstance WbemLocator");
  }

  const ScopedBstr nameSpace(L"ROOT\\CIMV2");
  hr = impl_->locator->ConnectServer(nameSpace.get(), nullptr, nullptr, nullptr, 0, nullptr, nullptr,
                                     impl_->services.receive());
  if (FAILED(hr)) {
    impl_->release();
    return hresultError(hr, "IWbemLocator::ConnectServer ROOT\\CIMV2");
  }

  hr = CoSetProxyBlanket(impl_->services.get(), RPC_C_AUTHN_WINNT, RPC_C_AUTHZ_NONE, nullptr,
                         RPC_C_AUTHN_LEVEL_CALL, RPC_C_IMP_LEVEL_IMPERSONATE, nullptr, EOAC_NONE);
  if (FAILED(hr)) {
    impl_->release();
    return hresultError(hr, "CoSetProxyBlanket");
  }

  const ScopedBstr language(L"WQL");
  const ScopedBstr query(platform::win32::toWide(wql));
  hr = impl_->services->ExecQuery(language.get(), query.get(),
                                  WBEM_FLAG_FORWARD_ONLY | WBEM_FLAG_RETURN_IMMEDIATELY, nullptr,
                                  impl_->enumerator.receive());
  if (FAILED(hr)) {
    impl_->release();
    return hresultError(hr, "IWbemServices::ExecQuery " + std::string(wql));
  }
  return {};
}

NextDevice PnpDeviceQuery::next(PnpDevice& device, platform::Error& error) {
  if (!impl_->enumerator) {
    error =
        platform::makeError(platform::kErrorInvalidParameter, "IEnumWbemClassObject::Next without a query");
    return NextDevice::Failed;
  }
  for (;;) {
    impl_->current.reset();
    ULONG returned = 0;
    const HRESULT hr = impl_->enumerator->Next(kNextTimeoutMs, 1, impl_->current.receive(), &returned);
    if (FAILED(hr) || hr == WBEM_S_TIMEDOUT) {
      error = hresultError(hr, "IEnumWbemClassObject::Next");
      return NextDevice::Failed;
    }
    if (returned == 0 || !impl_->current) return NextDevice::End;

    PnpDevice found;
    switch (readText(impl_->current.get(), L"HardWareID", found.hardwareId, error)) {
      case PropertyRead::Failed:
        return NextDevice::Failed;
      case PropertyRead::TooLong:
        // Longer than any ID Windows makes, so no package names it: passed
        // over, as the simulated machine passes over it, not the search's end.
        error = {};
        continue;
      case PropertyRead::Text:
      case PropertyRead::Null:
        break;
    }
    device = std::move(found);
    return NextDevice::Device;
  }
}

platform::Error PnpDeviceQuery::readDriverVersion(PnpDevice& device) {
  if (!impl_->current)
    return platform::makeError(platform::kErrorInvalidParameter, "IWbemClassObject::Get without a device");
  platform::Error error;
  switch (readText(impl_->current.get(), L"DriverVersion", device.driverVersion, error)) {
    case PropertyRead::Failed:
    case PropertyRead::TooLong:
      return error;
    case PropertyRead::Text:
      device.hasDriverVersion = true;
      break;
    case PropertyRead::Null:
      device.driverVersion.clear();
      device.hasDriverVersion = false;
      break;
  }
  return {};
}

platform::Error PnpDeviceQuery::close() {
  impl_->release();
  return {};
}

}  // namespace hardware
