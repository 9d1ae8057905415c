#include <windows.h>

#include <exception>

#include "installer/install_sequence.h"

// Arguments are accepted and ignored: the package beside the program decides.
int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  // First of all: every DLL loaded from here on, by this program or by a
  // system DLL on its behalf, comes from System32, never from the program's
  // folder (the user's Downloads) or the current folder.
  SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
  try {
    return runInstallation();
  } catch (const std::exception&) {
    // No operation lets a failure escape; this is the last line of defence,
    // and its exit code can never be mistaken for a success (0) or "up to date" (1).
    return -1;
  }
}
