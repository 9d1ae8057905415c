// Reads one file over and over for a few seconds, as the installer and the
// emulators read machine.ini while a stand-in tool updates it: each read
// opens the file the way the C++ library does, without letting it be
// replaced while open.
// Usage: busy_reader <file> <milliseconds>
#include <windows.h>

#include <cwchar>
#include <fstream>
#include <iterator>
#include <string>

int wmain(int argc, wchar_t** argv) {
  if (argc != 3) return 2;
  const DWORD duration = static_cast<DWORD>(std::wcstoul(argv[2], nullptr, 10));
  const ULONGLONG end = GetTickCount64() + duration;
  unsigned long reads = 0;
  while (GetTickCount64() < end) {
    std::ifstream in(argv[1], std::ios::binary);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    reads += text.empty() ? 0 : 1;
  }
  return reads > 0 ? 0 : 1;
}
