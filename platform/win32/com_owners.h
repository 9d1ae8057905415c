// Owners of the COM apartment and of the OLE automation values that WMI calls
// take and give: each is undone or freed exactly once, on every path out of
// the caller.
#pragma once

#include <windows.h>
// After windows.h, which declares the types these build on.
#include <objbase.h>
#include <oleauto.h>

#include <string>

namespace platform::win32 {

// This thread's COM apartment for one piece of work; undone only if entering
// it counted (S_OK, or S_FALSE for a thread already in the same kind). A
// thread already in the other kind of apartment stays there
// (RPC_E_CHANGED_MODE): WMI and the shell serve both, and that apartment is not ours to
// undo. Anything else is a failure the caller reports with result().
class ScopedComApartment {
 public:
  explicit ScopedComApartment(DWORD mode) : result_(CoInitializeEx(nullptr, mode)) {}
  ~ScopedComApartment() {
    if (entered()) CoUninitialize();
  }
  ScopedComApartment(const ScopedComApartment&) = delete;
  ScopedComApartment& operator=(const ScopedComApartment&) = delete;
  bool usable() const { return entered() || result_ == RPC_E_CHANGED_MODE; }
  HRESULT result() const { return result_; }

 private:
  bool entered() const { return result_ == S_OK || result_ == S_FALSE; }
  HRESULT result_;
};

// A system string, freed once. Empty (and false) when it could not be made.
class ScopedBstr {
 public:
  explicit ScopedBstr(const std::wstring& text)
      : value_(SysAllocStringLen(text.data(), static_cast<UINT>(text.size()))) {}
  ~ScopedBstr() { SysFreeString(value_); }
  ScopedBstr(const ScopedBstr&) = delete;
  ScopedBstr& operator=(const ScopedBstr&) = delete;
  BSTR get() const { return value_; }
  explicit operator bool() const { return value_ != nullptr; }

 private:
  BSTR value_;
};

class ScopedVariant {
 public:
  ScopedVariant() { VariantInit(&value_); }
  ~ScopedVariant() { VariantClear(&value_); }
  ScopedVariant(const ScopedVariant&) = delete;
  ScopedVariant& operator=(const ScopedVariant&) = delete;
  VARIANT* get() { return &value_; }

 private:
  VARIANT value_;
};

}  // namespace platform::win32
