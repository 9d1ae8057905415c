// The win32 toolkit: each Form is a real borderless window drawn from the
// program's pictures, with an owner-drawn label, owner-drawn picture buttons
// and comctl32's progress bar, run by a message loop on the thread that
// calls Run.
#include <windows.h>
// After windows.h: they rely on the types it declares.
#include <commctrl.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "platform/win32/com_owners.h"
#include "platform/win32/scoped_handle.h"
#include "platform/win32/wide_text.h"
#include "ui/resources/picture_ids.h"
#include "ui/toolkit/desktop_visibility.h"
#include "ui/toolkit/form.h"
#include "ui/toolkit/scale.h"
#include "ui/toolkit/win32/accessible.h"
#include "ui/toolkit/win32/pictures.h"

namespace toolkit {

namespace {

using platform::win32::ScopedGdiObject;
using platform::win32::toWide;
using win32::Picture;

constexpr wchar_t kWindowClass[] = L"OvVBiosInstallerForm";
// In 96-DPI units, as every size of a Form (ui/toolkit/scale.h).
constexpr int kClientWidth = 640;
constexpr int kClientHeight = 288;
constexpr int kFocusInset = 5;
constexpr int kSmallIcon = 16;
constexpr int kLargeIcon = 32;
constexpr int kLabelId = 100;
constexpr int kButtonIdBase = 100;  // + 1, 2, 3 for button1..button3
constexpr int kProgressId = 104;
// Posted by SetProgress from any thread; wParam carries the value.
constexpr UINT kSetProgressMessage = WM_APP + 1;

// Where a picture is missing from the program, the window is still readable.
constexpr COLORREF kBackground = RGB(12, 13, 18);
constexpr COLORREF kPlate = RGB(54, 56, 64);
constexpr COLORREF kText = RGB(255, 255, 255);

constexpr std::array<ButtonId, 3> kButtons{ButtonId::Button1, ButtonId::Button2, ButtonId::Button3};

// A device context of the screen, released on every path.
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

// A memory device context with one bitmap selected, restored and deleted on
// every path.
class MemoryDc {
 public:
  MemoryDc(HDC like, HGDIOBJ bitmap) : dc_(CreateCompatibleDC(like)) {
    if (dc_ != nullptr && bitmap != nullptr) old_ = SelectObject(dc_, bitmap);
  }
  ~MemoryDc() {
    if (dc_ == nullptr) return;
    if (old_ != nullptr) SelectObject(dc_, old_);
    DeleteDC(dc_);
  }
  MemoryDc(const MemoryDc&) = delete;
  MemoryDc& operator=(const MemoryDc&) = delete;
  HDC get() const { return dc_; }
  explicit operator bool() const { return dc_ != nullptr && old_ != nullptr; }

 private:
  HDC dc_;
  HGDIOBJ old_ = nullptr;
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

std::wstring windowText(HWND hwnd) {
  std::wstring text(static_cast<size_t>(GetWindowTextLengthW(hwnd)) + 1, L'\0');
  text.resize(static_cast<size_t>(GetWindowTextW(hwnd, text.data(), static_cast<int>(text.size()))));
  return text;
}

// The system's DPI: what a window is drawn at where the system cannot say
// per window.
int systemDpi() {
  ScreenDc screen;
  return boundedDpi(screen.get() != nullptr ? GetDeviceCaps(screen.get(), LOGPIXELSY) : kBaseDpi);
}

// The DPI of the monitor the window is on. GetDpiForWindow is looked up
// rather than imported (user32 is a KnownDLL, so the lookup cannot be
// planted), so that the program still starts where user32 lacks it and is
// then drawn at the system's DPI.
int windowDpi(HWND hwnd) {
  using GetDpiForWindowCall = UINT(WINAPI*)(HWND);
  static const auto getDpiForWindow = reinterpret_cast<GetDpiForWindowCall>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"user32.dll"), "GetDpiForWindow")));
  if (getDpiForWindow != nullptr && hwnd != nullptr) {
    const UINT dpi = getDpiForWindow(hwnd);
    if (dpi != 0) return boundedDpi(static_cast<int>(dpi));
  }
  return systemDpi();
}

HFONT createDialogFont(float points, int dpi) {
  const int height = -static_cast<int>(std::lround(points * static_cast<float>(dpi) / 72.0f));
  // Where "Microsoft YaHei UI" is missing, font substitution (or the system's
  // fallback) picks a face covering Latin, Cyrillic and CJK.
  return CreateFontW(height, 0, 0, 0, FW_BOLD, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                     CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY, DEFAULT_PITCH | FF_SWISS, L"Microsoft YaHei UI");
}

ScopedGdiObject createBitmap(int width, int height) {
  ScreenDc screen;
  return ScopedGdiObject(CreateCompatibleBitmap(screen.get(), width, height));
}

RECT rectOf(int width, int height) { return RECT{0, 0, width, height}; }

}  // namespace

struct Form::Native {
  mutable std::mutex mutex;
  HWND hwnd = nullptr;          // set while the window exists
  bool closeRequested = false;  // Close() was called
  bool destroyed = false;       // the window existed and is gone
  HWND label = nullptr;
  std::array<HWND, 3> buttons{};
  HWND progress = nullptr;
  std::vector<HWND> tabOrder;  // the controls that take the keyboard focus, in tab-index order
  HWND lastFocus = nullptr;    // kept while the window is inactive or minimised
  int dpi = kBaseDpi;          // what the window is drawn at now
  // By tenths of a point and DPI; a few at most, kept while the window is
  // on any monitor it has been on.
  std::vector<std::pair<std::pair<long, int>, ScopedGdiObject>> fonts;
  // The background picture at the window's size, and each button's face
  // (up, pressed) with the background behind it already composed: painting
  // is then plain copying, and no picture is decoded again.
  ScopedGdiObject background;
  std::array<std::array<ScopedGdiObject, 2>, 3> faces;

  HFONT font(float points) {
    const std::pair<long, int> key{std::lround(points * 10.0f), dpi};
    for (const auto& [size, font] : fonts)
      if (size == key) return static_cast<HFONT>(font.get());
    fonts.emplace_back(key, ScopedGdiObject(createDialogFont(points, dpi)));
    return static_cast<HFONT>(fonts.back().second.get());
  }
  int scaled(int value) const { return scaleToDpi(value, dpi); }
  Bounds scaled(const Bounds& bounds) const { return scaleToDpi(bounds, dpi); }
};

namespace {

Form* formOf(HWND hwnd) { return reinterpret_cast<Form*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA)); }

size_t indexOf(ButtonId id) { return static_cast<size_t>(id) - 1; }

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

// Copies the part of the window background under a control at `origin`.
void copyBackground(const Form::Native& native, HDC dc, POINT origin, int width, int height) {
  MemoryDc source(dc, native.background.get());
  if (source) BitBlt(dc, 0, 0, width, height, source.get(), origin.x, origin.y, SRCCOPY);
}

ScopedGdiObject composeBackground(const Form::Native& native) {
  const int width = native.scaled(kClientWidth);
  const int height = native.scaled(kClientHeight);
  ScopedGdiObject bitmap = createBitmap(width, height);
  ScreenDc screen;
  MemoryDc dc(screen.get(), bitmap.get());
  if (!dc) return {};
  const RECT all = rectOf(width, height);
  ScopedGdiObject fill(CreateSolidBrush(kBackground));
  FillRect(dc.get(), &all, static_cast<HBRUSH>(fill.get()));
  win32::drawPicture(dc.get(), Picture::Background, all);
  return bitmap;
}

// A button's face: the background behind it, then its picture; pressed, the
// picture sits a pixel (at 96 DPI) lower and to the right, as if pushed in.
ScopedGdiObject composeFace(const Form::Native& native, const Button& button, bool pressed) {
  const Bounds b = native.scaled(button.bounds);
  ScopedGdiObject bitmap = createBitmap(b.width, b.height);
  ScreenDc screen;
  MemoryDc dc(screen.get(), bitmap.get());
  if (!dc) return {};
  copyBackground(native, dc.get(), POINT{b.x, b.y}, b.width, b.height);
  const int shift = pressed ? native.scaled(1) : 0;
  const RECT target{shift, shift, b.width + shift, b.height + shift};
  const Picture picture = button.IsMinimize ? Picture::MinimizeGlyph : Picture::ButtonPlate;
  if (!win32::drawPicture(dc.get(), picture, target) && !button.IsMinimize) {
    ScopedGdiObject plate(CreateSolidBrush(kPlate));
    FillRect(dc.get(), &target, static_cast<HBRUSH>(plate.get()));
  }
  return bitmap;
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
  int tabIndex;
  int member;  // 0 label1, 1..3 button1..button3, 4 progressBar1
};

std::vector<Control> controlsInTabOrder(const Form& form) {
  std::vector<Control> controls{{form.label1.TabIndex, 0}};
  const Button* buttons[] = {&form.button1, &form.button2, &form.button3};
  for (int i = 0; i < 3; ++i)
    if (buttons[i]->Visible) controls.push_back({buttons[i]->TabIndex, i + 1});
  if (form.progressBar1.Visible) controls.push_back({form.progressBar1.TabIndex, 4});
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
    const std::wstring text = windowsLines(form.label1.Text);
    // As large as its text, on its lines as written, never wrapped.
    ScreenDc screen;
    const HGDIOBJ old = SelectObject(screen.get(), font);
    RECT measured{0, 0, 0, 0};
    DrawTextW(screen.get(), text.c_str(), static_cast<int>(text.size()), &measured,
              DT_CALCRECT | DT_NOPREFIX);
    SelectObject(screen.get(), old);
    bounds.width = measured.right - measured.left;
    bounds.height = measured.bottom - measured.top;
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
  native.background = composeBackground(native);
  if (native.label != nullptr) {
    setFont(native.label, native.font(form.label1.FontSizePt));
    place(native.label, labelBounds(form));
  }
  for (const ButtonId id : kButtons) {
    const HWND control = native.buttons[indexOf(id)];
    if (control == nullptr) continue;
    const Button& button = form.button(id);
    native.faces[indexOf(id)][0] = composeFace(native, button, false);
    native.faces[indexOf(id)][1] = composeFace(native, button, true);
    setFont(control, native.font(button.FontSizePt));
    place(control, native.scaled(button.bounds));
  }
  if (native.progress != nullptr) place(native.progress, native.scaled(form.progressBar1.bounds));
  setIcons(hwnd, native.dpi);
  RedrawWindow(hwnd, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
}

bool createControls(Form& form, HWND hwnd) {
  for (const Control& control : controlsInTabOrder(form)) {
    bool created = false;
    if (control.member == 0) {
      created = createLabel(form, hwnd);
    } else if (control.member == 4) {
      created = createProgressBar(form, hwnd);
    } else {
      created = createButton(form, hwnd, static_cast<ButtonId>(control.member));
    }
    if (!created) return false;
  }
  layOut(form, hwnd);
  return true;
}

void drawLabel(const Form& form, const DRAWITEMSTRUCT& item) {
  const Form::Native& native = *form.native;
  const RECT& rect = item.rcItem;
  const Bounds bounds = native.scaled(form.label1.bounds);
  copyBackground(native, item.hDC, POINT{bounds.x, bounds.y}, rect.right - rect.left, rect.bottom - rect.top);
  const std::wstring text = windowText(item.hwndItem);
  const auto font = reinterpret_cast<HFONT>(SendMessageW(item.hwndItem, WM_GETFONT, 0, 0));
  const HGDIOBJ oldFont = SelectObject(item.hDC, font);
  SetBkMode(item.hDC, TRANSPARENT);
  SetTextColor(item.hDC, kText);
  RECT box = rect;
  DrawTextW(item.hDC, text.c_str(), static_cast<int>(text.size()), &box,
            DT_NOPREFIX | (form.label1.AutoSize ? 0 : DT_WORDBREAK));
  SelectObject(item.hDC, oldFont);
}

void drawButton(Form& form, const DRAWITEMSTRUCT& item) {
  Form::Native& native = *form.native;
  const int id = static_cast<int>(item.CtlID) - kButtonIdBase;
  if (id < 1 || id > 3) return;
  const Button& button = form.button(static_cast<ButtonId>(id));
  const bool pressed = (item.itemState & ODS_SELECTED) != 0;
  RECT rect = item.rcItem;
  {
    MemoryDc face(item.hDC, native.faces[static_cast<size_t>(id) - 1][pressed ? 1 : 0].get());
    if (face)
      BitBlt(item.hDC, rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top, face.get(), 0, 0,
             SRCCOPY);
  }
  if (button.IsMinimize) return;

  const std::wstring caption = windowText(item.hwndItem);
  const auto font = reinterpret_cast<HFONT>(SendMessageW(item.hwndItem, WM_GETFONT, 0, 0));
  const HGDIOBJ oldFont = SelectObject(item.hDC, font);
  SetBkMode(item.hDC, TRANSPARENT);
  SetTextColor(item.hDC, kText);
  if (pressed) OffsetRect(&rect, native.scaled(1), native.scaled(1));
  DrawTextW(item.hDC, caption.c_str(), static_cast<int>(caption.size()), &rect,
            DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
  SelectObject(item.hDC, oldFont);
  // The focus cue only once the keyboard is in use, as the system shows it.
  if ((item.itemState & ODS_FOCUS) != 0 && (item.itemState & ODS_NOFOCUSRECT) == 0) {
    InflateRect(&rect, -native.scaled(kFocusInset), -native.scaled(kFocusInset));
    DrawFocusRect(item.hDC, &rect);
  }
}

bool isButtonOf(const Form::Native& native, HWND control) {
  return control != nullptr &&
         std::find(native.buttons.begin(), native.buttons.end(), control) != native.buttons.end();
}

HWND firstFocus(const Form::Native& native) {
  return native.tabOrder.empty() ? nullptr : native.tabOrder.front();
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
      copyBackground(native, reinterpret_cast<HDC>(wParam), POINT{0, 0}, client.right, client.bottom);
      return 1;
    }
    case WM_DRAWITEM: {
      const auto& item = *reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
      if (item.CtlType == ODT_STATIC) {
        drawLabel(*form, item);
      } else {
        drawButton(*form, item);
      }
      return TRUE;
    }
    case WM_SETCURSOR:
      if (isButtonOf(native, reinterpret_cast<HWND>(wParam))) {
        SetCursor(LoadCursorW(nullptr, IDC_HAND));
        return TRUE;
      }
      break;
    case WM_ACTIVATE:
      // Minimising and restoring, or another window in between, leaves the
      // focus where it was, as a dialog keeps it.
      if (LOWORD(wParam) == WA_INACTIVE) {
        const HWND focus = GetFocus();
        if (focus != nullptr && IsChild(hwnd, focus)) native.lastFocus = focus;
      } else if (HIWORD(wParam) == 0) {
        const HWND focus = native.lastFocus != nullptr ? native.lastFocus : firstFocus(native);
        SetFocus(focus != nullptr ? focus : hwnd);
      }
      return 0;
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
    case WM_DPICHANGED: {
      // Moved to a monitor of another scale: the system's suggested
      // rectangle keeps the window where the user put it, and everything
      // inside is laid out again for the new DPI.
      const int dpi = boundedDpi(HIWORD(wParam));
      if (form->drag.dragging) {
        // A drag carried across: the press point, measured at the old scale,
        // is the same spot of the dialog at the new one.
        form->drag.offset =
            Point{MulDiv(form->drag.offset.x, dpi, native.dpi), MulDiv(form->drag.offset.y, dpi, native.dpi)};
      }
      native.dpi = dpi;
      if (const auto* suggested = reinterpret_cast<const RECT*>(lParam); suggested != nullptr)
        SetWindowPos(hwnd, nullptr, suggested->left, suggested->top, suggested->right - suggested->left,
                     suggested->bottom - suggested->top, SWP_NOZORDER | SWP_NOACTIVATE);
      layOut(*form, hwnd);
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
      native.tabOrder.clear();
      native.lastFocus = nullptr;
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
    const HINSTANCE module = GetModuleHandleW(nullptr);
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof(windowClass);
    windowClass.style = CS_HREDRAW | CS_VREDRAW;
    windowClass.lpfnWndProc = formWindowProc;
    windowClass.hInstance = module;
    windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    // The one 256 x 256 image, scaled by the system to the sizes it needs.
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
  if (form.IsClosed() || !registerWindowClass()) return false;
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
  form.native->dpi = systemDpi();
  const auto centred = [&form] {
    const int width = form.native->scaled(kClientWidth);
    const int height = form.native->scaled(kClientHeight);
    return Bounds{(GetSystemMetrics(SM_CXSCREEN) - width) / 2, (GetSystemMetrics(SM_CYSCREEN) - height) / 2,
                  width, height};
  };
  Bounds at = centred();
  const DWORD exStyle = WS_EX_APPWINDOW | (form.TopMost ? WS_EX_TOPMOST : 0);
  // The minimise box and system menu give the task-bar entry its Restore and
  // Close commands; WS_POPUP draws neither.
  const DWORD style = WS_POPUP | WS_CLIPCHILDREN | WS_MINIMIZEBOX | WS_SYSMENU;
  HWND hwnd = CreateWindowExW(exStyle, kWindowClass, toWide(form.Text).c_str(), style, at.x, at.y, at.width,
                              at.height, nullptr, nullptr, GetModuleHandleW(nullptr), &form);
  if (hwnd == nullptr) {
    std::lock_guard lock(form.native->mutex);
    form.native->destroyed = true;
    return false;
  }
  if (const int dpi = windowDpi(hwnd); dpi != form.native->dpi) {
    form.native->dpi = dpi;
    at = centred();
    SetWindowPos(hwnd, nullptr, at.x, at.y, at.width, at.height, SWP_NOZORDER | SWP_NOACTIVATE);
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
  activate(hwnd, firstFocus(*form.native));
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
    if (msg.message == WM_KEYDOWN && msg.wParam == VK_RETURN && isButtonOf(*form.native, msg.hwnd)) {
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
