// The rows of the WMI emulator as COM objects: one IWbemClassObject per
// device and the forward-only IEnumWbemClassObject that hands them out.
#pragma once

#include <windows.h>
// wbemidl.h after windows.h: it builds on the COM types windows.h declares.
#include <wbemidl.h>

#include <atomic>
#include <memory>

#include "tests/wine/emulators/wmi_devices.h"

namespace winetest::emulators {

// A COM object of one interface: its reference count and QueryInterface.
template <class Interface>
class ComObject : public Interface {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
    if (out == nullptr) return E_POINTER;
    *out = nullptr;
    if (riid != IID_IUnknown && riid != __uuidof(Interface)) return E_NOINTERFACE;
    *out = static_cast<Interface*>(this);
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
  ULONG STDMETHODCALLTYPE Release() override {
    const ULONG left = --refs_;
    if (left == 0) delete this;
    return left;
  }

 protected:
  virtual ~ComObject() = default;

 private:
  std::atomic<ULONG> refs_{1};
};

// A new enumeration over the list, with one reference for the caller.
IEnumWbemClassObject* newDeviceEnumeration(std::shared_ptr<const DeviceList> list);

}  // namespace winetest::emulators
