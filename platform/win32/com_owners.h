// Owners of the OLE automation values that WMI calls take and give: each is
// freed exactly once, on every path out of the caller.
#pragma once

#include <windows.h>
// After windows.h, which declares the types these build on.
#include <oleauto.h>

#include <string>

namespace platform::win32 {

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
