// What the three parts of the win32 Form share: the window's state, which
// the window procedure (form_window.cpp) builds and lays out, the painting
// (form_paint.cpp) draws from and the message loop (form_win32.cpp) runs.
#pragma once

#include <windows.h>

#include <array>
#include <cstddef>
#include <mutex>
#include <utility>
#include <vector>

#include "platform/win32/scoped_handle.h"
#include "ui/toolkit/form.h"
#include "ui/toolkit/scale.h"

namespace toolkit {

namespace win32 {

// In 96-DPI units, as every size of a Form (ui/toolkit/scale.h).
inline constexpr int kClientWidth = 640;
inline constexpr int kClientHeight = 288;
inline constexpr int kButtonIdBase = 100;  // + 1, 2, 3 for button1..button3
inline constexpr std::array<ButtonId, 3> kButtons{ButtonId::Button1, ButtonId::Button2, ButtonId::Button3};
// A button's place in the Native's arrays.
inline size_t indexOf(ButtonId id) { return static_cast<size_t>(id) - 1; }
// Posted by SetProgress from any thread; wParam carries the value.
inline constexpr UINT kSetProgressMessage = WM_APP + 1;

}  // namespace win32

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
  std::vector<std::pair<std::pair<long, int>, platform::win32::ScopedGdiObject>> fonts;
  // The background picture at the window's size, and each button's face
  // (up, pressed) with the background behind it already composed: painting
  // is then plain copying, and no picture is decoded again.
  platform::win32::ScopedGdiObject background;
  std::array<std::array<platform::win32::ScopedGdiObject, 2>, 3> faces;

  HFONT font(float points);  // form_paint.cpp
  int scaled(int value) const { return scaleToDpi(value, dpi); }
  Bounds scaled(const Bounds& bounds) const { return scaleToDpi(bounds, dpi); }
};

}  // namespace toolkit
