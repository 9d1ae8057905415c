// Moving a borderless dialog by dragging its background or its message label.
// Kept apart from any window system so that the arithmetic is tested once and
// every backend moves a dialog the same way.
#pragma once

#include <cstdint>
#include <optional>

namespace toolkit {

struct Point {
  int32_t x = 0;
  int32_t y = 0;
  friend bool operator==(const Point&, const Point&) = default;
};

// One flag and one offset serve both the dialog background and label1. The
// press offset and every later pointer position are taken in the coordinates
// of the control that received them, so whichever control the drag began on,
// the dialog moves by exactly the pointer's displacement and never jumps.
struct Drag {
  bool dragging = false;
  Point offset;  // where the press happened, in the receiving control's coordinates

  // A press of any mouse button on the background or on label1.
  void MouseDown(Point inControl);
  // A pointer move reported by the same control. clientToScreen is the
  // dialog's own client-to-screen shift (its client area's top-left corner on
  // the screen), whichever control reported the move. Returns the dialog's
  // new location, or nothing while no drag is under way.
  std::optional<Point> MouseMove(Point inControl, Point clientToScreen) const;
  void MouseUp();
};

}  // namespace toolkit
