#include "tests/wine/emulators/wmi_objects.h"

#include <atomic>
#include <mutex>
#include <string>

namespace winetest::emulators {
namespace {

std::wstring toWide(const std::string& text) {
  if (text.empty()) return {};
  const int length = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(length > 0 ? static_cast<size_t>(length) : 0, L'\0');
  if (length > 0)
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(), length);
  return wide;
}

// A property as WMI gives it: text as a BSTR, no value as VT_NULL. The
// caller owns what the variant holds.
HRESULT putText(const std::optional<std::string>& value, VARIANT* out, CIMTYPE* type, LONG* flavor) {
  if (type != nullptr) *type = CIM_STRING;
  if (flavor != nullptr) *flavor = WBEM_FLAVOR_ORIGIN_LOCAL;
  if (out == nullptr) return WBEM_S_NO_ERROR;
  VariantInit(out);
  if (!value) {
    V_VT(out) = VT_NULL;
    return WBEM_S_NO_ERROR;
  }
  const std::wstring wide = toWide(*value);
  const BSTR text = SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
  if (text == nullptr) return WBEM_E_OUT_OF_MEMORY;
  V_VT(out) = VT_BSTR;
  V_BSTR(out) = text;
  return WBEM_S_NO_ERROR;
}

class DeviceObject final : public ComObject<IWbemClassObject> {
 public:
  DeviceObject(std::shared_ptr<const DeviceList> list, size_t index)
      : list_(std::move(list)), index_(index) {}

  // Property names are case-insensitive in WMI, as the product's
  // "HardWareID" shows.
  HRESULT STDMETHODCALLTYPE Get(LPCWSTR name, LONG, VARIANT* value, CIMTYPE* type, LONG* flavor) override {
    if (name == nullptr) return WBEM_E_INVALID_PARAMETER;
    const DeviceRow& row = list_->rows[index_];
    if (_wcsicmp(name, L"HardWareID") == 0) return putText(row.hardwareId, value, type, flavor);
    if (_wcsicmp(name, L"DriverVersion") == 0) {
      if (list_->failPoint == FailPoint::AfterMatch) return WBEM_E_FAILED;
      return putText(row.driverVersion, value, type, flavor);
    }
    if (_wcsicmp(name, L"__CLASS") == 0) return putText("Win32_PnPSignedDriver", value, type, flavor);
    return WBEM_E_NOT_FOUND;
  }

  HRESULT STDMETHODCALLTYPE GetQualifierSet(IWbemQualifierSet**) override { return WBEM_E_NOT_SUPPORTED; }
  HRESULT STDMETHODCALLTYPE Put(LPCWSTR, LONG, VARIANT*, CIMTYPE) override { return WBEM_E_READ_ONLY; }
  HRESULT STDMETHODCALLTYPE Delete(LPCWSTR) override { return WBEM_E_READ_ONLY; }
  HRESULT STDMETHODCALLTYPE GetNames(LPCWSTR, LONG, VARIANT*, SAFEARRAY**) override {
    return WBEM_E_NOT_SUPPORTED;
  }
  HRESULT STDMETHODCALLTYPE BeginEnumeration(LONG) override { return WBEM_E_NOT_SUPPORTED; }
  HRESULT STDMETHODCALLTYPE Next(LONG, BSTR*, VARIANT*, CIMTYPE*, LONG*) override {
    return WBEM_E_NOT_SUPPORTED;
  }
  HRESULT STDMETHODCALLTYPE EndEnumeration() override { return WBEM_E_NOT_SUPPORTED; }
  HRESULT STDMETHODCALLTYPE GetPropertyQualifierSet(LPCWSTR, IWbemQualifierSet**) override {
    return WBEM_E_NOT_SUPPORTED;
  }
  HRESULT STDMETHODCALLTYPE Clone(IWbemClassObject** copy) override {
    if (copy == nullptr) return WBEM_E_INVALID_PARAMETER;
    *copy = new DeviceObject(list_, index_);
    return WBEM_S_NO_ERROR;
  }
  HRESULT STDMETHODCALLTYPE GetObjectText(LONG, BSTR*) override { return WBEM_E_NOT_SUPPORTED; }
  HRESULT STDMETHODCALLTYPE SpawnDerivedClass(LONG, IWbemClassObject**) override {
    return WBEM_E_NOT_SUPPORTED;
  }
  HRESULT STDMETHODCALLTYPE SpawnInstance(LONG, IWbemClassObject**) override { return WBEM_E_NOT_SUPPORTED; }
  HRESULT STDMETHODCALLTYPE CompareTo(LONG, IWbemClassObject*) override { return WBEM_E_NOT_SUPPORTED; }
  HRESULT STDMETHODCALLTYPE GetPropertyOrigin(LPCWSTR, BSTR*) override { return WBEM_E_NOT_SUPPORTED; }
  HRESULT STDMETHODCALLTYPE InheritsFrom(LPCWSTR) override { return WBEM_S_FALSE; }
  HRESULT STDMETHODCALLTYPE GetMethod(LPCWSTR, LONG, IWbemClassObject**, IWbemClassObject**) override {
    return WBEM_E_NOT_FOUND;
  }
  HRESULT STDMETHODCALLTYPE PutMethod(LPCWSTR, LONG, IWbemClassObject*, IWbemClassObject*) override {
    return WBEM_E_READ_ONLY;
  }
  HRESULT STDMETHODCALLTYPE DeleteMethod(LPCWSTR) override { return WBEM_E_READ_ONLY; }
  HRESULT STDMETHODCALLTYPE BeginMethodEnumeration(LONG) override { return WBEM_E_NOT_SUPPORTED; }
  HRESULT STDMETHODCALLTYPE NextMethod(LONG, BSTR*, IWbemClassObject**, IWbemClassObject**) override {
    return WBEM_E_NOT_SUPPORTED;
  }
  HRESULT STDMETHODCALLTYPE EndMethodEnumeration() override { return WBEM_E_NOT_SUPPORTED; }
  HRESULT STDMETHODCALLTYPE GetMethodQualifierSet(LPCWSTR, IWbemQualifierSet**) override {
    return WBEM_E_NOT_SUPPORTED;
  }
  HRESULT STDMETHODCALLTYPE GetMethodOrigin(LPCWSTR, BSTR*) override { return WBEM_E_NOT_SUPPORTED; }

 private:
  std::shared_ptr<const DeviceList> list_;
  size_t index_;
};

// Forward-only, answering at once: the rows are all known when the query
// returns, so a time-out never passes.
class DeviceEnumeration final : public ComObject<IEnumWbemClassObject> {
 public:
  explicit DeviceEnumeration(std::shared_ptr<const DeviceList> list) : list_(std::move(list)) {}

  HRESULT STDMETHODCALLTYPE Next(LONG timeout, ULONG count, IWbemClassObject** objects,
                                 ULONG* returned) override {
    if (objects == nullptr || returned == nullptr ||
        (timeout < 0 && timeout != static_cast<LONG>(WBEM_INFINITE)))
      return WBEM_E_INVALID_PARAMETER;
    *returned = 0;
    std::lock_guard<std::mutex> lock(mutex_);
    while (*returned < count && position_ < list_->rows.size()) {
      objects[*returned] = new DeviceObject(list_, position_++);
      ++*returned;
    }
    return *returned == count ? WBEM_S_NO_ERROR : WBEM_S_FALSE;
  }
  HRESULT STDMETHODCALLTYPE Skip(LONG timeout, ULONG count) override {
    if (timeout < 0 && timeout != static_cast<LONG>(WBEM_INFINITE)) return WBEM_E_INVALID_PARAMETER;
    std::lock_guard<std::mutex> lock(mutex_);
    const size_t left = list_->rows.size() - position_;
    const size_t skipped = count < left ? count : left;
    position_ += skipped;
    return skipped == count ? WBEM_S_NO_ERROR : WBEM_S_FALSE;
  }
  // A forward-only enumeration cannot go back, as WMI's own answers.
  HRESULT STDMETHODCALLTYPE Reset() override { return WBEM_E_INVALID_OPERATION; }
  HRESULT STDMETHODCALLTYPE NextAsync(ULONG, IWbemObjectSink*) override { return WBEM_E_NOT_SUPPORTED; }
  HRESULT STDMETHODCALLTYPE Clone(IEnumWbemClassObject**) override { return WBEM_E_INVALID_OPERATION; }

 private:
  std::mutex mutex_;
  std::shared_ptr<const DeviceList> list_;
  size_t position_ = 0;
};

}  // namespace

IEnumWbemClassObject* newDeviceEnumeration(std::shared_ptr<const DeviceList> list) {
  return new DeviceEnumeration(std::move(list));
}

}  // namespace winetest::emulators
