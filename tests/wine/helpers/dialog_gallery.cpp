// Shows every dialog (and each form it can take) in the culture and at the
// display scale this process was started with, as the installer shows it,
// and for each one checks what the window draws: the window and every
// control at its size scaled to the window's DPI, every character of every
// text with a glyph in the font the control actually uses, every message
// inside its label and every caption inside its button. With an output
// folder it also saves each window as <Form>[-variant]-<lcid>.png.
//   dialog_gallery.exe [<output folder>]
// Prints one line per dialog ("ok ..." or "FAIL <dialog>-<lcid> at <dpi> DPI:
// ...") and exits 1 on any finding. The culture is Windows' user culture
// (under Wine, LC_ALL); the scale is the desktop's LogPixels, which each
// window must take when OVVB_GALLERY_DPI names it.
#include <windows.h>
// After windows.h: they rely on the types it declares.
#include <commctrl.h>
#include <objidl.h>

#include <algorithm>
namespace Gdiplus {
using std::max;
using std::min;
}  // namespace Gdiplus
#include <gdiplus.h>

#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/win32/wide_text.h"
#include "ui/dialog_common.h"
#include "ui/dialogs.h"
#include "ui/toolkit/scale.h"

namespace {

using namespace OvVBiosInstaller;
using platform::win32::toUtf8;
using platform::win32::toWide;

int findings = 0;
std::wstring outputFolder;  // empty: check only
UINT shownDpi = 96;         // the DPI of the window being checked
UINT expectedDpi = 0;       // OVVB_GALLERY_DPI: the desktop's, which the window must take

std::wstring windowText(HWND hwnd) {
  std::wstring text(static_cast<size_t>(GetWindowTextLengthW(hwnd)) + 1, L'\0');
  text.resize(static_cast<size_t>(GetWindowTextW(hwnd, text.data(), static_cast<int>(text.size()))));
  return text;
}

std::wstring classOf(HWND hwnd) {
  wchar_t name[64] = {};
  GetClassNameW(hwnd, name, 64);
  return name;
}

void finding(const std::string& dialog, const std::string& what) {
  std::printf("FAIL %s-%lu at %u DPI: %s\n", dialog.c_str(), static_cast<unsigned long>(GetUserDefaultLCID()),
              shownDpi, what.c_str());
  ++findings;
}

// Characters the control's own font has no glyph for (drawn as boxes).
std::string missingGlyphs(HDC dc, const std::wstring& text) {
  std::wstring drawn;
  for (wchar_t c : text)
    if (c != L'\r' && c != L'\n') drawn += c;
  if (drawn.empty()) return {};
  std::vector<WORD> glyphs(drawn.size());
  if (GetGlyphIndicesW(dc, drawn.c_str(), static_cast<int>(drawn.size()), glyphs.data(),
                       GGI_MARK_NONEXISTING_GLYPHS) == GDI_ERROR)
    return "glyphs not readable";
  std::string missing;
  for (size_t i = 0; i < drawn.size(); ++i) {
    if (glyphs[i] != 0xFFFF) continue;
    char code[16];
    std::snprintf(code, sizeof code, " U+%04X", static_cast<unsigned>(drawn[i]));
    missing += code;
  }
  return missing;
}

// Measures a control's text in the font the control holds.
struct Measure {
  explicit Measure(HWND control) : control_(control), dc_(GetDC(control)) {
    old_ = SelectObject(dc_, reinterpret_cast<HFONT>(SendMessageW(control, WM_GETFONT, 0, 0)));
  }
  ~Measure() {
    SelectObject(dc_, old_);
    ReleaseDC(control_, dc_);
  }
  Measure(const Measure&) = delete;
  Measure& operator=(const Measure&) = delete;

  RECT extent(const std::wstring& text, int width, UINT flags) const {
    RECT box{0, 0, width, 0};
    DrawTextW(dc_, text.c_str(), static_cast<int>(text.size()), &box, DT_CALCRECT | DT_NOPREFIX | flags);
    return box;
  }
  std::string face() const {
    wchar_t name[LF_FACESIZE] = {};
    GetTextFaceW(dc_, LF_FACESIZE, name);
    return toUtf8(name);
  }
  HDC dc() const { return dc_; }

 private:
  HWND control_;
  HDC dc_;
  HGDIOBJ old_;
};

std::string sizeText(int width, int height) { return std::to_string(width) + " x " + std::to_string(height); }

// Where a control sits in the window's client area.
RECT placeOf(HWND control, HWND hwnd) {
  RECT rect;
  GetWindowRect(control, &rect);
  MapWindowPoints(nullptr, hwnd, reinterpret_cast<POINT*>(&rect), 2);
  return rect;
}

void checkPlace(const std::string& dialog, const std::string& name, HWND control, HWND hwnd,
                const toolkit::Bounds& unscaled, bool sizeToo) {
  const toolkit::Bounds want = toolkit::scaleToDpi(unscaled, static_cast<int>(shownDpi));
  const RECT got = placeOf(control, hwnd);
  const bool sizeOk = !sizeToo || (got.right - got.left == want.width && got.bottom - got.top == want.height);
  if (got.left != want.x || got.top != want.y || !sizeOk)
    finding(dialog, name + " at (" + std::to_string(got.left) + ", " + std::to_string(got.top) + ") " +
                        sizeText(got.right - got.left, got.bottom - got.top) + ", not (" +
                        std::to_string(want.x) + ", " + std::to_string(want.y) + ") " +
                        sizeText(want.width, want.height));
}

// The window and each control where the 96-DPI layout, scaled, puts them.
void checkLayout(const std::string& dialog, const toolkit::Form& form, HWND hwnd) {
  RECT client;
  GetClientRect(hwnd, &client);
  const int width = toolkit::scaleToDpi(kClientWidth, static_cast<int>(shownDpi));
  const int height = toolkit::scaleToDpi(kClientHeight, static_cast<int>(shownDpi));
  if (client.right != width || client.bottom != height)
    finding(dialog,
            "client area " + sizeText(client.right, client.bottom) + ", not " + sizeText(width, height));
  for (HWND child = GetWindow(hwnd, GW_CHILD); child != nullptr; child = GetWindow(child, GW_HWNDNEXT)) {
    const int id = GetDlgCtrlID(child);
    if (id == 100) {
      checkPlace(dialog, "label1", child, hwnd, form.label1.bounds, !form.label1.AutoSize);
    } else if (id >= 101 && id <= 103) {
      const toolkit::Button& button = id == 101 ? form.button1 : id == 102 ? form.button2 : form.button3;
      checkPlace(dialog, "button" + std::to_string(id - 100), child, hwnd, button.bounds, true);
    } else if (id == 104) {
      checkPlace(dialog, "progressBar1", child, hwnd, form.progressBar1.bounds, true);
    }
  }
}

void checkTexts(const std::string& dialog, const toolkit::Form& form, HWND hwnd) {
  for (HWND child = GetWindow(hwnd, GW_CHILD); child != nullptr; child = GetWindow(child, GW_HWNDNEXT)) {
    const std::wstring text = windowText(child);
    if (text.empty() || !IsWindowVisible(child)) continue;
    const bool isLabel = lstrcmpiW(classOf(child).c_str(), L"Static") == 0;
    const Measure measure(child);
    const std::string name = isLabel ? "label1" : "caption \"" + toUtf8(text) + "\"";
    if (const std::string missing = missingGlyphs(measure.dc(), text); !missing.empty())
      finding(dialog, name + ": no glyph in " + measure.face() + " for" + missing);
    if (isLabel) {
      // The label as drawn: a text taller or wider than it would be cut off.
      RECT bounds;
      GetClientRect(child, &bounds);
      const RECT box = measure.extent(text, bounds.right, form.label1.AutoSize ? 0 : DT_WORDBREAK);
      if (box.bottom > bounds.bottom || box.right > bounds.right)
        finding(dialog, "label1 needs " + sizeText(box.right, box.bottom) + " px, has " +
                            sizeText(bounds.right, bounds.bottom));
      // A label that grows with its text must still be inside the window.
      RECT client;
      GetClientRect(hwnd, &client);
      const RECT place = placeOf(child, hwnd);
      if (place.right > client.right || place.bottom > client.bottom)
        finding(dialog, "label1 reaches (" + std::to_string(place.right) + ", " +
                            std::to_string(place.bottom) + "), outside the window");
    } else {
      RECT client;
      GetClientRect(child, &client);
      const RECT box = measure.extent(text, 0, DT_SINGLELINE);
      if (box.right > client.right || box.bottom > client.bottom)
        finding(dialog, name + " needs " + std::to_string(box.right) + " px, the button has " +
                            std::to_string(client.right));
    }
  }
}

bool pngEncoder(CLSID* clsid) {
  UINT count = 0;
  UINT size = 0;
  if (Gdiplus::GetImageEncodersSize(&count, &size) != Gdiplus::Ok || size == 0) return false;
  std::vector<BYTE> buffer(size);
  auto* encoders = reinterpret_cast<Gdiplus::ImageCodecInfo*>(buffer.data());
  if (Gdiplus::GetImageEncoders(count, size, encoders) != Gdiplus::Ok) return false;
  for (UINT i = 0; i < count; ++i) {
    if (std::wstring(encoders[i].MimeType) == L"image/png") {
      *clsid = encoders[i].Clsid;
      return true;
    }
  }
  return false;
}

// What the window shows, as pixels of its own device context.
void save(const std::string& dialog, HWND hwnd) {
  RECT client;
  GetClientRect(hwnd, &client);
  const HDC windowDc = GetDC(hwnd);
  const HDC memory = CreateCompatibleDC(windowDc);
  const HBITMAP bitmap = CreateCompatibleBitmap(windowDc, client.right, client.bottom);
  const HGDIOBJ old = SelectObject(memory, bitmap);
  BitBlt(memory, 0, 0, client.right, client.bottom, windowDc, 0, 0, SRCCOPY);
  SelectObject(memory, old);
  DeleteDC(memory);
  ReleaseDC(hwnd, windowDc);

  CLSID png;
  const std::wstring path =
      outputFolder + L"\\" + toWide(dialog) + L"-" + std::to_wstring(GetUserDefaultLCID()) + L".png";
  {
    Gdiplus::Bitmap picture(bitmap, nullptr);
    if (!pngEncoder(&png) || picture.Save(path.c_str(), &png, nullptr) != Gdiplus::Ok)
      finding(dialog, "cannot save " + toUtf8(path));
  }
  DeleteObject(bitmap);
}

HWND ownWindow() {
  HWND found = nullptr;
  EnumThreadWindows(
      GetCurrentThreadId(),
      [](HWND hwnd, LPARAM context) -> BOOL {
        if (classOf(hwnd) != L"OvVBiosInstallerForm" || !IsWindowVisible(hwnd)) return TRUE;
        *reinterpret_cast<HWND*>(context) = hwnd;
        return FALSE;
      },
      reinterpret_cast<LPARAM>(&found));
  return found;
}

// Handles messages for up to `ms` or until `done`, so that what other threads
// posted to the window (the progress value) is drawn.
void pumpUntil(const std::function<bool()>& done, int ms) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (!done() && std::chrono::steady_clock::now() < deadline) {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
    Sleep(5);
  }
}

// A dialog as the installer shows it, which, once shown and activated, is
// drawn, checked, saved and closed.
template <class Dialog>
class Shown : public Dialog {
 public:
  explicit Shown(std::string name) : name_(std::move(name)) {}

 protected:
  void OnShown() override {
    Dialog::OnShown();
    const HWND hwnd = ownWindow();
    if (hwnd == nullptr) {
      finding(name_, "no window");
    } else {
      if (const HWND bar = FindWindowExW(hwnd, nullptr, PROGRESS_CLASSW, nullptr); bar != nullptr) {
        pumpUntil([&] { return SendMessageW(bar, PBM_GETPOS, 0, 0) == this->progressBar1.Value; }, 2000);
      }
      RedrawWindow(hwnd, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
      GdiFlush();
      shownDpi = GetDpiForWindow(hwnd);
      // A program that is not DPI aware is drawn at 96 and stretched by the
      // system, and would pass every other check.
      if (expectedDpi != 0 && shownDpi != expectedDpi)
        finding(name_, "window at " + std::to_string(shownDpi) + " DPI, the desktop at " +
                           std::to_string(expectedDpi));
      checkLayout(name_, *this, hwnd);
      checkTexts(name_, *this, hwnd);
      if (!outputFolder.empty()) save(name_, hwnd);
      std::printf("ok %s-%lu\n", name_.c_str(), static_cast<unsigned long>(GetUserDefaultLCID()));
    }
    this->Close();
  }

 private:
  std::string name_;
};

template <class Dialog>
void show(
    const std::string& name, const std::function<void()>& inputs = [] {}) {
  inputs();
  Shown<Dialog> form(name);
  if (!toolkit::Run(form)) finding(name, "could not be shown");
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc > 1) outputFolder = argv[1];
  wchar_t dpi[16] = {};
  if (GetEnvironmentVariableW(L"OVVB_GALLERY_DPI", dpi, 16) > 0) expectedDpi = static_cast<UINT>(_wtoi(dpi));
  Gdiplus::GdiplusStartupInput input;
  ULONG_PTR token = 0;
  if (Gdiplus::GdiplusStartup(&token, &input, nullptr) != Gdiplus::Ok) return 2;
  toolkit::EnableVisualStyles();

  // The connection text names the notebook model: the example notebook's,
  // where Wine leaves the value empty.
  const wchar_t model[] = L"KR15A";
  RegSetKeyValueW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DESCRIPTION\\System\\BIOS", L"BaseBoardProduct", REG_SZ,
                  model, sizeof model);

  show<BiosCheckForm>("BiosCheckForm", [] { BiosCheckForm::version = "312"; });
  show<InstallFail>("InstallFail-code", [] {
    InstallFail::errorNum = 101;
    InstallFail::VbType = "KRAMD";
  });
  show<InstallFail>("InstallFail-connection", [] {
    InstallFail::errorNum = 202;
    InstallFail::VbType = "KRAMD";
  });
  show<PowerModeForm>("PowerModeForm");
  show<RestartForm>("RestartForm-restart", [] { RestartForm::restart = true; });
  show<RestartForm>("RestartForm-completed", [] { RestartForm::restart = false; });
  show<SupportSiteForm>("SupportSiteForm");
  show<InstallingForm>("InstallingForm", [] { InstallingForm::progress = 50; });

  Gdiplus::GdiplusShutdown(token);
  return findings == 0 ? 0 : 1;
}
