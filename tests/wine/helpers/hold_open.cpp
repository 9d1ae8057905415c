// Holds a file planted where the installer makes a folder of its own, as a
// program of the user could: made if missing, held open without delete
// sharing (or without any sharing), until the program is ended.
// Usage: hold_open <path> <event to set once held> [none]
#include <windows.h>

#include <cwchar>

int wmain(int argc, wchar_t** argv) {
  if (argc < 3) return 2;
  const DWORD share = argc > 3 && std::wcscmp(argv[3], L"none") == 0 ? 0 : FILE_SHARE_READ | FILE_SHARE_WRITE;
  const HANDLE held = CreateFileW(argv[1], GENERIC_READ | GENERIC_WRITE, share, nullptr, OPEN_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
  if (held == INVALID_HANDLE_VALUE) return 3;
  // Made here if the starter has not: a shell cannot wait on it, and sleeps instead.
  const HANDLE ready = CreateEventW(nullptr, TRUE, FALSE, argv[2]);
  if (ready == nullptr || !SetEvent(ready)) return 4;
  Sleep(INFINITE);
  return 0;
}
