// window_texts.exe: prints each visible installer window on the desktop, one
// line per window: its title, then the texts of its visible child windows
// (the label and the action buttons), tab-separated, CR LF inside a text as
// a blank. The product build writes no trace, so this is how its end-to-end
// suite tells which dialog it showed.
#include <windows.h>

#include <cstdio>
#include <string>

namespace {

std::string utf8(const std::wstring& text) {
  if (text.empty()) return {};
  const int length = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                         nullptr, nullptr);
  std::string out(length > 0 ? static_cast<size_t>(length) : 0, '\0');
  if (length > 0)
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), length, nullptr,
                        nullptr);
  return out;
}

// WM_GETTEXT reaches a window of another process; bounded in time and size.
std::wstring textOf(HWND window) {
  wchar_t buffer[4096] = {};
  DWORD_PTR copied = 0;
  if (!SendMessageTimeoutW(window, WM_GETTEXT, sizeof buffer / sizeof buffer[0],
                           reinterpret_cast<LPARAM>(buffer), SMTO_ABORTIFHUNG, 2000, &copied))
    return {};
  std::wstring text(buffer, copied < 4096 ? copied : 4095);
  for (wchar_t& c : text)
    if (c == L'\r' || c == L'\n' || c == L'\t') c = L' ';
  return text;
}

BOOL CALLBACK addChild(HWND child, LPARAM line) {
  if (IsWindowVisible(child)) *reinterpret_cast<std::wstring*>(line) += L"\t" + textOf(child);
  return TRUE;
}

BOOL CALLBACK printWindow(HWND window, LPARAM) {
  wchar_t className[64] = {};
  GetClassNameW(window, className, 64);
  if (!IsWindowVisible(window) || std::wstring(className) != L"OvVBiosInstallerForm") return TRUE;
  std::wstring line = textOf(window);
  EnumChildWindows(window, addChild, reinterpret_cast<LPARAM>(&line));
  std::printf("%s\n", utf8(line).c_str());
  return TRUE;
}

}  // namespace

int wmain() {
  EnumWindows(printWindow, 0);
  std::fflush(stdout);
  return 0;
}
