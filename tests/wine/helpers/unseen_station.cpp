// unseen_station.exe <program> [arguments]: runs the program on a window
// station that no user can see, as a deployment tool's system account runs
// it, and exits with its exit code. The new station has no WSF_VISIBLE; the
// helper moves onto it first, so the program inherits it with a desktop of
// its own there. Test-only.
#include <windows.h>

#include <cwchar>
#include <string>

namespace {

int fail(const wchar_t* what) {
  std::fwprintf(stderr, L"unseen_station: %ls failed (error %lu)\n", what, GetLastError());
  return 250;
}

}  // namespace

int wmain(int argc, wchar_t**) {
  if (argc < 2) {
    std::fwprintf(stderr, L"usage: unseen_station <program> [arguments]\n");
    return 251;
  }
  // Everything after our own name, exactly as it was given.
  const wchar_t* line = GetCommandLineW();
  bool quoted = false;
  for (; *line != L'\0' && (quoted || (*line != L' ' && *line != L'\t')); ++line) {
    if (*line == L'"') quoted = !quoted;
  }
  while (*line == L' ' || *line == L'\t') ++line;
  std::wstring command = line;

  // OVVB_UNSEEN_STATION names a station to share: a second program started
  // with the same name runs on the same desktop (e.g. wineboot -e, to ask
  // the first one's windows whether the session may end).
  wchar_t stationName[64];
  if (GetEnvironmentVariableW(L"OVVB_UNSEEN_STATION", stationName, 64) - 1 >= 63)
    std::swprintf(stationName, 64, L"OvvbUnseen%lu", GetCurrentProcessId());
  HWINSTA station = CreateWindowStationW(stationName, 0, WINSTA_ALL_ACCESS, nullptr);
  if (station == nullptr) return fail(L"CreateWindowStationW");
  if (!SetProcessWindowStation(station)) return fail(L"SetProcessWindowStation");
  HDESK desktop = CreateDesktopW(L"Default", nullptr, nullptr, 0, GENERIC_ALL, nullptr);
  if (desktop == nullptr) return fail(L"CreateDesktopW");

  USEROBJECTFLAGS flags{};
  DWORD needed = 0;
  if (GetUserObjectInformationW(station, UOI_FLAGS, &flags, sizeof(flags), &needed) &&
      (flags.dwFlags & WSF_VISIBLE) != 0) {
    std::fwprintf(stderr, L"unseen_station: the new window station is visible\n");
    return 252;
  }

  std::wstring desktopName = std::wstring(stationName) + L"\\Default";
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  startup.lpDesktop = desktopName.data();
  PROCESS_INFORMATION process{};
  if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                      &process))
    return fail(L"CreateProcessW");
  CloseHandle(process.hThread);
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD code = 0;
  GetExitCodeProcess(process.hProcess, &code);
  CloseHandle(process.hProcess);
  CloseDesktop(desktop);
  CloseWindowStation(station);
  return static_cast<int>(code);
}
