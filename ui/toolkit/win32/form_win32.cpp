// The win32 toolkit: each Form is a real borderless, topmost window with a
// static label, owner-drawn buttons and comctl32's progress bar, run by a
// message loop on the thread that calls Run.
#include <windows.h>
// commctrl.h after windows.h: it relies on the types windows.h declares.
#include <commctrl.h>

#include <algorithm>
#include <array>
#include <mutex>
#include <string>

#include "platform/system.h"
#include "platform/win32/scoped_handle.h"
#include "platform/win32/wide_text.h"
#include "ui/toolkit/form.h"

namespace toolkit {

namespace {

using platform::win32::ScopedGdiObject;
using platform::win32::toWide;

constexpr wchar_t kWindowClass[] = L"OvVBiosInstallerForm";
constexpr int kClientWidth = 640;
constexpr int kClientHeight = 288;
constexpr int kLabelId = 100;
constexpr int kButtonIdBase = 100;  // + 1, 2, 3 for button1..button3
constexpr int kProgressId = 104;
// Posted by SetProgress from any thread; wParam carries the value.
constexpr UINT kSetProgressMessage = WM_APP + 1;

constexpr COLORREF kBackground = RGB(16, 17, 22);
constexpr COLORREF kPlate = RGB(54, 56, 64);
constexpr COLORREF kPlatePressed = RGB(38, 40, 46);
constexpr COLORREF kPlateEdge = RGB(150, 152, 162);
constexpr COLORREF kText = RGB(255, 255, 255);
constexpr COLORREF kGlyph = RGB(220, 222, 230);

constexpr std::array<ButtonId, 3> kButtons{ButtonId::Button1, ButtonId::Button2, ButtonId::Button3};

// A screen device context, released on every path.
class ScreenDc {
 public:
  ScreenDc() : dc_(GetDC(nullptr)) {}
  ~ScreenDc() {
    if (dc_ != nullptr) ReleaseDC(nullptr, dc_);
  }
  ScreenDc(const ScreenDc&) = delete;
  ScreenDc& operator=(const ScreenDc&) = delete;
  HDC get() const { return dc_; }

 private:
  HDC dc_;
};

// Controls of a Win32 window break lines at CR LF; the core writes LF.
std::wstring windowsLines(const std::string& text) {
  std::wstring wide = toWide(text);
  std::wstring out;
  out.reserve(wide.size() + 8);
  for (size_t i = 0; i < wide.size(); ++i) {
    if (wide[i] == L'\n' && (i == 0 || wide[i - 1] != L'\r')) out += L'\r';
    out += wide[i];
  }
  return out;
}

HFONT createDialogFont(int points) {
  ScreenDc screen;
  const int dpi = screen.get() != nullptr ? GetDeviceCaps(screen.get(), LOGPIXELSY) : 96;
  // Where "Microsoft YaHei UI" is missing, font substitution (or the system's
  // fallback) picks a face covering Latin, Cyrillic and CJK.
  return CreateFontW(-MulDiv(points, dpi, 72), 0, 0, 0, FW_BOLD, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                     OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY, DEFAULT_PITCH | FF_SWISS,
                     L"Microsoft YaHei UI");
}

}  // namespace

struct Form::Native {
  mutable std::mutex mutex;
  HWND hwnd = nullptr;          // set while the window exists
  bool closeRequested = false;  // Close() was called
  bool destroyed = false;       // the window existed and is gone
  HWND label = nullptr;
  std::array<HWND, 3> buttons{};
  HWND progress = nullptr;
  ScopedGdiObject font;
  ScopedGdiObject background;
  ScopedGdiObject plate;
  ScopedGdiObject platePressed;
  ScopedGdiObject edge;
};

namespace {

Form* formOf(HWND hwnd) { return reinterpret_cast<Form*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA)); }

HWND createChild(HWND parent, const wchar_t* windowClass, const std::wstring& text, DWORD style,
                 const Bounds& b, int id) {
  return CreateWindowExW(0, windowClass, text.c_str(), WS_CHILD | style, b.x, b.y, b.width, b.height, parent,
                         reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), GetModuleHandleW(nullptr),
                         nullptr);
}

bool createControls(Form& form, HWND hwnd) {
  Form::Native& native = *form.native;
  native.font.reset(createDialogFont(12));
  native.background.reset(CreateSolidBrush(kBackground));
  native.plate.reset(CreateSolidBrush(kPlate));
  native.platePressed.reset(CreateSolidBrush(kPlatePressed));
  native.edge.reset(CreateSolidBrush(kPlateEdge));
  if (!native.background || !native.plate || !native.platePressed || !native.edge) return false;

  native.label = createChild(hwnd, L"STATIC", windowsLines(form.label1.Text),
                             WS_VISIBLE | SS_LEFT | SS_NOPREFIX, form.label1.bounds, kLabelId);
  if (native.label == nullptr) return false;
  SendMessageW(native.label, WM_SETFONT, reinterpret_cast<WPARAM>(native.font.get()), FALSE);

  for (ButtonId id : kButtons) {
    const Button& button = form.button(id);
    const auto index = static_cast<size_t>(id) - 1;
    if (!button.Visible) continue;
    native.buttons[index] =
        createChild(hwnd, L"BUTTON", toWide(button.Text), WS_VISIBLE | WS_TABSTOP | BS_OWNERDRAW,
                    button.bounds, kButtonIdBase + static_cast<int>(id));
    if (native.buttons[index] == nullptr) return false;
    SendMessageW(native.buttons[index], WM_SETFONT, reinterpret_cast<WPARAM>(native.font.get()), FALSE);
  }

  if (form.progressBar1.Visible) {
    native.progress =
        createChild(hwnd, PROGRESS_CLASSW, L"", WS_VISIBLE, form.progressBar1.bounds, kProgressId);
    if (native.progress == nullptr) return false;
    SendMessageW(native.progress, PBM_SETRANGE32, 0, 100);
    std::lock_guard lock(native.mutex);
    SendMessageW(native.progress, PBM_SETPOS, static_cast<WPARAM>(form.progressBar1.Value), 0);
  }
  return true;
}

void drawButton(Form& form, const DRAWITEMSTRUCT& item) {
  Form::Native& native = *form.native;
  const int id = static_cast<int>(item.CtlID) - kButtonIdBase;
  if (id < 1 || id > 3) return;
  const Button& button = form.button(static_cast<ButtonId>(id));
  RECT rect = item.rcItem;
  const bool pressed = (item.itemState & ODS_SELECTED) != 0;

  if (button.IsMinimize) {
    FillRect(item.hDC, &rect, static_cast<HBRUSH>(native.background.get()));
    const int width = (rect.right - rect.left) / 3;
    const int centreX = (rect.left + rect.right) / 2;
    const int centreY = (rect.top + rect.bottom) / 2 + (pressed ? 1 : 0);
    RECT bar{centreX - width / 2, centreY, centreX + width / 2, centreY + 2};
    ScopedGdiObject glyph(CreateSolidBrush(kGlyph));
    if (glyph) FillRect(item.hDC, &bar, static_cast<HBRUSH>(glyph.get()));
    return;
  }

  FillRect(item.hDC, &rect, static_cast<HBRUSH>(native.background.get()));
  FrameRect(item.hDC, &rect, static_cast<HBRUSH>(native.edge.get()));
  InflateRect(&rect, -1, -1);
  FillRect(item.hDC, &rect, static_cast<HBRUSH>((pressed ? native.platePressed : native.plate).get()));
  const std::wstring caption = toWide(button.Text);
  const HGDIOBJ oldFont = SelectObject(item.hDC, native.font.get());
  SetBkMode(item.hDC, TRANSPARENT);
  SetTextColor(item.hDC, kText);
  DrawTextW(item.hDC, caption.c_str(), static_cast<int>(caption.size()), &rect,
            DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
  SelectObject(item.hDC, oldFont);
  if ((item.itemState & ODS_FOCUS) != 0) {
    InflateRect(&rect, -4, -4);
    DrawFocusRect(item.hDC, &rect);
  }
}

LRESULT CALLBACK formWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    return DefWindowProcW(hwnd, message, wParam, lParam);
  }
  Form* form = formOf(hwnd);
  if (form == nullptr) return DefWindowProcW(hwnd, message, wParam, lParam);
  Form::Native& native = *form->native;

  switch (message) {
    case WM_ERASEBKGND: {
      RECT client;
      GetClientRect(hwnd, &client);
      FillRect(reinterpret_cast<HDC>(wParam), &client, static_cast<HBRUSH>(native.background.get()));
      return 1;
    }
    case WM_CTLCOLORSTATIC: {
      const auto dc = reinterpret_cast<HDC>(wParam);
      SetTextColor(dc, kText);
      SetBkColor(dc, kBackground);
      return reinterpret_cast<LRESULT>(native.background.get());
    }
    case WM_DRAWITEM:
      drawButton(*form, *reinterpret_cast<const DRAWITEMSTRUCT*>(lParam));
      return TRUE;
    case WM_COMMAND: {
      const int id = LOWORD(wParam) - kButtonIdBase;
      if (HIWORD(wParam) != BN_CLICKED || id < 1 || id > 3) break;
      const auto button = static_cast<ButtonId>(id);
      if (form->button(button).IsMinimize) {
        form->Minimize();
      } else {
        form->DoClick(button);
      }
      return 0;
    }
    case kSetProgressMessage:
      if (native.progress != nullptr) SendMessageW(native.progress, PBM_SETPOS, wParam, 0);
      return 0;
    case WM_QUERYENDSESSION: {
      const std::string reason = form->DoQueryEndSession();
      if (reason.empty()) break;
      // The result is ignored: where the call is missing (Wine), refusing
      // the end of the session still holds.
      ShutdownBlockReasonCreate(hwnd, toWide(reason).c_str());
      return FALSE;
    }
    case WM_POWERBROADCAST:
      form->DoPowerBroadcast();
      break;
    case WM_DESTROY: {
      std::lock_guard lock(native.mutex);
      native.hwnd = nullptr;
      native.destroyed = true;
      native.label = nullptr;
      native.progress = nullptr;
      native.buttons = {};
      // A close sent from another thread is handled inside GetMessageW,
      // which then keeps waiting: wake the loop so it sees the window gone.
      PostThreadMessageW(GetCurrentThreadId(), WM_NULL, 0, 0);
      return 0;
    }
    case WM_NCDESTROY:
      SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
      break;
    default:
      break;
  }
  return DefWindowProcW(hwnd, message, wParam, lParam);
}

bool registerWindowClass() {
  static const bool registered = [] {
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof(windowClass);
    windowClass.style = CS_HREDRAW | CS_VREDRAW;
    windowClass.lpfnWndProc = formWindowProc;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    windowClass.hIcon = LoadIconW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(1));
    windowClass.lpszClassName = kWindowClass;
    return RegisterClassExW(&windowClass) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
  }();
  return registered;
}

// Bring to front, topmost, focus, topmost again: a window that a background
// process opens must still end up in front of whatever the user is doing.
void activate(HWND hwnd) {
  BringWindowToTop(hwnd);
  SetForegroundWindow(hwnd);
  SetWindowPos(hwnd, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
  SetFocus(hwnd);
  SetWindowPos(hwnd, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
}

}  // namespace

void EnableVisualStyles() {
  INITCOMMONCONTROLSEX controls{};
  controls.dwSize = sizeof(controls);
  controls.dwICC = ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES;
  InitCommonControlsEx(&controls);
}

void SetCompatibleTextRenderingDefault(bool) {}

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
  if (native->hwnd != nullptr) PostMessageW(native->hwnd, kSetProgressMessage, progressBar1.Value, 0);
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
  return native->hwnd != nullptr && IsIconic(native->hwnd);
}

void Form::SetClientSize(int width, int height) {
  HWND hwnd;
  {
    std::lock_guard lock(native->mutex);
    hwnd = native->hwnd;
  }
  // Borderless: the window is its client area.
  if (hwnd != nullptr)
    SetWindowPos(hwnd, nullptr, 0, 0, width, height, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

bool Run(Form& form) {
  if (form.IsClosed() || !registerWindowClass()) return false;
  form.DoLoad();

  const int x = (GetSystemMetrics(SM_CXSCREEN) - kClientWidth) / 2;
  const int y = (GetSystemMetrics(SM_CYSCREEN) - kClientHeight) / 2;
  const DWORD exStyle = WS_EX_APPWINDOW | (form.TopMost ? WS_EX_TOPMOST : 0);
  // The minimise box and system menu give the task-bar entry its Restore and
  // Close commands; WS_POPUP draws neither.
  const DWORD style = WS_POPUP | WS_CLIPCHILDREN | WS_MINIMIZEBOX | WS_SYSMENU;
  HWND hwnd = CreateWindowExW(exStyle, kWindowClass, toWide(form.Text).c_str(), style, x, y, kClientWidth,
                              kClientHeight, nullptr, nullptr, GetModuleHandleW(nullptr), &form);
  if (hwnd == nullptr) {
    std::lock_guard lock(form.native->mutex);
    form.native->destroyed = true;
    return false;
  }
  if (!createControls(form, hwnd)) {
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
  activate(hwnd);
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
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  return true;
}

void PollDelay(uint32_t ms) { platform::sleepMs(ms); }

}  // namespace toolkit
