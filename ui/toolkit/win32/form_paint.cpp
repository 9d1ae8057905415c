#include "ui/toolkit/win32/form_paint.h"

#include <cmath>
#include <string>

#include "ui/toolkit/win32/pictures.h"

namespace toolkit::win32 {

namespace {

using platform::win32::ScopedGdiObject;

constexpr int kFocusInset = 5;

// Where a picture is missing from the program, the window is still readable.
constexpr COLORREF kBackground = RGB(12, 13, 18);
constexpr COLORREF kPlate = RGB(54, 56, 64);
constexpr COLORREF kText = RGB(255, 255, 255);

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

std::wstring windowText(HWND hwnd) {
  std::wstring text(static_cast<size_t>(GetWindowTextLengthW(hwnd)) + 1, L'\0');
  text.resize(static_cast<size_t>(GetWindowTextW(hwnd, text.data(), static_cast<int>(text.size()))));
  return text;
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
  drawPicture(dc.get(), Picture::Background, all);
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
  if (!drawPicture(dc.get(), picture, target) && !button.IsMinimize) {
    ScopedGdiObject plate(CreateSolidBrush(kPlate));
    FillRect(dc.get(), &target, static_cast<HBRUSH>(plate.get()));
  }
  return bitmap;
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

}  // namespace

int systemDpi() {
  ScreenDc screen;
  return boundedDpi(screen.get() != nullptr ? GetDeviceCaps(screen.get(), LOGPIXELSY) : kBaseDpi);
}

// GetDpiForWindow is looked up rather than imported (user32 is a KnownDLL,
// so the lookup cannot be planted), so that the program still starts where
// user32 lacks it and is then drawn at the system's DPI.
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

SIZE textSize(HFONT font, const std::wstring& text) {
  ScreenDc screen;
  const HGDIOBJ old = SelectObject(screen.get(), font);
  RECT measured{0, 0, 0, 0};
  DrawTextW(screen.get(), text.c_str(), static_cast<int>(text.size()), &measured, DT_CALCRECT | DT_NOPREFIX);
  SelectObject(screen.get(), old);
  return SIZE{measured.right - measured.left, measured.bottom - measured.top};
}

void composePictures(Form& form) {
  Form::Native& native = *form.native;
  native.background = composeBackground(native);
  for (const ButtonId id : kButtons) {
    if (native.buttons[indexOf(id)] == nullptr) continue;
    const Button& button = form.button(id);
    native.faces[indexOf(id)][0] = composeFace(native, button, false);
    native.faces[indexOf(id)][1] = composeFace(native, button, true);
  }
}

void paintBackground(const Form::Native& native, HDC dc, int width, int height) {
  copyBackground(native, dc, POINT{0, 0}, width, height);
}

void drawItem(Form& form, const DRAWITEMSTRUCT& item) {
  if (item.CtlType == ODT_STATIC) {
    drawLabel(form, item);
  } else {
    drawButton(form, item);
  }
}

}  // namespace toolkit::win32

namespace toolkit {

HFONT Form::Native::font(float points) {
  const std::pair<long, int> key{std::lround(points * 10.0f), dpi};
  for (const auto& [size, font] : fonts)
    if (size == key) return static_cast<HFONT>(font.get());
  fonts.emplace_back(key, platform::win32::ScopedGdiObject(win32::createDialogFont(points, dpi)));
  return static_cast<HFONT>(fonts.back().second.get());
}

}  // namespace toolkit
