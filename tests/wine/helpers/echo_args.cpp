// A child for the process tests: reports how Windows handed it its command
// line, then behaves as its knobs ask (exit code, output volume, a delay, a
// grandchild that keeps the output pipe open). Knobs rather than arguments,
// so that the arguments under test stay exactly as given: each is an
// environment variable, or else a NAME=value line of echo_args.env in the
// current folder (the environment a child gets is not the test's).
//
// Output records: "<tag>:<byte count>:<bytes>\n", tags "pid", "line" (the
// whole command line), "argc", "arg" (each argument after the program, split
// by CommandLineToArgvW), "cwd" (the current folder), "env" (every variable
// as NAME=value, separated by "|"), "probe" (whether the handle value named by
// ECHO_ARGS_PROBE_HANDLE is an open, signalled object here: "present" or
// "absent") and "grandchild" (its process id). ECHO_ARGS_REPORT_FILE sends
// the records to a file instead of standard output.
#include <windows.h>
// shellapi.h after windows.h: CommandLineToArgvW needs its types.
#include <shellapi.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cwchar>
#include <string>

namespace {

HANDLE reportFile = nullptr;

HANDLE output() { return reportFile != nullptr ? reportFile : GetStdHandle(STD_OUTPUT_HANDLE); }

void writeBytes(const std::string& bytes) {
  DWORD written = 0;
  WriteFile(output(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

std::string utf8(const wchar_t* text) {
  const int needed = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
  if (needed <= 1) return {};
  std::string result(static_cast<size_t>(needed), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text, -1, result.data(), needed, nullptr, nullptr);
  result.pop_back();
  return result;
}

void record(const char* tag, const std::string& value) {
  writeBytes(std::string(tag) + ":" + std::to_string(value.size()) + ":" + value + "\n");
}

std::wstring knobFromFile(const wchar_t* name) {
  const HANDLE file =
      CreateFileW(L"echo_args.env", GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return {};
  char text[4096];
  DWORD got = 0;
  const BOOL read = ReadFile(file, text, sizeof text - 1, &got, nullptr);
  CloseHandle(file);
  if (!read) return {};
  const std::string all(text, got);
  const std::string key = utf8(name) + "=";
  for (size_t at = 0; at < all.size();) {
    const size_t end = std::min(all.find('\n', at), all.size());
    if (all.compare(at, key.size(), key) == 0) {
      const std::string value = all.substr(at + key.size(), end - at - key.size());
      return std::wstring(value.begin(), value.end());
    }
    at = end + 1;
  }
  return {};
}

std::wstring environment(const wchar_t* name) {
  wchar_t value[256];
  SetLastError(0);
  const DWORD length = GetEnvironmentVariableW(name, value, 256);
  if (length == 0 && GetLastError() == ERROR_ENVVAR_NOT_FOUND) return knobFromFile(name);
  return length > 0 && length < 256 ? std::wstring(value, length) : std::wstring();
}

unsigned long number(const wchar_t* name) {
  const std::wstring text = environment(name);
  return text.empty() ? 0 : std::wcstoul(text.c_str(), nullptr, 0);
}

// Starts a copy of this program that inherits our standard output and just
// sleeps, as a tool that launches a helper and exits would.
void startGrandchild() {
  wchar_t self[MAX_PATH];
  if (GetModuleFileNameW(nullptr, self, MAX_PATH) == 0) return;
  SetEnvironmentVariableW(L"ECHO_ARGS_GRANDCHILD", L"");
  SetEnvironmentVariableW(L"ECHO_ARGS_OUTPUT_BYTES", L"");
  SetEnvironmentVariableW(L"ECHO_ARGS_REPORT_FILE", L"");
  // Long enough to outlast the test, short enough not to linger after a
  // failed one.
  const std::wstring ownSleep = environment(L"ECHO_ARGS_SLEEP_MS");
  SetEnvironmentVariableW(L"ECHO_ARGS_SLEEP_MS", L"20000");
  SetEnvironmentVariableW(L"ECHO_ARGS_QUIET", L"1");
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdOutput = output();
  std::wstring commandLine = L"\"" + std::wstring(self) + L"\"";
  PROCESS_INFORMATION info{};
  // In its program's folder, where no knobs of ours are.
  std::wstring folder(self);
  folder.resize(folder.find_last_of(L'\\'));
  const BOOL started = CreateProcessW(self, commandLine.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW,
                                      nullptr, folder.c_str(), &startup, &info);
  SetEnvironmentVariableW(L"ECHO_ARGS_SLEEP_MS", ownSleep.empty() ? nullptr : ownSleep.c_str());
  if (!started) return;
  record("grandchild", std::to_string(info.dwProcessId));
  CloseHandle(info.hThread);
  CloseHandle(info.hProcess);
}

}  // namespace

int main() {
  const std::wstring reportPath = environment(L"ECHO_ARGS_REPORT_FILE");
  if (!reportPath.empty()) {
    reportFile = CreateFileW(reportPath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (reportFile == INVALID_HANDLE_VALUE) return 90;
  }
  if (environment(L"ECHO_ARGS_QUIET").empty()) {
    record("pid", std::to_string(GetCurrentProcessId()));
    const wchar_t* line = GetCommandLineW();
    record("line", utf8(line));
    int count = 0;
    wchar_t** arguments = CommandLineToArgvW(line, &count);
    record("argc", std::to_string(count > 0 ? count - 1 : 0));
    for (int i = 1; arguments != nullptr && i < count; ++i) record("arg", utf8(arguments[i]));
    LocalFree(arguments);
    wchar_t folder[MAX_PATH];
    const DWORD folderLength = GetCurrentDirectoryW(MAX_PATH, folder);
    record("cwd", folderLength > 0 && folderLength < MAX_PATH ? utf8(folder) : std::string());
    std::string variables;
    if (wchar_t* block = GetEnvironmentStringsW()) {
      for (const wchar_t* entry = block; *entry != L'\0'; entry += wcslen(entry) + 1) {
        if (!variables.empty()) variables += '|';
        variables += utf8(entry);
      }
      FreeEnvironmentStringsW(block);
    }
    record("env", variables);
  }

  const std::wstring probe = environment(L"ECHO_ARGS_PROBE_HANDLE");
  if (!probe.empty()) {
    const auto handle =
        reinterpret_cast<HANDLE>(static_cast<uintptr_t>(std::wcstoull(probe.c_str(), nullptr, 0)));
    record("probe", WaitForSingleObject(handle, 0) == WAIT_OBJECT_0 ? "present" : "absent");
  }

  if (!environment(L"ECHO_ARGS_GRANDCHILD").empty()) startGrandchild();

  unsigned long bytes = number(L"ECHO_ARGS_OUTPUT_BYTES");
  const std::string block(64 * 1024, 'x');
  while (bytes > 0) {
    const unsigned long piece = bytes < block.size() ? bytes : static_cast<unsigned long>(block.size());
    DWORD written = 0;
    if (!WriteFile(output(), block.data(), piece, &written, nullptr) || written == 0) break;
    bytes -= written;
  }

  const std::wstring sleep = environment(L"ECHO_ARGS_SLEEP_MS");
  if (sleep == L"forever") {
    Sleep(INFINITE);
  } else if (!sleep.empty()) {
    Sleep(number(L"ECHO_ARGS_SLEEP_MS"));
  }
  return static_cast<int>(number(L"ECHO_ARGS_EXIT"));
}
