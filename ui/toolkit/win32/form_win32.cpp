// The win32 toolkit: each Form is a real borderless window drawn from the
// program's pictures, with an owner-drawn label, owner-drawn picture buttons
// and comctl32's progress bar, run by a message loop on the thread that
// calls Run. The window procedure is in form_window.cpp, the painting in
// form_paint.cpp.
#include <windows.h>
// After windows.h: they rely on the types it declares.
#include <commctrl.h>

#include <algorithm>
#include <memory>
#include <mutex>
#include <string>
#include <utility>

#include "platform/win32/com_owners.h"
#include "platform/win32/wide_text.h"
#include "ui/toolkit/desktop_visibility.h"
#include "ui/toolkit/form.h"
#include "ui/toolkit/win32/form_native.h"
#include "ui/toolkit/win32/form_paint.h"
#include "ui/toolkit/win32/form_window.h"

namespace toolkit {

namespace {

using platform::win32::toWide;

// Bring to front, topmost, focus, topmost again: a window that a background
// process opens must still end up in front of whatever the user is doing.
// The focus goes to the first control in tab order, as a dialog's does.
void activate(HWND hwnd, HWND focus) {
  BringWindowToTop(hwnd);
  SetForegroundWindow(hwnd);
  SetWindowPos(hwnd, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
  SetFocus(focus != nullptr ? focus : hwnd);
  SetWindowPos(hwnd, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
}

}  // namespace

void EnableVisualStyles() {
  INITCOMMONCONTROLSEX controls{};
  controls.dwSize = sizeof(controls);
  controls.dwICC = ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES;
  InitCommonControlsEx(&controls);
}

Form::Form(std::string name) : className(std::move(name)), native(std::make_unique<Native>()) {}

Form::~Form() {
  HWND hwnd = nullptr;
  {
    std::lock_guard lock(native->mutex);
    hwnd = native->hwnd;
  }
  // Only when Run did not end normally; the window procedure must not see
  // this form once it is gone.
  if (hwnd != nullptr) {
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
    DestroyWindow(hwnd);
  }
}

void Form::Close() {
  std::lock_guard lock(native->mutex);
  native->closeRequested = true;
  // Posted, not sent: Close may come from any thread, and the window's own
  // thread then closes it between two messages.
  if (native->hwnd != nullptr) PostMessageW(native->hwnd, WM_CLOSE, 0, 0);
}

bool Form::IsClosed() const {
  std::lock_guard lock(native->mutex);
  return native->closeRequested || native->destroyed;
}

void Form::SetProgress(int value) {
  std::lock_guard lock(native->mutex);
  progressBar1.Value = std::clamp(value, 0, 100);
  if (native->hwnd != nullptr) PostMessageW(native->hwnd, win32::kSetProgressMessage, progressBar1.Value, 0);
}

void Form::Minimize() {
  HWND hwnd;
  {
    std::lock_guard lock(native->mutex);
    hwnd = native->hwnd;
  }
  if (hwnd != nullptr) ShowWindow(hwnd, SW_MINIMIZE);
}

bool Form::IsMinimized() const {
  std::lock_guard lock(native->mutex);
  return native->hwnd != nullptr && ::IsIconic(native->hwnd) != FALSE;
}

void Form::SetClientSize(int width, int height) {
  HWND hwnd;
  {
    std::lock_guard lock(native->mutex);
    hwnd = native->hwnd;
  }
  // Borderless: the window is its client area.
  if (hwnd != nullptr)
    SetWindowPos(hwnd, nullptr, 0, 0, native->scaled(width), native->scaled(height),
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

bool Run(Form& form) {
  if (form.IsClosed() || !win32::registerWindowClass()) return false;
  if (AnswerIfUnseen(form)) return true;
  // A window's thread is a single-threaded apartment, as with Windows Forms,
  // so that a screen reader in another process can be handed the
  // buttons' descriptions. Where the thread is already in the multithreaded
  // one (a WMI query before), that one serves as well.
  const platform::win32::ScopedComApartment apartment(COINIT_APARTMENTTHREADED);
  form.DoLoad();

  // At the system's DPI first, centred on the screen; once the window exists
  // its own monitor's DPI is known, and it is sized and centred again if
  // that differs.
  form.native->dpi = win32::systemDpi();
  const auto centred = [&form] {
    const int width = form.native->scaled(win32::kClientWidth);
    const int height = form.native->scaled(win32::kClientHeight);
    return Bounds{(GetSystemMetrics(SM_CXSCREEN) - width) / 2, (GetSystemMetrics(SM_CYSCREEN) - height) / 2,
                  width, height};
  };
  Bounds at = centred();
  const DWORD exStyle = WS_EX_APPWINDOW | (form.TopMost ? WS_EX_TOPMOST : 0);
  // The minimise box and system menu give the task-bar entry its Restore and
  // Close commands; WS_POPUP draws neither.
  const DWORD style = WS_POPUP | WS_CLIPCHILDREN | WS_MINIMIZEBOX | WS_SYSMENU;
  HWND hwnd = CreateWindowExW(exStyle, win32::kWindowClass, toWide(form.Text).c_str(), style, at.x, at.y,
                              at.width, at.height, nullptr, nullptr, GetModuleHandleW(nullptr), &form);
  if (hwnd == nullptr) {
    std::lock_guard lock(form.native->mutex);
    form.native->destroyed = true;
    return false;
  }
  if (const int dpi = win32::windowDpi(hwnd); dpi != form.native->dpi) {
    form.native->dpi = dpi;
    at = centred();
    SetWindowPos(hwnd, nullptr, at.x, at.y, at.width, at.height, SWP_NOZORDER | SWP_NOACTIVATE);
  }
  if (!win32::createControls(form, hwnd)) {
    DestroyWindow(hwnd);
    return false;
  }
  {
    std::lock_guard lock(form.native->mutex);
    form.native->hwnd = hwnd;
    // A Close from another thread while the window was being built.
    if (form.native->closeRequested) PostMessageW(hwnd, WM_CLOSE, 0, 0);
  }

  ShowWindow(hwnd, SW_SHOW);
  UpdateWindow(hwnd);
  activate(hwnd, win32::firstFocus(*form.native));
  form.DoShown();

  MSG msg;
  for (;;) {
    {
      std::lock_guard lock(form.native->mutex);
      if (form.native->destroyed) break;
    }
    const BOOL got = GetMessageW(&msg, nullptr, 0, 0);
    if (got == 0) {
      // WM_QUIT belongs to an outer loop, if any: end ours and hand it on.
      DestroyWindow(hwnd);
      PostQuitMessage(static_cast<int>(msg.wParam));
      break;
    }
    if (got == -1) {
      DestroyWindow(hwnd);
      break;
    }
    // Enter presses the button that has the focus, as Space does; held
    // down, it presses it once. The dialog manager would instead send the
    // default button's command, and no button is the default one.
    if (msg.message == WM_KEYDOWN && msg.wParam == VK_RETURN && win32::isButtonOf(*form.native, msg.hwnd)) {
      if ((msg.lParam & (1 << 30)) == 0) SendMessageW(msg.hwnd, BM_CLICK, 0, 0);
      continue;
    }
    // Tab and the arrow keys move the focus through the controls; no button
    // is the default or cancel button, so Escape presses nothing.
    if ((msg.hwnd == hwnd || IsChild(hwnd, msg.hwnd)) && IsDialogMessageW(hwnd, &msg)) continue;
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  return true;
}

}  // namespace toolkit
