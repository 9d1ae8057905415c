#include <windows.h>

#include <exception>

#include "installer/install_sequence.h"

// Arguments are accepted and ignored: the package beside the program decides.
int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  try {
    return runInstallation();
  } catch (const std::exception&) {
    // No operation lets a failure escape; this is the last line of defence,
    // and its exit code can never be mistaken for a success (0) or "up to date" (1).
    return -1;
  }
}
