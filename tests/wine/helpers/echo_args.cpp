// A child for the process tests: reports how Windows handed it its command
// line, then behaves as the environment asks (exit code, output volume, a
// delay, a grandchild that keeps the output pipe open). Environment rather
// than arguments, so that the arguments under test stay exactly as given.
//
// Output records: "<tag>:<byte count>:<bytes>\n", tags "pid", "line" (the
// whole command line), "argc", "arg" (each argument after the program, split
// by CommandLineToArgvW), "probe" (whether the handle value named by
// ECHO_ARGS_PROBE_HANDLE is an open, signalled object here: "present" or
// "absent") and "grandchild" (its process id). ECHO_ARGS_REPORT_FILE sends
// the records to a file instead of standard output.
#include <windows.h>
// shellapi.h after windows.h: CommandLineToArgvW needs its types.
#include <shellapi.h>

#include <cstdint>
#include <cstdlib>
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

std::wstring environment(const wchar_t* name) {
  wchar_t value[256];
  const DWORD length = GetEnvironmentVariableW(name, value, 256);
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
  SetEnvironmentVariableW(L"ECHO_ARGS_GRANDCHILD", nullptr);
  SetEnvironmentVariableW(L"ECHO_ARGS_OUTPUT_BYTES", nullptr);
  SetEnvironmentVariableW(L"ECHO_ARGS_REPORT_FILE", nullptr);
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
  const BOOL started = CreateProcessW(self, commandLine.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW,
                                      nullptr, nullptr, &startup, &info);
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
