// A DLL of Windows that is not a KnownDLL (hid.dll, gdiplus.dll, ...), loaded
// from System32 by its full search rule on first use. This program runs as
// administrator from a folder the user can write: a DLL in its import table
// would be looked for beside it first, so such DLLs are never imported, only
// loaded here, and their functions reached through pointers.
#pragma once

#include <windows.h>

#include "platform/win32/scoped_handle.h"

namespace platform::win32 {

// System32 only, whatever the process's DLL directories say. Empty when the
// library is not there (GetLastError tells why).
inline ScopedModule loadSystemLibrary(const wchar_t* name) {
  return ScopedModule(LoadLibraryExW(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32));
}

// The export `name` of `library` as a function of type Fn; null when the
// library is not loaded or lacks it.
template <typename Fn>
Fn exportedFunction(const ScopedModule& library, const char* name) {
  if (!library) return nullptr;
  return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(library.get(), name)));
}

}  // namespace platform::win32
