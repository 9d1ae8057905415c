// Who may own what the elevated program trusts: a folder it copies into, a
// mutex it waits on. Whoever owns an object may change who else uses it.
#pragma once

#include <windows.h>
// After windows.h, which declares the types it builds on.
#include <aclapi.h>

#include <string>

#include "platform/error.h"
#include "platform/win32/scoped_handle.h"

namespace platform::win32 {

// The administrators, the system and TrustedInstaller, and nobody else: not
// even this program's own user, whom every unelevated program of the same
// person shares under UAC.
bool isTrustedOwner(PSID owner);

// The owner of `object` (read through a handle opened with READ_CONTROL),
// whether it is trusted, and how the log names it.
Error readOwner(HANDLE object, SE_OBJECT_TYPE type, const std::string& name, bool& trusted,
                std::string& owner);

// What the program makes: owned by the administrators, and open to them and
// to the system alone, nothing inherited ("O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)").
Error administratorsOnly(ScopedLocalMemory& descriptor);

}  // namespace platform::win32
