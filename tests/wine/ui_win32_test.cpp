// The dialogs as real windows: each test shows one on its own thread, as the
// installer does, while a helper thread finds the window and works it with
// window messages the way a user (or the system) would.
#include <windows.h>
// After windows.h: they rely on the types it declares.
#include <commctrl.h>
#include <gtest/gtest.h>
#include <oleacc.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "ui/dialogs.h"
#include "ui/toolkit/scale.h"

namespace {

using OvVBiosInstaller::InstallFail;
using OvVBiosInstaller::InstallingForm;
using OvVBiosInstaller::PowerModeForm;
using OvVBiosInstaller::ProgressWindowThread;
using OvVBiosInstaller::RestartForm;

constexpr int kFindTimeoutMs = 15000;

std::wstring classOf(HWND hwnd) {
  wchar_t name[64] = {};
  GetClassNameW(hwnd, name, 64);
  return name;
}

std::wstring textOf(HWND hwnd) {
  std::wstring text(static_cast<size_t>(GetWindowTextLengthW(hwnd)) + 1, L'\0');
  text.resize(static_cast<size_t>(GetWindowTextW(hwnd, text.data(), static_cast<int>(text.size()))));
  return text;
}

// A visible top-level window of the installer's window class on `thread`,
// titled `title`; null when none shows up in time.
HWND findFormWindow(DWORD thread, const std::wstring& title) {
  struct Search {
    const std::wstring* title;
    HWND found = nullptr;
  } search{&title};
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kFindTimeoutMs);
  while (search.found == nullptr && std::chrono::steady_clock::now() < deadline) {
    EnumThreadWindows(
        thread,
        [](HWND hwnd, LPARAM context) -> BOOL {
          auto* s = reinterpret_cast<Search*>(context);
          if (classOf(hwnd) != L"OvVBiosInstallerForm" || !IsWindowVisible(hwnd) || textOf(hwnd) != *s->title)
            return TRUE;
          s->found = hwnd;
          return FALSE;
        },
        reinterpret_cast<LPARAM>(&search));
    if (search.found == nullptr) Sleep(10);
  }
  return search.found;
}

// The child control of class `windowClass` whose text is `text` (any text
// when null).
HWND findChild(HWND parent, const wchar_t* windowClass, const wchar_t* text = nullptr) {
  struct Search {
    const wchar_t* windowClass;
    const wchar_t* text;
    HWND found = nullptr;
  } search{windowClass, text};
  EnumChildWindows(
      parent,
      [](HWND hwnd, LPARAM context) -> BOOL {
        auto* s = reinterpret_cast<Search*>(context);
        if (lstrcmpiW(classOf(hwnd).c_str(), s->windowClass) != 0) return TRUE;
        if (s->text != nullptr && textOf(hwnd) != s->text) return TRUE;
        s->found = hwnd;
        return FALSE;
      },
      reinterpret_cast<LPARAM>(&search));
  return search.found;
}

// Shows `form` on this thread while `user` works its window from another.
// Whatever `user` does, a window still open afterwards is closed, so a
// failing test ends instead of hanging.
void showWhile(toolkit::Form& form, const std::wstring& title, const std::function<void(HWND)>& user) {
  const DWORD thread = GetCurrentThreadId();
  std::thread helper([&] {
    const HWND hwnd = findFormWindow(thread, title);
    user(hwnd);
    if (hwnd != nullptr && IsWindow(hwnd)) {
      const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
      while (IsWindow(hwnd) && std::chrono::steady_clock::now() < deadline) Sleep(10);
      if (IsWindow(hwnd)) PostMessageW(hwnd, WM_CLOSE, 0, 0);
    }
  });
  toolkit::Run(form);
  helper.join();
}

// Where a control sits in its window's client area.
RECT placeOf(HWND control) {
  RECT rect;
  GetWindowRect(control, &rect);
  MapWindowPoints(nullptr, GetParent(control), reinterpret_cast<POINT*>(&rect), 2);
  return rect;
}

// Rectangles compared as text, which a failure then shows.
std::string text(const RECT& r) {
  return "(" + std::to_string(r.left) + ", " + std::to_string(r.top) + ")-(" + std::to_string(r.right) +
         ", " + std::to_string(r.bottom) + ")";
}

std::string text(const toolkit::Bounds& b) { return text(RECT{b.x, b.y, b.x + b.width, b.y + b.height}); }

// A control's pixels as it draws them now.
std::vector<COLORREF> pixelsOf(HWND control) {
  RedrawWindow(control, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
  RECT client;
  GetClientRect(control, &client);
  std::vector<COLORREF> pixels;
  const HDC dc = GetDC(control);
  for (int y = 0; y < client.bottom; ++y)
    for (int x = 0; x < client.right; ++x) pixels.push_back(GetPixel(dc, x, y));
  ReleaseDC(control, dc);
  return pixels;
}

// Who has the keyboard focus on the dialog's thread.
HWND focusOn(DWORD thread) {
  GUITHREADINFO info{};
  info.cbSize = sizeof(info);
  return GetGUIThreadInfo(thread, &info) ? info.hwndFocus : nullptr;
}

// A key pressed and released as the keyboard sends it: to the control with
// the focus, through the dialog's own message loop.
void pressKey(HWND focus, WPARAM key) {
  PostMessageW(focus, WM_KEYDOWN, key, 1);
  PostMessageW(focus, WM_KEYUP, key, static_cast<LPARAM>(0xC0000001u));
}

// What Active Accessibility tells a screen reader about a control.
struct Accessible {
  std::wstring name;
  long role = -1;
};

Accessible accessibleOf(HWND control) {
  Accessible found;
  IAccessible* object = nullptr;
  // __uuidof, not IID_IAccessible: the import library's symbol of that name
  // is oleacc.dll's exported variable, reached through a thunk, not the GUID.
  if (FAILED(AccessibleObjectFromWindow(control, static_cast<DWORD>(OBJID_CLIENT), __uuidof(IAccessible),
                                        reinterpret_cast<void**>(&object))) ||
      object == nullptr)
    return found;
  VARIANT self;
  VariantInit(&self);
  self.vt = VT_I4;
  self.lVal = CHILDID_SELF;
  BSTR name = nullptr;
  if (SUCCEEDED(object->get_accName(self, &name)) && name != nullptr) found.name = name;
  SysFreeString(name);
  VARIANT role;
  VariantInit(&role);
  if (SUCCEEDED(object->get_accRole(self, &role)) && role.vt == VT_I4) found.role = role.lVal;
  object->Release();
  return found;
}

// The progress window that a ProgressWindowThread shows, once shown (and so
// with its controls); null when it does not show up in time.
HWND shownProgressWindow() {
  HWND hwnd = nullptr;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kFindTimeoutMs);
  while ((hwnd == nullptr || !IsWindowVisible(hwnd)) && std::chrono::steady_clock::now() < deadline) {
    hwnd = FindWindowW(L"OvVBiosInstallerForm", L"Orvo VBIOS Installer");
    Sleep(10);
  }
  return hwnd;
}

// Wine creates no window without an X display; say so at once instead of
// letting every test wait for a window that never comes.
bool canCreateWindows() {
  const HWND probe = CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr,
                                     GetModuleHandleW(nullptr), nullptr);
  if (probe == nullptr) return false;
  DestroyWindow(probe);
  return true;
}

class Win32Dialogs : public testing::Test {
 protected:
  static void SetUpTestSuite() { toolkit::EnableVisualStyles(); }
  void SetUp() override {
    ASSERT_TRUE(canCreateWindows()) << "no display for windows: run the Wine tests under xvfb-run";
    RestartForm::restart = true;
    PowerModeForm::results = 1;
    InstallFail::errorNum = 0;
    InstallFail::VbType = "NV";
    InstallingForm::progress = 0;
  }
};

TEST_F(Win32Dialogs, FailureDialogShowsItsCodeAndEndsByOkOrTheCloseCommand) {
  for (const bool clickOk : {false, true}) {
    SCOPED_TRACE(clickOk ? "OK" : "close command");
    InstallFail::errorNum = 101;
    InstallFail form;
    std::wstring label;
    bool acted = false;
    LONG_PTR exStyle = 0;
    RECT client{};
    COLORREF topLeft = 0;
    COLORREF topRight = 0;
    HICON icon = nullptr;
    showWhile(form, L"InstallFail", [&](HWND hwnd) {
      const HWND ok = hwnd != nullptr ? findChild(hwnd, L"Button", L"OK") : nullptr;
      if (ok == nullptr) return;
      label = textOf(findChild(hwnd, L"Static"));
      exStyle = GetWindowLongPtrW(hwnd, GWL_EXSTYLE);
      GetClientRect(hwnd, &client);
      icon = reinterpret_cast<HICON>(GetClassLongPtrW(hwnd, GCLP_HICON));
      RedrawWindow(hwnd, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW | RDW_ALLCHILDREN);
      const HDC dc = GetDC(hwnd);
      topLeft = GetPixel(dc, 3, 3);
      topRight = GetPixel(dc, 560, 3);
      ReleaseDC(hwnd, dc);
      clickOk ? SendMessageW(ok, BM_CLICK, 0, 0) : SendMessageW(hwnd, WM_SYSCOMMAND, SC_CLOSE, 0);
      acted = true;
    });
    EXPECT_TRUE(acted);
    EXPECT_TRUE(form.IsClosed());
    EXPECT_EQ(label, L"\r\n\r\nUnable to perform VBIOS Upgrade. (101)");
    EXPECT_NE(exStyle & WS_EX_TOPMOST, 0);
    EXPECT_EQ(client.right - client.left, 640);
    EXPECT_EQ(client.bottom - client.top, 288);
    // The background picture, not a plain fill: red glow top left, blue top right.
    EXPECT_GT(GetRValue(topLeft), GetBValue(topLeft) + 40) << std::hex << topLeft;
    EXPECT_GT(GetBValue(topRight), GetRValue(topRight) + 40) << std::hex << topRight;
    EXPECT_NE(icon, nullptr) << "the program icon on the window";
  }
}

// Presses, moves and releases as the mouse would send them to one control,
// each handled before the next is computed from where the window now is.
// The system's own pointer is put in a screen corner the window never reaches
// first: while the control holds the capture, Wine also reports the pointer
// to it when the window moves under it, and that move would land between ours.
struct DragCase {
  const char* name;
  bool onLabel;  // else the background
  UINT down;
  UINT up;
  POINT press;  // in the control's coordinates
};

TEST_F(Win32Dialogs, DraggingTheLabelOrBackgroundWithAnyButtonMovesTheWindowByThePointersDisplacement) {
  const DragCase cases[] = {
      {"left button on the label", true, WM_LBUTTONDOWN, WM_LBUTTONUP, {50, 30}},
      {"right button on the background", false, WM_RBUTTONDOWN, WM_RBUTTONUP, {300, 250}},
      {"middle button on the label", true, WM_MBUTTONDOWN, WM_MBUTTONUP, {5, 150}},
  };
  for (const DragCase& c : cases) {
    SCOPED_TRACE(c.name);
    InstallFail form;
    std::vector<POINT> expected;
    std::vector<POINT> seen;
    showWhile(form, L"InstallFail", [&](HWND hwnd) {
      if (hwnd == nullptr) return;
      SetCursorPos(GetSystemMetrics(SM_CXSCREEN) - 1, GetSystemMetrics(SM_CYSCREEN) - 1);
      Sleep(300);  // the leave the warp causes, handled before the press
      const HWND control = c.onLabel ? findChild(hwnd, L"Static") : hwnd;
      RECT start;
      GetWindowRect(hwnd, &start);
      // Where the control sits inside the window: (20, 20) for the label.
      POINT controlOrigin{0, 0};
      MapWindowPoints(control, hwnd, &controlOrigin, 1);
      const POINT pointer{start.left + controlOrigin.x + c.press.x, start.top + controlOrigin.y + c.press.y};
      const auto inControl = [&](POINT screen) {
        RECT now;
        GetWindowRect(hwnd, &now);
        return MAKELPARAM(screen.x - now.left - controlOrigin.x, screen.y - now.top - controlOrigin.y);
      };
      SendMessageW(control, c.down, 0, MAKELPARAM(c.press.x, c.press.y));
      for (const POINT step : {POINT{37, 21}, POINT{-100, 60}, POINT{-101, 60}}) {
        SendMessageW(control, WM_MOUSEMOVE, 0, inControl(POINT{pointer.x + step.x, pointer.y + step.y}));
        RECT now;
        GetWindowRect(hwnd, &now);
        seen.push_back({now.left, now.top});
        expected.push_back({start.left + step.x, start.top + step.y});
      }
      SendMessageW(control, c.up, 0, inControl(POINT{pointer.x - 101, pointer.y + 60}));
      SendMessageW(control, WM_MOUSEMOVE, 0, MAKELPARAM(1, 1));
      RECT after;
      GetWindowRect(hwnd, &after);
      seen.push_back({after.left, after.top});
      expected.push_back(expected.back());  // a move after the release changes nothing
      if (HWND ok = findChild(hwnd, L"Button", L"OK"); ok != nullptr) SendMessageW(ok, BM_CLICK, 0, 0);
    });
    ASSERT_EQ(seen.size(), expected.size());
    for (size_t i = 0; i < seen.size(); ++i) {
      EXPECT_EQ(seen[i].x, expected[i].x) << "step " << i;
      EXPECT_EQ(seen[i].y, expected[i].y) << "step " << i;
    }
  }
}

TEST_F(Win32Dialogs, PowerModeButtonsSetResultsAndCloseLeavesThem) {
  struct Case {
    const wchar_t* action;  // a button caption, or nullptr for the system's close command
    int32_t expected;
  };
  // Wine reports mains power, so Retry finds it and goes on.
  const Case cases[] = {{L"Retry", 1}, {L"Cancel", 0}, {nullptr, 7}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.action != nullptr ? "button" : "close");
    PowerModeForm::results = 7;
    PowerModeForm form;
    bool acted = false;
    showWhile(form, L"Orvo VBIOS Installer", [&](HWND hwnd) {
      if (hwnd == nullptr) return;
      if (c.action == nullptr) {
        acted = SendMessageW(hwnd, WM_SYSCOMMAND, SC_CLOSE, 0) == 0;
        return;
      }
      const HWND button = findChild(hwnd, L"Button", c.action);
      if (button == nullptr) return;
      // Posted as a press and a release, as the mouse would.
      PostMessageW(button, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(10, 10));
      PostMessageW(button, WM_LBUTTONUP, 0, MAKELPARAM(10, 10));
      acted = true;
    });
    EXPECT_TRUE(acted);
    EXPECT_TRUE(form.IsClosed());
    EXPECT_EQ(PowerModeForm::results, c.expected);
  }
}

TEST_F(Win32Dialogs, MinimisingKeepsTheDialogOpenUntilItsButton) {
  RestartForm::restart = false;
  RestartForm form;
  bool minimised = false;
  bool stillOpen = false;
  bool yesShown = true;
  HWND ok = nullptr;
  HWND focusBefore = nullptr;
  HWND focusAfter = nullptr;
  const DWORD formThread = GetCurrentThreadId();
  const auto focusOf = [&] {
    GUITHREADINFO info{};
    info.cbSize = sizeof(info);
    return GetGUIThreadInfo(formThread, &info) ? info.hwndFocus : nullptr;
  };
  showWhile(form, L"Orvo VBIOS Installer", [&](HWND hwnd) {
    if (hwnd == nullptr) return;
    yesShown = findChild(hwnd, L"Button", L"Yes") != nullptr;
    ok = findChild(hwnd, L"Button", L"OK");
    focusBefore = focusOf();
    // The minimise button is the one without a caption.
    if (HWND glyph = findChild(hwnd, L"Button", L""); glyph != nullptr) SendMessageW(glyph, BM_CLICK, 0, 0);
    minimised = IsIconic(hwnd) != FALSE;
    Sleep(200);
    stillOpen = IsWindow(hwnd) != FALSE;
    ShowWindow(hwnd, SW_RESTORE);
    for (int i = 0; i < 100 && focusOf() != focusBefore; ++i) Sleep(10);
    focusAfter = focusOf();
    if (ok != nullptr) SendMessageW(ok, BM_CLICK, 0, 0);
  });
  EXPECT_FALSE(yesShown) << "an up-to-date VBIOS offers no restart";
  EXPECT_TRUE(minimised);
  EXPECT_TRUE(stillOpen);
  EXPECT_EQ(focusBefore, ok) << "the first control in tab order has the focus";
  EXPECT_EQ(focusAfter, focusBefore) << "restored with the focus where it was";
  EXPECT_TRUE(form.IsClosed());
}

TEST_F(Win32Dialogs, ProgressWindowShowsOneHundredClosesItselfAndRefusesEndOfSession) {
  InstallingForm::progress = 100;
  InstallingForm form;
  LRESULT endSession = TRUE;
  LRESULT position = -1;
  bool topmost = false;
  const auto started = std::chrono::steady_clock::now();
  showWhile(form, L"Orvo VBIOS Installer", [&](HWND hwnd) {
    if (hwnd == nullptr) return;
    // Not topmost when built; the activation on first display makes it so.
    topmost = (GetWindowLongPtrW(hwnd, GWL_EXSTYLE) & WS_EX_TOPMOST) != 0;
    endSession = SendMessageW(hwnd, WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF);
    const HWND bar = findChild(hwnd, PROGRESS_CLASSW);
    for (int i = 0; i < 200 && bar != nullptr && position != 100; ++i) {
      position = SendMessageW(bar, PBM_GETPOS, 0, 0);
      Sleep(10);
    }
  });
  const auto took = std::chrono::steady_clock::now() - started;
  EXPECT_TRUE(topmost);
  EXPECT_EQ(endSession, FALSE) << "the end of the session must be refused while flashing";
  EXPECT_EQ(position, 100);
  EXPECT_TRUE(form.IsClosed());
  // 500 ms with the bar at 100, then 500 ms before closing.
  EXPECT_GE(took, std::chrono::milliseconds(900));
  EXPECT_LT(took, std::chrono::seconds(8));
}

TEST_F(Win32Dialogs, ProgressWindowRefusesTheEndOfTheSessionAndStopsFromAnotherThread) {
  InstallingForm::progress = 50;
  ProgressWindowThread window;
  window.start();
  const HWND hwnd = shownProgressWindow();
  ASSERT_NE(hwnd, nullptr);
  // The system asks every window before a log-off; the flash must refuse it.
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process{};
  std::wstring command = L"wineboot.exe -e";
  DWORD endSession = 0;
  if (CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                     &process)) {
    if (WaitForSingleObject(process.hProcess, 30000) == WAIT_OBJECT_0)
      GetExitCodeProcess(process.hProcess, &endSession);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
  }
  EXPECT_EQ(endSession, 1u) << "wineboot -e: the end of the session must be refused";
  EXPECT_TRUE(IsWindow(hwnd));
  window.stop();  // returns only once the window's thread has ended
  EXPECT_FALSE(IsWindow(hwnd));
}

}  // namespace

namespace {

TEST_F(Win32Dialogs, KeyboardAndScreenReaderReachEveryActionButton) {
  struct Case {
    const char* name;
    int tabs;  // presses of Tab before the key
    WPARAM key;
    int32_t expected;
  };
  // Wine reports mains power, so Retry finds it and goes on.
  const Case cases[] = {{"Space on Cancel, first in the focus order", 0, VK_SPACE, 0},
                        {"Enter on Retry, one Tab on", 1, VK_RETURN, 1}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    PowerModeForm::results = 7;
    PowerModeForm form;
    const DWORD formThread = GetCurrentThreadId();
    std::vector<std::wstring> focusOrder;
    bool retryFocusShown = false;
    std::vector<Accessible> buttons;
    Accessible label;
    showWhile(form, L"Orvo VBIOS Installer", [&](HWND hwnd) {
      if (hwnd == nullptr) return;
      const HWND retry = findChild(hwnd, L"Button", L"Retry");
      const HWND cancel = findChild(hwnd, L"Button", L"Cancel");
      const HWND glyph = findChild(hwnd, L"Button", L"");
      if (retry == nullptr || cancel == nullptr || glyph == nullptr) return;
      if (CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED) == S_OK) {
        for (const HWND button : {cancel, retry}) buttons.push_back(accessibleOf(button));
        label = accessibleOf(findChild(hwnd, L"Static"));
        CoUninitialize();
      }
      const std::vector<COLORREF> retryUnfocused = pixelsOf(retry);
      // Round the whole order once, back to the first, and then on to the
      // button of this case.
      const auto tab = [&] {
        const HWND before = focusOn(formThread);
        pressKey(before, VK_TAB);
        for (int i = 0; i < 200 && focusOn(formThread) == before; ++i) Sleep(10);
        focusOrder.push_back(textOf(focusOn(formThread)));
      };
      focusOrder.push_back(textOf(focusOn(formThread)));
      for (int i = 0; i < 3; ++i) {
        tab();
        if (focusOn(formThread) == retry) retryFocusShown = pixelsOf(retry) != retryUnfocused;
      }
      for (int i = 0; i < c.tabs; ++i) tab();
      pressKey(focusOn(formThread), c.key);
    });
    EXPECT_TRUE(form.IsClosed());
    EXPECT_EQ(PowerModeForm::results, c.expected);
    // Cancel (tab index 0), Retry (1), the minimise button (7), round again.
    const std::vector<std::wstring> order{L"Cancel", L"Retry", L"", L"Cancel"};
    ASSERT_GE(focusOrder.size(), order.size());
    EXPECT_EQ(std::vector<std::wstring>(focusOrder.begin(), focusOrder.begin() + 4), order);
    EXPECT_TRUE(retryFocusShown) << "the focus is drawn on the button that has it";
    ASSERT_EQ(buttons.size(), 2u);
    EXPECT_EQ(buttons[0].name, L"Cancel");
    EXPECT_EQ(buttons[1].name, L"Retry");
    for (const Accessible& button : buttons)
      EXPECT_EQ(button.role, ROLE_SYSTEM_PUSHBUTTON) << "role of a button";
    EXPECT_EQ(label.name.substr(0, 7), L"Warning");
    EXPECT_NE(label.name.find(L"[Retry] After AC adapter is plugged in."), std::wstring::npos)
        << "label name";
  }
}

// A monitor of another scale, as the system announces it: the new DPI and the
// rectangle it suggests. 240 is a scale the pictures are not made for.
TEST_F(Win32Dialogs, AMonitorChangeDuringTheFlashLaysTheProgressWindowOutAgainAndDisturbsNothing) {
  InstallingForm::progress = 50;
  ProgressWindowThread window;
  window.start();
  const HWND hwnd = shownProgressWindow();
  ASSERT_NE(hwnd, nullptr);
  const HWND label = findChild(hwnd, L"Static");
  const HWND bar = findChild(hwnd, PROGRESS_CLASSW);
  const HWND glyph = findChild(hwnd, L"Button");
  ASSERT_TRUE(label != nullptr && bar != nullptr && glyph != nullptr);
  RECT client;
  GetClientRect(hwnd, &client);
  EXPECT_EQ(text(client), text(RECT{0, 0, 640, 288})) << "at the test prefix's 96 DPI";
  for (const int dpi : {144, 240, 96}) {
    SCOPED_TRACE(dpi);
    const toolkit::Bounds size{0, 0, toolkit::scaleToDpi(640, dpi), toolkit::scaleToDpi(288, dpi)};
    RECT suggested{300, 200, 300 + size.width, 200 + size.height};
    SendMessageW(hwnd, WM_DPICHANGED, MAKEWPARAM(dpi, dpi), reinterpret_cast<LPARAM>(&suggested));
    RECT now;
    GetWindowRect(hwnd, &now);
    EXPECT_EQ(text(now), text(suggested)) << "the suggested rectangle taken";
    EXPECT_EQ(text(placeOf(label)), text(toolkit::scaleToDpi(toolkit::Bounds{20, 20, 600, 155}, dpi)));
    EXPECT_EQ(text(placeOf(bar)), text(toolkit::scaleToDpi(toolkit::Bounds{20, 225, 600, 25}, dpi)));
    EXPECT_EQ(text(placeOf(glyph)), text(toolkit::scaleToDpi(toolkit::Bounds{580, 0, 60, 40}, dpi)));
    LOGFONTW font{};
    GetObjectW(reinterpret_cast<HFONT>(SendMessageW(label, WM_GETFONT, 0, 0)), sizeof font, &font);
    EXPECT_EQ(font.lfHeight, -12 * dpi / 72) << "12 pt at the new DPI";
    EXPECT_EQ(SendMessageW(hwnd, WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF), FALSE)
        << "the end of the session is still refused";
  }
  EXPECT_EQ(SendMessageW(bar, PBM_GETPOS, 0, 0), 50);
  // The listener goes on: 100 shows and the window closes itself.
  InstallingForm::progress = 100;
  for (int i = 0; i < 500 && IsWindow(hwnd); ++i) Sleep(10);
  EXPECT_FALSE(IsWindow(hwnd)) << "closed by its listener after 100";
  window.stop();
}

}  // namespace
