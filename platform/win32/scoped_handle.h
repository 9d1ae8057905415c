// Move-only owners of Win32 handles, in the manner of Chromium's
// base/win/scoped_handle.h: each closes its handle exactly once, on every
// path out of the scope that opened it, and never throws.
#pragma once

#include <windows.h>
// setupapi.h after windows.h: it relies on the types windows.h declares.
#include <setupapi.h>

#include <cstddef>
#include <utility>

namespace platform::win32 {

// Keeps the thread's last error across a release. An owner is often reset on
// the way out of a failed call (`handle.reset(); return lastError(...)`), and
// a close that touches the last error would then report its code instead.
class PreservedLastError {
 public:
  PreservedLastError() noexcept : error_(GetLastError()) {}
  ~PreservedLastError() { SetLastError(error_); }
  PreservedLastError(const PreservedLastError&) = delete;
  PreservedLastError& operator=(const PreservedLastError&) = delete;

 private:
  DWORD error_;
};

// Traits: `Type`, `invalid()` (the empty value), `isValid(v)`, `close(v)`.
template <typename Traits>
class ScopedGeneric {
 public:
  using Type = typename Traits::Type;

  ScopedGeneric() noexcept = default;
  explicit ScopedGeneric(Type value) noexcept : value_(value) {}
  ~ScopedGeneric() { reset(); }

  ScopedGeneric(ScopedGeneric&& other) noexcept : value_(other.release()) {}
  ScopedGeneric& operator=(ScopedGeneric&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  ScopedGeneric(const ScopedGeneric&) = delete;
  ScopedGeneric& operator=(const ScopedGeneric&) = delete;

  bool isValid() const noexcept { return Traits::isValid(value_); }
  explicit operator bool() const noexcept { return isValid(); }
  Type get() const noexcept { return value_; }

  // Closes what is held and takes `value`; the thread's last error is kept.
  void reset(Type value = Traits::invalid()) noexcept {
    const Type old = std::exchange(value_, value);
    if (Traits::isValid(old)) {
      const PreservedLastError kept;
      Traits::close(old);
    }
  }

  // Gives up ownership without closing.
  Type release() noexcept { return std::exchange(value_, Traits::invalid()); }

  // For APIs that return the handle through a pointer (RegOpenKeyExW, ...):
  // closes what is held and hands out the slot to fill.
  Type* receive() noexcept {
    reset();
    return &value_;
  }

 private:
  Type value_ = Traits::invalid();
};

// Kernel objects: files, processes, threads, events, pipes. Some APIs report
// failure with NULL and others with INVALID_HANDLE_VALUE; both mean empty.
struct KernelHandleTraits {
  using Type = HANDLE;
  static Type invalid() noexcept { return nullptr; }
  static bool isValid(Type h) noexcept { return h != nullptr && h != INVALID_HANDLE_VALUE; }
  static void close(Type h) noexcept { CloseHandle(h); }
};
using ScopedHandle = ScopedGeneric<KernelHandleTraits>;

// FindFirstFileExW's search handle, which FindClose and not CloseHandle ends.
struct FindHandleTraits {
  using Type = HANDLE;
  static Type invalid() noexcept { return INVALID_HANDLE_VALUE; }
  static bool isValid(Type h) noexcept { return h != nullptr && h != INVALID_HANDLE_VALUE; }
  static void close(Type h) noexcept { FindClose(h); }
};
using ScopedFindHandle = ScopedGeneric<FindHandleTraits>;

struct RegistryKeyTraits {
  using Type = HKEY;
  static Type invalid() noexcept { return nullptr; }
  // The predefined roots (HKEY_LOCAL_MACHINE, ...) are never owned.
  static bool isValid(Type k) noexcept {
    return k != nullptr && (reinterpret_cast<ULONG_PTR>(k) & 0x80000000u) == 0;
  }
  static void close(Type k) noexcept { RegCloseKey(k); }
};
using ScopedRegistryKey = ScopedGeneric<RegistryKeyTraits>;

struct ModuleTraits {
  using Type = HMODULE;
  static Type invalid() noexcept { return nullptr; }
  static bool isValid(Type m) noexcept { return m != nullptr; }
  static void close(Type m) noexcept { FreeLibrary(m); }
};
using ScopedModule = ScopedGeneric<ModuleTraits>;

struct DeviceInfoSetTraits {
  using Type = HDEVINFO;
  static Type invalid() noexcept { return INVALID_HANDLE_VALUE; }
  static bool isValid(Type s) noexcept { return s != nullptr && s != INVALID_HANDLE_VALUE; }
  static void close(Type s) noexcept { SetupDiDestroyDeviceInfoList(s); }
};
using ScopedDeviceInfoSet = ScopedGeneric<DeviceInfoSetTraits>;

// Memory the system allocated for us with LocalAlloc (FormatMessageW's
// FORMAT_MESSAGE_ALLOCATE_BUFFER, CommandLineToArgvW, ...).
struct LocalMemoryTraits {
  using Type = HLOCAL;
  static Type invalid() noexcept { return nullptr; }
  static bool isValid(Type m) noexcept { return m != nullptr; }
  static void close(Type m) noexcept { LocalFree(m); }
};
using ScopedLocalMemory = ScopedGeneric<LocalMemoryTraits>;

// Pens, brushes, fonts, bitmaps, regions: anything DeleteObject releases.
struct GdiObjectTraits {
  using Type = HGDIOBJ;
  static Type invalid() noexcept { return nullptr; }
  static bool isValid(Type o) noexcept { return o != nullptr; }
  static void close(Type o) noexcept { DeleteObject(o); }
};
using ScopedGdiObject = ScopedGeneric<GdiObjectTraits>;

struct IconTraits {
  using Type = HICON;
  static Type invalid() noexcept { return nullptr; }
  static bool isValid(Type i) noexcept { return i != nullptr; }
  static void close(Type i) noexcept { DestroyIcon(i); }
};
using ScopedIcon = ScopedGeneric<IconTraits>;

// A COM interface pointer: one reference, released once.
template <typename Interface>
class ScopedComPtr {
 public:
  ScopedComPtr() noexcept = default;
  explicit ScopedComPtr(Interface* pointer) noexcept : pointer_(pointer) {}
  ~ScopedComPtr() { reset(); }

  ScopedComPtr(ScopedComPtr&& other) noexcept : pointer_(std::exchange(other.pointer_, nullptr)) {}
  ScopedComPtr& operator=(ScopedComPtr&& other) noexcept {
    if (this != &other) {
      reset();
      pointer_ = std::exchange(other.pointer_, nullptr);
    }
    return *this;
  }
  ScopedComPtr(const ScopedComPtr&) = delete;
  ScopedComPtr& operator=(const ScopedComPtr&) = delete;

  explicit operator bool() const noexcept { return pointer_ != nullptr; }
  Interface* get() const noexcept { return pointer_; }
  Interface* operator->() const noexcept { return pointer_; }

  // The thread's last error is kept: a final Release runs the object's
  // teardown, which may make calls of its own.
  void reset() noexcept {
    if (Interface* old = std::exchange(pointer_, nullptr)) {
      const PreservedLastError kept;
      old->Release();
    }
  }
  Interface** receive() noexcept {
    reset();
    return &pointer_;
  }
  // For CoCreateInstance / QueryInterface, which fill a void**.
  void** receiveVoid() noexcept { return reinterpret_cast<void**>(receive()); }

 private:
  Interface* pointer_ = nullptr;
};

// A PROC_THREAD_ATTRIBUTE_LIST: its storage and its initialisation, undone
// in reverse order.
class ScopedAttributeList {
 public:
  ScopedAttributeList() noexcept = default;
  ~ScopedAttributeList() { reset(); }
  ScopedAttributeList(const ScopedAttributeList&) = delete;
  ScopedAttributeList& operator=(const ScopedAttributeList&) = delete;

  // Room for `count` attributes. False (with GetLastError set) on failure.
  bool initialize(DWORD count) noexcept {
    reset();
    SIZE_T size = 0;
    InitializeProcThreadAttributeList(nullptr, count, 0, &size);
    if (size == 0) return false;
    auto* list = static_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(HeapAlloc(GetProcessHeap(), 0, size));
    if (list == nullptr) {
      SetLastError(ERROR_NOT_ENOUGH_MEMORY);
      return false;
    }
    if (!InitializeProcThreadAttributeList(list, count, 0, &size)) {
      const DWORD error = GetLastError();
      HeapFree(GetProcessHeap(), 0, list);
      SetLastError(error);
      return false;
    }
    list_ = list;
    return true;
  }
  LPPROC_THREAD_ATTRIBUTE_LIST get() const noexcept { return list_; }

  // The thread's last error is kept, as by the other owners.
  void reset() noexcept {
    if (list_ != nullptr) {
      const PreservedLastError kept;
      DeleteProcThreadAttributeList(list_);
      HeapFree(GetProcessHeap(), 0, list_);
      list_ = nullptr;
    }
  }

 private:
  LPPROC_THREAD_ATTRIBUTE_LIST list_ = nullptr;
};

}  // namespace platform::win32
