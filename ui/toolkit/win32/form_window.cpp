#include "ui/toolkit/win32/form_window.h"

// After windows.h: they rely on the types it declares.
#include <commctrl.h>

#include <algorithm>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/win32/wide_text.h"
#include "ui/resources/picture_ids.h"
#include "ui/toolkit/win32/accessible.h"
#include "ui/toolkit/win32/form_paint.h"

namespace toolkit::win32 {

namespace {

using platform::win32::toWide;

constexpr int kSmallIcon = 16;
constexpr int kLargeIcon = 32;
constexpr int kLabelId = 100;
constexpr int kProgressId = 104;

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

Form* formOf(HWND hwnd) { return reinterpret_cast<Form*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA)); }

// Created without a place: layOut gives every control its place and size at
// the window's DPI.
HWND createChild(HWND parent, const wchar_t* windowClass, const std::wstring& text, DWORD style, int id) {
  return CreateWindowExW(0, windowClass, text.c_str(), WS_CHILD | style, 0, 0, 0, 0, parent,
                         reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), GetModuleHandleW(nullptr),
                         nullptr);
}

void place(HWND control, const Bounds& b) {
  SetWindowPos(control, nullptr, b.x, b.y, b.width, b.height, SWP_NOZORDER | SWP_NOACTIVATE);
}

void setFont(HWND control, HFONT font) {
  SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
}

// Dragging, the same on the background and on the label: positions arrive in
// the receiving control's own coordinates, the capture keeps them coming
// while the pointer leaves it, and the window moves by the portable
// arithmetic. Returns true when the message was a drag message.
bool handleDrag(Form& form, HWND control, HWND dialog, UINT message, LPARAM lParam) {
  // Signed: with the capture, a pointer left or above the control is negative.
  const Point at{static_cast<int16_t>(LOWORD(lParam)), static_cast<int16_t>(HIWORD(lParam))};
  switch (message) {
    case WM_LBUTTONDOWN:
    case WM_RBUTTONDOWN:
    case WM_MBUTTONDOWN:
    case WM_XBUTTONDOWN:
    case WM_LBUTTONDBLCLK:
    case WM_RBUTTONDBLCLK:
    case WM_MBUTTONDBLCLK:
    case WM_XBUTTONDBLCLK:
      // Captured first: taking the capture may end an earlier drag.
      SetCapture(control);
      form.drag.MouseDown(at);
      return true;
    case WM_MOUSEMOVE: {
      POINT origin{0, 0};
      ClientToScreen(dialog, &origin);
      if (const std::optional<Point> to = form.drag.MouseMove(at, Point{origin.x, origin.y}))
        SetWindowPos(dialog, nullptr, to->x, to->y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
      return true;
    }
    case WM_LBUTTONUP:
    case WM_RBUTTONUP:
    case WM_MBUTTONUP:
    case WM_XBUTTONUP:
      form.drag.MouseUp();
      if (GetCapture() == control) ReleaseCapture();
      return true;
    case WM_CAPTURECHANGED:
      // The capture taken away (another window, a system menu): no release
      // will come, and a drag left on would make the window follow a
      // pointer whose button is no longer down.
      form.drag.MouseUp();
      return false;
    default:
      return false;
  }
}

LRESULT CALLBACK labelProc(HWND label, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR, DWORD_PTR data) {
  auto* form = reinterpret_cast<Form*>(data);
  if (form != nullptr && handleDrag(*form, label, GetParent(label), message, lParam)) return 0;
  if (message == WM_NCDESTROY) RemoveWindowSubclass(label, labelProc, 1);
  return DefSubclassProc(label, message, wParam, lParam);
}

// A quick second press is a press of its own, as on a Windows Forms button:
// an owner-drawn button takes it for a double click and reports no click,
// so Yes or Retry pressed twice in a row would ask only once. A screen
// reader asking what the button is hears a push button.
LRESULT CALLBACK buttonProc(HWND button, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR, DWORD_PTR) {
  if (message == WM_LBUTTONDBLCLK) message = WM_LBUTTONDOWN;
  if (message == WM_GETOBJECT && static_cast<DWORD>(lParam) == static_cast<DWORD>(OBJID_CLIENT)) {
    if (const LRESULT object = win32::pushButtonObject(button, wParam); object != 0) return object;
  }
  if (message == WM_NCDESTROY) RemoveWindowSubclass(button, buttonProc, 1);
  return DefSubclassProc(button, message, wParam, lParam);
}

// The controls in the order of their tab indices (members in declaration
// order where indices are equal): created in that order, their z-order is
// the keyboard focus order.
struct Control {
  enum class Kind { Label, Button, ProgressBar };
  int tabIndex;
  Kind kind;
  ButtonId button = ButtonId::Button1;  // for a button
};

std::vector<Control> controlsInTabOrder(const Form& form) {
  std::vector<Control> controls{{form.label1.TabIndex, Control::Kind::Label}};
  const Button* buttons[] = {&form.button1, &form.button2, &form.button3};
  for (const ButtonId id : kButtons) {
    const Button& button = *buttons[indexOf(id)];
    if (button.Visible) controls.push_back({button.TabIndex, Control::Kind::Button, id});
  }
  if (form.progressBar1.Visible) controls.push_back({form.progressBar1.TabIndex, Control::Kind::ProgressBar});
  std::stable_sort(controls.begin(), controls.end(),
                   [](const Control& a, const Control& b) { return a.tabIndex < b.tabIndex; });
  return controls;
}

// label1's place at the window's DPI.
Bounds labelBounds(const Form& form) {
  const Form::Native& native = *form.native;
  Bounds bounds = native.scaled(form.label1.bounds);
  if (form.label1.AutoSize && native.label != nullptr) {
    const HFONT font = reinterpret_cast<HFONT>(SendMessageW(native.label, WM_GETFONT, 0, 0));
    // As large as its text, on its lines as written, never wrapped.
    const SIZE size = textSize(font, windowsLines(form.label1.Text));
    bounds.width = size.cx;
    bounds.height = size.cy;
  }
  return bounds;
}

bool createLabel(Form& form, HWND hwnd) {
  Form::Native& native = *form.native;
  // SS_NOTIFY: the label takes the mouse itself, so a drag on it is measured
  // in its own coordinates.
  native.label = createChild(hwnd, L"STATIC", windowsLines(form.label1.Text),
                             WS_VISIBLE | SS_OWNERDRAW | SS_NOTIFY, kLabelId);
  if (native.label == nullptr) return false;
  SetWindowSubclass(native.label, labelProc, 1, reinterpret_cast<DWORD_PTR>(&form));
  return true;
}

bool createButton(Form& form, HWND hwnd, ButtonId id) {
  Form::Native& native = *form.native;
  const Button& button = form.button(id);
  const HWND control =
      createChild(hwnd, L"BUTTON", toWide(button.Text), WS_VISIBLE | WS_TABSTOP | BS_OWNERDRAW,
                  kButtonIdBase + static_cast<int>(id));
  if (control == nullptr) return false;
  native.buttons[indexOf(id)] = control;
  SetWindowSubclass(control, buttonProc, 1, 0);
  native.tabOrder.push_back(control);
  return true;
}

bool createProgressBar(Form& form, HWND hwnd) {
  Form::Native& native = *form.native;
  native.progress = createChild(hwnd, PROGRESS_CLASSW, L"", WS_VISIBLE, kProgressId);
  if (native.progress == nullptr) return false;
  SendMessageW(native.progress, PBM_SETRANGE32, 0, 100);
  SendMessageW(native.progress, PBM_SETBKCOLOR, 0, static_cast<LPARAM>(GetSysColor(COLOR_CAPTIONTEXT)));
  std::lock_guard lock(native.mutex);
  SendMessageW(native.progress, PBM_SETPOS, static_cast<WPARAM>(form.progressBar1.Value), 0);
  return true;
}

// The window's icons made for its DPI: the icon resource holds an image for
// each scale, so none is a shrunk or blown-up copy of another.
void setIcons(HWND hwnd, int dpi) {
  const HINSTANCE module = GetModuleHandleW(nullptr);
  for (const auto& [which, size] : {std::pair{ICON_SMALL, kSmallIcon}, std::pair{ICON_BIG, kLargeIcon}}) {
    const int pixels = scaleToDpi(size, dpi);
    const auto icon = static_cast<HICON>(
        LoadImageW(module, MAKEINTRESOURCEW(OVVB_ICON), IMAGE_ICON, pixels, pixels, LR_SHARED));
    if (icon != nullptr) SendMessageW(hwnd, WM_SETICON, which, reinterpret_cast<LPARAM>(icon));
  }
}

// Every size, position, font and picture of the form at the window's DPI:
// once when the window is built, and again whenever it moves to a monitor
// of another scale. Controls are moved, never made again, so the focus, the
// progress value and whatever else they hold stay as they are.
void layOut(Form& form, HWND hwnd) {
  Form::Native& native = *form.native;
  composePictures(form);
  if (native.label != nullptr) {
    setFont(native.label, native.font(form.label1.FontSizePt));
    place(native.label, labelBounds(form));
  }
  for (const ButtonId id : kButtons) {
    const HWND control = native.buttons[indexOf(id)];
    if (control == nullptr) continue;
    const Button& button = form.button(id);
    setFont(control, native.font(button.FontSizePt));
    place(control, native.scaled(button.bounds));
  }
  if (native.progress != nullptr) place(native.progress, native.scaled(form.progressBar1.bounds));
  setIcons(hwnd, native.dpi);
  RedrawWindow(hwnd, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
}

// Minimising and restoring, or another window in between, leaves the focus
// where it was, as a dialog keeps it.
void keepFocusAcrossActivation(Form::Native& native, HWND hwnd, WPARAM wParam) {
  if (LOWORD(wParam) == WA_INACTIVE) {
    const HWND focus = GetFocus();
    if (focus != nullptr && IsChild(hwnd, focus)) native.lastFocus = focus;
  } else if (HIWORD(wParam) == 0) {
    const HWND focus = native.lastFocus != nullptr ? native.lastFocus : firstFocus(native);
    SetFocus(focus != nullptr ? focus : hwnd);
  }
}

// Returns false for a command that is not a click of an action button.
bool pressButton(Form& form, WPARAM wParam) {
  const int id = LOWORD(wParam) - kButtonIdBase;
  if (HIWORD(wParam) != BN_CLICKED || id < 1 || id > 3) return false;
  const auto button = static_cast<ButtonId>(id);
  if (form.button(button).IsMinimize) {
    form.Minimize();
  } else {
    form.DoClick(button);
  }
  return true;
}

// Moved to a monitor of another scale: the system's suggested rectangle
// keeps the window where the user put it, and everything inside is laid
// out again for the new DPI.
void moveToDpi(Form& form, HWND hwnd, WPARAM wParam, LPARAM lParam) {
  Form::Native& native = *form.native;
  const int dpi = boundedDpi(HIWORD(wParam));
  if (form.drag.dragging) {
    // A drag carried across: the press point, measured at the old scale,
    // is the same spot of the dialog at the new one.
    form.drag.offset =
        Point{MulDiv(form.drag.offset.x, dpi, native.dpi), MulDiv(form.drag.offset.y, dpi, native.dpi)};
  }
  native.dpi = dpi;
  if (const auto* suggested = reinterpret_cast<const RECT*>(lParam); suggested != nullptr)
    SetWindowPos(hwnd, nullptr, suggested->left, suggested->top, suggested->right - suggested->left,
                 suggested->bottom - suggested->top, SWP_NOZORDER | SWP_NOACTIVATE);
  layOut(form, hwnd);
}

void forgetWindow(Form::Native& native) {
  std::lock_guard lock(native.mutex);
  native.hwnd = nullptr;
  native.destroyed = true;
  native.label = nullptr;
  native.progress = nullptr;
  native.buttons = {};
  native.tabOrder.clear();
  native.lastFocus = nullptr;
  // A close sent from another thread is handled inside GetMessageW, which
  // then keeps waiting: wake the loop so it sees the window gone.
  PostThreadMessageW(GetCurrentThreadId(), WM_NULL, 0, 0);
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
  if (handleDrag(*form, hwnd, hwnd, message, lParam)) return 0;

  switch (message) {
    case WM_ERASEBKGND: {
      RECT client;
      GetClientRect(hwnd, &client);
      paintBackground(native, reinterpret_cast<HDC>(wParam), client.right, client.bottom);
      return 1;
    }
    case WM_DRAWITEM:
      drawItem(*form, *reinterpret_cast<const DRAWITEMSTRUCT*>(lParam));
      return TRUE;
    case WM_SETCURSOR:
      if (isButtonOf(native, reinterpret_cast<HWND>(wParam))) {
        SetCursor(LoadCursorW(nullptr, IDC_HAND));
        return TRUE;
      }
      break;
    case WM_ACTIVATE:
      keepFocusAcrossActivation(native, hwnd, wParam);
      return 0;
    case WM_COMMAND:
      if (pressButton(*form, wParam)) return 0;
      break;
    case WM_DPICHANGED:
      moveToDpi(*form, hwnd, wParam, lParam);
      return 0;
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
    case WM_DESTROY:
      forgetWindow(native);
      return 0;
    case WM_NCDESTROY:
      SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
      break;
    default:
      break;
  }
  return DefWindowProcW(hwnd, message, wParam, lParam);
}

}  // namespace

bool createControls(Form& form, HWND hwnd) {
  for (const Control& control : controlsInTabOrder(form)) {
    bool created = false;
    switch (control.kind) {
      case Control::Kind::Label:
        created = createLabel(form, hwnd);
        break;
      case Control::Kind::Button:
        created = createButton(form, hwnd, control.button);
        break;
      case Control::Kind::ProgressBar:
        created = createProgressBar(form, hwnd);
        break;
    }
    if (!created) return false;
  }
  layOut(form, hwnd);
  return true;
}

bool isButtonOf(const Form::Native& native, HWND control) {
  return control != nullptr &&
         std::find(native.buttons.begin(), native.buttons.end(), control) != native.buttons.end();
}

HWND firstFocus(const Form::Native& native) {
  return native.tabOrder.empty() ? nullptr : native.tabOrder.front();
}

bool registerWindowClass() {
  static const bool registered = [] {
    const HINSTANCE module = GetModuleHandleW(nullptr);
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof(windowClass);
    windowClass.style = CS_HREDRAW | CS_VREDRAW;
    windowClass.lpfnWndProc = formWindowProc;
    windowClass.hInstance = module;
    windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    // The icon holds an image for each size the system asks for at each
    // scale; these two are the sizes of the primary monitor's scale.
    windowClass.hIcon = static_cast<HICON>(
        LoadImageW(module, MAKEINTRESOURCEW(OVVB_ICON), IMAGE_ICON, 0, 0, LR_DEFAULTSIZE | LR_SHARED));
    windowClass.hIconSm = static_cast<HICON>(LoadImageW(module, MAKEINTRESOURCEW(OVVB_ICON), IMAGE_ICON,
                                                        GetSystemMetrics(SM_CXSMICON),
                                                        GetSystemMetrics(SM_CYSMICON), LR_SHARED));
    windowClass.lpszClassName = kWindowClass;
    return RegisterClassExW(&windowClass) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
  }();
  return registered;
}

}  // namespace toolkit::win32
