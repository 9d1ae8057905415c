// The process's window station is visible only in a user's interactive
// session (WinSta0). A service or a deployment tool's system account runs
// on one without WSF_VISIBLE, where no window is ever seen.
#include "ui/toolkit/desktop_visibility.h"

#include <windows.h>

namespace toolkit {

bool DesktopVisible() {
  // The station handle belongs to the process and must not be closed.
  HWINSTA station = GetProcessWindowStation();
  if (station == nullptr) return true;
  USEROBJECTFLAGS flags{};
  DWORD needed = 0;
  if (!GetUserObjectInformationW(station, UOI_FLAGS, &flags, sizeof(flags), &needed)) return true;
  return (flags.dwFlags & WSF_VISIBLE) != 0;
}

// The sequence logs the answer; there is nothing for the window system to do.
void NoteAnsweredUnseen(const Form&) {}

}  // namespace toolkit
