// Started through the shell, writes the file name of the process that
// started it to "<its own path>.parent": whether the desktop's shell or the
// program that asked started it. Test-only.
#include <windows.h>
// After windows.h, which declares the types it builds on.
#include <tlhelp32.h>

#include <cwchar>

namespace {

// The entry of `id` in a snapshot of every process; false when not there.
bool findProcess(HANDLE snapshot, DWORD id, PROCESSENTRY32W& entry) {
  entry.dwSize = sizeof entry;
  for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry))
    if (entry.th32ProcessID == id) return true;
  return false;
}

}  // namespace

int wmain() {
  const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return 1;
  PROCESSENTRY32W self{}, parent{};
  const wchar_t* parentName = L"?";
  if (findProcess(snapshot, GetCurrentProcessId(), self) &&
      findProcess(snapshot, self.th32ParentProcessID, parent))
    parentName = parent.szExeFile;
  wchar_t path[MAX_PATH + 16] = {};
  const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return 1;
  std::wcscat(path, L".parent");
  const HANDLE out = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (out == INVALID_HANDLE_VALUE) return 1;
  DWORD written = 0;
  WriteFile(out, parentName, static_cast<DWORD>(std::wcslen(parentName) * sizeof(wchar_t)), &written,
            nullptr);
  CloseHandle(out);
  CloseHandle(snapshot);
  return 0;
}
